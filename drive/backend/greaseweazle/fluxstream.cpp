// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/backend/greaseweazle/fluxstream.h"

#include <algorithm>
#include <array>
#include <limits>

namespace vokta::gw {
namespace {

constexpr uint32_t kOneByteLimit = 250;    // 1..249 in one byte
constexpr uint32_t kTwoByteLimit = 1525;   // 250..1524 in two
constexpr uint8_t kAfterSpace = 249;       // the byte that ends a long interval after its spaces
constexpr uint64_t kMaxInterval = std::numeric_limits<uint32_t>::max();
// Longer than any write a drive takes (0.93 s at 72 MHz, over four revolutions): a stream
// that asks for more is no write, and its no-flux areas would fill memory.
constexpr uint64_t kMaxWriteTicks = uint64_t{1} << 26;

void AppendOp(std::vector<uint8_t>& out, uint8_t op, uint32_t value)
{
    out.push_back(kEscape);
    out.push_back(op);
    AppendN28(out, value);
}

// Spaces that move the cursor `ticks` on, none longer than a 28-bit number.
void AppendSpaces(std::vector<uint8_t>& out, uint64_t ticks)
{
    while (ticks > 0) {
        const uint32_t step = static_cast<uint32_t>(std::min<uint64_t>(ticks, kMaxN28));
        AppendOp(out, FluxOp::Space, step);
        ticks -= step;
    }
}

void AppendTwoBytes(std::vector<uint8_t>& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(250 + (value - 250) / 255));
    out.push_back(static_cast<uint8_t>(1 + (value - 250) % 255));
}

// An interval of a read stream: the time from the cursor to the next transition.
void AppendReadInterval(std::vector<uint8_t>& out, uint64_t ticks)
{
    if (ticks < kOneByteLimit) {
        out.push_back(static_cast<uint8_t>(ticks));
    } else if (ticks < kTwoByteLimit) {
        AppendTwoBytes(out, static_cast<uint32_t>(ticks));
    } else {
        AppendSpaces(out, ticks - kAfterSpace);
        out.push_back(kAfterSpace);
    }
}

// Walks a stream's sequences; each reader says what one sequence means.
class StreamReader {
public:
    explicit StreamReader(std::span<const uint8_t> stream) : stream_(stream) {}

    // The next byte; false past the last.
    bool Next(uint8_t& byte)
    {
        if (at_ >= stream_.size())
            return false;
        byte = stream_[at_++];
        return true;
    }
    // The rest of a sequence: bytes that may not be the end byte.
    bool Within(std::span<uint8_t> bytes)
    {
        for (uint8_t& b : bytes)
            if (!Next(b) || b == kStreamEnd)
                return false;
        return true;
    }
    bool AtEnd() const { return at_ == stream_.size(); }

private:
    std::span<const uint8_t> stream_;
    size_t at_ = 0;
};

// The value of a one- or two-byte interval that starts with `first`; false when cut off.
bool ReadShortInterval(StreamReader& reader, uint8_t first, uint32_t& value)
{
    if (first < kOneByteLimit) {
        value = first;
        return true;
    }
    uint8_t second = 0;
    if (!reader.Within({&second, 1}))
        return false;
    value = 250 + (first - 250) * 255u + second - 1;
    return true;
}

// An escape's opcode and number; false when cut off.
bool ReadOp(StreamReader& reader, uint8_t& op, uint32_t& value)
{
    std::array<uint8_t, 5> bytes{};
    if (!reader.Within(bytes))
        return false;
    op = bytes[0];
    value = DecodeN28(std::span<const uint8_t, 4>(bytes.data() + 1, 4));
    return true;
}

}  // namespace

uint32_t DecodeN28(std::span<const uint8_t, 4> b)
{
    return (uint32_t{b[0]} >> 1) | (uint32_t{b[1] & 0xFEu} << 6) | (uint32_t{b[2] & 0xFEu} << 13) |
           (uint32_t{b[3] & 0xFEu} << 20);
}

void AppendN28(std::vector<uint8_t>& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(1 | (value << 1)));
    out.push_back(static_cast<uint8_t>(1 | (value >> 6)));
    out.push_back(static_cast<uint8_t>(1 | (value >> 13)));
    out.push_back(static_cast<uint8_t>(1 | (value >> 20)));
}

DecodedRead DecodeReadStream(std::span<const uint8_t> stream)
{
    DecodedRead out;
    StreamReader reader(stream);
    uint64_t last = 0;     // the tick of the last transition
    uint64_t pending = 0;  // spaces since
    for (;;) {
        uint8_t first = 0;
        if (!reader.Next(first)) {
            out.fault = StreamFault::Truncated;
            break;
        }
        if (first == kStreamEnd) {
            if (!reader.AtEnd())
                out.fault = StreamFault::Truncated;
            break;
        }
        if (first == kEscape) {
            uint8_t op = 0;
            uint32_t value = 0;
            if (!ReadOp(reader, op, value)) {
                out.fault = StreamFault::Truncated;
                break;
            }
            if (op == FluxOp::Index) {
                out.flux.indexes.push_back(last + pending + value);
                continue;
            }
            if (op != FluxOp::Space) {
                out.fault = StreamFault::BadOpcode;
                break;
            }
            pending += value;
            if (pending > kMaxInterval) {
                out.fault = StreamFault::TooLong;
                break;
            }
            continue;
        }
        uint32_t value = 0;
        if (!ReadShortInterval(reader, first, value)) {
            out.fault = StreamFault::Truncated;
            break;
        }
        const uint64_t interval = pending + value;
        if (interval > kMaxInterval) {
            out.fault = StreamFault::TooLong;
            break;
        }
        out.flux.intervals.push_back(static_cast<uint32_t>(interval));
        last += interval;
        pending = 0;
    }
    // The device tells an index pulse from the cursor where it noticed it, which may be
    // behind transitions it has yet to send.
    std::sort(out.flux.indexes.begin(), out.flux.indexes.end());
    return out;
}

