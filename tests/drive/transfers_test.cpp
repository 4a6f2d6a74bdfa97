// SPDX-License-Identifier: GPL-3.0-or-later
// Sector and track I/O against the emulated drive.
#include <gtest/gtest.h>

#include "boot/bootbuilder.h"
#include "drive/tracklayout.h"
#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::test;

namespace {

struct Drive144 : ::testing::Test {
    EmulatedSetup setup{'A', DriveKind::Floppy35HD};
    std::unique_ptr<DiskDrive> drive;

    void SetUp() override
    {
        setup.drive->Insert(PatternDiskette(kMedia144M));
        drive = setup.Open();
        ASSERT_TRUE(drive->SelectMedia(kMedia144M, false));
        setup.recorder->log.clear();
    }

    std::vector<uint16_t> SectorOrder(uint16_t cylinder, uint8_t head) const
    {
        std::vector<uint16_t> order;
        for (const SectorRecord& s : setup.drive->medium()->track(cylinder, head).sectors)
            order.push_back(s.number);
        return order;
    }
};

}  // namespace

TEST_F(Drive144, ReadIsSplitAtTrackEnds)
{
    std::vector<uint8_t> buffer(20 * 512);
    ASSERT_TRUE(drive->ReadSectors(10, 20, buffer));
    const auto reads = setup.recorder->Requests(Minor::ReadTrack);
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(TrackIoBlock::Head(reads[0].block), 0);
    EXPECT_EQ(TrackIoBlock::FirstSector(reads[0].block), 10);
    EXPECT_EQ(TrackIoBlock::Count(reads[0].block), 8);
    EXPECT_EQ(TrackIoBlock::Head(reads[1].block), 1);
    EXPECT_EQ(TrackIoBlock::FirstSector(reads[1].block), 0);
    EXPECT_EQ(TrackIoBlock::Count(reads[1].block), 12);
    EXPECT_EQ(reads[0].block.size(), 15u);
    const std::vector<uint8_t> image = PatternImage(kMedia144M);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), image.begin() + 10 * 512));
    EXPECT_EQ(drive->lastSector, 10u);
}

TEST_F(Drive144, ReadPastTheLastSectorKeepsWhatWasRead)
{
    std::vector<uint8_t> buffer(2 * 512, 0xEE);
    EXPECT_FALSE(drive->ReadSectors(2879, 2, buffer));
    EXPECT_EQ(drive->PendingError(), Err::EndOfDisk);
    EXPECT_EQ(setup.recorder->Requests(Minor::ReadTrack).size(), 1u);
    const std::vector<uint8_t> image = PatternImage(kMedia144M);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 512, image.begin() + 2879 * 512));
    EXPECT_EQ(buffer[512], 0xEE);
}

TEST_F(Drive144, ZeroSectorsNeedNoRequest)
{
    std::vector<uint8_t> buffer;
    EXPECT_TRUE(drive->ReadSectors(5, 0, buffer));
    EXPECT_TRUE(setup.recorder->log.empty());
}

TEST_F(Drive144, WriteThenReadBackAcrossCylinders)
{
    std::vector<uint8_t> data(40 * 512);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 13);
    ASSERT_TRUE(drive->WriteSectors(30, 40, data));
    std::vector<uint8_t> back(40 * 512);
    ASSERT_TRUE(drive->ReadSectors(30, 40, back));
    EXPECT_EQ(back, data);
    EXPECT_EQ(setup.recorder->Requests(Minor::WriteTrack).size(), 3u) << "6 + 18 + 16 sectors";
}

TEST_F(Drive144, ShortBufferIsRefusedBeforeAnyRequest)
{
    std::vector<uint8_t> buffer(512);
    EXPECT_FALSE(drive->ReadSectors(0, 2, buffer));
    EXPECT_EQ(drive->PendingError(), Err::InsufficientBuffer);
    EXPECT_TRUE(setup.recorder->log.empty());
}

