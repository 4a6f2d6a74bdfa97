// SPDX-License-Identifier: GPL-3.0-or-later
// Our diskette files against tools nobody here wrote: mkfs.fat images, and ImageDisk
// files read and written by libdsk.
#include <gtest/gtest.h>

#include <cstdio>

#include "boot/bootbuilder.h"
#include "drive/backend/files/imdfile.h"
#include "drive/backend/files/virtualdrive.h"
#include "drive/tracklayout.h"
#include "support/libdskscan.h"
#include "support/requiretools.h"
#include "support/tempdir.h"
#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::test;

namespace {

struct Interop : ::testing::Test {
    TempDir dir;
    void SetUp() override
    {
        RequireTools({"mkfs.fat", "dskscan", "dsktrans", "dskid"});
    }
};

}  // namespace

// The media table against the boot sectors mformat and mkfs.fat write for the same
// diskettes: every BPB field of a row, the row's cylinders, and the image size. The tools
// choose the layout of the standard sizes themselves; of the 1.68M distribution format
// they are told only its 2048-byte clusters and one-sector root directory.
TEST_F(Interop, MediaTableRowsAreTheBootSectorsOtherToolsWrite)
{
    if (!RequireTools({"mformat"}))
        return;
    const std::pair<MediaType, std::vector<std::string>> cases[] = {
        {kMedia720K, {"mformat -C -i '%s' -f 720 ::", "mkfs.fat -C -g 2/9 '%s' 720"}},
        {kMedia12M, {"mformat -C -i '%s' -f 1200 ::", "mkfs.fat -C -g 2/15 '%s' 1200"}},
        {kMedia144M, {"mformat -C -i '%s' -f 1440 ::", "mkfs.fat -C -g 2/18 '%s' 1440"}},
        {kMedia168M,
         {"mformat -C -i '%s' -t 80 -h 2 -s 21 -c 4 -r 1 ::", "mkfs.fat -C -g 2/21 -s 4 -r 16 -M 0xF0 '%s' 1680"}},
        {kMedia172M, {"mformat -C -i '%s' -t 82 -h 2 -s 21 ::"}},
    };
    // Bytes per sector up to the heads: the fields both describe alike (hidden sectors
    // and the large total differ by tool).
    constexpr size_t kCompared = DeviceParams::HiddenSectors - DeviceParams::kBpbOffset;
    for (const auto& [type, commands] : cases)
        for (const std::string& command : commands) {
            SCOPED_TRACE(command);
            const std::string file = dir.File("made.img");
            std::remove(file.c_str());
            char line[256];
            std::snprintf(line, sizeof line, command.c_str(), file.c_str());
            ASSERT_EQ(Shell(std::string("MTOOLS_SKIP_CHECK=1 ") + line + " >/dev/null 2>&1"), 0);
            const std::vector<uint8_t> made = ReadFile(file);
            ASSERT_GE(made.size(), 512u);
            const DeviceParams row = GeometryOf(type)->ToParams();
            const std::vector<uint8_t> ours(row.bytes.begin() + DeviceParams::kBpbOffset,
                                            row.bytes.begin() + DeviceParams::kBpbOffset + kCompared);
            const std::vector<uint8_t> theirs(made.begin() + 11, made.begin() + 11 + kCompared);
            EXPECT_EQ(ours, theirs);
            EXPECT_EQ(size_t{row.cylinders()} * row.heads() * row.sectorsPerTrack(), GetU16(made, 19));
            EXPECT_EQ(made.size(), ImageSizeOf(type));
            EXPECT_EQ(MediaTypeOfImageSize(made.size()), type);
        }
}

TEST_F(Interop, MkfsFatImagesAreDetectedFromTheirBootSectors)
{
    const std::pair<const char*, MediaType> cases[] = {{"1440", kMedia144M}, {"720", kMedia720K}};
    for (const auto& [kilobytes, type] : cases) {
        const std::string file = dir.File(std::string("mkfs") + kilobytes + ".img");
        ASSERT_EQ(Shell("mkfs.fat -C -i 12345678 '" + file + "' " + kilobytes + " >/dev/null"), 0);
        DriveTable table;
        table.Bind(VirtualDriveBinding('A', file, DriveKind::Floppy35HD));
        DiskDrive drive('A', table);
        ASSERT_TRUE(drive.SelectMedia(kMediaUnknown, false)) << kilobytes;
        EXPECT_EQ(drive.mediaType, type);
    }
}

