// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "drive/deviceparams.h"

namespace vokta {

// The BIOS parameter block (BPB): the volume's description that a boot sector holds from
// its byte 11 and the device parameters from their byte 7. Offsets within the block.
namespace Bpb {
enum Offset : size_t {
    BytesPerSector = 0, SectorsPerCluster = 2, ReservedSectors = 3, FatCount = 5, RootEntries = 6,
    TotalSectors16 = 8, MediaDescriptor = 10, SectorsPerFat = 11, SectorsPerTrack = 13, Heads = 15,
    HiddenSectors = 17, TotalSectors32 = 21,
};
constexpr size_t kSize = 25;
constexpr size_t kInBootSector = 11;
}  // namespace Bpb

// Where a FAT volume keeps what: the FAT copies behind the reserved sectors, the root
// directory behind the copies, then the data clusters up to the end of the volume. The
// FAT is 12 bits wide below 4085 clusters and 16 bits wide from there on.
struct FatLayout {
    unsigned fatBits = 12;
    uint32_t firstFatSector = 0;  // the reserved sectors, boot sector included
    uint16_t sectorsPerFat = 0;
    uint8_t fatCount = 0;
    uint32_t rootFirstSector = 0;
    uint16_t rootEntries = 0;
    uint32_t rootBytes = 0;    // rootEntries × 32
    uint32_t rootSectors = 0;  // whole sectors: the last one may be partly unused
    uint32_t firstDataSector = 0;
    uint8_t sectorsPerCluster = 0;
    uint32_t totalSectors = 0;
    uint32_t clusterCount = 0;  // whole clusters between the data start and the end
    uint32_t lastCluster = 0;   // clusters are numbered from 2

    // Nothing for a BPB that describes no FAT12 or FAT16 volume of 512-byte sectors:
    // no cluster or FAT size, no FAT, the data area not on the volume.
    static std::optional<FatLayout> FromBpb(std::span<const uint8_t> bpb);
    // From sector 0 of a volume; nothing for fewer bytes than the BPB needs.
    static std::optional<FatLayout> FromBootSector(std::span<const uint8_t> sector);
    // From the BPB of the medium selected or detected in a drive.
    static std::optional<FatLayout> FromParams(const DeviceParams& params);

    // First sector of FAT copy `copy`, counted from 0.
    uint32_t FatSector(unsigned copy) const { return firstFatSector + uint32_t{copy} * sectorsPerFat; }

    bool operator==(const FatLayout&) const = default;
};

}  // namespace vokta
