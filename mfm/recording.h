// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vokta::mfm {

// How fast a medium's tracks pass the head: the data rate (two MFM bit cells a data bit)
// and the rotation.
struct Recording {
    uint32_t dataRateKbit = 500;
    uint32_t rpm = 300;
};

// Rates and rotations a drive can hold; anything else is no diskette's.
bool IsPlausible(Recording recording);
double CellsPerSecond(Recording recording);
// Whole bit cells in one revolution (the fraction a 360 rpm track leaves is no cell).
size_t CellsPerRevolution(Recording recording);

// A diskette format's tracks: recording, sectors per track, size code (N: 128 << N bytes a
// sector) and the gap 3 its tracks are formatted with. The gaps are the format gaps of
// the PC BIOS parameter tables (and of the Linux floppy driver's table) for 9, 15 and 18
// sectors; the 21-sector formats use the gap of the parameter table installed while they
// are formatted.
struct MediumFormat {
    const char* name;
    Recording recording;
    uint16_t cylinders;
    uint8_t sectorsPerTrack;
    uint8_t sizeCode;
    uint8_t gap3;
};

inline constexpr MediumFormat k720K{"720K", {250, 300}, 80, 9, 2, 0x50};
inline constexpr MediumFormat k1200K{"1.2M", {500, 360}, 80, 15, 2, 0x54};
inline constexpr MediumFormat k1440K{"1.44M", {500, 300}, 80, 18, 2, 0x6C};
inline constexpr MediumFormat k1680K{"1.68M", {500, 300}, 80, 21, 2, 0x13};
inline constexpr MediumFormat k1720K{"1.72M", {500, 300}, 82, 21, 2, 0x13};
inline constexpr std::array<MediumFormat, 5> kMediumFormats{k720K, k1200K, k1440K, k1680K, k1720K};

}  // namespace vokta::mfm
