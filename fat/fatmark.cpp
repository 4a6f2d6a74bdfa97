// Moving a cluster's data to a free cluster and marking clusters, tracks and cylinders BAD.
#include <algorithm>

#include "fat/direntry.h"
#include "fat/fatdrive.h"

namespace vokta {
namespace {

// A write that fails for the drive or the diskette as a whole says nothing about the
// cluster written: marking it BAD would condemn every free cluster in turn.
bool FailsForWholeDisk(DiskError error)
{
    switch (error) {
    case Err::InvalidFunction:
    case Err::AccessDenied:
    case Err::InvalidDrive:
    case Err::WriteProtect:
    case Err::BadUnit:
    case Err::NotReady:
    case Err::InvalidDiskChange:
    case Err::DriveLocked:
    case Err::UnrecognizedMedia:
        return true;
    default:
        return false;
    }
}

}  // namespace

// What can be read of the cluster; sectors that cannot be read move as zeros.
std::vector<uint32_t> FatDrive::ReadClusterSalvaging(uint16_t cluster, std::span<uint8_t> buffer)
{
    const uint32_t first = SectorOfCluster(cluster);
    if (ReadSectors(first, sectorsPerCluster, buffer))
        return {};
    LatchOfFatLayer() = Err::None;
    std::fill(buffer.begin(), buffer.end(), 0);
    std::vector<uint32_t> unread;
    for (uint16_t i = 0; i < sectorsPerCluster; ++i) {
        if (!ReadSectors(first + i, 1, buffer.subspan(size_t{i} * kSectorSize, kSectorSize)))
            unread.push_back(first + i);
        LatchOfFatLayer() = Err::None;
    }
    return unread;
}

// The data is its own write test: the first free cluster that takes it is the new home,
// one that refuses it is marked BAD and passed over.
uint16_t FatDrive::WriteToFreeCluster(std::span<uint8_t> data, bool isDirectory)
{
    const bool patchDot = isDirectory && DirEntry::IsDotEntry(data);
    uint16_t candidate = kFirstDataCluster;
    for (;;) {
        candidate = FindFreeCluster(candidate);
        if (candidate == FatValue::NoEntry) {
            LatchOfFatLayer() = Err::DiskFull;
            return FatValue::NoEntry;
        }
        if (patchDot)
            DirEntry::SetStartCluster(data, candidate);
        if (WriteSectors(SectorOfCluster(candidate), sectorsPerCluster, data))
            return candidate;
        if (FailsForWholeDisk(LatchOfFatLayer()))
            return FatValue::NoEntry;
        LatchOfFatLayer() = Err::None;
        MarkClusterBad(candidate);
        ++candidate;
    }
}

bool FatDrive::PointOwnerAt(const OwnerSearch& owner, uint16_t cluster)
{
    if (owner.entrySector < firstDataSector) {
        if (size_t{owner.entryOffset} + DirEntry::kSize > rootDir.size()) {
            LatchOfFatLayer() = kDamagedStructure;
            return false;
        }
        DirEntry::SetStartCluster(std::span(rootDir).subspan(owner.entryOffset, DirEntry::kSize), cluster);
        rootDirDirty = true;
        return true;
    }
    std::vector<uint8_t> sector(kSectorSize);
    if (!ReadSectors(owner.entrySector, 1, sector))
        return false;
    DirEntry::SetStartCluster(std::span(sector).subspan(owner.entryOffset, DirEntry::kSize), cluster);
    return static_cast<bool>(WriteSectors(owner.entrySector, 1, sector));
}

uint16_t FatDrive::MoveCluster(uint16_t cluster)
{
    if (NoFat())
        return FatValue::NoEntry;
    if (!IsDataCluster(cluster)) {
        LatchOfFatLayer() = Err::EndOfDisk;
        return FatValue::NoEntry;
    }
    const uint16_t next = GetFatEntry(cluster);
    if (next == FatValue::Free)
        return cluster;
    std::vector<uint8_t> data;
    if (!TakeBuffer(data, ClusterBytes()))
        return FatValue::NoEntry;

    // Everything that can refuse the move is settled before the first change.
    OwnerSearch owner{0, cluster};
    if (!FindOwner(owner)) {
        LatchOfFatLayer() = kDamagedStructure;
        return FatValue::NoEntry;
    }
    uint16_t predecessor = 0;
    if (owner.firstCluster != cluster) {
        const ChainEnd end = WalkChain(owner.firstCluster, [&](uint16_t c) {
            if (c == cluster)
                return true;
            predecessor = c;
            return false;
        });
        if (end != ChainEnd::Stopped) {
            LatchOfFatLayer() = kDamagedStructure;
            return FatValue::NoEntry;
        }
    }
    const std::vector<uint32_t> unread = ReadClusterSalvaging(cluster, data);

    const uint16_t moved = WriteToFreeCluster(data, owner.isDirectory);
    if (moved == FatValue::NoEntry)
        return FatValue::NoEntry;
    if (owner.firstCluster == cluster) {
        if (!PointOwnerAt(owner, moved))
            return FatValue::NoEntry;
    } else {
        SetFatEntry(predecessor, moved);
    }
    SetFatEntry(moved, next);
    SetFatEntry(cluster, FatValue::Free);
    sectorsLostInMoves.insert(sectorsLostInMoves.end(), unread.begin(), unread.end());
    if (owner.isDirectory)
        FixParentsOfDirectory(data, next, moved);
    return moved;
}

// The ".." entry of every subdirectory listed. A child whose first sector cannot be read
// or written, or does not begin like a directory, is left as it is; the others are fixed.
void FatDrive::FixParentsListedIn(std::span<const uint8_t> entries, uint16_t newParent)
{
    std::vector<uint8_t> sector;
    if (!TakeBuffer(sector, kSectorSize))
        return;
    for (size_t offset = 0; offset + DirEntry::kSize <= entries.size(); offset += DirEntry::kSize) {
        const std::span<const uint8_t> entry = entries.subspan(offset, DirEntry::kSize);
        if (DirEntry::EndsDirectory(entry))
            return;
        if (DirEntry::IsSkipped(entry) || !DirEntry::IsSubdirectory(entry) ||
            !IsDataCluster(DirEntry::StartCluster(entry)))
            continue;
        const uint32_t childSector = SectorOfCluster(DirEntry::StartCluster(entry));
        if (ReadSectors(childSector, 1, sector) &&
            DirEntry::IsDotDotEntry(std::span(sector).subspan(DirEntry::kSize, DirEntry::kSize))) {
            PutU16(sector, DirEntry::kDotDotStartCluster, newParent);
            (void)WriteSectors(childSector, 1, sector);
        }
        LatchOfFatLayer() = Err::None;
    }
}

// Children listed in later clusters of the directory name its first cluster as their
// parent too, so the whole chain is visited.
void FatDrive::FixParentsOfDirectory(std::span<const uint8_t> firstCluster, uint16_t restOfChain,
                                     uint16_t newParent)
{
    FixParentsListedIn(firstCluster, newParent);
    if (restOfChain >= EndOfChainValue(fatBits))
        return;
    std::vector<uint8_t> buffer;
    if (!TakeBuffer(buffer, ClusterBytes()))
        return;
    WalkChain(restOfChain, [&](uint16_t c) {
        if (ReadSectors(SectorOfCluster(c), sectorsPerCluster, buffer))
            FixParentsListedIn(buffer, newParent);
        LatchOfFatLayer() = Err::None;
        return false;
    });
}

void FatDrive::FixChildParents(uint16_t directoryCluster, uint16_t newCluster)
{
    if (NoFat())
        return;
    if (!IsDataCluster(directoryCluster)) {
        LatchOfFatLayer() = Err::EndOfDisk;
        return;
    }
    std::vector<uint8_t> buffer;
    if (!TakeBuffer(buffer, ClusterBytes()))
        return;
    ReadClusterSalvaging(directoryCluster, buffer);
    FixParentsOfDirectory(buffer, GetFatEntry(directoryCluster), newCluster);
}

bool FatDrive::MarkClusterBad(uint16_t cluster)
{
    if (NoFat() || LatchOfFatLayer() != Err::None)
        return false;
    if (!IsDataCluster(cluster)) {
        LatchOfFatLayer() = Err::EndOfDisk;
        return false;
    }
    if (IsClusterBad(cluster))
        return true;
    if (MoveCluster(cluster) == FatValue::NoEntry)
        return false;
    return SetFatEntry(cluster, BadValue(fatBits));
}

// The free clusters of a range that is being condemned are marked first: data moved out of
// the range must not land in it, on a sector that may itself not read back.
bool FatDrive::MarkFreeClustersBad(uint32_t first, uint32_t end)
{
    for (uint32_t sector = first; sector < end; ++sector) {
        const uint16_t cluster = ClusterOfSector(sector);
        if (LatchOfFatLayer() != Err::None)
            return false;
        if (GetFatEntry(cluster) == FatValue::Free && !SetFatEntry(cluster, BadValue(fatBits)))
            return false;
    }
    return true;
}

bool FatDrive::MarkSectorsBad(uint32_t first, uint32_t end)
{
    // Sectors behind the volume's last cluster belong to no cluster: nothing there is marked.
    end = std::min(end, VolumeEnd());
    first = std::min(first, end);
    if (!MarkFreeClustersBad(first, end))
        return false;
    for (uint32_t sector = first; sector < end; ++sector) {
        const uint16_t cluster = ClusterOfSector(sector);
        if (LatchOfFatLayer() != Err::None)
            return false;
        if (!IsClusterBad(cluster) && !MarkClusterBad(cluster))
            return false;
    }
    return true;
}

bool FatDrive::MarkTrackBadAtSector(uint32_t sector)
{
    if (NoFat() || LatchOfFatLayer() != Err::None)
        return false;
    const uint32_t spt = params.sectorsPerTrack();
    const uint32_t perCylinder = spt * params.heads();
    if (perCylinder == 0) {
        LatchOfFatLayer() = Err::UnrecognizedMedia;
        return false;
    }
    uint32_t first = sector / perCylinder * perCylinder + sector % perCylinder / spt * spt;
    const uint32_t end = first + spt;
    // The system-area part of the track is left alone.
    if (first < firstDataSector)
        first = firstDataSector;
    return MarkSectorsBad(first, end);
}

bool FatDrive::MarkTrackBad(uint16_t cylinder, uint16_t head)
{
    if (NoFat() || LatchOfFatLayer() != Err::None)
        return false;
    if (head >= params.heads()) {
        LatchOfFatLayer() = Err::EndOfDisk;
        return false;
    }
    const uint32_t spt = params.sectorsPerTrack();
    const uint32_t first = (uint32_t{params.heads()} * cylinder + head) * spt;
    return MarkSectorsBad(first, first + spt);
}

bool FatDrive::MarkCylinderBad(uint16_t cylinder)
{
    if (NoFat() || LatchOfFatLayer() != Err::None)
        return false;
    const uint32_t perCylinder = uint32_t{params.sectorsPerTrack()} * params.heads();
    const uint32_t end = std::min((cylinder + 1u) * perCylinder, VolumeEnd());
    if (!MarkFreeClustersBad(std::min(cylinder * perCylinder, end), end))
        return false;
    for (uint16_t head = 0; head < params.heads(); ++head)
        if (!MarkTrackBad(cylinder, head))
            return false;
    return true;
}

}  // namespace vokta
