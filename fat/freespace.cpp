// SPDX-License-Identifier: GPL-3.0-or-later
#include "fat/freespace.h"

#include <vector>

#include "boot/bootsector.h"
#include "drive/diskdrive.h"
#include "drive/fatlayout.h"
#include "fat/fatentries.h"
#include "fat/soundfat.h"

namespace vokta {

std::optional<FreeSpace> CountFreeSpace(DiskDrive& drive)
{
    BootSector boot;
    if (!drive.ReadSectors(0, 1, boot.bytes)) {
        (void)drive.TakeError();
        return std::nullopt;
    }
    const std::optional<FatLayout> layout = FatLayout::FromBootSector(boot.span());
    // The boot sector may describe a larger volume than the medium in the drive holds.
    if (!layout || layout->FatSector(layout->fatCount) > drive.params.totalSectors())
        return std::nullopt;

    // A FAT copy of zeros would count every cluster free: only a FAT that its sound copies
    // give is counted.
    const SoundFat read = ReadSoundFat(drive, *layout, boot.u8(BootSector::MediaDescriptor));
    if (!read.Confirmed())
        return std::nullopt;
    const std::vector<uint8_t>& fat = read.bytes;
    FreeSpace space;
    space.totalClusters = layout->clusterCount;
    space.bytesPerCluster = static_cast<uint32_t>(layout->sectorsPerCluster * kSectorSize);
    for (uint32_t c = kFirstDataCluster; c <= layout->lastCluster; ++c)
        if (ReadFatEntry(fat, layout->fatBits, c) == FatValue::Free)
            ++space.freeClusters;
    return space;
}

}  // namespace vokta
