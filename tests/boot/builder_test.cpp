// SPDX-License-Identifier: GPL-3.0-or-later
// The boot-sector builder's pure parts: serial number, label, fields, system area.
#include <gtest/gtest.h>

#include "boot/bootbuilder.h"
#include "drive/media.h"

using namespace vokta;

namespace {

// Friday 6 December 1996, 14:30:45.
constexpr LocalTime kExample{1996, 12, 6, 5, 14, 30, 45};

DeviceParams HardDiskParams()
{
    DeviceParams p = GeometryOf(kMediaHardDisk)->ToParams();
    p.setU16(DeviceParams::Cylinders, 100);
    p.setU8(DeviceParams::SectorsPerCluster, 4);
    p.setU16(DeviceParams::RootEntries, 512);
    p.setU16(DeviceParams::SectorsPerFat, 99);
    p.setU16(DeviceParams::SectorsPerTrack, 63);
    p.setU16(DeviceParams::Heads, 16);
    return p;
}

// The layout of the boot sector built for these parameters: the system area's.
FatLayout BuiltLayout(const DeviceParams& p, int32_t type)
{
    const std::optional<FatLayout> layout = FatLayout::FromBootSector(BuildBootSector(p, type, "", kExample).span());
    EXPECT_TRUE(layout);
    return layout.value_or(FatLayout{});
}

}  // namespace

TEST(VolumeSerialNumber, FromTheLocalTime)
{
    EXPECT_EQ(VolumeSerialNumber(kExample), 0x9B0D7BEDu);
    LocalTime later = kExample;
    later.second = 46;
    EXPECT_EQ(VolumeSerialNumber(later), 0x9B0D7BEEu);
    EXPECT_EQ(VolumeSerialNumber(kExample), VolumeSerialNumber(LocalTime(kExample)))
        << "the same second gives the same number";
}

TEST(DirectoryTimeAndDate, FatEncoding)
{
    LocalTime t = kExample;
    t.second = 59;
    EXPECT_EQ(DirectoryTime(t), 14 * 2048 + 30 * 32 + 29);
    EXPECT_EQ(DirectoryDate(t), (1996 - 1980) * 512 + 12 * 32 + 6);
    t.year = 1970;
    EXPECT_EQ(DirectoryDate(t), 12 * 32 + 6) << "years before 1980 do not wrap";
}

TEST(VolumeLabelField, TruncatedPaddedAndUpperCased)
{
    EXPECT_EQ(VolumeLabelField("data"), "DATA       ");
    EXPECT_EQ(VolumeLabelField("fourteen chars"), "FOURTEEN CH");
    EXPECT_EQ(VolumeLabelField("VOKTA fixed"), "VOKTA FIXED");
    EXPECT_EQ(VolumeLabelField(""), "NO NAME    ");
    EXPECT_EQ(VolumeLabelField(std::string_view("ab\0cd", 5)), "AB         ");
    // The field holds code page 1252; only ASCII letters change case.
    EXPECT_EQ(VolumeLabelField("été"), "\xE9T\xE9        ");
    EXPECT_EQ(VolumeLabelField("ÄB½"), "\xC4" "B" "\xBD        ");
    EXPECT_EQ(VolumeLabelField("Ω"), "?          ") << "what 1252 cannot hold";
    EXPECT_EQ(VolumeLabelField("ÀÉÎÕÜàéîõüXYZ"), "\xC0\xC9\xCE\xD5\xDC\xE0\xE9\xEE\xF5\xFCX")
        << "eleven characters, not eleven UTF-8 bytes";
}

TEST(BuildBootSector, OneFourFourDiskette)
{
    const BootSector s = BuildBootSector(GeometryOf(kMedia144M)->ToParams(), kMedia144M, "", kExample);
    EXPECT_EQ(s.u8(0), 0xEB);
    EXPECT_EQ(s.u8(1), 0x3C);
    EXPECT_EQ(s.u8(2), 0x90);
    EXPECT_EQ(s.text(3, 8), "VOKTA1.0");
    EXPECT_EQ(s.u16(11), 512);
    EXPECT_EQ(s.u8(13), 1);
    EXPECT_EQ(s.u16(14), 1);
    EXPECT_EQ(s.u8(16), 2);
    EXPECT_EQ(s.u16(17), 224);
    EXPECT_EQ(s.u16(19), 2880);
    EXPECT_EQ(s.u8(21), 0xF0);
    EXPECT_EQ(s.u16(22), 9);
    EXPECT_EQ(s.u16(24), 18);
    EXPECT_EQ(s.u16(26), 2);
    EXPECT_EQ(s.u32(28), 0u);
    EXPECT_EQ(s.u32(32), 0u);
    EXPECT_EQ(s.u8(36), 0x00);
    EXPECT_EQ(s.u8(37), 0x00);
    EXPECT_EQ(s.u8(38), 0x29);
    EXPECT_EQ(s.u32(39), 0x9B0D7BEDu);
    EXPECT_EQ(s.text(43, 11), "NO NAME    ");
    EXPECT_EQ(s.text(54, 8), "FAT12   ");
    EXPECT_EQ(s.u8(510), 0x55);
    EXPECT_EQ(s.u8(511), 0xAA);
}

TEST(BuildBootSector, TotalComesFromTheGeometryNotTheTotalField)
{
    DeviceParams p = GeometryOf(kMedia172M)->ToParams();
    p.setU16(DeviceParams::TotalSectors16, 1234);
    const BootSector s = BuildBootSector(p, kMedia172M, "", kExample);
    EXPECT_EQ(s.u16(19), 82 * 2 * 21);
}

