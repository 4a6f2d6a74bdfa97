// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "drive/diskdrive.h"
#include "drive/fatlayout.h"

namespace vokta {

// The FAT of a volume as its copies give it, taken sector by sector from a copy that reads
// and is sound there. A copy is not taken when it does not begin as a FAT does (the media
// byte, then end-of-chain marks) while another does, nor a sector of it that is not empty
// beyond the last cluster's entry. Where the copies differ, a sector whose links all stay
// inside the data clusters is preferred, then one that describes clusters to one of zeros,
// which would free them, then one of a copy that read whole, then the first copy's. Damage
// that every copy shares is the diskette's, for the FAT's checker to mend; none is made up
// here.
struct SoundFat {
    std::vector<uint8_t> bytes;    // sectorsPerFat × 512; only meaningful when `sound`
    bool sound = false;            // every sector came from a readable, sound copy
    bool copiesDiffer = false;     // some copy did not read, was unsound or held other bytes
    unsigned misplacedCopies = 0;  // copies that read but do not begin as a FAT does
    uint32_t unsoundSector = 0;    // the first FAT sector without a sound copy, when not sound
    bool fatFound = false;         // a copy that read begins as a FAT does
    DiskError readError = Err::None;  // the first failed read of a FAT sector
    DiskError gone = Err::None;       // why the reads stopped: the diskette went away

    // The volume is where the boot sector says: at most one copy is damaged at its start,
    // the others begin as a FAT does, and no sector is without a sound copy.
    bool Confirmed() const { return sound && misplacedCopies <= 1; }
};

// Reads every copy of the FAT that `layout` places. `mediaByte` is the boot sector's media
// descriptor: copies that begin with it are preferred to copies that begin with another.
// Nothing is left pending in the drive; a diskette that went away is told by `gone`.
SoundFat ReadSoundFat(DiskDrive& drive, const FatLayout& layout, uint8_t mediaByte);

// Whether the root directory's entries (up to `rootBytes`) can be the root of the volume
// whose FAT is `fat`: its first sector looks like a directory, and, when the FAT holds
// allocated clusters, an entry starts one.
bool RootFitsFat(std::span<const uint8_t> root, uint32_t rootBytes, std::span<const uint8_t> fat,
                 const FatLayout& layout);

}  // namespace vokta
