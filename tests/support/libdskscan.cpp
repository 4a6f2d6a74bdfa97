// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/libdskscan.h"

#include <cstdio>
#include <sstream>

#include "support/tempdir.h"

namespace vokta::test {

ScannedTracks ScanSectorHeaders(const std::string& imd)
{
    std::string out;
    Shell("dskscan -type imd '" + imd + "' 2>/dev/null", &out);
    ScannedTracks tracks;
    std::istringstream lines(out);
    std::string line;
    std::pair<int, int> current{-1, -1};
    while (std::getline(lines, line)) {
        int c = 0, h = 0;
        ScannedSector s;
        if (std::sscanf(line.c_str(), "Cylinder %d Head %d:", &c, &h) == 2)
            current = {c, h};
        else if (std::sscanf(line.c_str(), " Cyl %d Head %d Sec %d size %d", &s.cylinder, &s.head, &s.sector,
                             &s.size) == 4)
            tracks[current].push_back(s);
    }
    return tracks;
}

TrackOrders ScanWithLibdsk(const std::string& imd)
{
    TrackOrders orders;
    for (const auto& [track, headers] : ScanSectorHeaders(imd))
        for (const ScannedSector& s : headers)
            orders[track].push_back(static_cast<uint16_t>(s.sector));
    return orders;
}

}  // namespace vokta::test
