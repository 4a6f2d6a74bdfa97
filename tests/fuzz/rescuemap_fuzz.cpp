// SPDX-License-Identifier: GPL-3.0-or-later
// The rescue map reader over any text: it answers a map or a reason, and a map it reads is
// written and read back the same. The first two bytes choose the diskette's size.
#include <algorithm>

#include "fuzzinput.h"
#include "rescue/rescuemap.h"

using namespace vokta;
using namespace vokta::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const uint32_t sectors = std::max<uint32_t>(1, (uint32_t{data[0]} | uint32_t{data[1]} << 8) % 3445);
    const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);
    const ParsedRescueMap parsed = ParseRescueMap(text, 512, sectors);
    Require(parsed.map.has_value() == parsed.error.empty(), "a map or a reason, never both or neither");
    if (!parsed.map)
        return 0;
    Require(parsed.map->sectors.size() == sectors, "a state for every sector of the diskette");
    const std::string written = RescueMapText(*parsed.map, 512, "fuzz", "start", "now");
    const ParsedRescueMap back = ParseRescueMap(written, 512, sectors);
    Require(back.map.has_value(), "what is written reads back");
    Require(back.map->sectors == parsed.map->sectors, "every sector reads back in its state");
    Require(back.map->currentPass == parsed.map->currentPass, "the pass reads back");
    return 0;
}
