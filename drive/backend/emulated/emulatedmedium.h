// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <span>
#include <tuple>
#include <vector>

#include "drive/media.h"

namespace vokta {

// Data rates of the diskette controller.
enum class DataRate : uint8_t { k250, k300, k500, k1000 };

enum class MediumDensity : uint8_t { Double, High, Extra };

// One sector as it lies on the track: its address field (C, H, R, N) and its data.
struct SectorRecord {
    uint8_t cylinder = 0;
    uint8_t head = 0;
    uint8_t number = 1;
    uint8_t sizeCode = 2;  // bytes = 128 << sizeCode
    std::vector<uint8_t> data;
    bool dataError = false;  // recorded with a bad data CRC; a rewrite clears it
    bool deleted = false;    // deleted-data address mark

    size_t size() const { return size_t{128} << sizeCode; }
};

struct Track {
    DataRate rate = DataRate::k500;
    std::vector<SectorRecord> sectors;  // in physical order; none = unformatted
    uint8_t gap = 0;                    // format gap 3 it was written with; 0: the standard one

    bool formatted() const { return !sectors.empty(); }
};

struct PhysicalSector {
    uint16_t cylinder;
    uint8_t head;
    uint8_t number;
    auto operator<=>(const PhysicalSector&) const = default;
};

// A diskette (or a fixed disk's platters): its tracks as formatted, the density of its
// magnetic coating, the write-protect tab, and the defects that no rewrite cures.
class EmulatedMedium {
public:
    static constexpr uint16_t kDisketteTracks = 84;  // how far a diskette drive can seek

    explicit EmulatedMedium(MediumDensity density, uint16_t cylinders = kDisketteTracks,
                            uint8_t heads = 2);

    static constexpr size_t kLogicalSectorSize = 512;

    // A diskette formatted in a standard geometry, every sector zero.
    static EmulatedMedium Formatted(MediaType type);
    // A diskette of a standard geometry holding `image` in logical sector order; a short
    // image leaves the remaining sectors zero.
    static EmulatedMedium FromImage(MediaType type, std::span<const uint8_t> image);
    // The sectors of a standard geometry in logical order; missing ones read as zeros.
    std::vector<uint8_t> ToImage(MediaType type) const;
    // The sectors of a standard geometry in logical order; nullptr where one is missing.
    std::vector<const SectorRecord*> LogicalSectors(MediaType type) const;
    std::vector<SectorRecord*> LogicalSectors(MediaType type);

    Track& track(uint16_t cylinder, uint8_t head);
    const Track& track(uint16_t cylinder, uint8_t head) const;
    bool HasTrack(uint16_t cylinder, uint8_t head) const { return cylinder < cylinders && head < heads; }

    // The sector with this address field on the track, or nullptr.
    SectorRecord* Find(uint16_t cylinder, uint8_t head, uint8_t number);
    const SectorRecord* Find(uint16_t cylinder, uint8_t head, uint8_t number) const;

    bool IsDefective(uint16_t cylinder, uint8_t head, uint8_t number) const
    {
        return !defects.empty() && defects.count({cylinder, head, number}) != 0;
    }
    // Whether a read of this sector's data fails now: always on a defect, and on a
    // transient defect while its count lasts, each such read using one up.
    bool ReadFails(PhysicalSector sector);
    bool IsUnformattable(uint16_t cylinder, uint8_t head) const
    {
        return unformattable.count({cylinder, head}) != 0;
    }
    bool Supports(DataRate rate) const;

    MediumDensity density;
    uint16_t cylinders;
    uint8_t heads;
    bool writeProtected = false;
    std::set<PhysicalSector> defects;                 // reads fail with a CRC error, always
    // Reads fail with a CRC error so many times, then the sector reads well (a weak spot
    // that a later revolution or another approach of the head gets through).
    std::map<PhysicalSector, unsigned> transientDefects;
    std::set<std::pair<uint16_t, uint8_t>> unformattable;  // tracks that will not format

private:
    std::vector<Track> tracks_;
};

// The rate at which a track of this many sectors is written and read.
DataRate RateForSectorsPerTrack(uint16_t sectorsPerTrack, bool fiveAndAQuarterInch);

// The rate in kbit/s.
uint32_t KbitOf(DataRate rate);

}  // namespace vokta
