#include <gtest/gtest.h>

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
    EXPECT_EQ(DiskErrorText(0), "");
    EXPECT_EQ(DiskErrorText(31), "Error number = 31");
    EXPECT_EQ(DiskErrorText(0xFFFFFFFE), "Error number = -2");
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
    EXPECT_EQ(DiskErrorText(21), "Drive NON pronto !");
    EXPECT_EQ(DiskErrorText(23), "Bad CRC !");
    SetResourceModule(nullptr);
    EXPECT_EQ(DiskErrorText(21), "Drive NOT ready !");
}
