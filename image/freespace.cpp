#include "image/freespace.h"

#include <vector>

#include "boot/bootsector.h"
#include "drive/diskdrive.h"
#include "fat/fatentries.h"

namespace vokta {

std::optional<FreeSpace> CountFreeSpace(DiskDrive& drive)
{
    BootSector boot;
    if (!drive.ReadSectors(0, 1, boot.bytes)) {
        drive.lastError = Err::None;
        return std::nullopt;
    }
    const uint32_t bytesPerSector = boot.u16(BootSector::BytesPerSector);
    const uint32_t perCluster = boot.u8(BootSector::SectorsPerCluster);
    const uint32_t reserved = boot.u16(BootSector::ReservedSectors);
    const uint32_t fats = boot.u8(BootSector::FatCount);
    const uint32_t rootEntries = boot.u16(BootSector::RootEntries);
    const uint32_t perFat = boot.u16(BootSector::SectorsPerFat);
    uint32_t total = boot.u16(BootSector::TotalSectors16);
    if (total == 0)
        total = boot.u32(BootSector::TotalSectors32);
    const uint32_t dataStart = reserved + fats * perFat + (rootEntries * 32 + 511) / 512;
    if (bytesPerSector != kSectorSize || perCluster == 0 || perFat == 0 || fats == 0 || dataStart >= total ||
        reserved + perFat > drive.params.totalSectors() || perFat > 0xFFFF)
        return std::nullopt;
    const uint32_t clusters = (total - dataStart) / perCluster;
    const unsigned fatBits = clusters < 4085 ? 12 : 16;

    std::vector<uint8_t> fat(size_t{perFat} * kSectorSize);
    if (!drive.ReadSectors(reserved, static_cast<uint16_t>(perFat), fat)) {
        drive.lastError = Err::None;
        return std::nullopt;
    }
    FreeSpace space;
    space.totalClusters = clusters;
    for (uint32_t c = kFirstDataCluster; c < kFirstDataCluster + clusters; ++c)
        if (ReadFatEntry(fat, fatBits, c) == FatValue::Free)
            ++space.freeClusters;
    return space;
}

}  // namespace vokta