TEST(BuildBootSector, HardDiskGetsFat16AndTheLargeTotal)
{
    const BootSector s = BuildBootSector(HardDiskParams(), kMediaHardDisk, "", kExample);
    EXPECT_EQ(s.text(54, 8), "FAT16   ");
    EXPECT_EQ(s.u8(36), 0x80);
    EXPECT_EQ(s.u8(21), 0xF8);
    EXPECT_EQ(s.u16(19), 0) << "100 x 16 x 63 does not fit 16 bits";
    EXPECT_EQ(s.u32(32), 100u * 16 * 63);
    EXPECT_EQ(s.u32(28), 63u) << "hidden sectors = sectors per track";
}

TEST(BuildBootSector, GeometryBeyondThirtyTwoBitsStopsAtTheLargestTotal)
{
    DeviceParams p = HardDiskParams();
    p.setU16(DeviceParams::Cylinders, 0x8000);
    p.setU16(DeviceParams::Heads, 0x8000);
    p.setU16(DeviceParams::SectorsPerTrack, 4);  // 2^32: wrapped, the total would read 0
    const BootSector s = BuildBootSector(p, kMediaHardDisk, "", kExample);
    EXPECT_EQ(s.u32(32), UINT32_MAX);
    EXPECT_EQ(ValidateBootSector(s.span()) & BootCheck::BadTotalSectors, 0);
}

TEST(BuildBootSector, PassesEveryTestForEveryMediaType)
{
    for (int32_t type = kMedia720K; type <= kMedia172M; ++type) {
        const BootSector s = BuildBootSector(GeometryOf(type)->ToParams(), type, "label", kExample);
        EXPECT_EQ(ValidateBootSector(s.span()), 0) << type;
    }
    EXPECT_EQ(ValidateBootSector(BuildBootSector(HardDiskParams(), kMediaHardDisk, "", kExample).span()), 0);
}

TEST(SystemArea, SizeInSectors)
{
    const auto sectors = [](MediaType type) { return SystemAreaSectors(BuiltLayout(GeometryOf(type)->ToParams(), type)); };
    EXPECT_EQ(sectors(kMedia168M), 8u) << "2 x 3 + 1 + 1";
    EXPECT_EQ(sectors(kMedia144M), 2u * 9 + 14 + 1);
    EXPECT_EQ(sectors(kMedia720K), 2u * 3 + 7 + 1);
}

TEST(SystemArea, IsTheOneTheBuiltBootSectorDescribes)
{
    // One FAT and a root of 100 entries: the built sector says two FATs, and the root's
    // seven sectors, the last one partly used, all belong to the area.
    DeviceParams p = GeometryOf(kMedia144M)->ToParams();
    p.setU8(DeviceParams::FatCount, 1);
    p.setU16(DeviceParams::RootEntries, 100);
    const FatLayout layout = BuiltLayout(p, kMedia144M);
    EXPECT_EQ(SystemAreaSectors(layout), 2u * 9 + 7 + 1);
    std::vector<uint8_t> area(SystemAreaSectors(layout) * 512u, 0xEE);
    FillSystemArea(area, layout, 0xF0, "", kExample);
    EXPECT_EQ(area[9 * 512], 0xF0) << "the second copy";
    EXPECT_EQ(std::count(area.begin(), area.end(), 0), static_cast<long>(area.size() - 6));
}

TEST(SystemArea, EmptyFatsAndARootWithTheLabelEntry)
{
    const FatLayout layout = BuiltLayout(GeometryOf(kMedia144M)->ToParams(), kMedia144M);
    std::vector<uint8_t> area(SystemAreaSectors(layout) * 512u, 0xEE);
    FillSystemArea(area, layout, 0xF0, "backup", kExample);

    std::vector<uint8_t> expected(area.size(), 0);
    for (size_t fat : {size_t{0}, size_t{9 * 512}}) {
        expected[fat] = 0xF0;
        expected[fat + 1] = 0xFF;
        expected[fat + 2] = 0xFF;
    }
    const size_t root = 18 * 512;
    const std::string name = "BACKUP     ";
    std::copy(name.begin(), name.end(), expected.begin() + root);
    expected[root + 11] = 0x28;
    PutU16(expected, root + 22, 14 * 2048 + 30 * 32 + 22);
    PutU16(expected, root + 24, 16 * 512 + 12 * 32 + 6);
    EXPECT_EQ(area, expected);
}

TEST(SystemArea, NoLabelNoEntryAndHardDiskMarksSixteenBits)
{
    const FatLayout layout = BuiltLayout(HardDiskParams(), kMediaHardDisk);
    ASSERT_EQ(layout.fatBits, 16u);
    std::vector<uint8_t> area(SystemAreaSectors(layout) * 512u, 0xEE);
    FillSystemArea(area, layout, 0xF8, "", kExample);
    const std::vector<uint8_t> mark = {0xF8, 0xFF, 0xFF, 0xFF, 0x00};
    EXPECT_TRUE(std::equal(mark.begin(), mark.end(), area.begin()));
    EXPECT_TRUE(std::equal(mark.begin(), mark.end(), area.begin() + 99 * 512));
    EXPECT_EQ(std::count(area.begin(), area.end(), 0), static_cast<long>(area.size() - 8));
}

TEST(BuildBootSector, RefusedMediaDescriptorIsReplacedByTheTablesOne)
{
    DeviceParams p = GeometryOf(kMedia720K)->ToParams();
    p.setU8(DeviceParams::MediaDescriptor, 0xFD);
    const BootSector s = BuildBootSector(p, kMedia720K, "", kExample);
    EXPECT_EQ(s.u8(21), 0xF9);
}
