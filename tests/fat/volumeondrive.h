// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "drive/diskdrive.h"
#include "fat/fatvolume.h"

namespace vokta::test {

// A drive object and the FAT volume over it, ended in that order, as an operation holds them.
struct VolumeOnDrive {
    VolumeOnDrive(char letter, const DriveTable& table) : disk(letter, table), fat(disk) {}
    DiskDrive disk;
    FatVolume fat;
};

}  // namespace vokta::test
