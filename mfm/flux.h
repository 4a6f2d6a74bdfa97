// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <vector>

namespace vokta::mfm {

// One revolution as a flux reader records it: the intervals between successive flux
// transitions in ticks of the reader's clock. The first interval runs from the index (the
// first revolution) or from the last transition of the revolution before, so consecutive
// revolutions form one unbroken stream. `indexTicks` is the index-to-index length; 0 when
// the reader did not say, and then the intervals' sum stands for it.
struct Revolution {
    std::vector<uint32_t> intervals;
    uint64_t indexTicks = 0;
};

// A track's flux: its revolutions in the order they passed the head, in ticks of `tickHz`
// (SCP files count at 40 MHz, Greaseweazle devices at 72 or 84 MHz).
struct TrackFlux {
    double tickHz = 0;
    std::vector<Revolution> revolutions;
};

}  // namespace vokta::mfm
