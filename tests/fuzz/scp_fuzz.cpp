// SPDX-License-Identifier: GPL-3.0-or-later
// The SCP reader over any bytes: it answers an image or a reason, and an image it reads
// is written, read back the same and written again byte for byte.
#include "fluxfile/scpfile.h"
#include "fuzzinput.h"

using namespace vokta;
using namespace vokta::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const ScpReadResult read = ReadScp(std::span<const uint8_t>(data, size));
    Require(read.image.has_value() == read.error.empty(), "an image or a reason, never both or neither");
    if (!read.image)
        return 0;
    // Cylinders past 83 of the older one-side layout have no place in the table written.
    const FluxFileWrite written = WriteScp(*read.image);
    Require(written.bytes.empty() != written.error.empty(), "a file or a reason, never both or neither");
    if (!written.error.empty())
        return 0;
    const ScpReadResult back = ReadScp(written.bytes);
    Require(back.image.has_value() && back.warnings.empty(), "what is written reads back without a warning");
    ScpImage expected = *read.image;
    expected.flags = static_cast<uint8_t>(expected.flags & ~(kScpReadWrite | kScpFooter));
    Require(*back.image == expected, "what is written reads back the same");
    Require(WriteScp(*back.image).bytes == written.bytes, "what is read back writes again byte for byte");
    return 0;
}
