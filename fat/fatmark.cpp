// SPDX-License-Identifier: GPL-3.0-or-later
// Moving a cluster's data to a free cluster and marking clusters, tracks and cylinders BAD.
#include <algorithm>

#include "fat/direntry.h"
#include "fat/fatvolume.h"

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
std::vector<uint32_t> FatVolume::ReadClusterSalvaging(uint16_t cluster, std::span<uint8_t> buffer)
{
    const uint32_t first = SectorOfCluster(cluster);
    GoOnAfterFailure salvage(drive_);
    if (salvage(drive_.ReadSectors(first, sectorsPerCluster_, buffer)))
        return {};
    std::fill(buffer.begin(), buffer.end(), 0);
    std::vector<uint32_t> unread;
    for (uint16_t i = 0; i < sectorsPerCluster_; ++i)
        if (!salvage(drive_.ReadSectors(first + i, 1, buffer.subspan(size_t{i} * kSectorSize, kSectorSize))))
            unread.push_back(first + i);
    return unread;
}

// The data is its own write test: the first free cluster that takes it is the new home,
// one that refuses it is marked BAD and passed over. NoEntry when none takes it.
uint16_t FatVolume::WriteToFreeCluster(std::span<uint8_t> data, bool isDirectory)
{
    const bool patchDot = isDirectory && DirEntry::IsDotEntry(data);
    uint16_t candidate = kFirstDataCluster;
    for (;;) {
        candidate = FindFreeCluster(candidate);
        if (candidate == FatValue::NoEntry)
            return FatValue::NoEntry;
        if (patchDot)
            DirEntry::SetStartCluster(data, candidate);
        const DiskStatus written = drive_.WriteSectors(SectorOfCluster(candidate), sectorsPerCluster_, data);
        if (written)
            return candidate;
        if (FailsForWholeDisk(written.error()))
            return FatValue::NoEntry;
        (void)drive_.TakeError();
        SetFatEntry(candidate, BadValue(fatBits_));
        ++candidate;
    }
}

DiskStatus FatVolume::PointOwnerAt(const Owner& owner, uint16_t cluster)
{
    if (owner.entrySector < firstDataSector_) {
        if (size_t{owner.entryOffset} + DirEntry::kSize > rootDir_.size())
            return kDamagedStructure;
        DirEntry::SetStartCluster(std::span(rootDir_).subspan(owner.entryOffset, DirEntry::kSize), cluster);
        rootDirty_ = true;
        return Err::None;
    }
    std::vector<uint8_t> sector(kSectorSize);
    if (const DiskStatus read = drive_.ReadSectors(owner.entrySector, 1, sector); !read)
        return read;
    DirEntry::SetStartCluster(std::span(sector).subspan(owner.entryOffset, DirEntry::kSize), cluster);
    return drive_.WriteSectors(owner.entrySector, 1, sector);
}

DiskStatus FatVolume::MoveCluster(uint16_t cluster, uint16_t* movedTo)
{
    if (!HasFat())
        return Err::UnrecognizedMedia;
    if (!IsDataCluster(cluster))
        return kDamagedStructure;
    const uint16_t next = GetFatEntry(cluster);
    if (next == FatValue::Free) {
        if (movedTo)
            *movedTo = cluster;
        return Err::None;
    }
    std::vector<uint8_t> data;
    if (!TakeBuffer(data, ClusterBytes()))
        return Err::InsufficientBuffer;

    // Everything that can refuse the move is settled before the first change.
    const std::optional<Owner> owner = FindOwner(cluster);
    if (!owner)
        return Failure(kDamagedStructure);
    uint16_t predecessor = 0;
    if (owner->firstCluster != cluster) {
        const ChainEnd end = WalkChain(owner->firstCluster, [&](uint16_t c) {
            if (c == cluster)
                return true;
            predecessor = c;
            return false;
        });
        if (end != ChainEnd::Stopped)
            return kDamagedStructure;
    }
    const std::vector<uint32_t> unread = ReadClusterSalvaging(cluster, data);

    const uint16_t moved = WriteToFreeCluster(data, owner->isDirectory);
    if (moved == FatValue::NoEntry)
        return Failure(Err::DiskFull);
    if (owner->firstCluster == cluster) {
        if (const DiskStatus pointed = PointOwnerAt(*owner, moved); !pointed)
            return pointed;
    } else {
        SetFatEntry(predecessor, moved);
    }
    SetFatEntry(moved, next);
    SetFatEntry(cluster, FatValue::Free);
    sectorsLostInMoves_.insert(sectorsLostInMoves_.end(), unread.begin(), unread.end());
    if (owner->isDirectory)
        FixParentsOfDirectory(data, next, moved);
    if (movedTo)
        *movedTo = moved;
    return Err::None;
}

