// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "drive/media.h"
#include "ops/operation.h"

namespace vokta {

// One whole diskette held in memory: its sectors in logical order (cylinder by cylinder,
// head by head, sector 1 first), with the media type, label and serial number it came
// with. Raw image files (".dim", ".ima", ".img") are exactly these bytes.
struct DiskImage {
    std::vector<uint8_t> data;  // empty: no data held
    uint32_t size = 0;
    int32_t mediaType = kMediaUnknown;  // 6: no valid image
    std::string label;                  // the 11-byte label field as UTF-8 text, blank-padded
    std::string serialText;             // "%X" of the volume serial number
    std::string fileName;               // the image file chosen last
    // Logical sectors the diskette did not give: their bytes are zeros, or what an
    // ImageDisk file recorded with a data error.
    std::set<uint32_t> unreadable;

    bool HasData() const { return !data.empty(); }
    bool IsValid() const { return HasData() && mediaType != kMediaUnknown; }

    // Takes a zeroed block of `bytes`, keeping the present one when it has that size
    // already. False (and no data) when the memory cannot be had.
    bool TakeBlock(uint32_t bytes);
};

// The media type whose total sectors the boot sector's 16-bit count names, or 6.
int32_t MediaTypeFromBootSector(std::span<const uint8_t> bootSector);
uint32_t MediaTotalSectors(int32_t mediaType);

// Loads an image file, raw or ImageDisk. 0 when an image was loaded, 1 otherwise; refusals are told in
// message boxes and leave the image as the failed step leaves it.
int LoadImageFile(DiskImage& image, const std::string& path, MessageBoxHost& boxes);

// What a save of the image into `path` writes: an ImageDisk file, its unreadable sectors
// recorded with a data error, for a ".imd" name, else the image's bytes.
std::vector<uint8_t> ImageFileBytes(const DiskImage& image, const std::string& path);

// Writes the image to `path`: an ImageDisk file for a ".imd" name, else its bytes. False
// with the cause told in a message box.
bool SaveImageFile(const DiskImage& image, const std::string& path, MessageBoxHost& boxes);

// The next name of a numbered series: DISK1.DIM gives DISK2.DIM, DISK9.DIM DISK10.DIM,
// DISK007.DIM DISK8.DIM; a name without digits before its extension stays.
std::string ProposeNextFileName(const std::string& fileName);

// "%X" of a volume serial number.
std::string SerialText(uint32_t serial);

}  // namespace vokta
