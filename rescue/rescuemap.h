// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vokta {

// What a rescue knows of a sector, as a ddrescue map file writes it.
enum class SectorRescue : char {
    NonTried = '?',    // not read yet
    NonTrimmed = '*',  // in a failed block whose edges were not read alone yet
    NonScraped = '/',  // in a failed block, to be read sector by sector
    BadSector = '-',   // read alone and failed
    Finished = '+',    // read well: never read again
};

// The state of a rescue, sector by sector, with the position and phase it was at. The
// file holds positions and sizes in bytes, so that ddrescue and ddrescuelog read it too.
struct RescueMap {
    uint64_t currentPosition = 0;
    SectorRescue currentStatus = SectorRescue::NonTried;
    unsigned currentPass = 1;
    std::vector<SectorRescue> sectors;

    uint32_t Count(SectorRescue status) const;
    bool Done() const { return Count(SectorRescue::Finished) == sectors.size(); }
};

struct ParsedRescueMap {
    std::optional<RescueMap> map;
    std::string error;  // why the text is no map of this diskette, in words, when it is not
};

// Reads a map file's text for a medium of `sectorCount` sectors of `sectorSize` bytes.
// Blocks may split sectors (a map of another sector size): a sector counts as finished
// only when all of its bytes are, and otherwise takes the state of its first unfinished
// block. What the map does not cover is not tried. A map of more than the medium holds,
// or one that is no map, is refused.
ParsedRescueMap ParseRescueMap(std::string_view text, uint32_t sectorSize, uint32_t sectorCount);

// The map file's text: comment lines, the status line, then one line per run of sectors
// in the same state.
std::string RescueMapText(const RescueMap& map, uint32_t sectorSize, const std::string& commandLine,
                          const std::string& startTime, const std::string& currentTime);

}  // namespace vokta
