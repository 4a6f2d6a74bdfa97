// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "drive/bytes.h"

namespace vokta {

// The device-parameter block of the get/set device parameters requests: the drive's
// description, the BIOS parameter block (BPB) of the medium and the track layout used
// for formatting. 296 bytes, little-endian, packed.
class DeviceParams : public LittleEndianBlock<296> {
public:
    static constexpr size_t kMaxLayoutEntries = 64;

    // Offsets within the block; the BPB (offsets 7..31) mirrors boot-sector bytes 11..35.
    enum Offset : size_t {
        SpecialFunctions = 0, DeviceType = 1, DeviceAttributes = 2, Cylinders = 4,
        MediaTypeByte = 6, BytesPerSector = 7, SectorsPerCluster = 9, ReservedSectors = 10,
        FatCount = 12, RootEntries = 13, TotalSectors16 = 15, MediaDescriptor = 17,
        SectorsPerFat = 18, SectorsPerTrack = 20, Heads = 22, HiddenSectors = 24,
        TotalSectors32 = 28, LayoutCount = 38, Layout = 40,
    };
    static constexpr size_t kBpbOffset = BytesPerSector;
    static constexpr size_t kBpbSize = 25;

    // Special-functions bits.
    static constexpr uint8_t kCurrentMedium = 0x01;
    static constexpr uint8_t kSameSizeSectors = 0x04;

    uint8_t deviceType() const { return u8(DeviceType); }
    uint16_t cylinders() const { return u16(Cylinders); }
    uint16_t bytesPerSector() const { return u16(BytesPerSector); }
    uint16_t sectorsPerTrack() const { return u16(SectorsPerTrack); }
    uint16_t heads() const { return u16(Heads); }
    uint16_t totalSectors16() const { return u16(TotalSectors16); }

    // Total sectors of the medium: the u16 count, or the u32 one when the u16 is 0.
    uint32_t totalSectors() const
    {
        const uint16_t small = u16(TotalSectors16);
        return small != 0 ? small : u32(TotalSectors32);
    }

    uint16_t layoutCount() const { return u16(LayoutCount); }
    uint16_t layoutSector(size_t i) const { return u16(Layout + 4 * i); }
    uint16_t layoutSize(size_t i) const { return u16(Layout + 4 * i + 2); }
    void setLayoutEntry(size_t i, uint16_t sector, uint16_t size)
    {
        setU16(Layout + 4 * i, sector);
        setU16(Layout + 4 * i + 2, size);
    }
};

}  // namespace vokta
