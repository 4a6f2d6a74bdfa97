// SPDX-License-Identifier: GPL-3.0-or-later
// The HFE reader over any bytes: it answers an image or a reason, and an image it reads
// is written, read back the same and written again byte for byte.
#include "fluxfile/hfefile.h"
#include "fuzzinput.h"

using namespace vokta;
using namespace vokta::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const HfeReadResult read = ReadHfe(std::span<const uint8_t>(data, size));
    Require(read.image.has_value() == read.error.empty(), "an image or a reason, never both or neither");
    if (!read.image)
        return 0;
    const FluxFileWrite written = WriteHfe(*read.image);
    Require(written.error.empty(), "whatever is read can be written");
    const HfeReadResult back = ReadHfe(written.bytes);
    Require(back.image.has_value(), "what is written reads back");
    Require(*back.image == *read.image, "what is written reads back the same");
    Require(WriteHfe(*back.image).bytes == written.bytes, "what is read back writes again byte for byte");
    return 0;
}
