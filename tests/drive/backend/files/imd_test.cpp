// SPDX-License-Identifier: GPL-3.0-or-later
// ImageDisk reading and writing, and what hostile files do to the reader.
#include <gtest/gtest.h>

#include <random>

#include "drive/backend/files/imdfile.h"
#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::test;

namespace {

EmulatedMedium Varied()
{
    EmulatedMedium disk = PatternDiskette(kMedia720K);
    disk.track(5, 1).sectors.clear();
    disk.Find(2, 0, 3)->dataError = true;
    disk.Find(2, 0, 4)->deleted = true;
    disk.Find(2, 0, 5)->data.assign(512, 0xE5);
    disk.track(7, 0).sectors[0].cylinder = 9;  // an address field naming another cylinder
    disk.track(7, 1).sectors[1].head = 0;
    disk.track(8, 0).sectors[2].sizeCode = 3;
    disk.track(8, 0).sectors[2].data.assign(1024, 0x42);
    return disk;
}

}  // namespace

TEST(ImageDisk, WriteThenReadGivesTheSameMedium)
{
    const EmulatedMedium disk = Varied();
    const std::vector<uint8_t> file = WriteImd(disk, "07/12/2026 10:00:00", "note\r\n");
    ImdReadResult back = ReadImd(file, MediumDensity::High);
    ASSERT_TRUE(back.medium) << back.error;
    EXPECT_EQ(back.comment, "IMD 1.18: 07/12/2026 10:00:00\r\nnote\r\n");
    EXPECT_EQ(back.medium->density, MediumDensity::Double) << "250 kbit/s tracks";
    for (uint16_t c = 0; c < 80; ++c)
        for (uint8_t h = 0; h < 2; ++h) {
            const auto& a = disk.track(c, h);
            const auto& b = back.medium->track(c, h);
            ASSERT_EQ(a.sectors.size(), b.sectors.size()) << c << "/" << int(h);
            for (size_t i = 0; i < a.sectors.size(); ++i) {
                const SectorRecord& x = a.sectors[i];
                const SectorRecord& y = b.sectors[i];
                ASSERT_EQ(std::tie(x.cylinder, x.head, x.number, x.sizeCode, x.dataError, x.deleted),
                          std::tie(y.cylinder, y.head, y.number, y.sizeCode, y.dataError, y.deleted));
                ASSERT_EQ(x.data, y.data);
            }
        }
}

TEST(ImageDisk, UniformSectorsAreCompressedToOneByte)
{
    EmulatedMedium disk(MediumDensity::High);
    Track& t = disk.track(0, 0);
    t.rate = DataRate::k500;
    for (uint8_t r = 1; r <= 18; ++r)
        t.sectors.push_back({0, 0, r, 2, std::vector<uint8_t>(512, 0xF6), false, false});
    const std::vector<uint8_t> file = WriteImd(disk, "x", "");
    const size_t header = std::string("IMD 1.18: x\r\n").size() + 1;
    EXPECT_EQ(file.size(), header + 5 + 18 + 18 * 2);
    EXPECT_EQ(file[header], 3) << "500 kbit/s MFM";
}

TEST(ImageDisk, HostileFilesGiveAnErrorNeverACrash)
{
    const std::vector<uint8_t> good = WriteImd(Varied(), "01/01/2000 00:00:00", "");
    std::mt19937 random(20261207);
    int refused = 0;
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> file = good;
        const int kind = round % 3;
        if (kind == 0) {
            file.resize(random() % file.size());
        } else {
            const int flips = 1 + static_cast<int>(random() % 8);
            for (int i = 0; i < flips; ++i)
                file[40 + random() % (file.size() - 40)] = static_cast<uint8_t>(random());
        }
        if (kind == 2)
            file.insert(file.end(), 64, static_cast<uint8_t>(random()));
        ImdReadResult r = ReadImd(file, MediumDensity::High);
        ASSERT_NE(r.medium.has_value(), !r.error.empty());
        if (!r.medium)
            ++refused;
    }
    EXPECT_GT(refused, 1000);
    EXPECT_FALSE(ReadImd(std::vector<uint8_t>{'I', 'M', 'D', ' '}, MediumDensity::High).medium);
}

TEST(ImageDisk, UnformattedTrackRecordsDoNotWidenTheDiskette)
{
    std::vector<uint8_t> file = WriteImd(Varied(), "x", "");
    // Track records without sectors: one past the last cylinder a drive reaches, one at
    // the end of what the file can name.
    for (const uint8_t cylinder : {uint8_t{90}, uint8_t{255}})
        file.insert(file.end(), {3, cylinder, 0, 0, 2});
    const ImdReadResult read = ReadImd(file, MediumDensity::High);
    ASSERT_TRUE(read.medium) << read.error;
    EXPECT_EQ(read.medium->cylinders, EmulatedMedium::kDisketteTracks);
    const ImdReadResult again = ReadImd(WriteImd(*read.medium, "x", ""), MediumDensity::High);
    ASSERT_TRUE(again.medium);
    EXPECT_EQ(again.medium->cylinders, read.medium->cylinders) << "saved and loaded, the same diskette";
}

// Every data record type: what a sector holds and how it is flagged. A compressed record
// stands for its fill byte, with or without a data error.
TEST(ImageDisk, EveryRecordTypeGivesItsBytesAndFlags)
{
    struct Case {
        uint8_t type;
        uint8_t expected;  // every byte of the sector
        bool deleted, dataError;
    };
    const Case cases[] = {
        {0, 0x00, false, true},  {1, 0x33, false, false}, {2, 0xE5, false, false}, {3, 0x33, true, false},
        {4, 0xE5, true, false}, {5, 0x33, false, true},  {6, 0xE5, false, true},  {7, 0x33, true, true},
        {8, 0xE5, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.type));
        std::vector<uint8_t> file = {'I', 'M', 'D', ' ', '1', 0x1A, 3, 0, 0, 1, 2, 1, c.type};
        if (c.type != 0 && c.type % 2 == 0)
            file.push_back(0xE5);
        else if (c.type != 0)
            file.insert(file.end(), 512, 0x33);
        const ImdReadResult read = ReadImd(file, MediumDensity::High);
        ASSERT_TRUE(read.medium) << read.error;
        const SectorRecord* s = read.medium->Find(0, 0, 1);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->data, std::vector<uint8_t>(512, c.expected));
        EXPECT_EQ(s->deleted, c.deleted);
        EXPECT_EQ(s->dataError, c.dataError);
    }
}
