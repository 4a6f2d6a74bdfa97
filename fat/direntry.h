// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "drive/bytes.h"

namespace vokta {

// A 32-byte FAT directory entry: 8.3 name at 0..10, attribute at 11, starting cluster at 26.
namespace DirEntry {
constexpr size_t kSize = 32;
constexpr size_t kAttribute = 11;
constexpr size_t kStartCluster = 26;
// In a subdirectory's first sector, ".." is the second entry.
constexpr size_t kDotDotStartCluster = kSize + kStartCluster;

constexpr uint8_t kEndMark = 0x00;
constexpr uint8_t kDeletedMark = 0xE5;
constexpr uint8_t kDotMark = 0x2E;

constexpr uint8_t kAttrVolumeLabel = 0x08;
constexpr uint8_t kAttrDirectory = 0x10;
constexpr uint8_t kAttrLongName = 0x0F;

inline bool EndsDirectory(std::span<const uint8_t> e) { return e[0] == kEndMark; }
inline uint8_t Attribute(std::span<const uint8_t> e) { return e[kAttribute]; }
inline uint16_t StartCluster(std::span<const uint8_t> e) { return GetU16(e, kStartCluster); }
inline void SetStartCluster(std::span<uint8_t> e, uint16_t cluster) { PutU16(e, kStartCluster, cluster); }

// Long-name pieces, deleted entries and the "." and ".." entries name no file of their own.
inline bool IsSkipped(std::span<const uint8_t> e)
{
    return Attribute(e) == kAttrLongName || e[0] == kDeletedMark || e[0] == kDotMark;
}
inline bool IsSubdirectory(std::span<const uint8_t> e) { return (Attribute(e) & kAttrDirectory) != 0; }
inline bool IsFile(std::span<const uint8_t> e)
{
    return (Attribute(e) & (kAttrVolumeLabel | kAttrDirectory)) == 0;
}

// The "." and ".." entries, by their 11-byte names.
inline bool HasName(std::span<const uint8_t> e, std::string_view name11)
{
    return std::equal(name11.begin(), name11.end(), e.begin());
}
inline bool IsDotEntry(std::span<const uint8_t> e) { return HasName(e, ".          "); }
inline bool IsDotDotEntry(std::span<const uint8_t> e) { return HasName(e, "..         "); }
}  // namespace DirEntry

}  // namespace vokta
