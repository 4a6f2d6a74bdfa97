// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/media.h"

#include <array>

namespace vokta {
namespace {

// clang-format off
constexpr std::array<MediaGeometry, 6> kMediaTable = {{
    //  type          dev attr cyl mtb  bps spc res fats root total  media sfat spt hd skew il
    {kMediaHardDisk,  5,  1,   0,  0,  512, 0,  0,  2,   0,     0, 0xF8,  0,  0, 0, 0,  1},
    {kMedia720K,      7,  2,  80,  0,  512, 2,  1,  2, 112,  1440, 0xF9,  3,  9, 2, 1,  1},
    {kMedia12M,       1,  2,  80,  0,  512, 1,  1,  2, 224,  2400, 0xF9,  7, 15, 2, 0,  1},
    {kMedia144M,      7,  2,  80,  1,  512, 1,  1,  2, 224,  2880, 0xF0,  9, 18, 2, 3,  1},
    {kMedia168M,      7,  2,  80,  1,  512, 4,  1,  2,  16,  3360, 0xF0,  3, 21, 2, 1,  2},
    {kMedia172M,      7,  2,  82,  1,  512, 1,  1,  2, 224,  3444, 0xF0, 10, 21, 2, 1,  2},
}};
// clang-format on

constexpr bool RowsKeyedByType()
{
    for (size_t i = 0; i < kMediaTable.size(); ++i)
        if (kMediaTable[i].type != static_cast<MediaType>(i))
            return false;
    return true;
}
static_assert(RowsKeyedByType(), "media table rows must stand at the index of their type");

constexpr std::string_view kMediaNames[] = {
    "Hard Disk", "720K (DS DD)", "1.2M (2S HD)", "1.44M (DS HD)", "1.68M (MS DMF)", "1.72M (DMF)",
};

}  // namespace

DeviceParams MediaGeometry::ToParams() const
{
    DeviceParams p;
    p.setU8(DeviceParams::DeviceType, deviceType);
    p.setU16(DeviceParams::DeviceAttributes, deviceAttributes);
    p.setU16(DeviceParams::Cylinders, cylinders);
    p.setU8(DeviceParams::MediaTypeByte, mediaTypeByte);
    p.setU16(DeviceParams::BytesPerSector, bytesPerSector);
    p.setU8(DeviceParams::SectorsPerCluster, sectorsPerCluster);
    p.setU16(DeviceParams::ReservedSectors, reservedSectors);
    p.setU8(DeviceParams::FatCount, fatCount);
    p.setU16(DeviceParams::RootEntries, rootEntries);
    p.setU16(DeviceParams::TotalSectors16, totalSectors);
    p.setU8(DeviceParams::MediaDescriptor, mediaDescriptor);
    p.setU16(DeviceParams::SectorsPerFat, sectorsPerFat);
    p.setU16(DeviceParams::SectorsPerTrack, sectorsPerTrack);
    p.setU16(DeviceParams::Heads, heads);
    return p;
}

std::optional<MediaGeometry> GeometryOf(int32_t type)
{
    if (type < 0 || type >= static_cast<int32_t>(kMediaTable.size()))
        return std::nullopt;
    return kMediaTable[static_cast<size_t>(type)];
}

std::string_view GetMediaTypeName(int32_t type)
{
    if (type < 0 || type >= static_cast<int32_t>(std::size(kMediaNames)))
        return "? ? ?";
    return kMediaNames[static_cast<size_t>(type)];
}

uint64_t ImageSizeOf(MediaType type)
{
    auto row = GeometryOf(type);
    if (!row)
        return 0;
    return uint64_t{row->cylinders} * row->heads * row->sectorsPerTrack * row->bytesPerSector;
}

std::optional<MediaType> MediaTypeOfImageSize(uint64_t bytes)
{
    for (MediaType t : {kMedia720K, kMedia12M, kMedia144M, kMedia168M, kMedia172M})
        if (ImageSizeOf(t) == bytes)
            return t;
    return std::nullopt;
}

std::optional<std::vector<MediaType>> FormattableMedia(uint8_t deviceType)
{
    switch (deviceType) {
    case DeviceType::Floppy360K: return std::vector<MediaType>{};
    case DeviceType::Floppy12M: return std::vector<MediaType>{kMedia12M};
    case DeviceType::Floppy720K: return std::vector<MediaType>{kMedia720K};
    case DeviceType::Floppy144M:
    case DeviceType::Floppy288M: return std::vector<MediaType>{kMedia720K, kMedia144M, kMedia168M, kMedia172M};
    default: return std::nullopt;
    }
}

std::optional<MediaType> MediaOfTracks(uint16_t sectorsPerTrack, uint16_t cylinders)
{
    if (sectorsPerTrack == GeometryOf(kMedia172M)->sectorsPerTrack)
        return cylinders > GeometryOf(kMedia168M)->cylinders ? kMedia172M : kMedia168M;
    for (MediaType t : {kMedia720K, kMedia12M, kMedia144M})
        if (GeometryOf(t)->sectorsPerTrack == sectorsPerTrack)
            return t;
    return std::nullopt;
}

}  // namespace vokta
