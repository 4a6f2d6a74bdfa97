// SPDX-License-Identifier: GPL-3.0-or-later
// The emulated drive between retries: seeks and recalibrates cost steps and settle on the
// model clock and read nothing; transient defects give way after their count of reads.
#include <gtest/gtest.h>

#include "drive/backend/emulated/driveclock.h"
#include "support/testdrives.h"

namespace vokta::test {
namespace {

// 1.44M mechanics: 1.5 ms a command, 3 ms a step, 15 ms settle; the motor already runs.
struct HeadMove {
    const char* name;
    uint16_t from;
    bool recalibrate;
    uint16_t to;  // for a seek
    uint64_t steps;
    double ms;
    uint64_t commands;
};

constexpr HeadMove kMoves[] = {
    {"seek outwards", 10, false, 40, 30, 1.5 + 30 * 3 + 15, 1},
    {"seek inwards", 79, false, 2, 77, 1.5 + 77 * 3 + 15, 1},
    {"seek where it stands", 40, false, 40, 0, 1.5, 1},
    {"recalibrate", 40, true, 0, 40, 1.5 + 40 * 3 + 15, 1},
    {"recalibrate at track 0", 0, true, 0, 0, 1.5, 1},
    {"recalibrate past 77 steps", 83, true, 0, 83, 1.5 + 77 * 3 + 15 + 1.5 + 6 * 3 + 15, 2},
};

TEST(HeadMoves, CostStepsAndSettleAndWaitForNoSector)
{
    for (const HeadMove& move : kMoves) {
        SCOPED_TRACE(move.name);
        DriveClock clock;
        clock.Seek(move.from);
        clock.ResetCounters();
        const double before = clock.now();
        if (move.recalibrate)
            clock.Recalibrate();
        else
            clock.Seek(move.to);
        EXPECT_NEAR(clock.now() - before, move.ms, 1e-9);
        EXPECT_EQ(clock.counters().steps, move.steps);
        EXPECT_EQ(clock.counters().requests, move.commands);
        EXPECT_EQ(clock.counters().motorStarts, 0u);
        EXPECT_EQ(clock.counters().waitRevolutions, 0.0);
        EXPECT_EQ(clock.cylinder(), move.to);
    }
}

TEST(HeadMoves, NextReadApproachesFromWhereTheHeadWasMoved)
{
    EmulatedSetup setup{'A', DriveKind::Floppy35HD};
    setup.drive->Insert(PatternDiskette(kMedia144M));
    const auto drive = setup.Open();
    ASSERT_TRUE(drive->SelectMedia(kMedia144M, false));
    std::vector<uint8_t> sector(512);
    ASSERT_TRUE(drive->ReadSectors(40 * 36, 1, sector));
    DiskService& service = *drive->Service();
    const auto reads = setup.drive->sectorReads;
    ASSERT_TRUE(service.SeekHead(70));
    EXPECT_EQ(setup.drive->clock.cylinder(), 70);
    EXPECT_FALSE(service.SeekHead(EmulatedMedium::kDisketteTracks)) << "beyond the stop of the drive";
    EXPECT_EQ(setup.drive->clock.cylinder(), 70);
    setup.drive->clock.ResetCounters();
    ASSERT_TRUE(drive->ReadSectors(40 * 36, 1, sector));
    EXPECT_EQ(setup.drive->clock.counters().steps, 30u);
    ASSERT_TRUE(service.Recalibrate());
    EXPECT_EQ(setup.drive->clock.cylinder(), 0);
    auto expected = reads;
    expected[{40, 0, 1}] += 1;
    EXPECT_EQ(setup.drive->sectorReads, expected) << "seeks and recalibrates read nothing";

    EmulatedSetup fixed{'C', DriveKind::FixedDisk};
    EXPECT_FALSE(fixed.drive->Recalibrate());
    EXPECT_FALSE(fixed.drive->SeekHead(1));
}

// A sector that fails so many reads, then reads well; the drive counts every read.
struct TransientCase {
    unsigned failures;
    bool persistent;
    std::vector<bool> results;  // of successive single-sector reads
};

TEST(HeadMoves, TransientDefectsFailTheirCountOfReadsThenReadWell)
{
    const TransientCase cases[] = {
        {0, false, {true, true}},
        {1, false, {false, true, true}},
        {3, false, {false, false, false, true}},
        {2, true, {false, false, false, false}},
    };
    const PhysicalSector weak{3, 1, 5};
    const uint32_t lba = (3 * 2 + 1) * 18 + 4;
    for (const TransientCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.failures << (c.persistent ? " over a defect" : ""));
        EmulatedSetup setup{'A', DriveKind::Floppy35HD};
        setup.drive->Insert(PatternDiskette(kMedia144M));
        setup.drive->medium()->transientDefects[weak] = c.failures;
        if (c.persistent)
            setup.drive->medium()->defects.insert(weak);
        const auto drive = setup.Open();
        ASSERT_TRUE(drive->SelectMedia(kMedia144M, false));
        setup.recorder->log.clear();
        setup.drive->sectorReads.clear();
        std::vector<uint8_t> sector(512);
        for (size_t i = 0; i < c.results.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(static_cast<bool>(drive->ReadSectors(lba, 1, sector)), c.results[i]);
            EXPECT_EQ(drive->TakeError(), c.results[i] ? Err::None : Err::BadCrc);
            if (c.results[i]) {
                EXPECT_EQ(sector, setup.drive->medium()->Find(3, 1, 5)->data);
            }
        }
        // Every request reached the data field of that one sector, and no other.
        const auto requests = setup.recorder->Requests(Minor::ReadTrack).size();
        EXPECT_EQ(setup.drive->sectorReads, (std::map<PhysicalSector, unsigned>{{weak, requests}}));
        EXPECT_EQ(requests, c.results.size());
    }
}

}  // namespace
}  // namespace vokta::test
