// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <functional>

#include "drive/diskerror.h"
#include "res/strings.h"
#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::test;

// Each fault of a diskette, made in the emulated drive, as the user reads it from the drive
// object: the request fails with the code the condition stands for, and the code with
// its text. A wrong code or a wrong text both show.
TEST(DiskErrorText, EachFaultOfADisketteReadsAsItsText)
{
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    auto drive = setup.Open();
    EXPECT_FALSE(drive->SelectMedia(kMediaUnknown, false));
    EXPECT_EQ(drive->GetErrorText(), "Drive NOT ready !") << "no diskette";

    setup.drive->Insert(EmulatedMedium(MediumDensity::High));
    EXPECT_FALSE(drive->SelectMedia(kMediaUnknown, false));
    EXPECT_EQ(drive->GetErrorText(), "Unrecognized Media") << "an unformatted diskette";

    EmulatedMedium disk = PatternDiskette(kMedia144M);
    disk.defects.insert({5, 0, 3});
    std::erase_if(disk.track(6, 1).sectors, [](const SectorRecord& s) { return s.number == 4; });
    disk.writeProtected = true;
    setup.drive->Insert(std::move(disk));
    ASSERT_TRUE(drive->SelectMedia(kMediaUnknown, false));
    std::vector<uint8_t> sector(512);
    EXPECT_FALSE(drive->ReadSectors((5 * 2 + 0) * 18 + 2, 1, sector));
    EXPECT_EQ(drive->GetErrorText(), "Bad CRC !") << "a defect";
    EXPECT_FALSE(drive->ReadSectors((6 * 2 + 1) * 18 + 3, 1, sector));
    EXPECT_EQ(drive->GetErrorText(), "Disk Sector NOT found !") << "a sector missing from its track";
    EXPECT_FALSE(drive->WriteSectors(0, 1, sector));
    EXPECT_EQ(drive->GetErrorText(), "Write protect Disk !") << "the tab open";
    // The same tab through the BIOS: its status comes back as the same code.
    EXPECT_FALSE(drive->Int13(Bios::FormatTrack, 0, 0, 1, 18));
    EXPECT_EQ(drive->GetErrorText(), "Write protect Disk !") << "the tab open, to the BIOS";
    drive->BeginFormat();
    EXPECT_FALSE(drive->FormatTrack(80, 0, false));
    EXPECT_EQ(drive->GetErrorText(), "End of Disk Reached !") << "a cylinder beyond the diskette";
}

TEST(DiskErrorText, CodesWithoutATextAreNumbered)
{
    EXPECT_EQ(DiskErrorText(Err::None), "");
    EXPECT_EQ(DiskErrorText(static_cast<DiskError>(31)), "Error number = 31");
    EXPECT_EQ(DiskErrorText(static_cast<DiskError>(0xFFFFFFFE)), "Error number = -2");
}

namespace {

constexpr uint32_t kDefectiveSector = (5 * 2 + 0) * 18 + 2;
constexpr uint32_t kMissingSector = (6 * 2 + 1) * 18 + 3;

// A 1.44M diskette with a defect, a sector missing from its track and the tab open.
EmulatedMedium FaultyDiskette()
{
    EmulatedMedium disk = PatternDiskette(kMedia144M);
    disk.defects.insert({5, 0, 3});
    std::erase_if(disk.track(6, 1).sectors, [](const SectorRecord& s) { return s.number == 4; });
    disk.writeProtected = true;
    return disk;
}

}  // namespace

