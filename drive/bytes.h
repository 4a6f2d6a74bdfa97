// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace vokta {

// On-disk and on-device structures are little-endian and packed; they are read and
// written byte by byte so the host's layout and alignment never matter.
inline uint16_t GetU16(std::span<const uint8_t> b, size_t at)
{
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

inline uint32_t GetU32(std::span<const uint8_t> b, size_t at)
{
    return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
           (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

inline void PutU16(std::span<uint8_t> b, size_t at, uint16_t v)
{
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

inline void PutU32(std::span<uint8_t> b, size_t at, uint32_t v)
{
    for (size_t i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A packed little-endian structure of N bytes, read and written field by field.
template <size_t N>
struct LittleEndianBlock {
    static constexpr size_t kSize = N;
    std::array<uint8_t, N> bytes{};

    std::span<uint8_t> span() { return bytes; }
    std::span<const uint8_t> span() const { return bytes; }

    uint8_t u8(size_t at) const { return bytes[at]; }
    uint16_t u16(size_t at) const { return GetU16(bytes, at); }
    uint32_t u32(size_t at) const { return GetU32(bytes, at); }
    void setU8(size_t at, uint8_t v) { bytes[at] = v; }
    void setU16(size_t at, uint16_t v) { PutU16(bytes, at, v); }
    void setU32(size_t at, uint32_t v) { PutU32(bytes, at, v); }

    bool operator==(const LittleEndianBlock&) const = default;
};

}  // namespace vokta
