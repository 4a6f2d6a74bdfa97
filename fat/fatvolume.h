// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "drive/diskdrive.h"
#include "drive/fatlayout.h"
#include "fat/fatentries.h"

namespace vokta {

// The directory entry that owns a cluster.
struct Owner {
    uint16_t firstCluster = 0;  // starting cluster of the owning entry's chain
    uint32_t entrySector = 0;   // sector holding the owning entry
    uint16_t entryOffset = 0;   // in the root directory, or within its sector for a subdirectory
    bool isDirectory = false;   // the owner is a subdirectory and the cluster its first
};

// A walk through damaged structures ends with this error: a FAT chain that loops or
// leaves the data clusters, a directory nested deeper than kMaxDirectoryDepth or holding
// itself. It is the answer for an owner that cannot be found, which such a walk is.
constexpr DiskError kDamagedStructure = Err::EndOfDisk;
constexpr unsigned kMaxDirectoryDepth = 128;

// What a write-back of the tables left off the disk, and the error that stopped it.
struct Unwritten {
    bool fat = false;
    bool root = false;
    DiskError error = Err::None;
    bool Nothing() const { return !fat && !root; }
};

// The FAT volume on the diskette in a drive: the FAT and the root directory held in memory,
// which cluster a sector belongs to and which entry owns it, and clusters, tracks and
// cylinders marked BAD after their data moved. FAT and root directory changes reach the disk
// when the drive commits (at the volume's end at the latest, recorded as lost work when that
// fails); subdirectory sectors and moved data are written at once. The drive must outlive it.
class FatVolume {
public:
    explicit FatVolume(DiskDrive& drive);
    ~FatVolume();
    FatVolume(const FatVolume&) = delete;
    FatVolume& operator=(const FatVolume&) = delete;

    DiskDrive& drive() { return drive_; }

    // Loads the FAT from its sound copies (see ReadSoundFat) and the root directory. Fails
    // with `trust()` saying why when the copies where the layout puts them give no FAT that
    // can be trusted, or the volume does not fit the medium; the failure is the read's that
    // failed, else 1785. An error pending in the drive fails it at once.
    DiskStatus Load();
    // The same without the root directory: whether a FAT can be had at all.
    DiskStatus LoadFatOnly();
    // The loaded FAT and root directory confirm the volume's layout: the root directory's
    // entries are those of this FAT's volume. Only then may its root directory be written.
    bool RootConfirmsLayout() const;
    // Drops the FAT and root directory and their changes: nothing of them is written.
    void ReleaseTables();

    // Why the last load found no FAT to trust: no copy begins as a FAT does, some sector
    // has no sound copy, or the volume is not where the boot sector says (copies that do not
    // begin as a FAT does, a volume larger than the medium).
    enum class Trust { Trusted, NoFat, Unsound, Misplaced };
    Trust trust() const { return trust_; }
    // The last load found a copy unreadable, unsound or different from the FAT it took.
    bool copiesDiffer() const { return copiesDiffer_; }
    // Has the next write-back put the FAT on every copy, which mends those that differ.
    void MendCopies();

    // Writes the changed FAT copies and root directory. A failed write stops there and
    // leaves them changed in memory, for a retry; the drive's pending error is taken into
    // the answer. An error the operation left pending does not keep them from the disk.
    Unwritten WriteBack();
    bool FatChanged() const { return fatDirty_; }
    bool RootChanged() const { return rootDirty_; }
    bool HasUnwrittenChanges() const { return fatDirty_ || rootDirty_; }

    bool HasFat() const { return !fat_.empty(); }
    std::span<const uint8_t> fat() const { return fat_; }
    // The root directory in whole sectors; its entries end at `RootEntryCount()`.
    std::span<const uint8_t> rootDir() const { return rootDir_; }
    size_t RootEntryCount() const;
    std::span<const uint8_t> RootEntry(size_t index) const;
    uint16_t lastCluster() const { return lastCluster_; }
    uint16_t firstDataSector() const { return firstDataSector_; }
    uint16_t fatBits() const { return fatBits_; }
    uint16_t sectorsPerCluster() const { return sectorsPerCluster_; }

    // NoEntry for an entry that does not exist, or without a FAT.
    uint16_t GetFatEntry(uint16_t cluster) const;
    bool SetFatEntry(uint16_t cluster, uint16_t value);
    bool IsClusterBad(uint16_t cluster) const { return GetFatEntry(cluster) == BadValue(fatBits_); }
    // Replaces entry `index` of the root directory in memory.
    bool SetRootEntry(size_t index, std::span<const uint8_t> entry);
    // Puts a copy of the root directory taken earlier back in memory: to be written again
    // when a write-back already put the changed one on the disk, else dropped with the change.
    void RestoreRoot(std::span<const uint8_t> saved);

    // Clusters below the first data cluster are taken as the first.
    uint32_t SectorOfCluster(uint16_t cluster) const;
    // 0 for a sector of the system area.
    uint16_t ClusterOfSector(uint32_t sector) const;
    uint16_t FindFreeCluster(uint16_t start) const;

