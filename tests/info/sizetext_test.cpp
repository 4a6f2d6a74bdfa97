// SPDX-License-Identifier: GPL-3.0-or-later
// The size lines of the information report: decimal units chosen on a float's value and
// printed with three decimals, as the saved reports of old diskettes show them.
#include <gtest/gtest.h>

#include "info/sizetext.h"

using namespace vokta;

namespace {

std::string DiskSize(uint64_t bytes)
{
    return SizeLine(Str::InfoDiskSize, bytes);
}

TEST(SizeLine, DisketteSizesInDecimalUnits)
{
    EXPECT_EQ(DiskSize(2880 * 512), "Disk Size = 1.475 MB");
    EXPECT_EQ(DiskSize(1440 * 512), "Disk Size = 737.280 KB");
    EXPECT_EQ(DiskSize(2400 * 512), "Disk Size = 1.229 MB");
    EXPECT_EQ(DiskSize(3360 * 512), "Disk Size = 1.720 MB");
    EXPECT_EQ(DiskSize(3444 * 512), "Disk Size = 1.763 MB");
    EXPECT_EQ(SizeLine(Str::InfoFreeSpace, 1457664), "Free Disk Space = 1.458 MB");
}

// Each unit begins above its power of ten: the power itself still prints in the unit below.
TEST(SizeLine, UnitBoundaries)
{
    EXPECT_EQ(DiskSize(0), "Disk Size = 0.000 Bytes");
    EXPECT_EQ(DiskSize(1000), "Disk Size = 1000.000 Bytes");
    EXPECT_EQ(DiskSize(1001), "Disk Size = 1.001 KB");
    EXPECT_EQ(DiskSize(1000000), "Disk Size = 1000.000 KB");
    EXPECT_EQ(DiskSize(1000001), "Disk Size = 1.000 MB");
    EXPECT_EQ(DiskSize(1000000000), "Disk Size = 1000.000 MB");
    EXPECT_EQ(DiskSize(4000000000), "Disk Size = 4.000 GB");
}

// Counts a float cannot hold are rounded first: a byte more than 10^9 is 10^9 as a float,
// so it stays in MB, and the next float up is 64 bytes away.
TEST(SizeLine, CountIsRoundedToSinglePrecisionBeforeTheUnitIsChosen)
{
    EXPECT_EQ(DiskSize(1000000001), "Disk Size = 1000.000 MB");
    EXPECT_EQ(DiskSize(1000000064), "Disk Size = 1.000 GB");
    // 2^24 + 1 is no float: it rounds down to 2^24, which then scales to 16.777216.
    EXPECT_EQ(DiskSize(16777217), "Disk Size = 16.777 MB");
    // 999999.9 and up rounds to 1000.000 in three decimals; the scale factor is the float
    // nearest 10^-3, slightly above it, which must not push 999999 bytes over.
    EXPECT_EQ(DiskSize(999999), "Disk Size = 999.999 KB");
}

}  // namespace
