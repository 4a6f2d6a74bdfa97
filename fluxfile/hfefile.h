// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fluxfile/fluxbytes.h"

namespace vokta {

// HFE files of version 1 (an emulator's diskette file): a 512-byte "HXCPICFE" header, a
// track list (each track's first 512-byte block and its length in bytes, both sides
// together), and each track's bit cells in 512-byte blocks of 256 bytes of side 0 and 256
// of side 1, the first cell in the lowest bit of each byte.

inline constexpr uint8_t kHfeEncodingIsoIbmMfm = 0x00;
inline constexpr uint8_t kHfeInterfaceIbmPcDd = 0x00;
inline constexpr uint8_t kHfeInterfaceIbmPcHd = 0x01;
// The header's yes/no bytes. Its track 0 "alternate" bytes are inverted: kHfeNo there means
// that track 0 of that side is in the encoding given beside it.
inline constexpr uint8_t kHfeNo = 0x00;
inline constexpr uint8_t kHfeYes = 0xFF;

// A track's bit cells, the first in the top bit of the first byte.
struct BitCells {
    std::vector<uint8_t> bytes;
    size_t bits = 0;
    bool operator==(const BitCells&) const = default;
};

struct HfeCylinder {
    std::array<BitCells, 2> sides;  // side 1 stays empty in a file of one side
    bool operator==(const HfeCylinder&) const = default;
};

struct HfeImage {
    uint8_t sides = 2;
    uint8_t encoding = kHfeEncodingIsoIbmMfm;
    uint16_t bitRateKbps = 250;
    uint16_t rpm = 300;
    uint8_t interfaceMode = kHfeInterfaceIbmPcDd;
    uint8_t unused = 0;  // the byte after the interface mode
    uint8_t writeAllowed = kHfeYes;
    uint8_t singleStep = kHfeYes;  // kHfeNo: the drive steps twice per cylinder
    // Track 0 of each side in another encoding, when its "alternate" byte is kHfeNo.
    std::array<uint8_t, 2> track0Alternate{kHfeYes, kHfeYes};
    std::array<uint8_t, 2> track0Encoding{kHfeYes, kHfeYes};
    std::vector<HfeCylinder> cylinders;
    bool operator==(const HfeImage&) const = default;
};

struct HfeReadResult {
    std::optional<HfeImage> image;
    std::string error;  // why the file is refused
};

bool LooksLikeHfe(std::span<const uint8_t> file);

// Each side of a track reads as half the track's length in whole bytes.
HfeReadResult ReadHfe(std::span<const uint8_t> file);

// Both sides of a track take the length of the longer: the shorter one, and the last
// byte of a side whose cells do not fill it, are padded with the cells of MFM 55h bytes.
FluxFileWrite WriteHfe(const HfeImage& image);

}  // namespace vokta
