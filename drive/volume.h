// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "drive/diskerror.h"
#include "drive/fatlayout.h"

namespace vokta {

class DiskDrive;

// The FAT volume on the diskette in a drive as it really is: the layout its boot sector
// states, or failing that the media table's, confirmed by what the diskette holds where
// that layout puts it. A stated layout that needs wiped or unreadable copies, or states
// other than one or two FATs, yields to the table's where the diskette bears that out.
// Whatever writes trusting the boot sector (a label, a FAT, the system area, a rebuilt
// boot sector) writes into this layout, or nothing.
struct ConfirmedVolume {
    FatLayout layout;
    // The media byte the FAT copies begin with: the volume's own, whatever the boot
    // sector's field says.
    uint8_t mediaDescriptor = 0;
    // Whether the layout is the boot sector's; false when the boot sector's could not be
    // confirmed and the media table's was.
    bool fromBootSector = false;
    // Per FAT copy, whether its first sector begins with the media byte and the end marks.
    // A copy that does not was found wiped (zeros) or unreadable.
    std::vector<bool> soundCopies;
};

// Why no layout could be confirmed.
enum class VolumeDoubt {
    None,
    MediaUnknown,      // no media selected in the drive
    SectorSize,        // the boot sector states sectors that are not 512 bytes long
    NotConfirmed,      // no layout the diskette bears out
    DisketteGone,      // the diskette went away while it was read; the drive keeps why latched
};

struct VolumeFinding {
    std::optional<ConfirmedVolume> volume;
    VolumeDoubt doubt = VolumeDoubt::None;
};

// How a layout fits the medium whatever the diskette holds: its total is the medium's,
// its FAT covers its clusters and its clusters are a power of two sectors.
bool LayoutFitsMedium(const FatLayout& layout, uint32_t mediumSectors);

// Whether the first sector of a FAT copy begins with `media` and the end-of-chain marks
// of entry 1 for a FAT `fatBits` wide.
bool BeginsLikeFat(std::span<const uint8_t> sector, uint8_t media, unsigned fatBits);

// Whether a sector can be the first of a root directory: zeros, or entries whose names
// and attributes a directory holds.
bool LooksLikeDirectory(std::span<const uint8_t> sector);

// Establishes the layout of the volume in `drive` (media selected) and confirms it from
// the diskette: FAT copies that begin with the media byte and end marks where the layout
// puts them (each either sound, wiped or unreadable, at least one sound), a root directory
// whose first sector holds directory entries or zeros, and a total that is the medium's.
// Only sectors are read; nothing is latched afterwards unless the diskette went away.
VolumeFinding EstablishVolume(DiskDrive& drive);

// Why nothing is written, in words: for a diskette gone, the pending error's text (taken).
std::string VolumeDoubtText(VolumeDoubt doubt, DiskDrive& drive);

}  // namespace vokta
