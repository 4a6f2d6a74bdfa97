// SPDX-License-Identifier: GPL-3.0-or-later
// The volume's layout as the diskette bears it out: which layout is confirmed, from which
// FAT copies, and when none is; and the tracks detection takes from a boot sector.
#include <gtest/gtest.h>

#include <functional>

#include "boot/bootsector.h"
#include "drive/volume.h"
#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::test;

namespace {

constexpr size_t kSector = 512;

struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> edit;
    VolumeDoubt doubt;                  // None: confirmed
    bool fromBootSector = true;
    std::vector<bool> soundCopies = {true, true};
};

// The 1.44M FAT diskette: FATs at 1 and 10, root directory at 19.
const Case kCases[] = {
    {"TheTablesVolume", [](auto&) {}, VolumeDoubt::None},
    {"FirstFatWiped", [](auto& i) { std::fill_n(i.begin() + 1 * kSector, kSector, 0); }, VolumeDoubt::None, true,
     {false, true}},
    {"SecondFatWiped", [](auto& i) { std::fill_n(i.begin() + 10 * kSector, kSector, 0); }, VolumeDoubt::None, true,
     {true, false}},
    {"BothFatsWiped", [](auto& i) { std::fill_n(i.begin() + 1 * kSector, kSector, 0); std::fill_n(i.begin() + 10 * kSector, kSector, 0); },
     VolumeDoubt::NotConfirmed},
    {"SecondFatHoldsSomethingElse", [](auto& i) { std::fill_n(i.begin() + 10 * kSector, kSector, 0x41); },
     VolumeDoubt::NotConfirmed},
    {"FatsOfDifferentMedia", [](auto& i) { i[10 * kSector] = 0xF9; }, VolumeDoubt::NotConfirmed},
    {"RootDirectoryOfText", [](auto& i) { std::fill_n(i.begin() + 19 * kSector, kSector, 'x'); },
     VolumeDoubt::NotConfirmed},
    // A FAT beginning where the layout has the middle of the first copy: the FATs are not
    // where the boot sector says.
    {"FatBeginningInsideTheFirstCopy", [](auto& i) { std::copy_n(i.begin() + kSector, 3, i.begin() + 5 * kSector); },
     VolumeDoubt::NotConfirmed},
    // A damaged boot sector leaves the media table's layout, which the diskette bears out.
    {"BootSectorZeroed", [](auto& i) { std::fill_n(i.begin(), kSector, 0); }, VolumeDoubt::None, false},
    {"FatSizeDamaged", [](auto& i) { PutU16(i, 22, 200); }, VolumeDoubt::None, false},
    {"ReservedSectorsDamaged", [](auto& i) { PutU16(i, 14, 3); }, VolumeDoubt::None, false},
    {"SectorLengthDamaged", [](auto& i) { PutU16(i, 11, 1024); }, VolumeDoubt::None, false},
    // Copies 3 to 5 would lie on the root directory and the data area, empty here: zeros
    // there do not bear out a count no volume has.
    {"FiveFats", [](auto& i) { i[16] = 5; }, VolumeDoubt::None, false},
    {"ThreeFats", [](auto& i) { i[16] = 3; }, VolumeDoubt::None, false},
    // A boot sector's layout that leans on a wiped copy gives way to the table's, whose
    // copies are all there: ten reserved sectors put the first FAT on the second and the
    // second on the empty root directory.
    {"FatsOneCopyLater", [](auto& i) { PutU16(i, 14, 10); }, VolumeDoubt::None, false},
    // What mkfs.fat -S 4096 lays out: the FAT behind a boot sector of 4096 bytes.
    {"SectorsOf4096Bytes",
     [](auto& i) {
         PutU16(i, 11, 4096);
         std::copy_n(i.begin() + kSector, 3, i.begin() + 8 * kSector);
         std::fill_n(i.begin() + 1 * kSector, kSector, 0);
         std::fill_n(i.begin() + 10 * kSector, kSector, 0);
     },
     VolumeDoubt::SectorSize},
};

}  // namespace

