// The search for the directory entry that owns a cluster: depth-first, in directory
// order, subdirectories read from the disk. A damaged diskette can make directories hold
// themselves or each other, so every directory cluster is searched at most once per
// search and the nesting is bounded.
#include "fat/direntry.h"
#include "fat/fatdrive.h"

namespace vokta {

bool FatDrive::FindOwner(OwnerSearch& search)
{
    if (NoFat())
        return false;
    // No entry owns a cluster that is not on the volume, whatever a damaged one says.
    if (search.target > lastCluster)
        return false;
    std::vector<bool> searched(size_t{lastCluster} + 1);
    return SearchDirectory(search, 0, searched);
}

bool FatDrive::SearchDirectory(OwnerSearch& search, unsigned depth, std::vector<bool>& searched)
{
    if (search.dirCluster == 0) {
        search.entrySector = FirstRootSector();
        return ScanEntries(search, std::span(rootDir).first(rootDirBytes), true, depth, searched);
    }
    std::vector<uint8_t> buffer;
    if (!TakeBuffer(buffer, ClusterBytes()))
        return false;
    bool found = false;
    WalkChain(search.dirCluster, [&](uint16_t cluster) {
        if (searched[cluster])
            return true;
        searched[cluster] = true;
        search.entrySector = SectorOfCluster(cluster);
        // An unreadable directory ends its own search; the rest of the tree is still searched.
        if (!ReadSectors(search.entrySector, sectorsPerCluster, buffer)) {
            LatchOfFatLayer() = Err::None;
            return true;
        }
        found = ScanEntries(search, buffer, false, depth, searched);
        return found;
    });
    return found;
}

bool FatDrive::ScanEntries(OwnerSearch& search, std::span<const uint8_t> entries, bool inRoot,
                           unsigned depth, std::vector<bool>& searched)
{
    for (size_t offset = 0; offset + DirEntry::kSize <= entries.size(); offset += DirEntry::kSize) {
        const std::span<const uint8_t> entry = entries.subspan(offset, DirEntry::kSize);
        if (DirEntry::EndsDirectory(entry))
            return false;
        if (DirEntry::IsSkipped(entry))
            continue;
        const uint16_t start = DirEntry::StartCluster(entry);
        if (start == search.target) {
            search.firstCluster = search.target;
            search.entryOffset = static_cast<uint16_t>(inRoot ? offset : offset % kSectorSize);
            search.entrySector += static_cast<uint32_t>(offset / kSectorSize);
            search.isDirectory = DirEntry::IsSubdirectory(entry);
            return true;
        }
        if (search.target != 0 && DirEntry::IsFile(entry) && FileChainHolds(start, search.target)) {
            search.firstCluster = start;
            search.isDirectory = false;
            return true;
        }
        if (DirEntry::IsSubdirectory(entry) && IsDataCluster(start) && depth < kMaxDirectoryDepth) {
            OwnerSearch inner{start, search.target};
            if (SearchDirectory(inner, depth + 1, searched)) {
                search.firstCluster = inner.firstCluster;
                search.entrySector = inner.entrySector;
                search.entryOffset = inner.entryOffset;
                search.isDirectory = inner.isDirectory;
                return true;
            }
        }
    }
    return false;
}

bool FatDrive::FileChainHolds(uint16_t start, uint16_t target)
{
    return WalkChain(start, [target](uint16_t cluster) { return cluster == target; }) == ChainEnd::Stopped;
}

}  // namespace vokta
