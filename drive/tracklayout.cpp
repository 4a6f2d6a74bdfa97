// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/tracklayout.h"

namespace vokta {

std::vector<uint16_t> StandardTrackOrder(uint16_t sectorsPerTrack)
{
    std::vector<uint16_t> order(sectorsPerTrack);
    for (uint16_t i = 0; i < sectorsPerTrack; ++i)
        order[i] = static_cast<uint16_t>(i + 1);
    return order;
}

std::vector<uint16_t> OptimizedTrackOrder(uint16_t sectorsPerTrack, uint16_t skew,
                                          uint16_t interleave, uint16_t cylinder, uint16_t head)
{
    const uint32_t n = sectorsPerTrack;
    std::vector<uint16_t> order(n, 0);
    if (n == 0)
        return order;
    // Unsigned arithmetic as on the device: (n - skew) wraps for a skew above n, and the
    // head term is a multiple of n, so it never moves the start.
    uint32_t number = (((n - skew) * cylinder + n * head) % n) + 1;
    uint32_t slot = 0;
    for (uint32_t i = 0; i < n; ++i) {
        order[slot] = static_cast<uint16_t>(number);
        number = (number % n) + 1;
        slot = (slot + interleave) % n;
    }
    return order;
}

}  // namespace vokta
