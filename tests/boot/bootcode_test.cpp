// SPDX-License-Identifier: GPL-3.0-or-later
// The assembled boot code block inside a built boot sector: where its data lies.
#include <gtest/gtest.h>

#include "boot/bootbuilder.h"
#include "boot/bootcode.h"
#include "drive/media.h"

using namespace vokta;

namespace {

std::string Text(const BootSector& s, size_t from, size_t to)
{
    return std::string(s.bytes.begin() + from, s.bytes.begin() + to);
}

}  // namespace

TEST(BootCode, DataAtItsOffsetsInTheSector)
{
    const BootSector s = BuildBootSector(GeometryOf(kMedia144M)->ToParams(), kMedia144M, "", {});
    EXPECT_EQ(s.u8(0), 0xEB);
    EXPECT_EQ(2 + s.u8(1), 62) << "the jump lands on the boot code";
    EXPECT_EQ(Text(s, 414, 416), "\r\n");
    EXPECT_EQ(s.u8(416), 'N');
    EXPECT_EQ(Text(s, 414, 486),
              std::string("\r\nNon-System disk or disk error\r\nReplace and press any key when ready\r\n\0", 72));
    EXPECT_EQ(Text(s, 486, 497), "IO      SYS");
    EXPECT_EQ(Text(s, 497, 508), "MSDOS   SYS");
    EXPECT_EQ(s.u8(508), 0);
    EXPECT_EQ(s.u8(509), 0);
    EXPECT_TRUE(std::equal(kBootCode.begin(), kBootCode.end(), s.bytes.begin() + 62));
}
