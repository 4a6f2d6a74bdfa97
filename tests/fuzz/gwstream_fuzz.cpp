// SPDX-License-Identifier: GPL-3.0-or-later
// The Greaseweazle's flux streams over any bytes: a read stream that decodes encodes again
// to the same flux, and a write stream that decodes holds only pulses the device can write
// and encodes again to the same pulses.
#include <limits>

#include "drive/backend/greaseweazle/fluxstream.h"
#include "fuzzinput.h"

using namespace vokta::gw;
using namespace vokta::fuzz;

namespace {

constexpr uint32_t kMinPulse = 57;

void CheckRead(std::span<const uint8_t> stream)
{
    const DecodedRead read = DecodeReadStream(stream);
    if (read.fault != StreamFault::None)
        return;
    const DecodedRead again = DecodeReadStream(EncodeReadStream(read.flux));
    Require(again.fault == StreamFault::None, "an encoded read stream decodes");
    Require(again.flux == read.flux, "an encoded read stream decodes to the same flux");
    for (const Revolution& revolution : CutRevolutions(read.flux)) {
        uint64_t ticks = 0;
        for (const uint32_t interval : revolution.intervals)
            ticks += interval;
        Require(ticks <= revolution.ticks, "a revolution's transitions lie within it");
    }
}

void CheckWrite(std::span<const uint8_t> stream)
{
    const DecodedWrite write = DecodeWriteStream(stream, kMinPulse);
    if (write.fault != StreamFault::None)
        return;
    for (const uint32_t interval : write.intervals)
        Require(interval >= kMinPulse, "no pulse closer than the device writes");
    const WriteEncoding plain{std::numeric_limits<uint32_t>::max(), 90, 0};
    const DecodedWrite again = DecodeWriteStream(EncodeWriteStream(write.intervals, plain), kMinPulse);
    Require(again.fault == StreamFault::None, "an encoded write stream decodes");
    Require(again.intervals == write.intervals, "an encoded write stream decodes to the same pulses");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> stream(data, size);
    CheckRead(stream);
    CheckWrite(stream);
    return 0;
}
