// SPDX-License-Identifier: GPL-3.0-or-later
// The volume label service on emulated drives: where the label lands in the root
// directory and the boot sector, what a refusal leaves on the diskette (nothing), and
// answers on damaged root directories.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "boot/localclock.h"
#include "drive/diskerror.h"
#include "fat/fatdisk.h"
#include "fat/volumelabel.h"
#include "res/strings.h"
#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::test;

namespace {

constexpr size_t kBootLabel = 43;
constexpr uint8_t kLongName = 0x0F;
constexpr uint8_t kLabelAttribute = 0x28;
constexpr uint8_t kArchive = 0x20;

std::string Name(std::span<const uint8_t> entry)
{
    return std::string(entry.begin(), entry.begin() + 11);
}

struct LabelService : ::testing::Test {
    EmulatedSetup setup{'A', DriveKind::Floppy35HD};
    FatDisk disk{kMedia144M};

    // Friday 6 December 1996, 14:30:59.
    void SetUp() override { SetLocalClock([] { return LocalTime{1996, 12, 6, 5, 14, 30, 59}; }); }
    void TearDown() override { SetLocalClock({}); }

    void Insert() { setup.drive->Insert(EmulatedMedium::FromImage(disk.type, disk.bytes)); }
    FatDisk OnDiskette() const { return FatDisk(disk.type, setup.drive->medium()->ToImage(disk.type)); }
    std::string BootLabel() const
    {
        const std::vector<uint8_t> image = setup.drive->medium()->ToImage(disk.type);
        return Name(std::span(image).subspan(kBootLabel));
    }

    LabelChange Set(const std::string& label) { return SetVolumeLabel('A', label, setup.table); }
    std::optional<std::string> Get() { return GetVolumeLabel('A', setup.table); }

