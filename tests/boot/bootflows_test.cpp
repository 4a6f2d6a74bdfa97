// SPDX-License-Identifier: GPL-3.0-or-later
// The Boot page's check and recreate workers against the emulated drive.
#include <gtest/gtest.h>

#include "boot/bootbuilder.h"
#include "boot/bootsector.h"
#include "support/testdrives.h"
#include "boot/scriptedreporter.h"

using namespace vokta;
using namespace vokta::test;

namespace {

struct BootFlow : ::testing::Test {
    EmulatedSetup setup{'A', DriveKind::Floppy35HD};
    ScriptedReporter page;
    BootJob job{"A:  FLOPPY 3\xBD 1.44M", {"error.wav", "done.wav"}};

    void InsertImage(const std::vector<uint8_t>& image, bool writeProtected = false)
    {
        EmulatedMedium medium = EmulatedMedium::FromImage(kMedia144M, image);
        medium.writeProtected = writeProtected;
        setup.drive->Insert(std::move(medium));
    }

    std::vector<uint8_t> SectorZero() const
    {
        const std::vector<uint8_t> image = setup.drive->medium()->ToImage(kMedia144M);
        return {image.begin(), image.begin() + 512};
    }
};

}  // namespace

TEST_F(BootFlow, AllZeroBootSectorListsNineLines)
{
    std::vector<uint8_t> image = PatternImage(kMedia144M);
    std::fill_n(image.begin(), 512, 0);
    InsertImage(image);
    EXPECT_TRUE(RunBootCheck(job, page, setup.table));
    EXPECT_EQ(page.results, (std::vector<std::string>{
                                "Invalid final signature.", "Invalid initial op codes.",
                                "Invalid sector length.", "Invalid begin sector number.",
                                "Invalid number of FATs.", "Invalid extended boot signature.",
                                "Invalid media code.", "Invalid file system name.",
                                "Invalid total number of sectors."}));
    EXPECT_EQ(page.sounds, std::vector<std::string>{"error.wav"});
    EXPECT_EQ(page.state(), "Boot Checked !");
    EXPECT_FALSE(setup.drive->modified);
}

TEST_F(BootFlow, WrongMediaCodeOnlyListsThatLine)
{
    std::vector<uint8_t> image = PatternImage(kMedia144M);
    image[21] = 0xFD;
    InsertImage(image);
    RunBootCheck(job, page, setup.table);
    EXPECT_EQ(page.events, (std::vector<std::string>{
                               "actions: off", "state: Checking Disk media ...",
                               "state: Checking Boot Sector ...", "result: Invalid media code.",
                               "sound: error.wav", "state: Boot Checked !", "actions: on"}));
}

TEST_F(BootFlow, GoodBootSectorIsOk)
{
    InsertImage(PatternImage(kMedia144M));
    RunBootCheck(job, page, setup.table);
    EXPECT_EQ(page.results, std::vector<std::string>{"OK."});
    EXPECT_EQ(page.sounds, std::vector<std::string>{"done.wav"});
    EXPECT_EQ(page.state(), "Boot Checked !");
}

TEST_F(BootFlow, EmptyDriveFailsTheCheck)
{
    RunBootCheck(job, page, setup.table);
    EXPECT_EQ(page.results, std::vector<std::string>{"Media UNKNOWN or Drive NOT Ready."});
    EXPECT_EQ(page.state(), "Check failed !");
    EXPECT_EQ(page.sounds, std::vector<std::string>{"error.wav"});
    EXPECT_EQ(page.events.back(), "actions: on");
}

TEST_F(BootFlow, UnreadableBootSectorCannotBeChecked)
{
    InsertImage(PatternImage(kMedia144M));
    // Detection reads the parameters; the check's own read is the first track read.
    setup.recorder->FailNext([](const DiskRequest& r) { return r.minor() == Minor::ReadTrack; }, 1, Err::BadCrc);
    RunBootCheck(job, page, setup.table);
    EXPECT_EQ(page.results, std::vector<std::string>{"Read error."});
    EXPECT_EQ(page.state(), "Cannot Check !");
    EXPECT_TRUE(page.sounds.empty());
    EXPECT_TRUE(page.boxes.empty());
}

