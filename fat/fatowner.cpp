// SPDX-License-Identifier: GPL-3.0-or-later
// The search for the directory entry that owns a cluster: depth-first, in directory
// order, subdirectories read from the disk. A damaged diskette can make directories hold
// themselves or each other, so every directory cluster is searched at most once per
// search and the nesting is bounded.
#include "fat/direntry.h"
#include "fat/fatvolume.h"

namespace vokta {

std::optional<Owner> FatVolume::FindOwner(uint16_t target)
{
    if (!HasFat())
        return std::nullopt;
    // No entry owns a cluster that is not on the volume, whatever a damaged one says.
    if (target > lastCluster_)
        return std::nullopt;
    std::vector<bool> searched(size_t{lastCluster_} + 1);
    Owner found;
    if (!SearchDirectory(found, 0, target, 0, searched))
        return std::nullopt;
    return found;
}

bool FatVolume::SearchDirectory(Owner& found, uint16_t dirCluster, uint16_t target, unsigned depth,
                                std::vector<bool>& searched)
{
    if (dirCluster == 0) {
        found.entrySector = FirstRootSector();
        return ScanEntries(found, target, std::span(rootDir_).first(rootDirBytes_), true, depth, searched);
    }
    std::vector<uint8_t> buffer;
    if (!TakeBuffer(buffer, ClusterBytes()))
        return false;
    bool owned = false;
    WalkChain(dirCluster, [&](uint16_t cluster) {
        if (searched[cluster])
            return true;
        searched[cluster] = true;
        found.entrySector = SectorOfCluster(cluster);
        // An unreadable directory ends its own search; the rest of the tree is still searched.
        if (!drive_.ReadSectors(found.entrySector, sectorsPerCluster_, buffer)) {
            (void)drive_.TakeError();
            return true;
        }
        owned = ScanEntries(found, target, buffer, false, depth, searched);
        return owned;
    });
    return owned;
}

bool FatVolume::ScanEntries(Owner& found, uint16_t target, std::span<const uint8_t> entries, bool inRoot,
                            unsigned depth, std::vector<bool>& searched)
{
    for (size_t offset = 0; offset + DirEntry::kSize <= entries.size(); offset += DirEntry::kSize) {
        const std::span<const uint8_t> entry = entries.subspan(offset, DirEntry::kSize);
        if (DirEntry::EndsDirectory(entry))
            return false;
        if (DirEntry::IsSkipped(entry))
            continue;
        const uint16_t start = DirEntry::StartCluster(entry);
        if (start == target) {
            found.firstCluster = target;
            found.entryOffset = static_cast<uint16_t>(inRoot ? offset : offset % kSectorSize);
            found.entrySector += static_cast<uint32_t>(offset / kSectorSize);
            found.isDirectory = DirEntry::IsSubdirectory(entry);
            return true;
        }
        if (target != 0 && DirEntry::IsFile(entry) && FileChainHolds(start, target)) {
            found.firstCluster = start;
            found.isDirectory = false;
            return true;
        }
        if (DirEntry::IsSubdirectory(entry) && IsDataCluster(start) && depth < kMaxDirectoryDepth) {
            Owner inner;
            if (SearchDirectory(inner, start, target, depth + 1, searched)) {
                found = inner;
                return true;
            }
        }
    }
    return false;
}

bool FatVolume::FileChainHolds(uint16_t start, uint16_t target) const
{
    return WalkChain(start, [target](uint16_t cluster) { return cluster == target; }) == ChainEnd::Stopped;
}

}  // namespace vokta
