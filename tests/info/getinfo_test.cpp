// SPDX-License-Identifier: GPL-3.0-or-later
// Get Info on an emulated drive: the locked drive, the missing diskette, the diskette of
// no known media and the unreadable boot sector each end the report their own way.
#include <gtest/gtest.h>

#include "info/inforeport.h"
#include "res/strings.h"
#include "support/scriptedhost.h"
#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::test;

namespace {

struct GetInfoOnEmulatedDrive : ::testing::Test {
    EmulatedSetup setup{'A', DriveKind::Floppy35HD};
    ScriptedHost host;

    void InsertFatDiskette() { setup.drive->Insert(EmulatedMedium::FromImage(kMedia144M, FatImage(kMedia144M))); }
};

TEST_F(GetInfoOnEmulatedDrive, FatDisketteGivesEveryLine)
{
    InsertFatDiskette();
    const InfoResult info = GetInfo('A', setup.table, host);
    EXPECT_EQ(info.outcome, InfoOutcome::Done);
    ASSERT_EQ(info.lines.size(), 27u);
    EXPECT_EQ(info.lines[3], "Physical Device = 1.44MB Floppy, removable disk.");
    // Nothing is mounted here: the free space is counted from the empty FAT.
    EXPECT_EQ(info.lines[8], "Free Disk Space = 1.458 MB");
    EXPECT_TRUE(host.BoxTexts().empty());
}

TEST_F(GetInfoOnEmulatedDrive, DriveLockedByAnotherProgramIsFatal)
{
    InsertFatDiskette();
    setup.drive->lockedElsewhere = true;
    const InfoResult info = GetInfo('A', setup.table, host);
    EXPECT_EQ(info.outcome, InfoOutcome::NoDrive);
    EXPECT_TRUE(info.lines.empty());
    ASSERT_EQ(host.Count(HostEvent::Box), 1);
    EXPECT_EQ(host.Of(HostEvent::Box)[0].caption, LoadString(Str::FatalError));
    EXPECT_EQ(host.Of(HostEvent::Box)[0].text.rfind("Drive is Locked !", 0), 0u) << host.Of(HostEvent::Box)[0].text;
}

TEST_F(GetInfoOnEmulatedDrive, MissingDisketteIsAskedForUntilCancelled)
{
    host.answers = {Answer::Ok, Answer::Ok, Answer::Cancel};
    const InfoResult info = GetInfo('A', setup.table, host);
    EXPECT_EQ(info.outcome, InfoOutcome::Cancelled);
    EXPECT_TRUE(info.lines.empty());
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>(3, LoadString(Str::InsertDisk)));
}

TEST_F(GetInfoOnEmulatedDrive, UnformattedDisketteGivesTheMediaErrorLine)
{
    setup.drive->Insert(EmulatedMedium(MediumDensity::High));
    const InfoResult info = GetInfo('A', setup.table, host);
    EXPECT_EQ(info.outcome, InfoOutcome::MediaUnknown);
    EXPECT_EQ(info.lines, std::vector<std::string>{LoadString(Str::CannotEstablishMedia)});
}

TEST_F(GetInfoOnEmulatedDrive, UnreadableBootSectorEndsTheReportAfterTheLabel)
{
    InsertFatDiskette();
    // Sector 0 reads fail once the media is established: the label still comes first.
    setup.recorder->faultHook = [](const DiskRequest& r) -> std::optional<InjectedFault> {
        if (r.controlCode == Control::DosIoctl && r.minor() == Minor::ReadTrack && TrackIoBlock::Cylinder(r.block) == 0 &&
            TrackIoBlock::Head(r.block) == 0 && TrackIoBlock::FirstSector(r.block) == 0)
            return InjectedFault{false, Err::BadCrc};
        return std::nullopt;
    };
    const InfoResult info = GetInfo('A', setup.table, host);
    EXPECT_EQ(info.outcome, InfoOutcome::Done);
    ASSERT_EQ(info.lines.size(), 2u);
    EXPECT_EQ(info.lines[0], "Volume Label = <none>");
    EXPECT_EQ(info.lines[1], LoadString(Str::CannotReadBootSector));
}

TEST(SavedReport, HeadingDriveAndLinesInCrLfAndCodePage1252)
{
    EXPECT_EQ(SavedReport("A:  [1.44MB]", {"Volume Label = \u00C9T\u00C9", "Detected Media = 1.44M (DS HD)"}),
              "-------------- Vokta Information report --------------\r\n"
              "Drive = A:\r\n"
              "Volume Label = \xC9T\xC9\r\n"
              "Detected Media = 1.44M (DS HD)\r\n");
    // A report left empty by a page shown again still saves its heading and drive.
    EXPECT_EQ(SavedReport("B:", {}), "-------------- Vokta Information report --------------\r\nDrive = B:\r\n");
}

}  // namespace
