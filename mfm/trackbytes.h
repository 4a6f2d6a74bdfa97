// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>

// The IBM track format's bytes (System 34, double density), as the floppy controllers'
// data sheets give them.
namespace vokta::mfm {

inline constexpr size_t kCellsPerByte = 16;

inline constexpr uint8_t kGapByte = 0x4E;
inline constexpr size_t kSyncBytes = 12;
inline constexpr size_t kGap4a = 80;
inline constexpr size_t kGap1 = 50;
inline constexpr size_t kGap2 = 22;
// A shortened gap 4a or gap 1 keeps this much.
inline constexpr size_t kShortestGap = 8;

// A1h with the clock between its bits 4 and 5 missing opens address and data fields; C2h
// with the clock between bits 3 and 4 missing opens the index field.
inline constexpr uint8_t kSyncByte = 0xA1;
inline constexpr uint16_t kSyncCells = 0x4489;
inline constexpr uint8_t kIndexSyncByte = 0xC2;
inline constexpr uint16_t kIndexSyncCells = 0x5224;

inline constexpr uint8_t kIndexMark = 0xFC;
inline constexpr uint8_t kAddressMark = 0xFE;
inline constexpr uint8_t kDataMark = 0xFB;
inline constexpr uint8_t kDeletedDataMark = 0xF8;

// Sync and index mark: the index field without its gaps.
inline constexpr size_t kIndexFieldBytes = kSyncBytes + 4;
// A sector besides its data and gap 3: sync, mark, C H R N and CRC; gap 2; sync, mark and CRC.
inline constexpr size_t kSectorFramingBytes = kSyncBytes + 4 + 4 + 2 + kGap2 + kSyncBytes + 4 + 2;

// Size codes above 7 (16 KiB) exceed any track.
inline constexpr uint8_t kLargestSizeCode = 7;
inline constexpr size_t SectorBytes(uint8_t sizeCode)
{
    return size_t{128} << sizeCode;
}

}  // namespace vokta::mfm
