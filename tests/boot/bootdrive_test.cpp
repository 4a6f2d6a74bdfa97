// SPDX-License-Identifier: GPL-3.0-or-later
// The boot-sector operations of the drive on the emulated drive: what they send and write.
#include <gtest/gtest.h>

#include "boot/bootbuilder.h"
#include "boot/bootsector.h"
#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::test;

TEST(CheckBootSector, UndeterminedMediaReturnsOneWithoutReading)
{
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    setup.drive->Insert(PatternDiskette(kMedia144M));
    auto drive = setup.Open();
    setup.recorder->log.clear();
    EXPECT_EQ(CheckBootSector(*drive), BootCheck::MediaUnknown);
    EXPECT_EQ(drive->PendingError(), Err::UnrecognizedMedia);
    EXPECT_TRUE(setup.recorder->Requests(Minor::ReadTrack).empty());
}

TEST(CheckBootSector, ReadsSectorZeroOnly)
{
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    setup.drive->Insert(PatternDiskette(kMedia144M));
    auto drive = setup.Open();
    ASSERT_TRUE(drive->SelectMedia(kMediaUnknown, false));
    setup.recorder->log.clear();
    EXPECT_EQ(CheckBootSector(*drive), 0);
    const auto reads = setup.recorder->Requests(Minor::ReadTrack);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(TrackIoBlock::Cylinder(reads[0].block), 0);
    EXPECT_EQ(TrackIoBlock::Head(reads[0].block), 0);
    EXPECT_EQ(TrackIoBlock::FirstSector(reads[0].block), 0);
    EXPECT_EQ(TrackIoBlock::Count(reads[0].block), 1);
}

TEST(CheckBootSector, FailedReadReturnsTwoAndClearsTheError)
{
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    setup.drive->Insert(PatternDiskette(kMedia144M));
    auto drive = setup.Open();
    ASSERT_TRUE(drive->SelectMedia(kMedia144M, false));
    setup.drive->medium()->defects.insert({0, 0, 1});
    EXPECT_EQ(CheckBootSector(*drive), BootCheck::ReadError);
    EXPECT_EQ(drive->PendingError(), Err::None);
    // The drive object stays usable.
    setup.drive->medium()->defects.clear();
    EXPECT_EQ(CheckBootSector(*drive), 0);
}

TEST(CheckBootSector, ReportsTheMaskOfTheSectorOnTheDiskette)
{
    std::vector<uint8_t> image = PatternImage(kMedia144M);
    image[21] = 0xFD;
    image[510] = 0;
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    setup.drive->Insert(EmulatedMedium::FromImage(kMedia144M, image));
    auto drive = setup.Open();
    ASSERT_TRUE(drive->SelectMedia(kMedia144M, false));
    EXPECT_EQ(CheckBootSector(*drive), BootCheck::BadMedia | BootCheck::BadSignature);
}

namespace {

// Friday 6 December 1996, 14:30:45, for every write of the test.
struct FixedClock : ::testing::Test {
    void SetUp() override
    {
        SetLocalClock([] { return LocalTime{1996, 12, 6, 5, 14, 30, 45}; });
    }
    void TearDown() override { SetLocalClock({}); }
};

using BootSectorWrite = FixedClock;
using SystemAreaWrite = FixedClock;

}  // namespace

TEST_F(BootSectorWrite, WritesSectorZeroFromTheSelectedMedia)
{
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    setup.drive->Insert(PatternDiskette(kMedia720K));
    auto drive = setup.Open();
    ASSERT_TRUE(drive->SelectMedia(kMediaUnknown, false));
    setup.recorder->log.clear();
    ASSERT_TRUE(WriteBootSector(*drive, "Backup Disk 7"));

    const auto writes = setup.recorder->Requests(Minor::WriteTrack);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(TrackIoBlock::FirstSector(writes[0].block), 0);
    EXPECT_EQ(TrackIoBlock::Count(writes[0].block), 1);
    const std::vector<uint8_t> image = setup.drive->medium()->ToImage(kMedia720K);
    const std::span<const uint8_t> sector(image.data(), 512);
    EXPECT_EQ(ValidateBootSector(sector), 0);
    EXPECT_EQ(GetU32(sector, 39), 0x9B0D7BEDu);
    EXPECT_EQ(std::string(image.begin() + 43, image.begin() + 54), "BACKUP DISK");
    EXPECT_EQ(GetU16(sector, 19), 1440);
    EXPECT_EQ(image[21], 0xF9);
    EXPECT_TRUE(std::equal(image.begin() + 512, image.end(), PatternImage(kMedia720K).begin() + 512))
        << "nothing but sector 0 changes";
}

