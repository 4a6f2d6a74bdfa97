// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <vector>

namespace vokta {

// Sector numbers of a track in physical order (slot by slot) under the optimized layout:
// each cylinder starts skew numbers earlier than the one before, both heads of a cylinder
// start at the same number, and consecutive numbers lie `interleave` slots apart.
std::vector<uint16_t> OptimizedTrackOrder(uint16_t sectorsPerTrack, uint16_t skew,
                                          uint16_t interleave, uint16_t cylinder, uint16_t head);

// Sector numbers 1..n in order.
std::vector<uint16_t> StandardTrackOrder(uint16_t sectorsPerTrack);

}  // namespace vokta
