// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace vokta::test {

// One sector header of a track as libdsk's scanner reads it from an ImageDisk file.
struct ScannedSector {
    int cylinder = 0;
    int head = 0;
    int sector = 0;
    int size = 0;
    bool operator==(const ScannedSector&) const = default;
};

// Every track of the file, keyed by (cylinder, head), with its headers in physical order.
using ScannedTracks = std::map<std::pair<int, int>, std::vector<ScannedSector>>;
ScannedTracks ScanSectorHeaders(const std::string& imd);

// Only the sector numbers of every track, in physical order.
using TrackOrders = std::map<std::pair<int, int>, std::vector<uint16_t>>;
TrackOrders ScanWithLibdsk(const std::string& imd);

}  // namespace vokta::test