TEST_F(Drive144, DefectiveSectorFailsWithCrcEveryTime)
{
    setup.drive->medium()->defects.insert({3, 1, 5});
    const uint32_t sector = (3 * 2 + 1) * 18 + 4;
    std::vector<uint8_t> buffer(512);
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(drive->ReadSectors(sector, 1, buffer));
        EXPECT_EQ(drive->GetErrorText(), "Bad CRC !");
    }
    EXPECT_TRUE(drive->WriteSectors(sector, 1, buffer)) << "writing over a defect goes unnoticed";
    EXPECT_FALSE(drive->ReadSectors(sector, 1, buffer));
    EXPECT_FALSE(drive->VerifyTrack(3, 1));
    EXPECT_EQ(drive->PendingError(), Err::BadCrc);
}

TEST_F(Drive144, VerifyRetriesUpToThreeTimes)
{
    setup.recorder->FailNext([](const DiskRequest& r) { return r.minor() == Minor::VerifyTrack; }, 1, Err::BadCrc);
    EXPECT_TRUE(drive->VerifyTrack(0, 0));
    EXPECT_EQ(drive->PendingError(), Err::None);
    EXPECT_EQ(setup.recorder->Requests(Minor::VerifyTrack).size(), 2u);

    setup.recorder->log.clear();
    setup.recorder->FailNext([](const DiskRequest& r) { return r.minor() == Minor::VerifyTrack; }, 3, Err::SectorNotFound);
    EXPECT_FALSE(drive->VerifyTrack(1, 0));
    EXPECT_EQ(drive->PendingError(), Err::SectorNotFound);
    EXPECT_EQ(setup.recorder->Requests(Minor::VerifyTrack).size(), 3u);
    EXPECT_EQ(drive->lastSector, 36u);
    const auto block = setup.recorder->Requests(Minor::VerifyTrack)[0].block;
    EXPECT_EQ(block.size(), 7u);
    EXPECT_EQ(TrackBlock::Cylinder(block), 1);
    EXPECT_EQ(TrackBlock::Tracks(block), 0);
}

TEST_F(Drive144, TrackOperationsRefuseCylindersBeyondTheMedia)
{
    EXPECT_FALSE(drive->VerifyTrack(80, 0));
    EXPECT_EQ(drive->TakeError(), Err::EndOfDisk);
    EXPECT_FALSE(drive->FormatTrack(0, 0, false)) << "outside format mode";
    EXPECT_EQ(drive->TakeError(), Err::InvalidFunction);
    drive->BeginFormat();
    EXPECT_FALSE(drive->FormatTrack(80, 0, false));
    EXPECT_EQ(drive->PendingError(), Err::EndOfDisk);
    EXPECT_TRUE(setup.recorder->Requests(Minor::FormatTrack).empty());
}

TEST_F(Drive144, UndeterminedMediaBlocksTransfers)
{
    drive->mediaType = kMediaUnknown;
    std::vector<uint8_t> buffer(512);
    EXPECT_FALSE(drive->ReadSectors(0, 1, buffer));
    EXPECT_EQ(drive->PendingError(), Err::UnrecognizedMedia);
    EXPECT_TRUE(setup.recorder->log.empty());
}

TEST_F(Drive144, OptimizedFormatLaysOutTheSkewAndVerifies)
{
    drive->BeginFormat();
    EXPECT_EQ(setup.drive->lockState(), LockState::Format);
    for (uint16_t c = 0; c < 80; ++c)
        for (uint8_t h = 0; h < 2; ++h)
            ASSERT_TRUE(drive->FormatTrack(c, h, true)) << c << "/" << int(h);
    EXPECT_EQ(SectorOrder(0, 0), StandardTrackOrder(18));
    EXPECT_EQ(SectorOrder(1, 1).front(), 16);
    EXPECT_EQ(SectorOrder(2, 0).front(), 13);
    for (uint16_t c = 0; c < 80; ++c)
        ASSERT_EQ(SectorOrder(c, 0), OptimizedTrackOrder(18, 3, 1, c, 0));
    EXPECT_TRUE(drive->VerifyTrack(79, 1));
    EXPECT_EQ(drive->lastSector, 79u * 36 + 18);
}

