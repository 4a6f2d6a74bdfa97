// SPDX-License-Identifier: GPL-3.0-or-later
// The ImageDisk reader over any bytes: it answers a medium or a reason, and a medium it
// reads is written back and read again unchanged (what a diskette file saves is what
// was loaded).
#include <cstdio>
#include <string>
#include <tuple>

#include "drive/backend/files/imdfile.h"
#include "fuzzinput.h"

using namespace vokta;
using namespace vokta::fuzz;

namespace {

// Where two media differ, in words; empty when they hold the same tracks.
std::string Difference(const EmulatedMedium& a, const EmulatedMedium& b)
{
    if (a.cylinders != b.cylinders || a.heads != b.heads)
        return "cylinders or heads";
    for (uint16_t c = 0; c < a.cylinders; ++c)
        for (uint8_t h = 0; h < a.heads; ++h) {
            const std::string where = " of track " + std::to_string(c) + "/" + std::to_string(h);
            const Track& x = a.track(c, h);
            const Track& y = b.track(c, h);
            if (x.sectors.size() != y.sectors.size())
                return "sector count" + where;
            if (!x.sectors.empty() && x.rate != y.rate)
                return "rate" + where;
            for (size_t i = 0; i < x.sectors.size(); ++i) {
                const SectorRecord& s = x.sectors[i];
                const SectorRecord& t = y.sectors[i];
                if (std::tie(s.cylinder, s.head, s.number, s.sizeCode) != std::tie(t.cylinder, t.head, t.number, t.sizeCode))
                    return "address field" + where;
                if (std::tie(s.dataError, s.deleted) != std::tie(t.dataError, t.deleted))
                    return "data mark" + where;
                if (s.data != t.data)
                    return "data (" + std::to_string(s.data.size()) + " and " + std::to_string(t.data.size()) +
                           " bytes)" + where;
            }
        }
    return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> file(data, size);
    (void)LooksLikeImd(file);
    const MediumDensity density = size % 2 ? MediumDensity::Double : MediumDensity::High;
    const ImdReadResult read = ReadImd(file, density);
    Require(read.medium.has_value() != !read.error.empty(), "a medium or a reason, never both or neither");
    if (!read.medium)
        return 0;
    const std::vector<uint8_t> again = WriteImd(*read.medium, "08/12/2026 12:00:00", "again");
    Require(LooksLikeImd(again), "what is written is an ImageDisk file");
    const ImdReadResult back = ReadImd(again, density);
    Require(back.medium.has_value(), "what is written reads back");
    const std::string difference = Difference(*read.medium, *back.medium);
    if (!difference.empty()) {
        std::fprintf(stderr, "%s\n", difference.c_str());
        Broken("what is written reads back the same");
    }
    return 0;
}
