// Our diskette files against tools nobody here wrote: mkfs.fat images, and ImageDisk
// files read and written by libdsk.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "drive/backend/imdfile.h"
#include "drive/backend/virtualdrive.h"
#include "drive/tracklayout.h"
#include "support/tempdir.h"
#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::test;

namespace {

using TrackOrders = std::map<std::pair<int, int>, std::vector<uint16_t>>;

// Sector numbers of every track in physical order, as libdsk's scanner lists them.
TrackOrders ScanWithLibdsk(const std::string& imd)
{
    std::string out;
    Shell("dskscan -type imd '" + imd + "' 2>/dev/null", &out);
    TrackOrders orders;
    std::istringstream lines(out);
    std::string line;
    std::pair<int, int> current{-1, -1};
    while (std::getline(lines, line)) {
        int c = 0, h = 0, s = 0;
        if (std::sscanf(line.c_str(), "Cylinder %d Head %d:", &c, &h) == 2)
            current = {c, h};
        else if (std::sscanf(line.c_str(), " Cyl %d Head %d Sec %d", &c, &h, &s) == 3)
            orders[current].push_back(static_cast<uint16_t>(s));
    }
    return orders;
}

struct Interop : ::testing::Test {
    TempDir dir;
    void SetUp() override
    {
        for (const char* tool : {"mkfs.fat", "dskscan", "dsktrans", "dskid"})
            if (!HaveTool(tool))
                GTEST_SKIP() << tool << " is not installed";
    }
};

}  // namespace

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
        drive.EndFormat();
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
