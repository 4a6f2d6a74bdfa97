// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "mfm/flux.h"
#include "mfm/recording.h"

namespace vokta::mfm {

// The track a read expects: its address fields name this cylinder and head, and sectors
// of this size code.
struct TrackId {
    uint8_t cylinder = 0;
    uint8_t head = 0;
    uint8_t sizeCode = 2;
};

// One sector as one revolution read it.
struct SectorRead {
    uint8_t cylinder = 0;
    uint8_t head = 0;
    uint8_t sector = 0;
    uint8_t sizeCode = 0;
    bool idCrcOk = false;
    bool hasData = false;  // a whole data field followed the address field
    bool dataCrcOk = false;
    bool deleted = false;
    std::vector<uint8_t> data;  // 128 << sizeCode bytes when hasData
    size_t position = 0;        // cells from the index to the address mark's first A1h
    // Why it is not simply one of the track's sectors:
    bool wrongTrack = false;  // C or H is not the track's
    bool wrongSize = false;   // N is not the size asked for
    bool foundTwice = false;  // another address field of this revolution names the same sector
};

struct RevolutionRead {
    std::vector<SectorRead> sectors;  // in the order they passed the head
    size_t orphanDataFields = 0;      // data fields with no address field in front
};

enum class DecodeRefusal {
    None,
    RecordingImplausible,  // no drive turns or clocks a diskette so
    TickRateUnusable,      // the reader's clock gives fewer than a few ticks a cell
};

struct TrackRead {
    DecodeRefusal refusal = DecodeRefusal::None;
    std::vector<RevolutionRead> revolutions;

    bool ok() const { return refusal == DecodeRefusal::None; }
};

// Reads the sectors of every revolution: a PLL turns the flux into bit cells, following
// the speed and phase of the medium; address and data fields are found by their A1h
// syncs and checked by their CRCs, and each data field goes with the address field in
// front of it. A sector belongs to the revolution in which its address mark passed.
TrackRead DecodeTrack(const TrackFlux& flux, Recording recording, TrackId expected);

}  // namespace vokta::mfm