    // The entry that owns `target`; nullopt when none does, or the walk met damage.
    std::optional<Owner> FindOwner(uint16_t target);
    // Moves the cluster's data to a free cluster, which `movedTo` receives (the cluster
    // itself when it is free); the failure: the drive's, kDamagedStructure or DiskFull.
    DiskStatus MoveCluster(uint16_t cluster, uint16_t* movedTo = nullptr);
    void FixChildParents(uint16_t directoryCluster, uint16_t newCluster);

    // Each answers the first failure: the drive's (also left pending there), or the damage
    // met, or 1785 without a FAT. An error pending in the drive refuses them at once.
    DiskStatus MarkClusterBad(uint16_t cluster);
    DiskStatus MarkTrackBadAtSector(uint32_t sector);
    DiskStatus MarkTrackBad(uint16_t cylinder, uint16_t head);
    DiskStatus MarkCylinderBad(uint16_t cylinder);

    // The sectors that could not be read when their cluster's data moved since the last
    // call: they moved as zeros.
    std::vector<uint32_t> TakeSectorsLostInMoves();

private:
    enum class ChainEnd { Ended, Stopped, Broken };

    // Visits the chain from `start` until `visit` returns true (Stopped) or an end-of-chain
    // value (Ended). A link outside the data clusters, or more links than there are
    // clusters, which only a loop makes, ends it as Broken.
    template <class Visit>
    ChainEnd WalkChain(uint16_t start, Visit&& visit) const
    {
        uint16_t cluster = start;
        for (uint32_t links = 0; links < lastCluster_; ++links) {
            if (!IsDataCluster(cluster))
                return ChainEnd::Broken;
            if (visit(cluster))
                return ChainEnd::Stopped;
            const uint16_t next = GetFatEntry(cluster);
            if (next >= EndOfChainValue(fatBits_))
                return ChainEnd::Ended;
            cluster = next;
        }
        return ChainEnd::Broken;
    }

    bool IsDataCluster(uint32_t cluster) const
    {
        return cluster >= kFirstDataCluster && cluster <= lastCluster_;
    }
    bool FitsTheFields(const FatLayout& found) const;
    bool FitsTheMedium(const FatLayout& found) const;
    uint32_t FirstRootSector() const { return layout_.rootFirstSector; }
    // The sector behind the last cluster's last sector.
    uint32_t VolumeEnd() const
    {
        return firstDataSector_ + (uint32_t{lastCluster_} - kFirstDataCluster + 1) * sectorsPerCluster_;
    }
    size_t ClusterBytes() const { return size_t{sectorsPerCluster_} * kSectorSize; }
    bool TakeBuffer(std::vector<uint8_t>& buffer, size_t bytes);
    DiskError CommitTables(std::string& why);

    bool SearchDirectory(Owner& found, uint16_t dirCluster, uint16_t target, unsigned depth,
                         std::vector<bool>& searched);
    bool ScanEntries(Owner& found, uint16_t target, std::span<const uint8_t> entries, bool inRoot, unsigned depth,
                     std::vector<bool>& searched);
    bool FileChainHolds(uint16_t start, uint16_t target) const;

    // The sectors that could not be read, left as zeros.
    std::vector<uint32_t> ReadClusterSalvaging(uint16_t cluster, std::span<uint8_t> buffer);
    uint16_t WriteToFreeCluster(std::span<uint8_t> data, bool isDirectory);
    DiskStatus PointOwnerAt(const Owner& owner, uint16_t cluster);
    bool FixParentsListedIn(std::span<const uint8_t> entries, uint16_t newParent, std::span<uint8_t> sector);
    void FixParentsOfDirectory(std::span<const uint8_t> firstCluster, uint16_t restOfChain,
                               uint16_t newParent);
    DiskStatus MarkSectorsBad(uint32_t first, uint32_t end);
    DiskStatus MarkFreeClustersBad(uint32_t first, uint32_t end);
    // The drive's pending error, or `otherwise` when none is.
    DiskError Failure(DiskError otherwise) const;
    // Why no mark may begin: an error pending in the drive, or no FAT; None when one may.
    DiskError Refusal() const { return Failure(HasFat() ? Err::None : Err::UnrecognizedMedia); }

    DiskDrive& drive_;
    FatLayout layout_;             // of the loaded FAT
    std::vector<uint8_t> fat_;     // one FAT copy; empty = not loaded
    std::vector<uint8_t> rootDir_;  // whole sectors
    uint16_t rootDirBytes_ = 0;    // of the root's entries
    bool fatDirty_ = false;
    bool rootDirty_ = false;
    bool rootWritten_ = false;  // since the load
    bool copiesDiffer_ = false;
    Trust trust_ = Trust::Trusted;
    uint16_t lastCluster_ = 0;
    uint16_t firstDataSector_ = 0;
    uint16_t fatBits_ = 12;
    uint16_t sectorsPerCluster_ = 0;
    std::vector<uint32_t> sectorsLostInMoves_;
};

}  // namespace vokta