TEST_F(Drive144, PlainFormatUsesTheLayoutAlreadySet)
{
    drive->BeginFormat();
    ASSERT_TRUE(drive->FormatTrack(5, 0, true));
    ASSERT_TRUE(drive->FormatTrack(6, 0, false));
    EXPECT_EQ(SectorOrder(6, 0), SectorOrder(5, 0)) << "no new layout was sent";
    EXPECT_TRUE(drive->SetTrackLayout(kStandardLayout, 0));
    ASSERT_TRUE(drive->FormatTrack(7, 0, false));
    EXPECT_EQ(SectorOrder(7, 0), StandardTrackOrder(18));
}

TEST_F(Drive144, FormatRetriesThreeTimesAndKeepsTheError)
{
    drive->BeginFormat();
    setup.drive->medium()->unformattable.insert({4, 0});
    EXPECT_FALSE(drive->FormatTrack(4, 0, false));
    EXPECT_EQ(drive->PendingError(), Err::SectorNotFound);
    EXPECT_EQ(setup.recorder->Requests(Minor::FormatTrack).size(), 3u);
}

TEST_F(Drive144, EndFormatLeavesFormatModeBeforeTheHandedDownWriterRuns)
{
    drive->BeginFormat();
    int calls = 0;
    const DiskStatus written = drive->EndFormat([&](DiskDrive& d) {
        ++calls;
        EXPECT_FALSE(d.formatMode);
        EXPECT_EQ(setup.drive->lockState(), LockState::Level0);
        std::array<uint8_t, kSectorSize> past{};
        return d.ReadSectors(d.params.totalSectors(), 1, past);
    });
    EXPECT_EQ(written.error(), Err::EndOfDisk) << "the writer's failure is the outcome";
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(drive->PendingError(), Err::None) << "a boot sector that failed leaves no pending error";
}

TEST_F(Drive144, WriteProtectedDiskette)
{
    EXPECT_FALSE(drive->IsWriteProtected());
    setup.drive->medium()->writeProtected = true;
    EXPECT_TRUE(drive->IsWriteProtected());
    EXPECT_EQ(drive->PendingError(), Err::None);
    std::vector<uint8_t> buffer(512);
    EXPECT_FALSE(drive->WriteSectors(0, 1, buffer));
    EXPECT_EQ(drive->GetErrorText(), "Write protect Disk !");
}

TEST(DistributionFormat, TwentyOneSectorTracksGoThroughTheBios)
{
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    setup.drive->Insert(EmulatedMedium(MediumDensity::High));
    auto drive = setup.Open();
    ASSERT_TRUE(drive->SelectMedia(kMedia172M, false));
    drive->BeginFormat();
    ASSERT_TRUE(setup.drive->installedTable().has_value());
    EXPECT_EQ(*setup.drive->installedTable(), kDmfParameterTable);
    EXPECT_EQ(drive->mediaType, kMedia172M);
    // Cylinder 0 head 0 went out first as a 1.44M track through the IOCTL.
    ASSERT_EQ(setup.recorder->Requests(Minor::FormatTrack).size(), 1u);

    EXPECT_FALSE(drive->FormatTrack(82, 0, true));
    EXPECT_EQ(drive->TakeError(), Err::EndOfDisk);
    for (uint16_t c = 0; c < 82; ++c)
        for (uint8_t h = 0; h < 2; ++h)
            ASSERT_TRUE(drive->FormatTrack(c, h, false)) << c;
    EXPECT_EQ(drive->lastSector, 1u) << "the BIOS request names sector 1";
    const auto& t = setup.drive->medium()->track(0, 0);
    std::vector<uint16_t> order;
    for (const SectorRecord& s : t.sectors)
        order.push_back(s.number);
    EXPECT_EQ(order, OptimizedTrackOrder(21, 1, 2, 0, 0)) << "optimized order even when not asked";
    EXPECT_EQ(t.sectors[0].data[0], 0xF6) << "the table's filler byte";
    const LoggedRequest& last = setup.recorder->log.back();
    EXPECT_TRUE(last.isBios(Bios::FormatTrack));
    EXPECT_EQ(last.block[0], 81);
    EXPECT_EQ(last.block[1], 1);
    EXPECT_EQ(last.block[2], OptimizedTrackOrder(21, 1, 2, 81, 1)[0]);
    EXPECT_EQ(last.block[3], 2) << "size code of 512-byte sectors";

    EXPECT_TRUE(drive->EndFormat(WriteUnlabelledBootSector)) << "a fresh boot sector is written";
    EXPECT_EQ(drive->PendingError(), Err::None);
    EXPECT_FALSE(setup.drive->installedTable().has_value());
    EXPECT_EQ(setup.drive->lockState(), LockState::Level0);
    std::vector<uint8_t> buffer(3444 * 512);
    EXPECT_TRUE(drive->ReadSectors(0, 3444 - 1, buffer));
}

