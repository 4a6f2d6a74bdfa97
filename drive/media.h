// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "drive/deviceparams.h"

namespace vokta {

// Media kinds 0..5; 6 = not determined (in a request: detect).
enum MediaType : int32_t {
    kMediaHardDisk = 0,
    kMedia720K = 1,
    kMedia12M = 2,
    kMedia144M = 3,
    kMedia168M = 4,
    kMedia172M = 5,
    kMediaUnknown = 6,
};

// One row of the media table: a full device-parameter block plus the two layout
// parameters of the optimized track layout.
struct MediaGeometry {
    MediaType type;
    uint8_t deviceType;
    uint16_t deviceAttributes;
    uint16_t cylinders;
    uint8_t mediaTypeByte;
    uint16_t bytesPerSector;
    uint8_t sectorsPerCluster;
    uint16_t reservedSectors;
    uint8_t fatCount;
    uint16_t rootEntries;
    uint16_t totalSectors;
    uint8_t mediaDescriptor;
    uint16_t sectorsPerFat;
    uint16_t sectorsPerTrack;
    uint16_t heads;
    uint16_t skew;
    uint16_t interleave;

    DeviceParams ToParams() const;
};

// The row of a media type 0..5; nullopt for any other value.
std::optional<MediaGeometry> GeometryOf(int32_t type);

// "720K (DS DD)" ...; "? ? ?" for any value outside 0..5.
std::string_view GetMediaTypeName(int32_t type);

// Device types reported by get-device-parameters.
namespace DeviceType {
constexpr uint8_t Floppy360K = 0;
constexpr uint8_t Floppy12M = 1;
constexpr uint8_t Floppy720K = 2;
constexpr uint8_t FixedDisk = 5;
constexpr uint8_t Tape = 6;
constexpr uint8_t Floppy144M = 7;
constexpr uint8_t Optical = 8;
constexpr uint8_t Floppy288M = 9;
}  // namespace DeviceType

// No diskette file is larger: a raw 2.88M image is 3 MB, and an ImageDisk file holds at most
// 16 MB of sector data (tracks of overlapping long sectors) and its headers. A larger file
// is refused by its size, before a byte of it is read.
constexpr uint64_t kLargestDisketteFile = 32 * 1024 * 1024;

// The diskette type whose raw image (every sector in logical order) has this size.
std::optional<MediaType> MediaTypeOfImageSize(uint64_t bytes);
uint64_t ImageSizeOf(MediaType type);

// The diskettes of the table a drive of this device type can format: a 5¼" 1.2M drive the
// 1.2M only, a 3½" 720K drive the 720K only, a 3½" high-density drive the 720K, the 1.44M
// and both 21-sector formats. Nothing for a device whose media are not judged here (a fixed
// disk, a tape, a drive of unknown type).
std::optional<std::vector<MediaType>> FormattableMedia(uint8_t deviceType);

// The diskette of the table whose tracks have this many sectors (21-sector ones told apart
// by their cylinders); nothing for a track no diskette of the table has.
std::optional<MediaType> MediaOfTracks(uint16_t sectorsPerTrack, uint16_t cylinders);

}  // namespace vokta
