// SPDX-License-Identifier: GPL-3.0-or-later
// The drive on a Greaseweazle between retries: seeks that read nothing, and the turns a
// sector that read badly is read over, as the rescue asks them.
#include <gtest/gtest.h>

#include <algorithm>

#include "drive/backend/greaseweazle/gwdrive.h"
#include "drive/backend/greaseweazle/protocol.h"
#include "support/fluxdiskettes.h"
#include "support/greaseweazleemulator.h"
#include "support/testdrives.h"

namespace vokta::test {
namespace {

// Cylinder 3, head 0, slot 4: a sector whose data reads badly in `bad` of every `every`
// turns, in none by default.
struct WeakDrive {
    GreaseweazleEmulator emulator;
    DriveTable table;
    std::unique_ptr<DiskDrive> drive;
    EmulatedMedium medium = PatternDiskette(kMedia144M);

    explicit WeakDrive(uint32_t bad = 1, uint32_t every = 1)
    {
        FluxDiskette diskette = FluxDisketteOf(medium, DriveKind::Floppy35HD);
        diskette.weak.push_back(WeakSectorData(medium, DriveKind::Floppy35HD, 3, 0, 4, bad, every));
        emulator.Insert(std::move(diskette));
        table.Bind(GreaseweazleBinding('A', emulator.path(), DriveKind::Floppy35HD));
        drive = std::make_unique<DiskDrive>('A', table);
    }
    uint32_t revolutionTicks() const { return 14'400'000; }
};

TEST(GreaseweazleHeadMoves, ARetryReadsTheTurnsTheRescueAsked)
{
    const struct {
        unsigned asked;
        uint32_t turns;
    } cases[] = {{0, 3}, {8, 8}, {1, 1}, {3, 3}, {20, 20}, {500, 50}};
    WeakDrive weak;
    DiskDrive& drive = *weak.drive;
    ASSERT_TRUE(drive.SelectMedia(kMedia144M, false));
    const uint32_t lba = 3 * 36 + 4;  // slot 4 of the standard order holds sector 5
    std::vector<uint8_t> sector(512);
    // The first read of the track takes one turn, and finds the sector bad.
    EXPECT_FALSE(drive.ReadSectors(lba, 1, sector));
    EXPECT_EQ(drive.TakeError(), Err::BadCrc);
    ASSERT_FALSE(weak.emulator.fluxReads().empty());
    EXPECT_EQ(weak.emulator.fluxReads().front().ticks / weak.revolutionTicks(), 1u);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.asked);
        drive.Service()->SetRetryRevolutions(c.asked);
        const size_t before = weak.emulator.fluxReads().size();
        EXPECT_FALSE(drive.ReadSectors(lba, 1, sector));
        EXPECT_EQ(drive.TakeError(), Err::BadCrc);
        const auto reads = weak.emulator.fluxReads();
        ASSERT_GT(reads.size(), before);
        // The track read badly before: every read of it now is a retry over so many turns.
        for (size_t i = before; i < reads.size(); ++i) {
            EXPECT_EQ(reads[i].cylinder, 3);
            EXPECT_EQ(reads[i].ticks / weak.revolutionTicks(), c.turns) << "read " << i - before;
        }
    }
}

TEST(GreaseweazleHeadMoves, EightTurnsFindTheOneTurnInEightThatReadsWell)
{
    WeakDrive weak(7, 8);
    DiskDrive& drive = *weak.drive;
    ASSERT_TRUE(drive.SelectMedia(kMedia144M, false));
    drive.Service()->SetRetryRevolutions(8);
    std::vector<uint8_t> sector(512);
    ASSERT_TRUE(drive.ReadSectors(3 * 36 + 4, 1, sector)) << drive.GetErrorText();
    EXPECT_EQ(sector, weak.medium.Find(3, 0, 5)->data);
}

TEST(GreaseweazleHeadMoves, SeeksMoveTheHeadAndReadNothing)
{
    WeakDrive weak;
    DiskDrive& drive = *weak.drive;
    ASSERT_TRUE(drive.SelectMedia(kMedia144M, false));
    std::vector<uint8_t> sector(512);
    ASSERT_TRUE(drive.ReadSectors(40 * 36, 1, sector));
    DiskService& service = *drive.Service();
    const size_t reads = weak.emulator.fluxReads().size();
    const struct {
        bool recalibrate;
        uint16_t cylinder;
        bool moves;
        int at;
    } moves[] = {{false, 70, true, 70}, {false, 83, true, 83}, {false, 84, false, 83},
                 {true, 0, true, 0},    {true, 0, true, 0},    {false, 2, true, 2}};
    for (const auto& m : moves) {
        SCOPED_TRACE(testing::Message() << (m.recalibrate ? "recalibrate" : "seek ") << m.cylinder);
        const auto seeks = [&weak] { return std::ranges::count(weak.emulator.commands(), gw::Cmd::Seek); };
        const auto seeksBefore = seeks();
        EXPECT_EQ(m.recalibrate ? service.Recalibrate() : service.SeekHead(m.cylinder), m.moves);
        EXPECT_EQ(weak.emulator.cylinder(), m.at);
        // A recalibrate goes to the drive even where the head is known to stand at track 0.
        EXPECT_EQ(seeks() - seeksBefore, m.recalibrate || m.moves ? 1 : 0);
    }
    EXPECT_EQ(weak.emulator.fluxReads().size(), reads);
    // The next read goes back to its own cylinder.
    ASSERT_TRUE(drive.ReadSectors(10 * 36, 1, sector));
    EXPECT_EQ(weak.emulator.cylinder(), 10);
}

}  // namespace
}  // namespace vokta::test
