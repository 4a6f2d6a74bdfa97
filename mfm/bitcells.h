// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vokta::mfm {

// MFM bit cells, a 1 for a flux transition, packed most significant bit first. Each data
// bit takes two cells: a clock cell, then the data cell.
class BitCells {
public:
    size_t size() const { return count_; }
    void reserve(size_t cells) { words_.reserve(cells / 64 + 1); }

    // The 16 cells from `cell` on; the caller keeps cell + 16 within size().
    uint16_t Word16At(size_t cell) const
    {
        const size_t word = cell >> 6;
        const unsigned shift = cell & 63;
        uint64_t bits = words_[word] << shift;
        if (shift > 48 && word + 1 < words_.size())
            bits |= words_[word + 1] >> (64 - shift);
        return static_cast<uint16_t>(bits >> 48);
    }

    // The low `n` (at most 64) bits of `bits`, most significant first.
    void Append(uint64_t bits, unsigned n)
    {
        if (n == 0)
            return;
        if (n < 64)
            bits &= (uint64_t{1} << n) - 1;
        const unsigned used = count_ & 63;
        if (used == 0)
            words_.push_back(0);
        const unsigned room = 64 - used;
        if (n <= room) {
            words_.back() |= bits << (room - n);
        } else {
            words_.back() |= bits >> (n - room);
            words_.push_back(bits << (64 - (n - room)));
        }
        count_ += n;
    }

    size_t Transitions() const
    {
        size_t count = 0;
        for (const uint64_t word : words_)
            count += static_cast<size_t>(std::popcount(word));
        return count;
    }

    // Calls `f(cell)` for each transition, in order.
    template <typename F>
    void ForEachTransition(F f) const
    {
        for (size_t w = 0; w < words_.size(); ++w) {
            uint64_t bits = words_[w];
            while (bits) {
                const int lead = std::countl_zero(bits);
                f(w * 64 + static_cast<size_t>(lead));
                bits &= ~(uint64_t{1} << (63 - lead));
            }
        }
    }

    // For a writer that sets the transitions itself: room for `capacity` empty cells, whose
    // words it sets directly, and then the number of cells it wrote.
    uint64_t* OpenForWriting(size_t capacity)
    {
        words_.assign(capacity / 64 + 1, 0);
        count_ = 0;
        return words_.data();
    }
    void CloseAt(size_t count) { count_ = count; }

private:
    std::vector<uint64_t> words_;
    size_t count_ = 0;
};

}  // namespace vokta::mfm
