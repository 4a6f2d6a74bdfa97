// SPDX-License-Identifier: GPL-3.0-or-later
// Media selection and detection.
#include <gtest/gtest.h>

#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::test;

namespace {

size_t CountVerifies(const RecordingService& d) { return d.Requests(Minor::VerifyTrack).size(); }

std::unique_ptr<DiskDrive> Detect(EmulatedSetup& setup, bool allowTestFormat, bool expected)
{
    auto drive = setup.Open();
    setup.recorder->log.clear();
    EXPECT_EQ(static_cast<bool>(drive->SelectMedia(kMediaUnknown, allowTestFormat)), expected);
    return drive;
}

}  // namespace

TEST(Detection, DoubleDensityInAHighDensityDriveFromReportedParameters)
{
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    setup.drive->Insert(PatternDiskette(kMedia720K));
    auto drive = Detect(setup, false, true);
    EXPECT_EQ(drive->mediaType, kMedia720K);
    EXPECT_EQ(CountVerifies(*setup.recorder), 0u) << "no probe";
    EXPECT_EQ(drive->params.sectorsPerTrack(), 9);
    EXPECT_EQ(drive->params.layoutCount(), 9);
    std::vector<uint8_t> buffer(1440 * 512);
    ASSERT_TRUE(drive->ReadSectors(0, 1440, buffer));
    EXPECT_EQ(buffer, PatternImage(kMedia720K));
}

TEST(Detection, DoubleDensityInADoubleDensityDriveByProbes)
{
    EmulatedSetup setup('A', DriveKind::Floppy35DD);
    setup.drive->Insert(PatternDiskette(kMedia720K));
    auto drive = Detect(setup, false, true);
    EXPECT_EQ(drive->mediaType, kMedia720K);
    EXPECT_EQ(CountVerifies(*setup.recorder), 4u * 3 - 2) << "1.72M, 1.44M, 1.2M fail three times each";
}

TEST(Detection, DamagedBootSectorFallsBackToTheProbes)
{
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    EmulatedMedium disk = PatternDiskette(kMedia144M);
    std::fill(disk.Find(0, 0, 1)->data.begin() + 11, disk.Find(0, 0, 1)->data.begin() + 36, 0x00);
    setup.drive->Insert(std::move(disk));
    auto drive = Detect(setup, false, true);
    EXPECT_EQ(drive->mediaType, kMedia144M);
    const auto verifies = setup.recorder->Requests(Minor::VerifyTrack);
    ASSERT_EQ(verifies.size(), 4u);
    EXPECT_EQ(verifies[3].out.carry(), false);
}

TEST(Detection, DistributionFormatsFromReportedParameters)
{
    for (MediaType t : {kMedia168M, kMedia172M}) {
        EmulatedSetup setup('A', DriveKind::Floppy35HD);
        setup.drive->Insert(PatternDiskette(t));
        auto drive = Detect(setup, false, true);
        EXPECT_EQ(drive->mediaType, t);
        EXPECT_EQ(drive->params.cylinders(), GeometryOf(t)->cylinders);
        std::vector<uint8_t> buffer(512);
        EXPECT_TRUE(drive->ReadSectors(GeometryOf(t)->totalSectors - 1u, 1, buffer));
    }
}

TEST(Detection, UnformattedDisketteWithoutTestFormat)
{
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    setup.drive->Insert(EmulatedMedium(MediumDensity::High));
    auto drive = Detect(setup, false, false);
    EXPECT_EQ(drive->PendingError(), Err::UnrecognizedMedia);
    EXPECT_EQ(drive->mediaType, kMediaUnknown) << "get-device-parameters failed, no probe ran";
    EXPECT_EQ(CountVerifies(*setup.recorder), 0u);
}

