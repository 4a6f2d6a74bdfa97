// SPDX-License-Identifier: GPL-3.0-or-later
// The track map as the terminal draws it, from a fixed map.
#include <gtest/gtest.h>

#include "cli/trackmapview.h"

using namespace vokta;
using namespace vokta::cli;

namespace {

TrackMap FixedMap(uint16_t cylinders)
{
    TrackMap map(TrackMapShape{cylinders, 2, 18});
    for (uint16_t c = 0; c < 30; ++c)
        for (uint8_t h = 0; h < 2; ++h)
            map.Apply({c, h, TrackState::Good, {}});
    map.Apply({3, 1, TrackState::Recovered, {}});
    map.Apply({10, 0, TrackState::Lost, {}});
    map.Apply({12, 1, TrackState::SkippedBad, {}});
    map.Apply({30, 0, TrackState::InProgress, {}});
    map.Apply({41, 1, TrackState::Differs, {}});
    map.Apply({50, 0, TrackState::Written, {}});
    map.Apply({60, 1, TrackState::Verified, {}});
    map.Apply({79, 0, TrackState::Formatted, {}});
    return map;
}

TEST(TrackMapView, DrawsTwoBlocksOfFortyCylindersWithTheirNumbers)
{
    const std::vector<std::string> expected = {
        "   0         10        20        30",
        "H0 ++++++++++X+++++++++++++++++++>.........",
        "H1 +++r++++++++B+++++++++++++++++..........",
        "   40        50        60        70",
        "H0 ..........w............................f",
        "H1 .D..................v...................",
    };
    EXPECT_EQ(TrackMapLines(FixedMap(80)), expected);
}

TEST(TrackMapView, LinesFitEightyColumnsAndCylindersBeyondEightyGetABlock)
{
    const std::vector<std::string> lines = TrackMapLines(FixedMap(83));
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[6], "   80");
    EXPECT_EQ(lines[7], "H0 ...");
    for (const std::string& line : lines)
        EXPECT_LE(line.size(), 80u) << line;
    for (const std::string& line : TrackMapLegend(FixedMap(83)))
        EXPECT_LE(line.size(), 80u) << line;
}

TEST(TrackMapView, LegendNamesEachStateThatAppearsWithItsCount)
{
    std::string legend;
    for (const std::string& line : TrackMapLegend(FixedMap(80)))
        legend += line + "\n";
    EXPECT_EQ(legend,
              ". not yet (95)   > in progress (1)   + good (57)   r good after retries (1)\n"
              "X has lost sectors (1)   B skipped as BAD in the FAT (1)   D differs (1)\n"
              "w written (1)   v verified (1)   f formatted (1)\n");
    TrackMap clean(TrackMapShape{80, 2, 18});
    for (uint16_t c = 0; c < 80; ++c)
        for (uint8_t h = 0; h < 2; ++h)
            clean.Apply({c, h, TrackState::Verified, {}});
    EXPECT_EQ(TrackMapLegend(clean), std::vector<std::string>{"v verified (160)"});
}

}  // namespace
