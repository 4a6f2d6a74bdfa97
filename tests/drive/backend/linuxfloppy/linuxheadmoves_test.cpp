// SPDX-License-Identifier: GPL-3.0-or-later
// The raw recalibrate and seek of the kernel floppy driver: their command bytes, that they
// move no data, and how their end is read from ST0.
#include <gtest/gtest.h>

#include <linux/fdreg.h>

#include <vector>

#include "drive/backend/linuxfloppy/linuxfloppy.h"

namespace vokta {
namespace {

std::vector<uint8_t> Bytes(const floppy_raw_cmd& c)
{
    return std::vector<uint8_t>(c.cmd, c.cmd + c.cmd_count);
}

TEST(LinuxHeadMoves, CommandsCarryUnitHeadAndTrackAndNoData)
{
    const floppy_raw_cmd recal = RawRecalibrateCommand(5);
    EXPECT_EQ(Bytes(recal), (std::vector<uint8_t>{FD_RECALIBRATE, 1}));
    const floppy_raw_cmd seek = RawSeekCommand(1, 1, 40, false);
    EXPECT_EQ(Bytes(seek), (std::vector<uint8_t>{FD_SEEK, 0x05, 40}));
    EXPECT_EQ(Bytes(RawSeekCommand(0, 0, 39, true)), (std::vector<uint8_t>{FD_SEEK, 0, 78}));
    for (const floppy_raw_cmd& c : {recal, seek}) {
        EXPECT_EQ(c.data, nullptr);
        EXPECT_EQ(c.length, 0);
        EXPECT_EQ(c.flags & (FD_RAW_READ | FD_RAW_WRITE), 0u) << "moves nothing";
        EXPECT_NE(c.flags & FD_RAW_INTR, 0u) << "the end comes as an interrupt the driver senses";
        EXPECT_EQ(c.flags & FD_RAW_NEED_SEEK, 0u) << "the driver's own seek would come first";
    }
}

TEST(LinuxHeadMoves, TheEndOfTheMoveIsReadFromSt0)
{
    const struct {
        const char* name;
        bool recalibrate;
        int replies;
        uint8_t st0;
        bool hardFailure;
        SeekEnd end;
    } cases[] = {
        {"seek ended", false, 2, 0x20, false, SeekEnd::Reached},
        {"recalibrate ended", true, 2, 0x20, false, SeekEnd::Reached},
        {"recalibrate short of track 0", true, 2, 0x70, false, SeekEnd::ShortOfTrack0},
        {"seek with equipment check", false, 2, 0x70, false, SeekEnd::Failed},
        {"no seek end", false, 2, 0x00, false, SeekEnd::Failed},
        {"invalid command", false, 1, 0x80, false, SeekEnd::Failed},
        {"no reply", true, 0, 0x20, false, SeekEnd::Failed},
        {"controller reset", false, 2, 0x20, true, SeekEnd::Failed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        floppy_raw_cmd command = c.recalibrate ? RawRecalibrateCommand(0) : RawSeekCommand(0, 0, 10, false);
        command.reply_count = static_cast<unsigned char>(c.replies);
        command.reply[0] = c.st0;
        if (c.hardFailure)
            command.flags |= FD_RAW_HARDFAILURE;
        EXPECT_EQ(SeekEndOf(command), c.end);
    }
}

}  // namespace
}  // namespace vokta
