// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "mfm/bitcells.h"
#include "mfm/flux.h"
#include "mfm/recording.h"

namespace vokta::mfm {

// One sector as a track is to hold it: its address field, its data (128 << sizeCode
// bytes), and how it is recorded.
struct SectorImage {
    uint8_t cylinder = 0;
    uint8_t head = 0;
    uint8_t sector = 1;
    uint8_t sizeCode = 2;
    std::vector<uint8_t> data;
    bool deleted = false;     // deleted-data mark F8h instead of FBh
    bool badDataCrc = false;  // recorded with a wrong data CRC, as a sector that reads with a data error
};

// The sectors of a track slot by slot: `order` gives the sector number of each slot, and
// sector r's data is the r-th block of `trackData` (the track's sectors in logical order,
// numbered from 1). Nothing when a number has no block there or is no byte.
std::optional<std::vector<SectorImage>> SlotsInOrder(uint8_t cylinder, uint8_t head, uint8_t sizeCode,
                                                     std::span<const uint16_t> order,
                                                     std::span<const uint8_t> trackData);

enum class EncodeRefusal {
    None,
    RecordingImplausible,  // no drive turns or clocks a diskette so
    DataSizeMismatch,      // a sector's data is not 128 << its size code bytes
    TrackTooLong,          // the sectors and their gaps need more than one revolution
};

// A track as bit cells for exactly one revolution from the index, or why it cannot be.
struct EncodedTrack {
    EncodeRefusal refusal = EncodeRefusal::None;
    size_t cellsNeeded = 0;         // the shortest the track can be
    size_t cellsPerRevolution = 0;  // what the medium's revolution holds
    BitCells cells;
    std::vector<size_t> addressMarks;  // each slot's address mark: cells from the index to its first A1h

    bool ok() const { return refusal == EncodeRefusal::None; }
};

// Gap 4a, sync, index mark and gap 1; then for each slot sync, address mark and field, gap 2,
// sync, data mark, data and CRC, and `gap3`; gap 4b fills the revolution. A track whose
// sectors leave less than the whole preamble shortens gap 4a and gap 1 in proportion, as
// a controller's crowded format leaves them; one that does not fit even so is refused.
EncodedTrack EncodeTrack(Recording recording, uint8_t gap3, std::span<const SectorImage> slots);

// One more revolution of `flux`: the cells as they pass at the medium's exact speed, each
// transition at the middle of its cell and the index at the start of cell 0.
void AppendRevolution(TrackFlux& flux, const BitCells& cells, Recording recording);

// The flux of `revolutions` passes of the same cells, in ticks of `tickHz`.
TrackFlux CellsToFlux(const BitCells& cells, Recording recording, double tickHz, size_t revolutions);

}  // namespace vokta::mfm