// The ".." entry of every subdirectory listed. A child whose first sector cannot be read
// or written, or does not begin like a directory, is left as it is; the others are fixed.
// `sector` is the walk's scratch space for a child's first sector. True when a child's
// sector did not read or one was written: the diskette may no longer be as it was.
bool FatVolume::FixParentsListedIn(std::span<const uint8_t> entries, uint16_t newParent, std::span<uint8_t> sector)
{
    bool touched = false;
    for (size_t offset = 0; offset + DirEntry::kSize <= entries.size(); offset += DirEntry::kSize) {
        const std::span<const uint8_t> entry = entries.subspan(offset, DirEntry::kSize);
        if (DirEntry::EndsDirectory(entry))
            return touched;
        if (DirEntry::IsSkipped(entry) || !DirEntry::IsSubdirectory(entry) ||
            !IsDataCluster(DirEntry::StartCluster(entry)))
            continue;
        const uint32_t childSector = SectorOfCluster(DirEntry::StartCluster(entry));
        GoOnAfterFailure child(drive_);
        if (!child(drive_.ReadSectors(childSector, 1, sector))) {
            touched = true;
        } else if (DirEntry::IsDotDotEntry(std::span(sector).subspan(DirEntry::kSize, DirEntry::kSize))) {
            PutU16(sector, DirEntry::kDotDotStartCluster, newParent);
            child(drive_.WriteSectors(childSector, 1, sector));
            touched = true;
        }
    }
    return touched;
}

// Children listed in later clusters of the directory name its first cluster as their
// parent too, so the whole chain is visited. A damaged chain may loop: once a cluster comes
// round again after a lap that read everything and wrote nothing, the diskette is as it
// was at that cluster's last visit, and every further lap would repeat the last one read
// for read, so the walk ends there.
void FatVolume::FixParentsOfDirectory(std::span<const uint8_t> firstCluster, uint16_t restOfChain,
                                     uint16_t newParent)
{
    std::vector<uint8_t> sector;
    if (!TakeBuffer(sector, kSectorSize))
        return;
    FixParentsListedIn(firstCluster, newParent, sector);
    if (restOfChain >= EndOfChainValue(fatBits_))
        return;
    std::vector<uint8_t> buffer;
    if (!TakeBuffer(buffer, ClusterBytes()))
        return;
    std::vector<uint32_t> lastVisit(size_t{lastCluster_} + 1, 0);  // by cluster; 0 = not visited
    uint32_t visit = 0;
    uint32_t lastTouch = 0;
    WalkChain(restOfChain, [&](uint16_t c) {
        ++visit;
        if (lastVisit[c] > lastTouch)
            return true;
        lastVisit[c] = visit;
        GoOnAfterFailure listing(drive_);
        if (!listing(drive_.ReadSectors(SectorOfCluster(c), sectorsPerCluster_, buffer)) ||
            FixParentsListedIn(buffer, newParent, sector))
            lastTouch = visit;
        return false;
    });
}

void FatVolume::FixChildParents(uint16_t directoryCluster, uint16_t newCluster)
{
    if (!HasFat() || !IsDataCluster(directoryCluster))
        return;
    std::vector<uint8_t> buffer;
    if (!TakeBuffer(buffer, ClusterBytes()))
        return;
    ReadClusterSalvaging(directoryCluster, buffer);
    FixParentsOfDirectory(buffer, GetFatEntry(directoryCluster), newCluster);
}

