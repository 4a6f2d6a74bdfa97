// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "drive/fatlayout.h"
#include "ops/operation.h"

namespace vokta {

// What a sector of a FAT volume holds, as its FAT and directories tell.
enum class SectorUse {
    Reserved,       // the boot sector and the other reserved sectors
    Fat,            // a FAT copy
    RootDirectory,
    Directory,      // a subdirectory's cluster
    File,
    Free,
    Bad,            // a cluster marked BAD
    Unnamed,        // the data area of a volume whose FAT could not be read
    Unlisted,       // a cluster in use that no directory that could be read lists
    Outside,        // behind the last cluster, or no volume at all
};

struct SectorOwner {
    SectorUse use = SectorUse::Outside;
    // A file's or directory's path from the root, "\DIR\FILE.TXT", with the long name of
    // the last part in brackets where the volume keeps one.
    std::string path;
    bool operator==(const SectorOwner&) const = default;
};

// Reads `buffer.size() / 512` sectors from `first`; false when they cannot be read.
using SectorReader = std::function<bool(uint32_t first, std::span<uint8_t> buffer)>;

// Which file, directory or part of the system area every sector of a FAT volume belongs
// to. The directory tree is walked once, from the root: each directory sector is read on
// its own, so that one that cannot be read hides only the entries it holds; chains that
// loop or leave the clusters, and directories that hold themselves, end where they do.
class VolumeMap {
public:
    // Nothing is known: every sector is Outside.
    VolumeMap() = default;
    // The areas of the layout only: the data area is Unnamed.
    explicit VolumeMap(const FatLayout& layout) : layout_(layout) {}
    // Reads the FAT through `read`, each of its sectors from the first copy that reads;
    // without any copy of a FAT sector the files cannot be named.
    VolumeMap(const FatLayout& layout, const SectorReader& read);
    // Over a FAT held in memory (one whole copy).
    VolumeMap(const FatLayout& layout, std::span<const uint8_t> fat, const SectorReader& read);

    // Over a whole diskette image in which the sectors `unread` could not be read.
    static VolumeMap OfImage(const std::optional<FatLayout>& layout, std::span<const uint8_t> image,
                             const std::set<uint32_t>& unread);

    SectorOwner OwnerOf(uint32_t sector) const;
    bool NamesFiles() const { return namesFiles_; }

private:
    struct Owner {
        std::string path;  // of 8.3 names
        std::string longName;
        bool directory = false;
    };
    static constexpr int32_t kNone = -1;

    void Walk(std::span<const uint8_t> fat, const SectorReader& read);

    std::optional<FatLayout> layout_;
    bool namesFiles_ = false;
    uint32_t lastCluster_ = 0;
    enum class ClusterState : uint8_t { Free, Bad, Used };
    std::vector<ClusterState> state_;  // per cluster number
    std::vector<int32_t> owner_;       // per cluster number: index in owners_, or -1
    std::vector<Owner> owners_;
};

// The sectors an operation could not read and left as zeros, with what each held when it
// was lost; each sector counts once.
class LostSectors {
public:
    void Add(uint32_t sector, const SectorOwner& owner);
    bool Empty() const { return sectors_.empty(); }
    size_t Count() const { return sectors_.size(); }
    // Any sector that held data: not free space, not a BAD cluster.
    bool DataLost() const;
    // One entry per file, directory or area with its count and its sectors; `drive` ("A:")
    // comes before the paths.
    std::vector<std::string> Entries(const std::string& drive) const;
    // The entries, each beginning with a line break and an indent.
    std::string Lines(const std::string& drive) const;
    // "A:" for the letter as the entries name the drive.
    static std::string DriveName(char letter);
    // "Sectors that could not be read ..." and the lines; empty when nothing was lost.
    std::string Message(const std::string& drive) const;
    // Tells the message in a warning box, when there is one, and answers DataLost.
    bool Tell(MessageBoxHost& host, char letter) const;

private:
    std::set<uint32_t> sectors_;
    std::vector<std::pair<SectorOwner, std::vector<uint32_t>>> groups_;  // in the order first met
};

}  // namespace vokta