    void ExpectUnchanged()
    {
        EXPECT_TRUE(OnDiskette().bytes == disk.bytes) << "a refusal changed the diskette";
    }
};

TEST_F(LabelService, CreatesTheEntryInTheFirstFreeSlot)
{
    disk.AddEntry(0, "GONE    TXT", kArchive, 0)[0] = 0xE5;
    disk.AddEntry(0, "README  TXT", kArchive, 0);
    Insert();
    ASSERT_EQ(Get(), "");

    const LabelChange change = Set("data");
    ASSERT_TRUE(change.done) << change.reason;
    EXPECT_EQ(change.reason, "");

    FatDisk after = OnDiskette();
    std::vector<uint8_t> expected(32, 0);
    std::copy_n("DATA       ", 11, expected.begin());
    expected[11] = kLabelAttribute;
    PutU16(expected, 22, 14 * 2048 + 30 * 32 + 29);
    PutU16(expected, 24, (1996 - 1980) * 512 + 12 * 32 + 6);
    EXPECT_TRUE(std::ranges::equal(after.RootEntry(0), expected)) << "the deleted entry's slot is the first free one";
    EXPECT_EQ(Name(after.RootEntry(1)), "README  TXT");
    EXPECT_EQ(after.RootEntry(2)[0], 0) << "the end mark stays where it was";
    EXPECT_EQ(BootLabel(), "DATA       ");
    EXPECT_EQ(Get(), "DATA");
}

TEST_F(LabelService, ReplacesTheLabelEntryInPlaceAndRemovesIt)
{
    disk.AddEntry(0, "README  TXT", kArchive, 0);
    disk.AddEntry(0, "OLD        ", kLabelAttribute, 0);
    disk.AddEntry(0, "NOTES   TXT", kArchive, 0);
    Insert();
    ASSERT_EQ(Get(), "OLD");

    ASSERT_TRUE(Set("New one").done);
    FatDisk after = OnDiskette();
    EXPECT_EQ(Name(after.RootEntry(1)), "NEW ONE    ");
    EXPECT_EQ(after.RootEntry(1)[11], kLabelAttribute);
    EXPECT_EQ(Name(after.RootEntry(2)), "NOTES   TXT");
    EXPECT_EQ(after.RootEntry(3)[0], 0) << "no second entry was made";
    EXPECT_EQ(Get(), "NEW ONE");

    ASSERT_TRUE(Set("").done);
    after = OnDiskette();
    EXPECT_EQ(after.RootEntry(1)[0], 0xE5);
    EXPECT_EQ(Name(after.RootEntry(2)), "NOTES   TXT");
    EXPECT_EQ(BootLabel(), "NO NAME    ") << "the boot sector's \"NO NAME\" is not a label";
    EXPECT_EQ(Get(), "");
}

TEST_F(LabelService, BlanksAloneRemoveTheLabel)
{
    disk.AddEntry(0, "OLD        ", kLabelAttribute, 0);
    Insert();
    ASSERT_TRUE(Set("   ").done);
    EXPECT_EQ(OnDiskette().RootEntry(0)[0], 0xE5);
    EXPECT_EQ(Get(), "");
}

TEST_F(LabelService, LongNamePiecesAreNoLabel)
{
    // A long-name piece carries the volume-label bit among its 0Fh.
    disk.AddEntry(0, std::string_view("\x41l\0o\0n\0g\0.\0", 11), kLongName, 0);
    disk.AddEntry(0, "LONG    TXT", kArchive, 0);
    Insert();
    EXPECT_EQ(Get(), "");
    ASSERT_TRUE(Set("FIRST").done);
    EXPECT_EQ(OnDiskette().RootEntry(0)[11], kLongName);
    EXPECT_EQ(Name(OnDiskette().RootEntry(2)), "FIRST      ");

    // And one before the label does not hide it.
    ASSERT_EQ(Get(), "FIRST");
    ASSERT_TRUE(Set("SECOND").done);
    EXPECT_EQ(Name(OnDiskette().RootEntry(2)), "SECOND     ");
    EXPECT_EQ(OnDiskette().RootEntry(0)[11], kLongName);
    EXPECT_EQ(OnDiskette().RootEntry(3)[0], 0);
}

TEST_F(LabelService, CodePageCharactersGoToTheDisketteAsOneByteEach)
{
    Insert();
    ASSERT_TRUE(Set("été").done);
    EXPECT_EQ(Name(OnDiskette().RootEntry(0)), "\xE9T\xE9        ");
    EXPECT_EQ(BootLabel(), "\xE9T\xE9        ");
    EXPECT_EQ(Get(), "éTé");

    // E5h as a name's first byte would mark the entry deleted: FAT keeps it as 05h.
    ASSERT_TRUE(Set("åre").done);
    EXPECT_EQ(Name(OnDiskette().RootEntry(0)), "\x05RE        ");
    EXPECT_EQ(BootLabel(), "\xE5RE        ");
    EXPECT_EQ(Get(), "åRE");
}

TEST_F(LabelService, BootSectorWithoutTheExtendedFieldsKeepsItsBytes)
{
    disk.bytes[38] = 0;
    Insert();
    ASSERT_TRUE(Set("ONLYROOT").done);
    const FatDisk after = OnDiskette();
    EXPECT_TRUE(std::equal(after.bytes.begin(), after.bytes.begin() + 512, disk.bytes.begin()));
    EXPECT_EQ(Get(), "ONLYROOT");
}

TEST_F(LabelService, InvalidLabelsAreRefusedBeforeTheDriveIsAsked)
{
    Insert();
    const LabelChange star = Set("A*B");
    EXPECT_FALSE(star.done);
    EXPECT_EQ(star.reason, LoadString(Str::InvalidLabelLetter));
    const LabelChange twelve = Set("ABCDEFGHIJKL");
    EXPECT_FALSE(twelve.done);
    EXPECT_EQ(twelve.reason, LoadString(Str::LabelTooLong));
    EXPECT_EQ(Set("ABCDEFGHIJé").reason, "") << "eleven characters, one of them two bytes in UTF-8";
    setup.recorder->log.clear();
    EXPECT_FALSE(Set("\xFF\xFE").done) << "not UTF-8";
    EXPECT_TRUE(setup.recorder->log.empty());
}

TEST_F(LabelService, FullRootDirectoryChangesNothing)
{
    FatDisk dmf(kMedia168M);  // 16 root entries
    for (int i = 0; i < 16; ++i)
        dmf.AddEntry(0, "FILE" + std::to_string(10 + i) + "  TXT", kArchive, 0);
    disk = dmf;
    Insert();
    const LabelChange change = Set("FULL");
    EXPECT_FALSE(change.done);
    EXPECT_EQ(change.reason, LoadString(Str::RootDirectoryFull));
    ExpectUnchanged();
    EXPECT_EQ(Get(), "");
}

TEST_F(LabelService, WriteProtectedDisketteChangesNothing)
{
    disk.AddEntry(0, "OLD        ", kLabelAttribute, 0);
    for (const bool extendedBoot : {true, false}) {
        SCOPED_TRACE(extendedBoot ? "boot sector written first" : "root directory written first");
        disk.bytes[38] = extendedBoot ? 0x29 : 0;
        Insert();
        setup.drive->medium()->writeProtected = true;
        const LabelChange change = Set("NEW");
        EXPECT_FALSE(change.done);
        EXPECT_TRUE(change.reason.starts_with(DiskErrorText(Err::WriteProtect))) << change.reason;
        ExpectUnchanged();
        EXPECT_EQ(Get(), "OLD");
    }
}

TEST_F(LabelService, FailedRootDirectoryWritePutsTheBootSectorBack)
{
    disk.AddEntry(0, "OLD        ", kLabelAttribute, 0);
    Insert();
    const uint32_t rootSector = disk.rootSector;  // 19: cylinder 0, head 1, sector 2
    setup.recorder->FailNext(
        [=](const DiskRequest& r) {
            return r.controlCode == Control::DosIoctl && r.minor() == Minor::WriteTrack &&
                   TrackIoBlock::Cylinder(r.block) == 0 && TrackIoBlock::Head(r.block) == 1 &&
                   TrackIoBlock::FirstSector(r.block) == rootSector - 18;
        },
        1, CodeOf(Err::SectorNotFound));
    const LabelChange change = Set("NEW");
    EXPECT_FALSE(change.done);
    EXPECT_TRUE(change.reason.starts_with(DiskErrorText(Err::SectorNotFound))) << change.reason;
    ExpectUnchanged();
}

TEST_F(LabelService, WithoutDisketteNothingIsRead)
{
    const LabelReading reading = ReadVolumeLabel('A', setup.table);
    EXPECT_EQ(reading.label, std::nullopt);
    EXPECT_NE(reading.reason, "");
    const LabelChange change = Set("NEW");
    EXPECT_FALSE(change.done);
    EXPECT_EQ(change.reason, reading.reason);
    EXPECT_EQ(GetVolumeLabel('B', setup.table), std::nullopt) << "no drive at all";
}

TEST_F(LabelService, DisketteWithoutFatIsRefused)
{
    disk.bytes = PatternImage(kMedia144M);
    Insert();
    const LabelReading reading = ReadVolumeLabel('A', setup.table);
    EXPECT_EQ(reading.label, std::nullopt);
    EXPECT_EQ(reading.reason, LoadString(Str::NoFatOnDiskette));
    EXPECT_EQ(Set("NEW").reason, LoadString(Str::NoFatOnDiskette));
    ExpectUnchanged();
}

TEST_F(LabelService, UnprintableLabelBytesReadAsReplacementCharacters)
{
    disk.AddEntry(0, std::string_view("\x01" "A\x7F\x81" "B\0\0      ", 11), kLabelAttribute, 0);
    Insert();
    EXPECT_EQ(Get(), "\uFFFDA\uFFFD\uFFFDB") << "zeros after the name pad it";
}

TEST_F(LabelService, SecondLabelOfADamagedDirectoryIsDeleted)
{
    disk.AddEntry(0, "FIRST      ", kLabelAttribute, 0);
    disk.AddEntry(0, "SECOND     ", 0x08, 0);
    Insert();
    EXPECT_EQ(Get(), "FIRST");
    ASSERT_TRUE(Set("ONE").done);
    EXPECT_EQ(Name(OnDiskette().RootEntry(0)), "ONE        ");
    EXPECT_EQ(OnDiskette().RootEntry(1)[0], 0xE5);
}

TEST_F(LabelService, TakingTheEndMarkKeepsWhatLiesBeyondItOutOfTheDirectory)
{
    disk.AddEntry(0, "README  TXT", kArchive, 0);
    PutName(disk.RootEntry(2), "STALE   BIN");  // behind the end mark in entry 1
    Insert();
    ASSERT_TRUE(Set("TAKEN").done);
    EXPECT_EQ(Name(OnDiskette().RootEntry(1)), "TAKEN      ");
    EXPECT_EQ(OnDiskette().RootEntry(2)[0], 0);
}

TEST_F(LabelService, RootDirectoryWithoutEndMarkOrFreeSlot)
{
    // Every entry used, with attributes no entry has: directory and label bits together.
    for (size_t i = 0; i < 224; ++i) {
        PutName(disk.RootEntry(i), "JUNK    BIN");
        disk.RootEntry(i)[11] = 0xFF;
    }
    Insert();
    EXPECT_EQ(Get(), "");
    EXPECT_EQ(Set("NEW").reason, LoadString(Str::RootDirectoryFull));
    ExpectUnchanged();
}

TEST_F(LabelService, RandomRootDirectoriesGetAnAnswer)
{
    std::mt19937 random(1996);
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        FatDisk noisy(kMedia144M);
        for (size_t i = 0; i < 224 * 32; ++i)
            noisy.bytes[noisy.rootSector * 512 + i] = static_cast<uint8_t>(random());
        // Some rounds with free slots and end marks among the noise.
        for (size_t i = 0; i < static_cast<size_t>(round % 4); ++i)
            noisy.RootEntry(random() % 224)[0] = i % 2 ? 0xE5 : 0x00;
        disk = noisy;
        Insert();
        ASSERT_TRUE(Get().has_value());
        const LabelChange change = Set("FUZZ");
        // Noise is no root directory a label may be written into, free slot or not.
        if (change.done) {
            EXPECT_EQ(Get(), "FUZZ");
        } else {
            EXPECT_TRUE(change.reason == LoadString(Str::RootDirectoryFull) ||
                        change.reason == LoadString(Str::LayoutNotConfirmed))
                << change.reason;
            ExpectUnchanged();
        }
    }
}

}  // namespace