DiskStatus FatVolume::MarkClusterBad(uint16_t cluster)
{
    if (const DiskError refused = Refusal(); refused != Err::None)
        return refused;
    if (!IsDataCluster(cluster))
        return kDamagedStructure;
    if (IsClusterBad(cluster))
        return Err::None;
    if (const DiskStatus moved = MoveCluster(cluster); !moved)
        return moved;
    if (!SetFatEntry(cluster, BadValue(fatBits_)))
        return Failure(Err::EndOfDisk);
    return Err::None;
}

// The free clusters of a range that is being condemned are marked first: data moved out of
// the range must not land in it, on a sector that may itself not read back.
DiskStatus FatVolume::MarkFreeClustersBad(uint32_t first, uint32_t end)
{
    for (uint32_t sector = first; sector < end; ++sector) {
        const uint16_t cluster = ClusterOfSector(sector);
        if (cluster == 0)
            return Err::EndOfDisk;
        if (GetFatEntry(cluster) == FatValue::Free && !SetFatEntry(cluster, BadValue(fatBits_)))
            return Failure(Err::EndOfDisk);
    }
    return Err::None;
}

DiskStatus FatVolume::MarkSectorsBad(uint32_t first, uint32_t end)
{
    // Sectors behind the volume's last cluster belong to no cluster: nothing there is marked.
    end = std::min(end, VolumeEnd());
    first = std::min(first, end);
    if (const DiskStatus freeMarked = MarkFreeClustersBad(first, end); !freeMarked)
        return freeMarked;
    for (uint32_t sector = first; sector < end; ++sector) {
        const uint16_t cluster = ClusterOfSector(sector);
        if (cluster == 0)
            return Err::EndOfDisk;
        if (IsClusterBad(cluster))
            continue;
        if (const DiskStatus marked = MarkClusterBad(cluster); !marked)
            return marked;
    }
    return Err::None;
}

DiskStatus FatVolume::MarkTrackBadAtSector(uint32_t sector)
{
    if (const DiskError refused = Refusal(); refused != Err::None)
        return refused;
    const uint32_t spt = drive_.params.sectorsPerTrack();
    const uint32_t perCylinder = spt * drive_.params.heads();
    if (perCylinder == 0)
        return Err::UnrecognizedMedia;
    uint32_t first = sector / perCylinder * perCylinder + sector % perCylinder / spt * spt;
    const uint32_t end = first + spt;
    // The system-area part of the track is left alone.
    if (first < firstDataSector_)
        first = firstDataSector_;
    return MarkSectorsBad(first, end);
}

DiskStatus FatVolume::MarkTrackBad(uint16_t cylinder, uint16_t head)
{
    if (const DiskError refused = Refusal(); refused != Err::None)
        return refused;
    if (head >= drive_.params.heads())
        return Err::EndOfDisk;
    const uint32_t spt = drive_.params.sectorsPerTrack();
    const uint32_t first = (uint32_t{drive_.params.heads()} * cylinder + head) * spt;
    return MarkSectorsBad(first, first + spt);
}

DiskStatus FatVolume::MarkCylinderBad(uint16_t cylinder)
{
    if (const DiskError refused = Refusal(); refused != Err::None)
        return refused;
    const uint32_t perCylinder = uint32_t{drive_.params.sectorsPerTrack()} * drive_.params.heads();
    const uint32_t end = std::min((cylinder + 1u) * perCylinder, VolumeEnd());
    if (const DiskStatus freeMarked = MarkFreeClustersBad(std::min(cylinder * perCylinder, end), end); !freeMarked)
        return freeMarked;
    for (uint16_t head = 0; head < drive_.params.heads(); ++head)
        if (const DiskStatus marked = MarkTrackBad(cylinder, head); !marked)
            return marked;
    return Err::None;
}

}  // namespace vokta
