// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/fatlayout.h"

#include "drive/bytes.h"

namespace vokta {
namespace {

constexpr uint32_t kLayoutSectorSize = 512;
constexpr uint32_t kDirectoryEntryBytes = 32;
// Cluster counts from which the FAT needs 16 bits, and from which no 16-bit FAT suffices.
constexpr uint32_t kFat16Clusters = 4085;
constexpr uint32_t kFat32Clusters = 65525;

static_assert(DeviceParams::kBpbSize == Bpb::kSize);
static_assert(DeviceParams::SectorsPerFat == DeviceParams::kBpbOffset + Bpb::SectorsPerFat &&
                  DeviceParams::TotalSectors32 == DeviceParams::kBpbOffset + Bpb::TotalSectors32 &&
                  DeviceParams::RootEntries == DeviceParams::kBpbOffset + Bpb::RootEntries,
              "the device parameters hold the BPB at their byte 7");

}  // namespace

std::optional<FatLayout> FatLayout::FromBpb(std::span<const uint8_t> bpb)
{
    if (bpb.size() < Bpb::kSize)
        return std::nullopt;
    FatLayout l;
    l.sectorsPerCluster = bpb[Bpb::SectorsPerCluster];
    l.firstFatSector = GetU16(bpb, Bpb::ReservedSectors);
    l.fatCount = bpb[Bpb::FatCount];
    l.rootEntries = GetU16(bpb, Bpb::RootEntries);
    l.sectorsPerFat = GetU16(bpb, Bpb::SectorsPerFat);
    l.totalSectors = GetU16(bpb, Bpb::TotalSectors16);
    if (l.totalSectors == 0)
        l.totalSectors = GetU32(bpb, Bpb::TotalSectors32);
    if (GetU16(bpb, Bpb::BytesPerSector) != kLayoutSectorSize || l.sectorsPerCluster == 0 || l.fatCount == 0 ||
        l.sectorsPerFat == 0)
        return std::nullopt;

    l.rootFirstSector = l.firstFatSector + uint32_t{l.fatCount} * l.sectorsPerFat;
    l.rootBytes = uint32_t{l.rootEntries} * kDirectoryEntryBytes;
    l.rootSectors = (l.rootBytes + kLayoutSectorSize - 1) / kLayoutSectorSize;
    l.firstDataSector = l.rootFirstSector + l.rootSectors;
    if (l.firstDataSector >= l.totalSectors)
        return std::nullopt;
    l.clusterCount = (l.totalSectors - l.firstDataSector) / l.sectorsPerCluster;
    if (l.clusterCount == 0 || l.clusterCount >= kFat32Clusters)
        return std::nullopt;
    l.lastCluster = l.clusterCount + 1;
    l.fatBits = l.clusterCount < kFat16Clusters ? 12 : 16;
    return l;
}

std::optional<FatLayout> FatLayout::FromBootSector(std::span<const uint8_t> sector)
{
    if (sector.size() < Bpb::kInBootSector + Bpb::kSize)
        return std::nullopt;
    return FromBpb(sector.subspan(Bpb::kInBootSector, Bpb::kSize));
}

std::optional<FatLayout> FatLayout::FromParams(const DeviceParams& params)
{
    return FromBpb(params.span().subspan(DeviceParams::kBpbOffset, DeviceParams::kBpbSize));
}

}  // namespace vokta
