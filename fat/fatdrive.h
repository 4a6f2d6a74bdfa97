#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "drive/diskdrive.h"
#include "drive/fatlayout.h"
#include "fat/fatentries.h"

namespace vokta {

// The search for the directory entry that owns a cluster.
struct OwnerSearch {
    uint16_t dirCluster = 0;    // in: first cluster of the directory to search, 0 = root
    uint16_t target = 0;        // in: the cluster whose owner is wanted
    uint16_t firstCluster = 0;  // out: starting cluster of the owning entry's chain
    uint32_t entrySector = 0;   // out: sector holding the owning entry
    uint16_t entryOffset = 0;   // out: in the root buffer, or within its sector for a subdirectory
    bool isDirectory = false;   // out: the owner is a subdirectory and target its first cluster
};

// A walk through damaged structures ends with this error: a FAT chain that loops or
// leaves the data clusters, a directory nested deeper than kMaxDirectoryDepth or holding
// itself. It is the answer for an owner that cannot be found, which such a walk is.
constexpr DiskError kDamagedStructure = Err::EndOfDisk;
constexpr unsigned kMaxDirectoryDepth = 128;

// A DiskDrive that also holds the FAT and the root directory in memory, answers which
// cluster a sector belongs to and which entry owns it, and marks clusters, tracks and
// cylinders BAD after moving their data. FAT and root directory changes reach the disk
// when the operation commits them (at destruction at the latest); subdirectory sectors
// and moved data are written at once.
class FatDrive : public DiskDrive {
public:
    FatDrive(char letter, const DriveTable& table);
    ~FatDrive() override;

    // Loads the FAT from its sound copies (see ReadSoundFat) and the root directory. Fails
    // with `fatTrust` saying why (lastError 1785) when the copies where the layout puts them
    // give no FAT that can be trusted, or the volume does not fit the medium.
    bool LoadFat();
    // The same without the root directory: whether a FAT can be had at all.
    bool LoadFatOnly();
    // The loaded FAT and root directory confirm the volume's layout: the root directory's
    // entries are those of this FAT's volume. Only then may its root directory be written.
    bool RootConfirmsLayout() const;

    // Writes the changed FAT copies and root directory, then makes the disk service keep
    // them. A failed write stops there and leaves them changed in memory, for a retry.
    bool Commit() override;

    uint16_t GetFatEntry(uint16_t cluster);
    bool SetFatEntry(uint16_t cluster, uint16_t value);
    bool IsClusterBad(uint16_t cluster) { return GetFatEntry(cluster) == BadValue(fatBits); }

    uint32_t SectorOfCluster(uint16_t cluster);
    uint16_t ClusterOfSector(uint32_t sector);
    uint16_t FindFreeCluster(uint16_t start);

    bool FindOwner(OwnerSearch& search);
    uint16_t MoveCluster(uint16_t cluster);
    void FixChildParents(uint16_t directoryCluster, uint16_t newCluster);

    bool MarkClusterBad(uint16_t cluster);
    bool MarkTrackBadAtSector(uint32_t sector);
    bool MarkTrackBad(uint16_t cylinder, uint16_t head);
    bool MarkCylinderBad(uint16_t cylinder);

    bool HasFat() const { return !fat.empty(); }
    // Drops the FAT and root directory and their changes: nothing of them is written.
    void ReleaseTables();

    std::vector<uint8_t> fat;  // one FAT copy; empty = not loaded
    bool fatDirty = false;
    // The last LoadFat found a copy unreadable, unsound or different from the FAT it took:
    // writing the FAT back to every copy mends them.
    bool fatCopiesDiffer = false;
    // Why the last LoadFat found no FAT to trust: no copy begins as a FAT does, some sector
    // has no sound copy, or the volume is not where the boot sector says (copies that do not
    // begin as a FAT does, a volume larger than the medium).
    enum class FatTrust { Trusted, NoFat, Unsound, Misplaced };
    FatTrust fatTrust = FatTrust::Trusted;
    std::vector<uint8_t> rootDir;  // whole sectors
    uint16_t rootDirBytes = 0;     // of the root's entries
    bool rootDirDirty = false;
    uint16_t lastCluster = 0;
    uint16_t firstDataSector = 0;
    uint16_t fatBits = 12;
    uint16_t sectorsPerCluster = 0;
    // The sectors that could not be read when their cluster's data moved: they moved as
    // zeros. Whoever moves clusters and tells the user clears it.
    std::vector<uint32_t> sectorsLostInMoves;

private:
    enum class ChainEnd { Ended, Stopped, Broken };

    // Visits the chain from `start` until `visit` returns true (Stopped) or an end-of-chain
    // value (Ended). A link outside the data clusters, or more links than there are
    // clusters, which only a loop makes, ends it as Broken.
    template <class Visit>
    ChainEnd WalkChain(uint16_t start, Visit&& visit)
    {
        uint16_t cluster = start;
        for (uint32_t links = 0; links < lastCluster; ++links) {
            if (!IsDataCluster(cluster))
                return ChainEnd::Broken;
            if (visit(cluster))
                return ChainEnd::Stopped;
            const uint16_t next = GetFatEntry(cluster);
            if (next >= EndOfChainValue(fatBits))
                return ChainEnd::Ended;
            cluster = next;
        }
        return ChainEnd::Broken;
    }

    bool IsDataCluster(uint32_t cluster) const
    {
        return cluster >= kFirstDataCluster && cluster <= lastCluster;
    }
    bool NoFat();
    bool FitsTheFields(const FatLayout& found) const;
    bool FitsTheMedium(const FatLayout& found) const;
    uint32_t FirstRootSector() const { return layout_.rootFirstSector; }
    // The sector behind the last cluster's last sector.
    uint32_t VolumeEnd() const
    {
        return firstDataSector + (uint32_t{lastCluster} - kFirstDataCluster + 1) * sectorsPerCluster;
    }
    size_t ClusterBytes() const { return size_t{sectorsPerCluster} * kSectorSize; }
    bool TakeBuffer(std::vector<uint8_t>& buffer, size_t bytes);
    bool WriteBack();
    void RecordUnwrittenChanges();

    bool SearchDirectory(OwnerSearch& search, unsigned depth, std::vector<bool>& searched);
    bool ScanEntries(OwnerSearch& search, std::span<const uint8_t> entries, bool inRoot,
                     unsigned depth, std::vector<bool>& searched);
    bool FileChainHolds(uint16_t start, uint16_t target);

    // The sectors that could not be read, left as zeros.
    std::vector<uint32_t> ReadClusterSalvaging(uint16_t cluster, std::span<uint8_t> buffer);
    uint16_t WriteToFreeCluster(std::span<uint8_t> data, bool isDirectory);
    bool PointOwnerAt(const OwnerSearch& owner, uint16_t cluster);
    void FixParentsListedIn(std::span<const uint8_t> entries, uint16_t newParent);
    void FixParentsOfDirectory(std::span<const uint8_t> firstCluster, uint16_t restOfChain,
                               uint16_t newParent);
    bool MarkSectorsBad(uint32_t first, uint32_t end);
    bool MarkFreeClustersBad(uint32_t first, uint32_t end);

    FatLayout layout_;  // of the loaded FAT
};

}  // namespace vokta
