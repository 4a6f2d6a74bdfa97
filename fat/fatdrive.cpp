#include "fat/fatdrive.h"

#include <algorithm>
#include <new>

namespace vokta {

FatDrive::FatDrive(char letter) : DiskDrive(letter)
{
    errorText.clear();
}

FatDrive::FatDrive(char letter, const DriveTable& table) : DiskDrive(letter, table)
{
    errorText.clear();
}

FatDrive::~FatDrive()
{
    WriteBack();
}

bool FatDrive::NoFat()
{
    if (HasFat())
        return false;
    lastError = Err::UnrecognizedMedia;
    return true;
}

uint32_t FatDrive::FirstRootSector() const
{
    return uint32_t{params.u8(DeviceParams::FatCount)} * params.u16(DeviceParams::SectorsPerFat) + 1;
}

// The layout below assumes 512-byte sectors and one reserved sector, and divides by the
// cluster and track sizes; parameters read from a damaged boot sector may offer none of it.
bool FatDrive::UsableGeometry(uint32_t dataStart) const
{
    const uint32_t rootBytes = uint32_t{params.u16(DeviceParams::RootEntries)} * 32;
    return params.bytesPerSector() == kSectorSize && params.u16(DeviceParams::ReservedSectors) == 1 &&
           params.u8(DeviceParams::SectorsPerCluster) != 0 && params.u8(DeviceParams::FatCount) != 0 &&
           params.u16(DeviceParams::SectorsPerFat) != 0 && params.sectorsPerTrack() != 0 &&
           params.heads() != 0 && rootBytes <= 0xFFFF && dataStart <= 0xFFFF &&
           dataStart < params.totalSectors();
}

bool FatDrive::TakeBuffer(std::vector<uint8_t>& buffer, size_t bytes)
{
    try {
        buffer.assign(bytes, 0);
    } catch (const std::bad_alloc&) {
        lastError = Err::InsufficientBuffer;
        return false;
    }
    return true;
}

bool FatDrive::ReadFatCopy(unsigned copy)
{
    const uint16_t perFat = params.u16(DeviceParams::SectorsPerFat);
    return ReadSectors(1 + uint32_t{copy} * perFat, perFat, fat);
}

void FatDrive::ReleaseTables()
{
    fat = {};
    rootDir = {};
}

bool FatDrive::LoadFat()
{
    if (mediaType == kMediaUnknown || lastError != Err::None)
        return false;
    ReleaseTables();
    sectorsPerCluster = params.u8(DeviceParams::SectorsPerCluster);
    const uint32_t dataStart = params.u16(DeviceParams::RootEntries) / 16 + FirstRootSector();
    if (!UsableGeometry(dataStart)) {
        lastError = Err::UnrecognizedMedia;
        return false;
    }
    firstDataSector = static_cast<uint16_t>(dataStart);
    lastCluster = ClusterOfSector(params.totalSectors() - 1);

    if (!TakeBuffer(fat, size_t{params.u16(DeviceParams::SectorsPerFat)} * kSectorSize))
        return false;
    // Marking over a FAT that was never read, and writing it back, would destroy the
    // diskette's allocation: an unreadable first copy is replaced by the second, and
    // without either there is no FAT.
    if (!ReadFatCopy(0)) {
        lastError = Err::None;
        if (params.u8(DeviceParams::FatCount) < 2 || !ReadFatCopy(1)) {
            ReleaseTables();
            return false;
        }
    }
    fatBits = fat[0] == 0xF8 ? 16 : 12;
    // Clusters beyond what the FAT can describe, or numbered like the BAD mark, do not exist.
    lastCluster = static_cast<uint16_t>(std::min<uint32_t>(
        {lastCluster, HighestEntryIn(fat.size(), fatBits), BadValue(fatBits) - 1u}));

    rootDirBytes = static_cast<uint16_t>(params.u16(DeviceParams::RootEntries) * 32);
    if (!TakeBuffer(rootDir, rootDirBytes)) {
        ReleaseTables();
        return false;
    }
    if (!ReadSectors(FirstRootSector(), static_cast<uint16_t>(rootDirBytes / kSectorSize), rootDir)) {
        ReleaseTables();
        return false;
    }
    return true;
}

uint16_t FatDrive::GetFatEntry(uint16_t cluster)
{
    if (NoFat())
        return FatValue::NoEntry;
    if (cluster > lastCluster)
        return FatValue::NoEntry;
    return ReadFatEntry(fat, fatBits, cluster);
}

bool FatDrive::SetFatEntry(uint16_t cluster, uint16_t value)
{
    if (NoFat() || lastError != Err::None || cluster > lastCluster)
        return false;
    if (!WriteFatEntry(fat, fatBits, cluster, value))
        return false;
    fatDirty = true;
    return true;
}

uint32_t FatDrive::SectorOfCluster(uint16_t cluster)
{
    if (cluster < kFirstDataCluster) {
        lastError = Err::EndOfDisk;
        cluster = kFirstDataCluster;
    }
    return (uint32_t{cluster} - kFirstDataCluster) * sectorsPerCluster + firstDataSector;
}

uint16_t FatDrive::ClusterOfSector(uint32_t sector)
{
    if (sectorsPerCluster == 0) {
        lastError = Err::UnrecognizedMedia;
        return 0;
    }
    if (sector < firstDataSector) {
        lastError = Err::EndOfDisk;
        return 0;
    }
    // Far beyond the medium the number saturates rather than wrapping onto a real cluster.
    return static_cast<uint16_t>(
        std::min<uint32_t>((sector - firstDataSector) / sectorsPerCluster + kFirstDataCluster, 0xFFFF));
}

uint16_t FatDrive::FindFreeCluster(uint16_t start)
{
    if (NoFat())
        return FatValue::NoEntry;
    // Entries 0 and 1 hold the media byte; they are never a cluster to hand out.
    for (uint32_t c = std::max(start, kFirstDataCluster); c <= lastCluster; ++c)
        if (ReadFatEntry(fat, fatBits, c) == FatValue::Free)
            return static_cast<uint16_t>(c);
    return FatValue::NoEntry;
}

void FatDrive::WriteBack()
{
    // Each write is tried on its own: a failed first copy must not keep the second copy
    // or the root directory from being written.
    if (fatDirty && HasFat()) {
        const uint16_t perFat = params.u16(DeviceParams::SectorsPerFat);
        for (unsigned copy = 0; copy < params.u8(DeviceParams::FatCount); ++copy) {
            lastError = Err::None;
            WriteSectors(1 + uint32_t{copy} * perFat, perFat, fat);
        }
    }
    if (rootDirDirty && !rootDir.empty()) {
        lastError = Err::None;
        WriteSectors(FirstRootSector(), static_cast<uint16_t>(rootDirBytes / kSectorSize), rootDir);
    }
    ReleaseTables();
}

}  // namespace vokta
