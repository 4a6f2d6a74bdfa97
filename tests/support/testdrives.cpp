// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/testdrives.h"

#include <algorithm>

#include "drive/backend/files/virtualdrive.h"

namespace vokta::test {
namespace {

uint8_t DriveNumberOf(char letter)
{
    return static_cast<uint8_t>(NormalizeDriveLetter(letter) - 0x40);
}

}  // namespace

std::shared_ptr<RecordingService> BindRecorded(DriveTable& table, char letter, std::unique_ptr<DiskService> service,
                                               SystemDriveType type)
{
    auto recorder = std::make_shared<RecordingService>(std::move(service));
    table.Bind(DriveBinding{letter, type, "", [r = std::weak_ptr(recorder)] {
                                if (std::shared_ptr<RecordingService> alive = r.lock())
                                    return DriveOpenResult{ShareService(alive), Err::None, {}};
                                return DriveOpenResult{nullptr, Err::NotReady, "the test let the drive go"};
                            }});
    return recorder;
}

std::shared_ptr<RecordingService> BindRecordedFile(DriveTable& table, char letter, const std::string& path,
                                                   DriveKind kind)
{
    DriveOpenResult opened = VirtualDrive::Open(path, kind, DriveNumberOf(letter));
    if (!opened.service)
        return nullptr;
    return BindRecorded(table, letter, std::move(opened.service));
}

EmulatedSetup::EmulatedSetup(char letter, DriveKind kind)
    : drive(std::make_shared<EmulatedDrive>(kind, DriveNumberOf(letter))),
      recorder(BindRecorded(table, letter, ShareService(drive),
                            kind == DriveKind::FixedDisk ? SystemDriveType::Fixed : SystemDriveType::Removable))
{
}

std::unique_ptr<DiskDrive> EmulatedSetup::Open(char letter) const
{
    return std::make_unique<DiskDrive>(letter, table);
}

std::vector<uint8_t> BootSectorFor(MediaType type)
{
    std::vector<uint8_t> boot(512, 0);
    const DeviceParams row = GeometryOf(type)->ToParams();
    boot[0] = 0xEB;
    boot[1] = 0x3C;
    boot[2] = 0x90;
    std::copy_n("MSWIN4.1", 8, boot.begin() + 3);
    std::copy_n(row.bytes.begin() + DeviceParams::kBpbOffset, DeviceParams::kBpbSize, boot.begin() + 11);
    boot[38] = 0x29;
    PutU32(boot, 39, 0x12345678);
    std::copy_n("NO NAME    FAT12   ", 19, boot.begin() + 43);
    boot[510] = 0x55;
    boot[511] = 0xAA;
    return boot;
}

std::vector<uint8_t> PatternImage(MediaType type)
{
    std::vector<uint8_t> image(ImageSizeOf(type));
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>((i / 512) * 7 + (i % 512));
    const std::vector<uint8_t> boot = BootSectorFor(type);
    std::copy(boot.begin(), boot.end(), image.begin());
    return image;
}

EmulatedMedium PatternDiskette(MediaType type)
{
    return EmulatedMedium::FromImage(type, PatternImage(type));
}

}  // namespace vokta::test

#include "fat/fatentries.h"

namespace vokta::test {

std::vector<uint8_t> FatImage(MediaType type, const std::vector<uint16_t>& bad, const std::vector<uint16_t>& used)
{
    std::vector<uint8_t> image = PatternImage(type);
    const MediaGeometry g = *GeometryOf(type);
    const size_t fatBytes = size_t{g.sectorsPerFat} * 512;
    const size_t rootBytes = size_t{g.rootEntries} * 32;
    std::fill(image.begin() + 512, image.begin() + static_cast<std::ptrdiff_t>(512 + 2 * fatBytes + rootBytes), 0);
    for (size_t copy = 0; copy < 2; ++copy) {
        std::span<uint8_t> fat(image.data() + 512 + copy * fatBytes, fatBytes);
        WriteFatEntry(fat, 12, 0, static_cast<uint16_t>(0xF00 | g.mediaDescriptor));
        WriteFatEntry(fat, 12, 1, 0xFFF);
        for (uint16_t c : bad)
            WriteFatEntry(fat, 12, c, 0xFF7);
        for (uint16_t c : used)
            WriteFatEntry(fat, 12, c, 0xFFF);
    }
    return image;
}

}  // namespace vokta::test