std::vector<uint8_t> EncodeReadStream(const FluxRead& flux)
{
    std::vector<uint64_t> indexes = flux.indexes;
    std::sort(indexes.begin(), indexes.end());
    std::vector<uint8_t> out;
    uint64_t cursor = 0;
    size_t next = 0;
    auto appendIndex = [&](uint64_t at) {
        if (at - cursor > kMaxN28) {
            const uint64_t spaces = at - cursor - kMaxN28;
            AppendSpaces(out, spaces);
            cursor += spaces;
        }
        AppendOp(out, FluxOp::Index, static_cast<uint32_t>(at - cursor));
    };
    uint64_t last = 0;
    for (const uint32_t interval : flux.intervals) {
        if (interval == 0)
            continue;
        const uint64_t at = last + interval;
        for (; next < indexes.size() && indexes[next] < at; ++next)
            appendIndex(indexes[next]);
        AppendReadInterval(out, at - cursor);
        cursor = last = at;
    }
    for (; next < indexes.size(); ++next)
        appendIndex(indexes[next]);
    out.push_back(kStreamEnd);
    return out;
}

std::vector<uint8_t> EncodeWriteStream(std::span<const uint32_t> intervals, const WriteEncoding& encoding)
{
    std::vector<uint8_t> out;
    auto append = [&](uint32_t ticks) {
        if (ticks == 0)
            return;
        if (ticks < kOneByteLimit) {
            out.push_back(static_cast<uint8_t>(ticks));
        } else if (ticks > encoding.noFluxTicks) {
            AppendSpaces(out, ticks);
            AppendOp(out, FluxOp::Astable, encoding.astablePeriod);
        } else if (ticks < kTwoByteLimit) {
            AppendTwoBytes(out, ticks);
        } else {
            AppendSpaces(out, ticks - kAfterSpace);
            out.push_back(kAfterSpace);
        }
    };
    for (const uint32_t ticks : intervals)
        append(ticks);
    append(encoding.finalTicks);
    out.push_back(kStreamEnd);
    return out;
}

DecodedWrite DecodeWriteStream(std::span<const uint8_t> stream, uint32_t minPulse)
{
    DecodedWrite out;
    StreamReader reader(stream);
    uint64_t ticks = 0;  // since the last transition written
    uint64_t total = 0;
    auto fail = [&out](StreamFault fault) {
        out.fault = fault;
        return out;
    };
    for (;;) {
        uint8_t first = 0;
        if (!reader.Next(first))
            return fail(StreamFault::Truncated);
        if (first == kStreamEnd)
            return reader.AtEnd() ? out : fail(StreamFault::Truncated);
        uint32_t value = 0;
        if (first == kEscape) {
            uint8_t op = 0;
            if (!ReadOp(reader, op, value))
                return fail(StreamFault::Truncated);
            if (op == FluxOp::Space) {
                total += value;
                if (total > kMaxWriteTicks)
                    return fail(StreamFault::TooLong);
                ticks += value;
            } else if (op == FluxOp::Astable) {
                if (value < std::max<uint32_t>(minPulse, 1))
                    return fail(StreamFault::BadPeriod);
                for (; ticks >= value; ticks -= value)
                    out.intervals.push_back(value);
            } else {
                return fail(StreamFault::BadOpcode);
            }
            continue;
        }
        if (!ReadShortInterval(reader, first, value))
            return fail(StreamFault::Truncated);
        total += value;
        if (total > kMaxWriteTicks)
            return fail(StreamFault::TooLong);
        ticks += value;
        // The device cannot write a pulse this close to the one before: it joins the next.
        if (ticks < minPulse)
            continue;
        out.intervals.push_back(static_cast<uint32_t>(ticks));
        ticks = 0;
    }
}

std::vector<Revolution> CutRevolutions(const FluxRead& flux)
{
    std::vector<Revolution> revolutions;
    uint64_t at = 0;  // the tick of transition `next`
    size_t next = 0;
    auto advance = [&]() { at += flux.intervals[next++]; };
    for (size_t k = 0; k + 1 < flux.indexes.size(); ++k) {
        const uint64_t start = flux.indexes[k];
        const uint64_t end = flux.indexes[k + 1];
        Revolution revolution;
        revolution.ticks = end - start;
        uint64_t previous = start;
        // Transitions up to and including the start belong to the turn before.
        while (next < flux.intervals.size() && at + flux.intervals[next] <= start)
            advance();
        while (next < flux.intervals.size() && at + flux.intervals[next] <= end) {
            advance();
            revolution.intervals.push_back(static_cast<uint32_t>(at - previous));
            previous = at;
        }
        revolutions.push_back(std::move(revolution));
    }
    return revolutions;
}

}  // namespace vokta::gw
