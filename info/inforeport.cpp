// SPDX-License-Identifier: GPL-3.0-or-later
#include "info/inforeport.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>

#include "boot/bootsector.h"
#include "fat/freespace.h"
#include "fat/volumelabel.h"
#include "info/mountpoint.h"
#include "info/sizetext.h"
#include "res/codepage.h"
#include "res/strings.h"

namespace vokta {
namespace {

// The physical layout assumes what a diskette's boot sector usually says, not what it says.
constexpr unsigned kAssumedReservedSectors = 1;
constexpr unsigned kAssumedEntriesPerSector = 16;
constexpr uint8_t kNonRemovableBit = 0x01;

std::string LabelLine(FatVolume& volume)
{
    const LabelReading reading = ReadVolumeLabel(volume);
    if (!reading.label)
        return LoadString(Str::CannotGetLabel);
    return LoadString(Str::InfoVolumeLabel) + (reading.label->empty() ? LoadString(Str::NoLabel) : *reading.label);
}

// A name field of the boot sector as a C string would print it: up to its first zero byte.
std::string NameField(const std::array<uint8_t, kSectorSize>& sector, size_t offset, size_t size)
{
    std::string bytes(sector.begin() + offset, sector.begin() + offset + size);
    bytes.erase(std::min(bytes.find('\0'), bytes.size()));
    return Windows1252ToUtf8(bytes);
}

std::string DeviceText(uint8_t deviceType)
{
    switch (deviceType) {
    case 0: return LoadString(Str::Device360K);
    case 1: return LoadString(Str::Device12M);
    case 2: return LoadString(Str::Device720K);
    case 5: return LoadString(Str::DeviceHardDisk);
    case 6: return LoadString(Str::DeviceTape);
    case 7: return LoadString(Str::Device144M);
    case 8: return LoadString(Str::DeviceOptical);
    case 9: return LoadString(Str::Device288M);
    default: return LoadString(Str::DeviceUnknown);
    }
}

// In a diskette drive's parameters the byte tells the density of the medium in it (the
// 1.44M and 21-sector rows carry 1), never a compressed volume.
std::string MediaTypeLine(uint8_t mediaTypeByte, uint8_t deviceType)
{
    const bool diskette = FormattableMedia(deviceType).has_value();
    const std::string kind =
        LoadString(mediaTypeByte != 0 && !diskette ? Str::DoubleSpaceCompressed : Str::StandardLayoutName);
    char code[8];
    std::snprintf(code, sizeof code, "%x", unsigned{mediaTypeByte});
    // "Media Type = " ends with its blank already: one blank before the kind, not two.
    std::string label = LoadString(Str::MediaTypeIs);
    if (!label.ends_with(' '))
        label += ' ';
    return label + kind + " (" + code + "h)";
}

// The free bytes as the file system of a mounted volume counts them, else as the FAT does.
std::optional<uint64_t> FreeBytes(DiskDrive& drive, const std::string& path)
{
    if (const std::optional<std::string> mountPoint = MountPointOf(path)) {
        struct statvfs fs{};
        if (statvfs(mountPoint->c_str(), &fs) == 0)
            return uint64_t{fs.f_bavail} * fs.f_frsize;
    }
    if (const std::optional<FreeSpace> space = CountFreeSpace(drive))
        return uint64_t{space->freeClusters} * space->bytesPerCluster;
    return std::nullopt;
}

void AddLayoutLines(std::vector<std::string>& lines, const DeviceParams& p)
{
    auto add = [&lines](Str id, unsigned long value) { lines.push_back(FormatString(id, static_cast<long>(value))); };
    const unsigned sectorsPerFat = p.u16(DeviceParams::SectorsPerFat);
    const unsigned fatCount = p.u8(DeviceParams::FatCount);
    const unsigned rootEntries = p.u16(DeviceParams::RootEntries);

    lines.push_back(LoadString(Str::InfoLogicalLayoutHeading));
    add(Str::InfoCylinders, p.cylinders());
    add(Str::InfoSectorsPerTrack, p.sectorsPerTrack());
    add(Str::InfoHeads, p.heads());
    add(Str::InfoHiddenSectors, p.u32(DeviceParams::HiddenSectors));
    add(Str::InfoReservedSectors, p.u16(DeviceParams::ReservedSectors));
    add(Str::InfoBytesPerSector, p.bytesPerSector());
    add(Str::InfoSectorsPerCluster, p.u8(DeviceParams::SectorsPerCluster));
    add(Str::InfoSectorsPerFat, sectorsPerFat);
    add(Str::InfoFatCount, fatCount);
    add(Str::InfoRootEntries, rootEntries);
    add(Str::InfoMediaDescriptor, p.u8(DeviceParams::MediaDescriptor));

    lines.push_back(LoadString(Str::InfoPhysicalLayoutHeading));
    add(Str::InfoBootSector, 0);
    add(Str::InfoFirstFatSector, kAssumedReservedSectors);
    add(Str::InfoSecondFatSector, sectorsPerFat + kAssumedReservedSectors);
    add(Str::InfoRootDirSector, fatCount * sectorsPerFat + kAssumedReservedSectors);
    add(Str::InfoFirstDataSector,
        fatCount * sectorsPerFat + rootEntries / kAssumedEntriesPerSector + kAssumedReservedSectors);
}

}  // namespace

std::vector<std::string> BuildInfoReport(FatVolume& volume, const std::string& path)
{
    std::vector<std::string> lines{LabelLine(volume)};
    DiskDrive& drive = volume.drive();
    std::array<uint8_t, kSectorSize> sector{};
    if (!drive.ReadSectors(0, 1, sector)) {
        drive.TakeError();
        lines.push_back(LoadString(Str::CannotReadBootSector));
        return lines;
    }
    const DeviceParams& p = drive.params;
    // A diskette of a layout the detected media does not have is not named as that media.
    const int32_t named = LayoutOtherThanMedia(sector, drive.mediaType) ? kMediaUnknown : drive.mediaType;
    lines.push_back(LoadString(Str::InfoDetectedMedia) + std::string(GetMediaTypeName(named)));
    lines.push_back(LoadString(Str::InfoOemName) + NameField(sector, BootSector::OemName, BootSector::kOemNameSize));
    lines.push_back(LoadString(Str::InfoPhysicalDevice) + DeviceText(p.deviceType()) +
                    LoadString((p.u8(DeviceParams::DeviceAttributes) & kNonRemovableBit) != 0
                                   ? Str::FixedDiskSuffix
                                   : Str::RemovableDiskSuffix));
    lines.push_back(MediaTypeLine(p.u8(DeviceParams::MediaTypeByte), p.deviceType()));
    lines.push_back(LoadString(Str::InfoFatType) + NameField(sector, BootSector::FileSystemType, BootSector::kFileSystemTypeSize));
    lines.push_back(FormatString(Str::InfoTotalSectors, static_cast<long>(p.totalSectors())));
    lines.push_back(SizeLine(Str::InfoDiskSize, uint64_t{p.totalSectors()} * kSectorSize));
    if (const std::optional<uint64_t> free = FreeBytes(drive, path))
        lines.push_back(SizeLine(Str::InfoFreeSpace, *free));
    AddLayoutLines(lines, p);
    return lines;
}

InfoResult GetInfo(char letter, const DriveTable& drives, MessageBoxHost& boxes)
{
    DiskDrive drive(letter, drives);
    if (drive.PendingError() != Err::None) {
        boxes.MessageBox(TakeFailureText(drive), LoadString(Str::FatalError), Buttons::Ok, Icon::Error);
        return {InfoOutcome::NoDrive, {}};
    }
    while (!drive.IsDriveReady()) {
        if (boxes.MessageBox(LoadString(Str::InsertDisk), LoadString(Str::Message), Buttons::OkCancel,
                             Icon::Warning) != Answer::Ok)
            return {InfoOutcome::Cancelled, {}};
    }
    if (!drive.SelectMedia(kMediaUnknown, false)) {
        drive.TakeError();
        return {InfoOutcome::MediaUnknown, {LoadString(Str::CannotEstablishMedia)}};
    }
    const DriveBinding* binding = drives.Find(letter);
    FatVolume volume(drive);
    return {InfoOutcome::Done, BuildInfoReport(volume, binding ? binding->path : std::string())};
}

}  // namespace vokta
