// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

#include "drive/backend/emulated/emulateddrive.h"
#include "drive/backend/emulated/emulatedmedium.h"
#include "support/greaseweazleemulator.h"

// Diskettes of real formats as the emulated Greaseweazle carries them, and back: a test
// puts a diskette that mkfs.fat or mformat made into the device and sees what lands on it.
namespace vokta::test {

constexpr uint32_t kGreaseweazleHz = 72'000'000;

// Every track of `medium` as a drive of `kind` records it, in ticks of `sampleHz`; the
// drive's kind gives the rotation. Unformatted tracks carry no flux. Throws
// std::invalid_argument naming the track when one cannot be recorded.
FluxDiskette FluxDisketteOf(const EmulatedMedium& medium, DriveKind kind, uint32_t sampleHz = kGreaseweazleHz);

// Every track decoded as the system decodes flux, from two turns of it so that a sector
// written across the index reads whole; a track without flux is unformatted. Throws
// std::invalid_argument naming the track when one is no drive's recording.
EmulatedMedium MediumOf(const FluxDiskette& diskette, MediumDensity density, uint32_t sampleHz = kGreaseweazleHz);

// A weak stretch over the middle of the data of the sector in `slot` of the track at
// `cylinder` and `head` of `medium`, as FluxDisketteOf records it: that sector reads with a
// bad data CRC in the revolutions the stretch disturbs, and well in the others.
WeakStretch WeakSectorData(const EmulatedMedium& medium, DriveKind kind, uint16_t cylinder, uint8_t head, size_t slot,
                           uint32_t bad, uint32_t every, uint32_t sampleHz = kGreaseweazleHz);

}  // namespace vokta::test