TEST_F(BootFlow, DriveLockedElsewhereIsReportedAndNothingElse)
{
    InsertImage(PatternImage(kMedia144M));
    setup.drive->lockedElsewhere = true;
    RunBootRecreate(job, page, setup.table);
    ASSERT_EQ(page.boxes.size(), 1u);
    EXPECT_EQ(page.boxes[0].text, "Drive is Locked !");
    EXPECT_EQ(page.boxes[0].caption, "Fatal Error");
    EXPECT_EQ(page.boxes[0].icon, Icon::Error);
    EXPECT_EQ(page.boxes[0].buttons, Buttons::Ok);
    EXPECT_EQ(page.state(), "Checking Disk media ...");
    EXPECT_TRUE(page.results.empty());
    EXPECT_EQ(page.events.back(), "actions: on");
    EXPECT_FALSE(setup.drive->modified);
}

TEST_F(BootFlow, RecreateWritesAGoodBootSectorWithTheVolumesOwnLabel)
{
    std::vector<uint8_t> image = FatImage(kMedia144M);
    const size_t root = 19 * 512;
    std::fill_n(image.begin() + root, 32, 0xE5);  // a deleted entry before the label's
    PutVolumeLabelEntry(std::span(image).subspan(root + 32, 32), "KEPT       ", {});
    image[510] = 0;
    image[21] = 0xFD;
    InsertImage(image);
    RunBootRecreate(job, page, setup.table);
    EXPECT_EQ(page.events, (std::vector<std::string>{
                               "actions: off", "state: Checking Disk media ...",
                               "state: Writing Boot Sector ...", "state: Write OK.",
                               "sound: done.wav", "actions: on"}));
    const std::vector<uint8_t> sector = SectorZero();
    EXPECT_EQ(ValidateBootSector(sector), 0);
    EXPECT_EQ(std::string(sector.begin() + 43, sector.begin() + 54), "KEPT       ");
    EXPECT_EQ(sector[21], 0xF0) << "the media table's descriptor replaces one the check refuses";
}

TEST_F(BootFlow, RecreateOnAWriteProtectedDiskette)
{
    InsertImage(FatImage(kMedia144M), true);
    RunBootRecreate(job, page, setup.table);
    ASSERT_EQ(page.boxes.size(), 1u);
    EXPECT_EQ(page.boxes[0].text, "Write protect Disk !");
    EXPECT_EQ(page.boxes[0].caption, "Fatal Error");
    EXPECT_EQ(page.state(), "Write Failed !");
    EXPECT_TRUE(page.sounds.empty());
    const std::vector<uint8_t> before = FatImage(kMedia144M);
    EXPECT_EQ(SectorZero(), std::vector<uint8_t>(before.begin(), before.begin() + 512));
}

TEST_F(BootFlow, RecreateWriteFailureOnAWritableDiskette)
{
    InsertImage(FatImage(kMedia144M));
    setup.recorder->FailNext([](const DiskRequest& r) { return r.minor() == Minor::WriteTrack; }, 1,
                          Err::SectorNotFound);
    RunBootRecreate(job, page, setup.table);
    ASSERT_EQ(page.boxes.size(), 1u);
    EXPECT_EQ(page.boxes[0].text, "Cannot Repair Boot Sector !\n" + DiskErrorText(Err::SectorNotFound))
        << "the write's own error beneath";
    EXPECT_EQ(page.state(), "Write Failed !");
}

TEST_F(BootFlow, RecreateOnAnEmptyDrive)
{
    RunBootRecreate(job, page, setup.table);
    EXPECT_EQ(page.events, (std::vector<std::string>{
                               "actions: off", "state: Checking Disk media ...", "state: Failed !",
                               "result: Media UNKNOWN or Drive NOT Ready.", "sound: error.wav",
                               "actions: on"}));
}
