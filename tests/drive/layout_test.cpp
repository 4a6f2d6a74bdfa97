// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "drive/media.h"
#include "drive/tracklayout.h"

using namespace vokta;

namespace {
std::vector<uint16_t> Optimized(MediaType type, uint16_t cylinder, uint16_t head)
{
    const MediaGeometry g = *GeometryOf(type);
    return OptimizedTrackOrder(g.sectorsPerTrack, g.skew, g.interleave, cylinder, head);
}
}  // namespace

TEST(TrackLayout, HighDensityCylindersStartThreeNumbersEarlier)
{
    EXPECT_EQ(Optimized(kMedia144M, 0, 0), StandardTrackOrder(18));
    const std::vector<uint16_t> c1 = Optimized(kMedia144M, 1, 0);
    EXPECT_EQ(c1.front(), 16);
    EXPECT_EQ((std::vector<uint16_t>(c1.begin(), c1.begin() + 5)), (std::vector<uint16_t>{16, 17, 18, 1, 2}));
    EXPECT_EQ(c1.back(), 15);
    EXPECT_EQ(Optimized(kMedia144M, 2, 0).front(), 13);
    EXPECT_EQ(Optimized(kMedia144M, 1, 1), c1) << "both heads of a cylinder start at the same number";
}

TEST(TrackLayout, DistributionFormatInterleavesTwoSlotsApart)
{
    const std::vector<uint16_t> c0 = Optimized(kMedia168M, 0, 0);
    const std::vector<uint16_t> expected = {1, 12, 2, 13, 3, 14, 4, 15, 5, 16, 6,
                                            17, 7, 18, 8, 19, 9, 20, 10, 21, 11};
    EXPECT_EQ(c0, expected);
    const std::vector<uint16_t> c1 = Optimized(kMedia172M, 1, 0);
    EXPECT_EQ(c1[0], 21);
    EXPECT_EQ(c1[2], 1);
}

TEST(TrackLayout, EveryOptimizedTrackIsAPermutation)
{
    for (MediaType t : {kMedia720K, kMedia12M, kMedia144M, kMedia168M, kMedia172M}) {
        const MediaGeometry g = *GeometryOf(t);
        for (uint16_t c = 0; c < g.cylinders; ++c) {
            std::vector<uint16_t> order = Optimized(t, c, 1);
            std::sort(order.begin(), order.end());
            ASSERT_EQ(order, StandardTrackOrder(g.sectorsPerTrack)) << "media " << t << " cylinder " << c;
        }
    }
}

TEST(TrackLayout, NoSkewMeansTheStandardOrder)
{
    for (uint16_t c = 0; c < 80; ++c)
        ASSERT_EQ(Optimized(kMedia12M, c, 0), StandardTrackOrder(15));
}
