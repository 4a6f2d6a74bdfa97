#include <gtest/gtest.h>

#include "drive/media.h"

using namespace vokta;

TEST(MediaTable, RowsAreByteExactDeviceParameterBlocks)
{
    const DeviceParams p = GeometryOf(kMedia172M)->ToParams();
    EXPECT_EQ(p.u8(1), 7);
    EXPECT_EQ(p.u16(2), 2);
    EXPECT_EQ(p.u16(4), 82);
    EXPECT_EQ(p.u16(7), 512);
    EXPECT_EQ(p.u16(13), 224);
    EXPECT_EQ(p.u16(15), 3444);
    EXPECT_EQ(p.u8(17), 0xF0);
    EXPECT_EQ(p.u16(18), 10);
    EXPECT_EQ(p.u16(20), 21);
    EXPECT_EQ(p.u16(22), 2);
    EXPECT_EQ(p.u8(0), 0) << "special functions";
    EXPECT_EQ(p.u16(38), 0) << "layout count";
    EXPECT_EQ(DeviceParams::kSize, 296u);
}

TEST(MediaTable, TotalSectorsMatchTheGeometry)
{
    for (int t = kMedia720K; t <= kMedia172M; ++t) {
        const MediaGeometry g = *GeometryOf(t);
        EXPECT_EQ(g.totalSectors, g.cylinders * g.heads * g.sectorsPerTrack) << t;
    }
}

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