TEST_F(BootSectorWrite, UndeterminedMediaWritesNothing)
{
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    setup.drive->Insert(PatternDiskette(kMedia144M));
    auto drive = setup.Open();
    EXPECT_FALSE(WriteBootSector(*drive, "x"));
    EXPECT_EQ(drive->PendingError(), Err::UnrecognizedMedia);
    EXPECT_FALSE(WriteSystemArea(*drive, "x"));
    EXPECT_EQ(drive->PendingError(), Err::UnrecognizedMedia);
    EXPECT_TRUE(setup.recorder->Requests(Minor::WriteTrack).empty());
    EXPECT_FALSE(setup.drive->modified);
}

TEST_F(BootSectorWrite, WriteProtectedDisketteFailsWithItsError)
{
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    EmulatedMedium medium = PatternDiskette(kMedia144M);
    medium.writeProtected = true;
    setup.drive->Insert(std::move(medium));
    auto drive = setup.Open();
    ASSERT_TRUE(drive->SelectMedia(kMedia144M, false));
    EXPECT_FALSE(WriteBootSector(*drive, ""));
    EXPECT_EQ(drive->PendingError(), Err::WriteProtect);
}

TEST_F(SystemAreaWrite, DistributionFormatAreaIsEightSectorsInOneRequest)
{
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    setup.drive->Insert(PatternDiskette(kMedia168M));
    auto drive = setup.Open();
    ASSERT_TRUE(drive->SelectMedia(kMediaUnknown, false));
    ASSERT_EQ(drive->mediaType, kMedia168M);
    setup.recorder->log.clear();
    ASSERT_TRUE(WriteSystemArea(*drive, "dmf"));

    const auto writes = setup.recorder->Requests(Minor::WriteTrack);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(TrackIoBlock::FirstSector(writes[0].block), 1);
    EXPECT_EQ(TrackIoBlock::Count(writes[0].block), 8);
    const std::vector<uint8_t> image = setup.drive->medium()->ToImage(kMedia168M);
    const std::vector<uint8_t> before = PatternImage(kMedia168M);
    EXPECT_EQ(image[512], 0xF0);
    EXPECT_EQ(image[4 * 512], 0xF0) << "second FAT copy after 3 sectors";
    EXPECT_EQ(std::string(image.begin() + 7 * 512, image.begin() + 7 * 512 + 11), "DMF        ");
    EXPECT_EQ(image[7 * 512 + 11], 0x28);
    EXPECT_TRUE(std::all_of(image.begin() + 8 * 512, image.begin() + 9 * 512, [](uint8_t b) { return b == 0; }))
        << "the first data sector is cleared";
    EXPECT_TRUE(std::equal(image.begin() + 9 * 512, image.end(), before.begin() + 9 * 512));
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 512, before.begin())) << "boot sector untouched";
}

TEST_F(SystemAreaWrite, FollowsTheBootSectorItBuildsNotTheOldParameters)
{
    EmulatedSetup setup('A', DriveKind::Floppy35DD);
    setup.drive->Insert(PatternDiskette(kMedia720K));
    auto drive = setup.Open();
    ASSERT_TRUE(drive->SelectMedia(kMediaUnknown, false));
    // As a damaged boot sector would report them: one FAT, a media byte the check refuses.
    drive->params.setU8(DeviceParams::FatCount, 1);
    drive->params.setU8(DeviceParams::MediaDescriptor, 0xFD);
    ASSERT_TRUE(WriteSystemArea(*drive, ""));

    const std::vector<uint8_t> image = setup.drive->medium()->ToImage(kMedia720K);
    for (const size_t fat : {size_t{512}, size_t{4 * 512}})
        EXPECT_EQ(image[fat], 0xF9) << "two copies with the media table's byte, at " << fat;
    EXPECT_TRUE(std::all_of(image.begin() + 7 * 512, image.begin() + 15 * 512, [](uint8_t b) { return b == 0; }))
        << "the root directory and the first data sector";
}
