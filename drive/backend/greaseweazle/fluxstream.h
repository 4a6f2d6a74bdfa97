// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <span>
#include <vector>

// The byte encoding of flux in the Greaseweazle's streams, both ways. An interval of 1 to
// 249 ticks is one byte; 250 to 1524 two bytes (250..254, then 1..255); anything longer,
// and every mark, follows the escape 255 with an opcode and a 28-bit number in four bytes
// whose low bit is set, so that no byte of a stream but its end is 0.
namespace vokta::gw {

namespace FluxOp {
constexpr uint8_t Index = 1;    // an index pulse, so many ticks after the cursor
constexpr uint8_t Space = 2;    // the cursor moves on without a transition
constexpr uint8_t Astable = 3;  // writes only: fill the space before with transitions of this period
}  // namespace FluxOp

constexpr uint8_t kStreamEnd = 0;
constexpr uint8_t kEscape = 255;
constexpr uint32_t kMaxN28 = (1u << 28) - 1;

// Flux as a read returns it.
struct FluxRead {
    // Ticks from one transition to the next; the first from the start of the read.
    std::vector<uint32_t> intervals;
    // Index pulses, in ticks from the start of the read, in order.
    std::vector<uint64_t> indexes;
    friend bool operator==(const FluxRead&, const FluxRead&) = default;
};

// One turn of the diskette from an index pulse to the next.
struct Revolution {
    std::vector<uint32_t> intervals;  // the first from the index pulse
    uint64_t ticks = 0;               // index to index
};

enum class StreamFault : uint8_t {
    None,
    Truncated,   // no end byte, or a sequence cut by it
    BadOpcode,   // an escape with no opcode this stream may carry
    TooLong,     // an interval beyond 32 bits of ticks
    BadPeriod,   // an astable period below the shortest pulse the device writes
};

struct DecodedRead {
    FluxRead flux;
    StreamFault fault = StreamFault::None;
};

// The number of a stream's 28-bit argument, and its four bytes.
uint32_t DecodeN28(std::span<const uint8_t, 4> bytes);
void AppendN28(std::vector<uint8_t>& out, uint32_t value);

// A read stream: the bytes up to and including its end byte.
DecodedRead DecodeReadStream(std::span<const uint8_t> stream);
// The stream a device sends for `flux`, end byte included. Intervals of 0 ticks are no
// transitions of their own: they join the next.
std::vector<uint8_t> EncodeReadStream(const FluxRead& flux);

// How a write stream is encoded: gaps longer than `noFluxTicks` are written as a no-flux
// area, transitions of `astablePeriod` that a drive does not read back as data.
struct WriteEncoding {
    uint32_t noFluxTicks = 10'800;  // 150 µs at 72 MHz
    uint32_t astablePeriod = 90;    // 1.25 µs
    uint32_t finalTicks = 7'200;    // 100 µs
};
// The write stream of `intervals`, end byte included. A last interval of `finalTicks` goes
// after them: the device stops writing as it takes the last one in, so that one is never
// written and the real last one is written whole.
std::vector<uint8_t> EncodeWriteStream(std::span<const uint32_t> intervals, const WriteEncoding& encoding = {});

struct DecodedWrite {
    std::vector<uint32_t> intervals;  // as the device times them, the final one included
    StreamFault fault = StreamFault::None;
};
// A write stream as the device takes it: transitions closer than `minPulse` to the one
// before join the next, and a no-flux area becomes transitions of its period.
DecodedWrite DecodeWriteStream(std::span<const uint8_t> stream, uint32_t minPulse);

// The whole revolutions of a read, one per pair of index pulses that follow each other. A
// transition at the very tick of an index pulse ends the revolution before it.
std::vector<Revolution> CutRevolutions(const FluxRead& flux);

}  // namespace vokta::gw