TEST(DistributionFormat, FailedBiosFormatResetsAndRetries)
{
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    setup.drive->Insert(EmulatedMedium(MediumDensity::High));
    auto drive = setup.Open();
    ASSERT_TRUE(drive->SelectMedia(kMedia168M, false));
    drive->BeginFormat();
    setup.recorder->log.clear();
    setup.recorder->FailNext([](const DiskRequest& r) { return r.controlCode == Control::Int13 && r.biosFunction() == 5; }, 2, 0x04);
    EXPECT_TRUE(drive->FormatTrack(3, 1, true));
    ASSERT_EQ(setup.recorder->log.size(), 5u);
    EXPECT_TRUE(setup.recorder->log[1].isBios(Bios::Reset));
    EXPECT_TRUE(setup.recorder->log[3].isBios(Bios::Reset));
}

TEST(Density, DoubleDensityDisketteWillNotFormatAtHighDensity)
{
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    setup.drive->Insert(EmulatedMedium(MediumDensity::Double));
    auto drive = setup.Open();
    ASSERT_TRUE(drive->SelectMedia(kMedia144M, false));
    drive->BeginFormat();
    EXPECT_FALSE(drive->FormatTrack(0, 0, false));
    EXPECT_EQ(drive->TakeError(), Err::SectorNotFound);
    ASSERT_TRUE(drive->SelectMedia(kMedia720K, false));
    drive->formatMode = true;
    EXPECT_TRUE(drive->FormatTrack(0, 0, false));
}

// A diskette taken out and put back is used again only when it is the same one: another
// one put in meanwhile is refused, so that no copy or comparison mixes the two.
TEST_F(Drive144, ADisketteTakenOutIsTakenBackOnlyWhenItIsTheSameOne)
{
    std::vector<uint8_t> buffer(18 * 512);
    ASSERT_TRUE(drive->ReadSectors(0, 18, buffer));
    std::optional<EmulatedMedium> taken = setup.drive->Eject();
    EXPECT_FALSE(drive->ReadSectors(36, 18, buffer));
    EXPECT_EQ(drive->TakeError(), Err::NotReady);

    std::vector<uint8_t> other = PatternImage(kMedia144M);
    other[100] ^= 1;  // another diskette of the same media, differing in its first sector
    setup.drive->Insert(EmulatedMedium::FromImage(kMedia144M, other));
    EXPECT_FALSE(drive->ReadSectors(36, 18, buffer));
    EXPECT_EQ(drive->TakeError(), Err::InvalidDiskChange);
    std::vector<uint8_t> salvaged(18 * 512, 0xEE);
    EXPECT_EQ(ReadSectorsOneByOne(*drive, 36, salvaged).size(), 18u);
    EXPECT_TRUE(std::all_of(salvaged.begin(), salvaged.end(), [](uint8_t b) { return b == 0; }));

    setup.drive->Insert(std::move(*taken));
    setup.recorder->log.clear();
    ASSERT_TRUE(drive->ReadSectors(36, 18, buffer));
    EXPECT_EQ(setup.recorder->Requests(Minor::ReadTrack).size(), 2u) << "the first sector looked at, then the track";
    const std::vector<uint8_t> image = PatternImage(kMedia144M);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), image.begin() + 36 * 512));
    ASSERT_TRUE(drive->ReadSectors(54, 18, buffer));
    EXPECT_EQ(setup.recorder->Requests(Minor::ReadTrack).size(), 3u) << "and then no more";
}
