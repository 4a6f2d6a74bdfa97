// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "mfm/decode.h"

namespace vokta::mfm {

// One sector of the track over all revolutions.
struct MergedSector {
    uint8_t sector = 0;
    bool good = false;  // some revolution read it with a good data CRC
    bool deleted = false;
    // The first good read; without one, the first read that had a data field at all, so
    // that what can be saved of the sector is not lost.
    std::vector<uint8_t> data;
    int fromRevolution = -1;    // the revolution of the good read; -1 when none was good
    unsigned badReads = 0;      // revolutions that found it but read no good copy
    unsigned missed = 0;        // revolutions that did not find it
    bool copiesDiffer = false;  // two good reads differ in their data or mark
    bool foundTwice = false;    // some revolution found it twice
};

struct MergedTrack {
    std::vector<MergedSector> sectors;  // by sector number
    // Address fields of another track or another size, each once, a good read first.
    std::vector<SectorRead> strays;
    size_t badAddressFields = 0;  // address fields with a bad CRC, over all revolutions

    const MergedSector* Find(uint8_t sector) const;
};

MergedTrack MergeRevolutions(const TrackRead& read);

}  // namespace vokta::mfm
