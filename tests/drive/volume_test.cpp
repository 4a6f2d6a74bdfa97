// SPDX-License-Identifier: GPL-3.0-or-later
// The volume's layout as the diskette bears it out: which layout is confirmed, from which
// FAT copies, and when none is; and the tracks detection takes from a boot sector.
#include <gtest/gtest.h>

#include <functional>

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

// A boot sector's tracks and heads reach the drive only when the medium has them.
TEST(Detection, StatedGeometryOnlyWhenTheMediumBearsItOut)
{
    struct Geometry {
        uint16_t spt, heads, expectedSpt, expectedHeads, expectedCylinders;
    };
    for (const Geometry g : {Geometry{21, 2, 18, 2, 80}, Geometry{18, 1, 18, 2, 80}, Geometry{18, 65535, 18, 2, 80},
                             Geometry{0, 2, 18, 2, 80}, Geometry{18, 2, 18, 2, 80}}) {
        SCOPED_TRACE(std::to_string(g.spt) + " sectors, " + std::to_string(g.heads) + " heads");
        std::vector<uint8_t> image = FatImage(kMedia144M);
        PutU16(image, 24, g.spt);
        PutU16(image, 26, g.heads);
        EmulatedSetup setup('A', DriveKind::Floppy35HD);
        setup.drive->Insert(EmulatedMedium::FromImage(kMedia144M, image));
        auto drive = setup.Open();
        ASSERT_TRUE(drive->SelectMedia(kMediaUnknown, false));
        EXPECT_EQ(drive->mediaType, kMedia144M);
        EXPECT_EQ(drive->PendingError(), Err::None);
        EXPECT_EQ(drive->params.sectorsPerTrack(), g.expectedSpt);
        EXPECT_EQ(drive->params.heads(), g.expectedHeads);
        EXPECT_EQ(drive->params.cylinders(), g.expectedCylinders);
        EXPECT_EQ(drive->params.u8(DeviceParams::SectorsPerCluster), 1) << "the layout stays the boot sector's";
    }
}
