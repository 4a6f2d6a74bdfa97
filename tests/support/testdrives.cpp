#include "support/testdrives.h"

#include <algorithm>

namespace vokta::test {

EmulatedSetup::EmulatedSetup(char letter, DriveKind kind)
    : drive(std::make_shared<EmulatedDrive>(kind, static_cast<uint8_t>(NormalizeDriveLetter(letter) - 0x40)))
{
    table.Bind(DriveBinding{letter, kind == DriveKind::FixedDisk ? SystemDriveType::Fixed : SystemDriveType::Removable,
                            "", [d = drive] { return DriveOpenResult{ShareService(d), Err::None, {}}; }});
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
