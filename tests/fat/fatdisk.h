// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "drive/media.h"

namespace vokta::test {

// A FAT12 diskette image of a standard geometry, built entry by entry: the boot sector of
// the media table, both FAT copies, the root directory, files and subdirectories placed
// on the clusters a test names. Its FAT decoding is its own, so tests do not check the
// drive's code with itself.
class FatDisk {
public:
    explicit FatDisk(MediaType type);
    // A view of a diskette image of that type as it is, for reading its FAT and sectors.
    FatDisk(MediaType type, std::vector<uint8_t> image);

    MediaType type;
    std::vector<uint8_t> bytes;
    uint16_t sectorsPerCluster;
    uint16_t sectorsPerFat;
    uint32_t rootSector;
    uint32_t firstDataSector;

    uint16_t Entry(uint16_t cluster, unsigned copy = 0) const;
    void SetEntry(uint16_t cluster, uint16_t value);  // in both copies
    uint32_t SectorOf(uint16_t cluster) const;
    std::span<uint8_t> Sector(uint32_t sector);
    std::span<uint8_t> Cluster(uint16_t cluster);
    std::span<uint8_t> RootEntry(size_t index);
    std::span<uint8_t> Fat(unsigned copy);

    // An entry in the root (parent 0) or in the subdirectory whose first cluster is
    // `parent`. A file's clusters are chained and filled with Pattern(cluster); a
    // directory's first cluster gets "." and "..".
    std::span<uint8_t> AddFile(uint16_t parent, std::string_view name11, const std::vector<uint16_t>& clusters);
    std::span<uint8_t> AddDirectory(uint16_t parent, std::string_view name11,
                                    const std::vector<uint16_t>& clusters);

    bool HasFreeSlot(uint16_t parent);
    bool IsCluster(uint16_t cluster) const;

    // A bare entry naming `start`; the FAT and the clusters are left as they are.
    std::span<uint8_t> AddEntry(uint16_t parent, std::string_view name11, uint8_t attribute, uint16_t start);

    // The bytes a file cluster was filled with.
    std::vector<uint8_t> Pattern(uint16_t cluster) const;

private:
    bool HasEntry(uint16_t cluster) const;
    void Chain(const std::vector<uint16_t>& clusters);
    std::vector<std::span<uint8_t>> DirectoryAreas(uint16_t parent);
    std::span<uint8_t> FreeSlot(uint16_t parent);
};

// An 8.3 name, padded with spaces.
void PutName(std::span<uint8_t> entry, std::string_view name11);

}  // namespace vokta::test