TEST(Detection, UnformattedDisketteWithTestFormatTakesTheFirstGeometryThatFormats)
{
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    setup.drive->Insert(EmulatedMedium(MediumDensity::High));
    auto drive = Detect(setup, true, true);
    EXPECT_EQ(drive->mediaType, kMedia172M);
    EXPECT_EQ(drive->PendingError(), Err::None);
    EXPECT_FALSE(drive->formatMode);
    EXPECT_EQ(setup.drive->lockState(), LockState::Level0);
    EXPECT_TRUE(setup.drive->medium()->track(2, 0).formatted());
    EXPECT_EQ(setup.drive->medium()->track(2, 0).sectors.size(), 21u);

    EmulatedSetup dd('A', DriveKind::Floppy35HD);
    dd.drive->Insert(EmulatedMedium(MediumDensity::Double));
    auto ddDrive = Detect(dd, true, true);
    EXPECT_EQ(ddDrive->mediaType, kMedia720K) << "high-density formats fail on a double-density diskette";
}

TEST(Detection, EveryTestFormatFails)
{
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    setup.drive->Insert(EmulatedMedium(MediumDensity::High));
    setup.drive->medium()->writeProtected = true;
    auto drive = Detect(setup, true, false);
    EXPECT_EQ(drive->mediaType, kMediaUnknown);
    EXPECT_EQ(drive->PendingError(), Err::None);
}

TEST(Detection, EmptyDriveIsNotReady)
{
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    auto drive = Detect(setup, true, false);
    EXPECT_EQ(drive->PendingError(), Err::NotReady);
    EXPECT_TRUE(setup.recorder->log.empty());
}

TEST(Detection, NoVerifyProbeMatchesLeavesTheLastCandidate)
{
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    EmulatedMedium disk = PatternDiskette(kMedia144M);
    disk.Find(0, 0, 1)->data[19] = 0x01;  // total sectors 2817: no row
    disk.defects.insert({0, 0, 3});       // and track 0 unreadable
    setup.drive->Insert(std::move(disk));
    auto drive = Detect(setup, false, false);
    EXPECT_EQ(drive->PendingError(), Err::UnrecognizedMedia);
    EXPECT_EQ(drive->mediaType, kMedia720K);
}

TEST(Detection, FixedDiskTakesTheReportedParameters)
{
    EmulatedSetup setup('C', DriveKind::FixedDisk);
    EmulatedMedium disk(MediumDensity::High, 100, 4);
    std::vector<uint8_t> boot = BootSectorFor(kMedia144M);
    PutU16(boot, 19, 0);
    PutU32(boot, 32, 100 * 4 * 32);
    PutU16(boot, 24, 32);
    PutU16(boot, 26, 4);
    boot[21] = 0xF8;
    for (uint16_t c = 0; c < 100; ++c)
        for (uint8_t h = 0; h < 4; ++h)
            for (uint8_t r = 1; r <= 32; ++r)
                disk.track(c, h).sectors.push_back({static_cast<uint8_t>(c), h, r, 2, std::vector<uint8_t>(512), false, false});
    disk.Find(0, 0, 1)->data = boot;
    setup.drive->Insert(std::move(disk));
    auto drive = setup.Open('C');
    ASSERT_TRUE(drive->SelectMedia(kMediaUnknown, false));
    EXPECT_EQ(drive->mediaType, kMediaHardDisk);
    EXPECT_EQ(drive->params.sectorsPerTrack(), 32);
    EXPECT_EQ(drive->params.totalSectors(), 12800u);
    ASSERT_TRUE(drive->SelectMedia(kMediaHardDisk, false));
    EXPECT_EQ(drive->params.heads(), 4);
}

TEST(Detection, ExplicitSelectionSendsTheRowWithTheStandardLayout)
{
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    setup.drive->Insert(PatternDiskette(kMedia144M));
    auto drive = setup.Open();
    ASSERT_TRUE(drive->SelectMedia(kMedia168M, false));
    const auto sets = setup.recorder->Requests(Minor::SetDeviceParams);
    ASSERT_EQ(sets.size(), 1u);
    DeviceParams sent;
    std::copy(sets[0].block.begin(), sets[0].block.end(), sent.bytes.begin());
    EXPECT_EQ(sets[0].block.size(), 296u);
    EXPECT_EQ(sent.u8(0), 5);
    EXPECT_EQ(sent.layoutCount(), 21);
    for (size_t i = 0; i < 21; ++i) {
        EXPECT_EQ(sent.layoutSector(i), i + 1);
        EXPECT_EQ(sent.layoutSize(i), 512);
    }
    EXPECT_EQ(sent.totalSectors(), 3360u);
}
