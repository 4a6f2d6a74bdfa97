#include "fat/freespace.h"

#include <vector>

#include "boot/bootsector.h"
#include "drive/diskdrive.h"
#include "drive/fatlayout.h"
#include "fat/fatentries.h"

namespace vokta {

std::optional<FreeSpace> CountFreeSpace(DiskDrive& drive)
{
    BootSector boot;
    if (!drive.ReadSectors(0, 1, boot.bytes)) {
        drive.lastError = Err::None;
        return std::nullopt;
    }
    const std::optional<FatLayout> layout = FatLayout::FromBootSector(boot.span());
    // The boot sector may describe a larger volume than the medium in the drive holds.
    if (!layout || layout->firstFatSector + layout->sectorsPerFat > drive.params.totalSectors())
        return std::nullopt;

    std::vector<uint8_t> fat(size_t{layout->sectorsPerFat} * kSectorSize);
    if (!drive.ReadSectors(layout->firstFatSector, layout->sectorsPerFat, fat)) {
        drive.lastError = Err::None;
        return std::nullopt;
    }
    FreeSpace space;
    space.totalClusters = layout->clusterCount;
    space.bytesPerCluster = static_cast<uint32_t>(layout->sectorsPerCluster * kSectorSize);
    for (uint32_t c = kFirstDataCluster; c <= layout->lastCluster; ++c)
        if (ReadFatEntry(fat, layout->fatBits, c) == FatValue::Free)
            ++space.freeClusters;
    return space;
}

}  // namespace vokta
