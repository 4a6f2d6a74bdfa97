// SPDX-License-Identifier: GPL-3.0-or-later
// The USB floppy drive between retries: REZERO UNIT and SEEK(10) to the first block of a
// cylinder, byte for byte, on the UFI emulator; nothing read on the way.
#include <gtest/gtest.h>

#include "drive/backend/usbfloppy/usbfloppy.h"
#include "support/testdrives.h"
#include "support/ufiemulator.h"

namespace vokta::test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes B(const Ufi::Cdb& cdb)
{
    return Bytes(cdb.begin(), cdb.end());
}

TEST(UsbHeadMoves, CommandBlocksAreByteExact)
{
    EXPECT_EQ(B(Ufi::RezeroUnit()), (Bytes{0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(B(Ufi::Seek10(0x01020304)), (Bytes{0x2B, 0, 1, 2, 3, 4, 0, 0, 0, 0, 0, 0}));
}

TEST(UsbHeadMoves, SeeksGoToTheFirstBlockOfTheCylinderAndReadNothing)
{
    const struct {
        MediaType media;
        uint16_t cylinder;
        bool moves;
        uint32_t lba;
    } cases[] = {
        {kMedia144M, 0, true, 0},    {kMedia144M, 1, true, 36},     {kMedia144M, 79, true, 2844},
        {kMedia144M, 80, false, 0},  {kMedia720K, 40, true, 720},   {kMedia720K, 79, true, 1422},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << GetMediaTypeName(c.media) << " cylinder " << c.cylinder);
        const auto emulator = std::make_shared<UfiEmulator>();
        DriveTable table;
        BindUsbFloppy(table, 'A', emulator);
        emulator->Insert(PatternDiskette(c.media));
        DiskDrive drive('A', table);
        ASSERT_TRUE(drive.SelectMedia(c.media, false));
        std::vector<uint8_t> sector(512);
        ASSERT_TRUE(drive.ReadSectors(c.media == kMedia144M ? 1000 : 500, 1, sector));
        emulator->ClearLog();
        EXPECT_EQ(drive.Service()->SeekHead(c.cylinder), c.moves);
        const auto seeks = emulator->Commands(Ufi::Op::Seek10);
        if (c.moves) {
            ASSERT_EQ(seeks.size(), 1u);
            EXPECT_EQ(B(seeks[0].cdb), B(Ufi::Seek10(c.lba)));
            EXPECT_TRUE(seeks[0].answer == Ufi::Sense{});
            EXPECT_EQ(emulator->headCylinder(), c.cylinder);
        } else {
            EXPECT_TRUE(seeks.empty()) << "a cylinder beyond the diskette is not asked for";
        }
        ASSERT_TRUE(drive.Service()->Recalibrate());
        EXPECT_EQ(emulator->headCylinder(), 0);
        ASSERT_EQ(emulator->Commands(Ufi::Op::RezeroUnit).size(), 1u);
        EXPECT_TRUE(emulator->Commands(Ufi::Op::Read10).empty());
        EXPECT_TRUE(emulator->Commands(Ufi::Op::Verify).empty());
    }
}

TEST(UsbHeadMoves, ADriveWithoutDisketteOrWithoutTheCommandsSaysNo)
{
    const auto emulator = std::make_shared<UfiEmulator>();
    DriveTable table;
    BindUsbFloppy(table, 'A', emulator);
    emulator->Insert(PatternDiskette(kMedia144M));
    DiskDrive drive('A', table);
    ASSERT_TRUE(drive.SelectMedia(kMedia144M, false));
    emulator->failOp = Ufi::Op::RezeroUnit;
    emulator->failNext = Ufi::Sense{Ufi::SenseKey::IllegalRequest, 0x20, 0};
    EXPECT_FALSE(drive.Service()->Recalibrate());
    emulator->failOp = Ufi::Op::Seek10;
    emulator->failNext = Ufi::Sense{Ufi::SenseKey::IllegalRequest, 0x20, 0};
    EXPECT_FALSE(drive.Service()->SeekHead(3));
    emulator->Eject();
    EXPECT_FALSE(drive.Service()->SeekHead(3));
}

}  // namespace
}  // namespace vokta::test
