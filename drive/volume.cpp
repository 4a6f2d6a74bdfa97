// SPDX-License-Identifier: GPL-3.0-or-later
// The volume's layout, established from its boot sector or the media table and borne out
// by the diskette itself before anything is written into it.
#include "drive/volume.h"

#include <algorithm>
#include <array>
#include <bit>
#include <functional>
#include <vector>

#include "drive/diskdrive.h"
#include "res/strings.h"

namespace vokta {
namespace {

constexpr size_t kEntryBytes = 32;
constexpr size_t kAttributeAt = 11;
constexpr size_t kLongNameClusterAt = 26;
constexpr uint8_t kLongName = 0x0F;
constexpr uint8_t kNoSuchAttributes = 0xC0;
constexpr uint8_t kDeleted = 0xE5;
constexpr uint8_t kEscapedDeleted = 0x05;
constexpr uint8_t kLowestNameByte = 0x20;
constexpr uint8_t kEndMark = 0xFF;

// F0h or F8h..FFh: the media bytes a FAT begins with.
bool IsFatMediaByte(uint8_t media)
{
    return media == 0xF0 || media >= 0xF8;
}

bool AllZero(std::span<const uint8_t> bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
}

uint32_t MediumSectors(const DiskDrive& drive)
{
    const std::optional<MediaGeometry> row = GeometryOf(drive.mediaType);
    return drive.mediaType != kMediaHardDisk && row ? row->totalSectors : drive.params.totalSectors();
}

// One or two FATs: what every FAT volume has, and all that file system checkers accept.
bool IsUsualFatCount(uint8_t fatCount)
{
    return fatCount == 1 || fatCount == 2;
}

bool AllSound(const ConfirmedVolume& v)
{
    return std::ranges::all_of(v.soundCopies, std::identity{});
}

// The media table's layout for the selected diskette media; nothing for a hard disk.
std::optional<FatLayout> TableLayout(const DiskDrive& drive)
{
    const std::optional<MediaGeometry> row = GeometryOf(drive.mediaType);
    if (drive.mediaType == kMediaHardDisk || !row)
        return std::nullopt;
    return FatLayout::FromParams(row->ToParams());
}

// Confirms `layout` from the diskette; `doubt` is set to DisketteGone when it went away.
std::optional<ConfirmedVolume> Confirm(DiskDrive& drive, const FatLayout& layout, bool fromBootSector,
                                       VolumeDoubt& doubt)
{
    if (!LayoutFitsMedium(layout, MediumSectors(drive)))
        return std::nullopt;
    // The system area from the first FAT sector to the root directory's first sector.
    const uint32_t first = layout.firstFatSector;
    const uint32_t count = layout.rootFirstSector - first + 1;
    std::vector<uint8_t> area(size_t{count} * kSectorSize);
    std::vector<uint32_t> unread;
    // At once where it reads; sector by sector where it does not, so that only the sectors
    // that fail are left out.
    if (count > 0xFFFF || !drive.ReadSectors(first, static_cast<uint16_t>(count), area))
        unread = ReadSectorsLatchingGone(drive, first, area);
    if (drive.PendingError() != Err::None) {
        doubt = VolumeDoubt::DisketteGone;
        return std::nullopt;
    }
    const auto readable = [&](uint32_t sector) {
        return std::find(unread.begin(), unread.end(), sector - first) == unread.end();
    };
    const auto at = [&](uint32_t sector) {
        return std::span<const uint8_t>(area).subspan(size_t{sector - first} * kSectorSize, kSectorSize);
    };

    ConfirmedVolume v{layout, 0, fromBootSector, std::vector<bool>(layout.fatCount, false)};
    bool mediaKnown = false;
    for (unsigned copy = 0; copy < layout.fatCount; ++copy) {
        const uint32_t sector = layout.FatSector(copy);
        if (!readable(sector) || AllZero(at(sector)))
            continue;  // unreadable or wiped: says nothing of where the FATs are
        if (!mediaKnown && IsFatMediaByte(at(sector)[0])) {
            v.mediaDescriptor = at(sector)[0];
            mediaKnown = true;
        }
        // A copy holding anything but a FAT's beginning says the FATs are elsewhere.
        if (!mediaKnown || !BeginsLikeFat(at(sector), v.mediaDescriptor, layout.fatBits))
            return std::nullopt;
        v.soundCopies[copy] = true;
    }
    if (!mediaKnown)
        return std::nullopt;
    // Nor may a FAT begin where the layout has the middle of one, or the root directory.
    for (uint32_t sector = first; sector <= layout.rootFirstSector; ++sector) {
        const bool copyStart = sector < layout.rootFirstSector && (sector - first) % layout.sectorsPerFat == 0;
        if (!copyStart && readable(sector) && BeginsLikeFat(at(sector), v.mediaDescriptor, layout.fatBits))
            return std::nullopt;
    }
    if (readable(layout.rootFirstSector) && !LooksLikeDirectory(at(layout.rootFirstSector)))
        return std::nullopt;
    return v;
}

}  // namespace

bool LayoutFitsMedium(const FatLayout& layout, uint32_t mediumSectors)
{
    const uint64_t entries = uint64_t{layout.sectorsPerFat} * kSectorSize * 8 / layout.fatBits;
    return layout.totalSectors == mediumSectors && std::has_single_bit(unsigned{layout.sectorsPerCluster}) &&
           entries >= uint64_t{layout.lastCluster} + 1 && layout.rootEntries != 0 && layout.firstFatSector != 0;
}

bool BeginsLikeFat(std::span<const uint8_t> sector, uint8_t media, unsigned fatBits)
{
    if (sector.size() < 4 || sector[0] != media || sector[1] != kEndMark || sector[2] != kEndMark)
        return false;
    // Entry 1 of a 16-bit FAT keeps two volume-state bits in its top bits.
    return fatBits == 12 || (sector[3] | 0xC0) == kEndMark;
}

bool LooksLikeDirectory(std::span<const uint8_t> sector)
{
    for (size_t at = 0; at + kEntryBytes <= sector.size(); at += kEntryBytes) {
        const std::span<const uint8_t> e = sector.subspan(at, kEntryBytes);
        if (e[0] == 0)
            return true;
        if (e[0] == kDeleted)
            continue;  // what is left of a deleted entry need not make sense
        const uint8_t attributes = e[kAttributeAt];
        if (attributes == kLongName) {
            if (e[kLongNameClusterAt] != 0 || e[kLongNameClusterAt + 1] != 0)
                return false;
            continue;
        }
        if ((attributes & kNoSuchAttributes) != 0)
            return false;
        const bool firstByteOk = e[0] >= kLowestNameByte || e[0] == kEscapedDeleted;
        if (!firstByteOk ||
            !std::all_of(e.begin() + 1, e.begin() + kAttributeAt, [](uint8_t b) { return b >= kLowestNameByte; }))
            return false;
    }
    return true;
}

VolumeFinding EstablishVolume(DiskDrive& drive)
{
    if (drive.mediaType == kMediaUnknown)
        return {std::nullopt, VolumeDoubt::MediaUnknown};
    VolumeDoubt doubt = VolumeDoubt::NotConfirmed;
    std::array<uint8_t, kSectorSize> boot{};
    const bool unread = !ReadSectorsLatchingGone(drive, 0, boot).empty();
    if (drive.PendingError() != Err::None)
        return {std::nullopt, VolumeDoubt::DisketteGone};

    std::optional<FatLayout> stated;
    bool otherSectorSize = false;
    if (!unread) {
        stated = FatLayout::FromBootSector(boot);
        const uint16_t bytesPerSector = GetU16(boot, Bpb::kInBootSector + Bpb::BytesPerSector);
        otherSectorSize = bytesPerSector != 0 && bytesPerSector != kSectorSize;
    }
    std::optional<ConfirmedVolume> fromBoot;
    bool usualCount = true;
    if (stated) {
        fromBoot = Confirm(drive, *stated, true, doubt);
        if (doubt == VolumeDoubt::DisketteGone)
            return {std::nullopt, doubt};
        usualCount = IsUsualFatCount(stated->fatCount);
        const bool whole = fromBoot && AllSound(*fromBoot);
        if (whole && usualCount)
            return {std::move(fromBoot), VolumeDoubt::None};
        // Copies found wiped or unreadable confirm nothing of a count that no FAT volume
        // has: zeros where its extra copies would lie are only empty sectors.
        if (!whole && !usualCount)
            fromBoot.reset();
    }
    // A boot sector's layout that leans on missing copies, or states an unusual count,
    // gives way to the media table's where the diskette bears that out without doubt.
    const std::optional<FatLayout> table = TableLayout(drive);
    if (table && table != stated) {
        auto v = Confirm(drive, *table, false, doubt);
        if (doubt == VolumeDoubt::DisketteGone)
            return {std::nullopt, doubt};
        if (v && (!fromBoot || !usualCount || AllSound(*v)))
            return {std::move(v), VolumeDoubt::None};
    }
    if (fromBoot)
        return {std::move(fromBoot), VolumeDoubt::None};
    return {std::nullopt, otherSectorSize ? VolumeDoubt::SectorSize : VolumeDoubt::NotConfirmed};
}

std::string VolumeDoubtText(VolumeDoubt doubt, DiskDrive& drive)
{
    switch (doubt) {
    case VolumeDoubt::DisketteGone:
    case VolumeDoubt::MediaUnknown: return TakeFailureText(drive);
    case VolumeDoubt::SectorSize: return LoadString(Str::VolumeSectorSize);
    case VolumeDoubt::None:
    case VolumeDoubt::NotConfirmed: break;
    }
    return LoadString(Str::VolumeNotConfirmed);
}

}  // namespace vokta
