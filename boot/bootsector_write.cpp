// SPDX-License-Identifier: GPL-3.0-or-later
// Writing a good boot sector and an empty system area through the drive.
#include <algorithm>
#include <memory>
#include <new>
#include <optional>

#include "boot/bootbuilder.h"
#include "drive/diskdrive.h"

namespace vokta {

DiskStatus WriteBootSector(DiskDrive& drive, const std::string& label)
{
    if (const DiskStatus selected = drive.RequireMedia(); !selected)
        return selected;
    const BootSector sector = BuildBootSector(drive.params, drive.mediaType, label, CurrentLocalTime());
    return drive.WriteSectors(0, 1, sector.span());
}

DiskStatus WriteVolumeBootSector(DiskDrive& drive, const ConfirmedVolume& volume, const std::string& label)
{
    const BootSector sector = BuildVolumeBootSector(volume, drive.params, drive.mediaType, label, CurrentLocalTime());
    if (const DiskStatus written = drive.WriteSectors(0, 1, sector.span()); !written)
        return written;
    // The drive goes on with the volume as its boot sector now states it, as a detection
    // of the diskette would find it.
    std::copy_n(sector.bytes.begin() + Bpb::kInBootSector, Bpb::kSize,
                drive.params.bytes.begin() + DeviceParams::kBpbOffset);
    return {};
}

DiskStatus WriteUnlabelledBootSector(DiskDrive& drive)
{
    return WriteBootSector(drive, "");
}

DiskStatus WriteSystemArea(DiskDrive& drive, const std::string& label)
{
    if (const DiskStatus selected = drive.RequireMedia(); !selected)
        return selected;
    // The system area of the good boot sector, so that the two always agree.
    const LocalTime now = CurrentLocalTime();
    const BootSector boot = BuildBootSector(drive.params, drive.mediaType, label, now);
    const std::optional<FatLayout> layout = FatLayout::FromBootSector(boot.span());
    if (!layout || SystemAreaSectors(*layout) > 0xFFFF)
        return Err::UnrecognizedMedia;
    const auto count = static_cast<uint16_t>(SystemAreaSectors(*layout));
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[size_t{count} * kSectorSize]);
    if (!buffer)
        return Err::InsufficientBuffer;
    const std::span<uint8_t> area(buffer.get(), size_t{count} * kSectorSize);
    FillSystemArea(area, *layout, boot.u8(BootSector::MediaDescriptor), label, now);
    return drive.WriteSectors(layout->firstFatSector, count, area);
}

std::string RootDirectoryLabel(DiskDrive& drive, const FatLayout& layout)
{
    constexpr uint8_t kEndMark = 0x00;
    constexpr uint8_t kDeletedMark = 0xE5;
    std::vector<uint8_t> root(size_t{layout.rootSectors} * kSectorSize);
    // A sector that cannot be read is left zero, which ends the directory there.
    ReadSectorsOneByOne(drive, layout.rootFirstSector, root);
    for (size_t at = 0; at + kDirectoryEntrySize <= layout.rootBytes; at += kDirectoryEntrySize) {
        const std::span<const uint8_t> entry(root.data() + at, kDirectoryEntrySize);
        if (entry[0] == kEndMark)
            break;
        if (!IsVolumeLabelEntry(entry))
            continue;
        std::string field(entry.begin(), entry.begin() + BootSector::kLabelSize);
        if (static_cast<uint8_t>(field[0]) == kEscapedDeletedMark)
            field[0] = static_cast<char>(kDeletedMark);
        return Windows1252ToUtf8(field);
    }
    return {};
}

}  // namespace vokta
