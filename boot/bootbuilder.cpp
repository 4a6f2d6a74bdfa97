// SPDX-License-Identifier: GPL-3.0-or-later
// The good boot sector and the empty system area, built from the device parameters.
#include "boot/bootbuilder.h"

#include <algorithm>
#include <cstdint>

#include "boot/bootcode.h"
#include "drive/media.h"
#include "res/codepage.h"

namespace vokta {
namespace {

constexpr size_t kSector = 512;
constexpr uint32_t kLargestSmallTotal = 0xFFFF;
constexpr uint8_t kDisketteDrive = 0x00;
constexpr uint8_t kHardDiskDrive = 0x80;

// Detection takes the parameters the diskette's own BPB reports, so a damaged media byte
// would come back in the "good" sector; the media table's byte stands in for one that the
// check refuses.
uint8_t MediaDescriptorFor(const DeviceParams& params, int32_t mediaType)
{
    const uint8_t reported = params.u8(DeviceParams::MediaDescriptor);
    if (IsAcceptedMediaDescriptor(reported))
        return reported;
    const auto row = GeometryOf(mediaType);
    return row ? row->mediaDescriptor : reported;
}

// The 16-bit total when it holds the count, else the 32-bit one behind the hidden sectors.
void PutTotal(BootSector& s, uint32_t total, uint16_t sectorsPerTrack)
{
    using B = BootSector;
    const bool small = total <= kLargestSmallTotal;
    s.setU16(B::TotalSectors16, small ? static_cast<uint16_t>(total) : 0);
    s.setU32(B::HiddenSectors, small ? 0 : sectorsPerTrack);
    s.setU32(B::TotalSectors32, small ? 0 : total);
}

char UpperAscii(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

uint32_t VolumeSerialNumber(const LocalTime& t)
{
    auto field = [](int value, unsigned shift) { return static_cast<uint32_t>(value) << shift; };
    return field(t.year, 25) | field(t.month, 22) | field(t.day, 17) | field(t.dayOfWeek, 14) |
           field(t.hour, 10) | field(t.minute, 5) | field(t.second, 0);
}

uint16_t DirectoryTime(const LocalTime& t)
{
    return static_cast<uint16_t>(t.hour * 2048 + t.minute * 32 + t.second / 2);
}

uint16_t DirectoryDate(const LocalTime& t)
{
    // The field counts years 1980..2107; a clock outside them would wrap into nonsense.
    const int year = std::clamp(t.year, 1980, 2107);
    return static_cast<uint16_t>((year - 1980) * 512 + t.month * 32 + t.day);
}

std::string VolumeLabelField(std::string_view label)
{
    label = label.substr(0, label.find('\0'));
    if (label.empty())
        return std::string(kNoLabel);
    std::string field = Utf8ToWindows1252(label);
    field.resize(BootSector::kLabelSize, ' ');
    std::transform(field.begin(), field.end(), field.begin(), UpperAscii);
    return field;
}

BootSector BuildBootSector(const DeviceParams& params, int32_t mediaType, std::string_view label,
                           const LocalTime& now)
{
    using B = BootSector;
    using P = DeviceParams;
    const bool hardDisk = mediaType == kMediaHardDisk;
    // Damaged parameters can multiply past 32 bits: the count stops at the largest a BPB
    // holds instead of wrapping round, perhaps to zero, which would say "no size at all".
    const uint64_t product = uint64_t{params.cylinders()} * params.heads() * params.sectorsPerTrack();
    const auto total = static_cast<uint32_t>(std::min<uint64_t>(product, UINT32_MAX));

    B s;
    s.setU8(B::Jump, B::kShortJump);
    s.setU8(B::Jump + 1, static_cast<uint8_t>(B::BootCode - 2));  // to the boot code
    s.setU8(B::Jump + 2, B::kNop);
    s.setText(B::OemName, B::kOemNameSize, kBuilderOemName);
    s.setU16(B::BytesPerSector, kSector);
    s.setU8(B::SectorsPerCluster, params.u8(P::SectorsPerCluster));
    s.setU16(B::ReservedSectors, 1);
    s.setU8(B::FatCount, 2);
    s.setU16(B::RootEntries, params.u16(P::RootEntries));
    s.setU8(B::MediaDescriptor, MediaDescriptorFor(params, mediaType));
    s.setU16(B::SectorsPerFat, params.u16(P::SectorsPerFat));
    s.setU16(B::SectorsPerTrack, params.sectorsPerTrack());
    s.setU16(B::Heads, params.heads());
    PutTotal(s, total, params.sectorsPerTrack());
    s.setU8(B::DriveNumber, hardDisk ? kHardDiskDrive : kDisketteDrive);
    s.setU8(B::Reserved, 0);
    s.setU8(B::ExtendedSignature, B::kExtendedBootSignature);
    s.setU32(B::SerialNumber, VolumeSerialNumber(now));
    s.setText(B::VolumeLabel, B::kLabelSize, VolumeLabelField(label));
    s.setText(B::FileSystemType, B::kFileSystemTypeSize, hardDisk ? "FAT16" : "FAT12");
    std::copy(kBootCode.begin(), kBootCode.end(), s.bytes.begin() + B::BootCode);
    s.setU8(B::Signature, B::kSignature0);
    s.setU8(B::Signature + 1, B::kSignature1);
    return s;
}

BootSector BuildVolumeBootSector(const ConfirmedVolume& volume, const DeviceParams& params, int32_t mediaType,
                                 std::string_view label, const LocalTime& now)
{
    using B = BootSector;
    const FatLayout& l = volume.layout;
    B s = BuildBootSector(params, mediaType, label, now);
    s.setU8(B::SectorsPerCluster, l.sectorsPerCluster);
    s.setU16(B::ReservedSectors, static_cast<uint16_t>(l.firstFatSector));
    s.setU8(B::FatCount, l.fatCount);
    s.setU16(B::RootEntries, l.rootEntries);
    s.setU8(B::MediaDescriptor, volume.mediaDescriptor);
    s.setU16(B::SectorsPerFat, l.sectorsPerFat);
    PutTotal(s, l.totalSectors, params.sectorsPerTrack());
    s.setText(B::FileSystemType, B::kFileSystemTypeSize, l.fatBits == 16 ? "FAT16" : "FAT12");
    return s;
}

uint32_t SystemAreaSectors(const FatLayout& layout)
{
    return layout.firstDataSector - layout.firstFatSector + 1;
}

void FillSystemArea(std::span<uint8_t> area, const FatLayout& layout, uint8_t mediaDescriptor,
                    std::string_view label, const LocalTime& now)
{
    std::fill(area.begin(), area.end(), uint8_t{0});
    // Entries 0 and 1: the media descriptor, then end-of-chain marks over the entry width.
    const size_t markerBytes = layout.fatBits == 16 ? 4 : 3;
    const auto offsetOf = [&](uint32_t sector) { return size_t{sector - layout.firstFatSector} * kSector; };
    for (unsigned copy = 0; copy < layout.fatCount; ++copy) {
        const size_t at = offsetOf(layout.FatSector(copy));
        if (at + markerBytes > area.size())
            break;
        area[at] = mediaDescriptor;
        std::fill_n(area.begin() + static_cast<std::ptrdiff_t>(at + 1), markerBytes - 1, 0xFF);
    }

    label = label.substr(0, label.find('\0'));
    const size_t root = offsetOf(layout.rootFirstSector);
    if (label.empty() || root + kDirectoryEntrySize > area.size())
        return;
    PutVolumeLabelEntry(area.subspan(root, kDirectoryEntrySize), VolumeLabelField(label), now);
}

void PutVolumeLabelEntry(std::span<uint8_t> entry, std::string_view field, const LocalTime& now)
{
    constexpr size_t kAttribute = 11, kTime = 22, kDate = 24;
    constexpr uint8_t kDeletedMark = 0xE5;
    std::fill(entry.begin(), entry.end(), uint8_t{0});
    std::copy(field.begin(), field.end(), entry.begin());
    if (entry[0] == kDeletedMark)
        entry[0] = kEscapedDeletedMark;
    entry[kAttribute] = kVolumeLabelAttribute;
    PutU16(entry, kTime, DirectoryTime(now));
    PutU16(entry, kDate, DirectoryDate(now));
}

bool IsVolumeLabelEntry(std::span<const uint8_t> entry)
{
    constexpr size_t kAttribute = 11;
    constexpr uint8_t kDeletedMark = 0xE5, kLongName = 0x0F, kLabel = 0x08, kDirectory = 0x10;
    const uint8_t attribute = entry[kAttribute];
    return entry[0] != kDeletedMark && attribute != kLongName && (attribute & (kLabel | kDirectory)) == kLabel;
}

}  // namespace vokta