TEST_F(Interop, OurImageDiskFileAsLibdskReadsIt)
{
    const std::string file = dir.File("ours.imd");
    const std::vector<uint8_t> pattern = PatternImage(kMedia144M);
    WriteFile(file, {});  // an empty file: an unformatted diskette
    {
        DriveTable table;
        table.Bind(VirtualDriveBinding('A', file, DriveKind::Floppy35HD));
        DiskDrive drive('A', table);
        ASSERT_TRUE(drive.SelectMedia(kMedia144M, false));
        drive.BeginFormat();
        for (uint16_t c = 0; c < 80; ++c)
            for (uint16_t h = 0; h < 2; ++h)
                ASSERT_TRUE(drive.FormatTrack(c, h, true));
        EXPECT_TRUE(drive.EndFormat(WriteUnlabelledBootSector));
        ASSERT_TRUE(drive.WriteSectors(0, 2880, pattern));
    }

    std::string id;
    Shell("dskid -type imd '" + file + "' 2>/dev/null", &id);
    EXPECT_NE(id.find("Cylinders:     80"), std::string::npos) << id;
    EXPECT_NE(id.find("Sectors:       18"), std::string::npos) << id;
    EXPECT_NE(id.find("Data rate:     HD"), std::string::npos) << id;

    const TrackOrders orders = ScanWithLibdsk(file);
    ASSERT_EQ(orders.size(), 160u);
    for (const auto& [track, order] : orders)
        ASSERT_EQ(order, OptimizedTrackOrder(18, 3, 1, static_cast<uint16_t>(track.first),
                                             static_cast<uint16_t>(track.second)))
            << "cylinder " << track.first << " head " << track.second;

    const std::string raw = dir.File("ours.raw");
    ASSERT_EQ(Shell("dsktrans -itype imd -otype raw '" + file + "' '" + raw + "' >/dev/null 2>&1"), 0);
    EXPECT_EQ(ReadFile(raw), pattern) << "libdsk finds every sector by its number";
}

TEST_F(Interop, LibdskImageDiskFileAsWeReadIt)
{
    const std::string raw = dir.File("theirs.raw");
    const std::string file = dir.File("theirs.imd");
    const std::vector<uint8_t> pattern = PatternImage(kMedia720K);
    WriteFile(raw, pattern);
    ASSERT_EQ(Shell("dsktrans -itype raw -otype imd -format pcw720 '" + raw + "' '" + file + "' >/dev/null 2>&1"), 0);

    ImdReadResult parsed = ReadImd(ReadFile(file), MediumDensity::High);
    ASSERT_TRUE(parsed.medium) << parsed.error;
    const TrackOrders orders = ScanWithLibdsk(file);
    ASSERT_EQ(orders.size(), 160u);
    for (const auto& [track, order] : orders) {
        std::vector<uint16_t> ours;
        for (const SectorRecord& s : parsed.medium->track(static_cast<uint16_t>(track.first),
                                                          static_cast<uint8_t>(track.second)).sectors)
            ours.push_back(s.number);
        ASSERT_EQ(ours, order) << "cylinder " << track.first << " head " << track.second;
    }

    DriveTable table;
    table.Bind(VirtualDriveBinding('A', file, DriveKind::Floppy35HD));
    DiskDrive drive('A', table);
    ASSERT_TRUE(drive.SelectMedia(kMediaUnknown, false));
    EXPECT_EQ(drive.mediaType, kMedia720K);
    std::vector<uint8_t> back(pattern.size());
    ASSERT_TRUE(drive.ReadSectors(0, 1440, back));
    EXPECT_EQ(back, pattern);
}