// Each failing request answers with the error it latched; the latch then refuses the next
// transfer with that same error until it is taken, and once taken nothing is pending.
TEST(DiskStatus, AFailureIsTheOutcomeAndIsLatchedUntilTaken)
{
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    setup.drive->Insert(FaultyDiskette());
    auto drive = setup.Open();
    std::vector<uint8_t> sector(512);
    struct Case {
        const char* what;
        std::function<DiskStatus(DiskDrive&)> request;
        DiskError expected;
    };
    const Case cases[] = {
        {"past the last sector", [&](DiskDrive& d) { return d.ReadSectors(2880, 1, sector); }, Err::EndOfDisk},
        {"a buffer too short", [&](DiskDrive& d) { return d.ReadSectors(0, 2, sector); }, Err::InsufficientBuffer},
        {"a defect", [&](DiskDrive& d) { return d.ReadSectors(kDefectiveSector, 1, sector); }, Err::BadCrc},
        {"a missing sector", [&](DiskDrive& d) { return d.ReadSectors(kMissingSector, 1, sector); },
         Err::SectorNotFound},
        {"the tab open", [&](DiskDrive& d) { return d.WriteSectors(0, 1, sector); }, Err::WriteProtect},
        {"a track beyond the diskette", [](DiskDrive& d) { return d.VerifyTrack(80, 0); }, Err::EndOfDisk},
        {"a format outside format mode", [](DiskDrive& d) { return d.FormatTrack(0, 0, false); },
         Err::InvalidFunction},
        {"the tab open, to the BIOS", [](DiskDrive& d) { return d.Int13(Bios::FormatTrack, 0, 0, 1, 18); },
         Err::WriteProtect},
        {"a media type that does not exist", [](DiskDrive& d) { return d.SelectMedia(99, false); },
         Err::UnrecognizedMedia},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(drive->SelectMedia(kMedia144M, false));
        const DiskStatus status = c.request(*drive);
        EXPECT_FALSE(status);
        EXPECT_EQ(status.error(), c.expected);
        EXPECT_EQ(drive->PendingError(), c.expected);
        EXPECT_EQ(drive->ReadSectors(0, 1, sector).error(), c.expected) << "the latch refuses the next transfer";
        EXPECT_EQ(drive->TakeError(), c.expected);
        EXPECT_EQ(drive->PendingError(), Err::None);
        EXPECT_EQ(drive->TakeError(), Err::None) << "taken once";
    }
    ASSERT_TRUE(drive->SelectMedia(kMedia144M, false));
    EXPECT_TRUE(drive->ReadSectors(0, 1, sector)) << "nothing latched is left to refuse a transfer";
}

// Steps that may each fail all run: a failed one does not refuse the next, the first
// failure is the one told, and nothing stays latched once the scope ends, not even what a
// request outside the steps latched.
TEST(GoOnAfterFailure, EveryStepRunsAndTheFirstFailureIsTold)
{
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    setup.drive->Insert(FaultyDiskette());
    auto drive = setup.Open();
    ASSERT_TRUE(drive->SelectMedia(kMedia144M, false));
    std::vector<uint8_t> sector(512);
    {
        GoOnAfterFailure goOn(*drive);
        EXPECT_FALSE(goOn(drive->ReadSectors(kDefectiveSector, 1, sector)));
        EXPECT_EQ(drive->PendingError(), Err::None) << "a step's failure is taken with the step";
        const DiskStatus second = drive->ReadSectors(kMissingSector, 1, sector);
        EXPECT_EQ(second.error(), Err::SectorNotFound) << "the second step ran, not refused by the first";
        EXPECT_FALSE(goOn(second));
        EXPECT_TRUE(goOn(drive->ReadSectors(0, 1, sector)));
        EXPECT_EQ(goOn.error(), Err::BadCrc);
        (void)drive->WriteSectors(0, 1, sector);
    }
    EXPECT_EQ(drive->PendingError(), Err::None);
    {
        GoOnAfterFailure goOn(*drive);
        EXPECT_EQ(goOn.error(), Err::None);
        (void)drive->VerifyTrack(80, 0);
        EXPECT_EQ(goOn.error(), Err::EndOfDisk) << "a failure latched outside the steps is told too";
    }
    EXPECT_EQ(drive->PendingError(), Err::None);
}

namespace {
struct ItalianLike final : StringTable {
    std::string_view Find(Str id) const override { return id == Str::DriveNotReady ? "Drive NON pronto !" : ""; }
};
}  // namespace

TEST(StringTable, ModuleTextsOverrideEnglishAndMissingOnesFallBack)
{
    ItalianLike module;
    SetResourceModule(&module);
    EXPECT_EQ(DiskErrorText(Err::NotReady), "Drive NON pronto !");
    EXPECT_EQ(DiskErrorText(Err::BadCrc), "Bad CRC !");
    SetResourceModule(nullptr);
    EXPECT_EQ(DiskErrorText(Err::NotReady), "Drive NOT ready !");
}
