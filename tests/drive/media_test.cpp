// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "drive/media.h"

using namespace vokta;

TEST(MediaTable, NamesAndImageSizes)
{
    EXPECT_EQ(GetMediaTypeName(kMedia144M), "1.44M (DS HD)");
    EXPECT_EQ(GetMediaTypeName(kMedia168M), "1.68M (MS DMF)");
    EXPECT_EQ(GetMediaTypeName(7), "? ? ?");
    EXPECT_EQ(GetMediaTypeName(-1), "? ? ?");
    EXPECT_EQ(MediaTypeOfImageSize(1474560), kMedia144M);
    EXPECT_EQ(MediaTypeOfImageSize(1763328), kMedia172M);
    EXPECT_EQ(MediaTypeOfImageSize(737280), kMedia720K);
    EXPECT_FALSE(MediaTypeOfImageSize(1474561).has_value());
}

TEST(DeviceParams, TotalSectorsFallsBackToTheLargeCount)
{
    DeviceParams p;
    p.setU32(DeviceParams::TotalSectors32, 2880);
    EXPECT_EQ(p.totalSectors(), 2880u);
    p.setU16(DeviceParams::TotalSectors16, 1440);
    EXPECT_EQ(p.totalSectors(), 1440u);
}
