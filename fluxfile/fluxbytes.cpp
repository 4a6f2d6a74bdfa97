// SPDX-License-Identifier: GPL-3.0-or-later
#include "fluxfile/fluxbytes.h"

#include <algorithm>
#include <tuple>

namespace vokta {

std::optional<long> OverlappingTrack(std::vector<FileExtent> extents)
{
    std::erase_if(extents, [](const FileExtent& e) { return e.begin >= e.end; });
    std::sort(extents.begin(), extents.end(), [](const FileExtent& a, const FileExtent& b) {
        return std::tie(a.begin, a.track) < std::tie(b.begin, b.track);
    });
    const FileExtent* reach = nullptr;  // of those seen, the one that ends last
    for (const FileExtent& e : extents) {
        if (reach && e.begin < reach->end)
            return std::max(e.track, reach->track);
        if (!reach || e.end > reach->end)
            reach = &e;
    }
    return std::nullopt;
}

}  // namespace vokta