TEST(EstablishVolume, EachDiskette)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> image = FatImage(kMedia144M);
        c.edit(image);
        EmulatedSetup setup('A', DriveKind::Floppy35HD);
        setup.drive->Insert(EmulatedMedium::FromImage(kMedia144M, image));
        auto drive = setup.Open();
        ASSERT_TRUE(drive->SelectMedia(kMedia144M, false));
        const VolumeFinding found = EstablishVolume(*drive);
        EXPECT_EQ(found.doubt, c.doubt);
        EXPECT_EQ(found.volume.has_value(), c.doubt == VolumeDoubt::None);
        EXPECT_EQ(drive->PendingError(), Err::None);
        EXPECT_FALSE(setup.drive->modified) << "only reads";
        if (!found.volume)
            continue;
        EXPECT_EQ(found.volume->fromBootSector, c.fromBootSector);
        EXPECT_EQ(found.volume->soundCopies, c.soundCopies);
        EXPECT_EQ(found.volume->mediaDescriptor, 0xF0);
        EXPECT_EQ(found.volume->layout.rootFirstSector, 19u);
        EXPECT_EQ(found.volume->layout.firstDataSector, 33u);
    }
}

TEST(EstablishVolume, UndeterminedMediaReadsNothing)
{
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    setup.drive->Insert(EmulatedMedium::FromImage(kMedia144M, FatImage(kMedia144M)));
    auto drive = setup.Open();
    EXPECT_EQ(EstablishVolume(*drive).doubt, VolumeDoubt::MediaUnknown);
}

// A boot sector's tracks, heads and sector length reach the drive only when the medium has
// them; whatever it states, its sector 0 reads and the boot check names the bad field.
TEST(Detection, StatedGeometryOnlyWhenTheMediumBearsItOut)
{
    struct Row {
        MediaType type;
        uint16_t spt, heads, bytesPerSector;
        std::vector<std::string> lines;
        uint16_t total = 0;  // the table's when 0
    };
    const std::vector<std::string> ok = {"OK."};
    const std::vector<std::string> length = {"Invalid sector length."};
    const Row rows[] = {
        {kMedia144M, 21, 2, 512, {"Invalid number of sectors per track."}},
        {kMedia144M, 18, 1, 512, {"Invalid number of heads."}},
        {kMedia144M, 18, 65535, 512, {"Invalid number of heads."}},
        {kMedia144M, 0, 2, 512, {"Invalid number of sectors per track."}},
        {kMedia144M, 18, 2, 512, ok},
        {kMedia144M, 18, 2, 0, length},
        {kMedia144M, 18, 2, 1024, length},
        {kMedia144M, 18, 2, 256, length},
        {kMedia144M, 21, 2, 1024, length},
        // What mkfs.fat -S 1024 writes on a 1.44M diskette: 1440 sectors, the 720K's count.
        {kMedia144M, 18, 2, 1024, length, 1440},
        {kMedia720K, 9, 2, 512, ok},
        {kMedia720K, 9, 2, 0, length},
        {kMedia720K, 9, 2, 1024, length},
        {kMedia720K, 9, 2, 256, length},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.type) + ": " + std::to_string(r.spt) + " sectors of " +
                     std::to_string(r.bytesPerSector) + " bytes, " + std::to_string(r.heads) + " heads");
        const MediaGeometry medium = *GeometryOf(r.type);
        std::vector<uint8_t> image = FatImage(r.type);
        PutU16(image, 11, r.bytesPerSector);
        if (r.total != 0)
            PutU16(image, 19, r.total);
        PutU16(image, 24, r.spt);
        PutU16(image, 26, r.heads);
        EmulatedSetup setup('A', DriveKind::Floppy35HD);
        setup.drive->Insert(EmulatedMedium::FromImage(r.type, image));
        auto drive = setup.Open();
        ASSERT_TRUE(drive->SelectMedia(kMediaUnknown, false));
        EXPECT_EQ(drive->mediaType, r.type);
        EXPECT_EQ(drive->PendingError(), Err::None);
        EXPECT_EQ(drive->params.sectorsPerTrack(), medium.sectorsPerTrack);
        EXPECT_EQ(drive->params.heads(), medium.heads);
        EXPECT_EQ(drive->params.cylinders(), medium.cylinders);
        EXPECT_EQ(drive->params.bytesPerSector(), 512);
        EXPECT_EQ(drive->params.u8(DeviceParams::SectorsPerCluster), medium.sectorsPerCluster)
            << "the layout stays the boot sector's";
        EXPECT_EQ(BootCheckLines(CheckBootSectorFully(*drive)), r.lines);
    }
}
