// SPDX-License-Identifier: GPL-3.0-or-later
// FAT entry encoding: 12-bit entries packed in pairs, 16-bit words, and the table's end.
#include <gtest/gtest.h>

#include <vector>

#include "fat/fatentries.h"

using namespace vokta;

TEST(FatEntries, TwelveBitEntriesShareTheirMiddleByte)
{
    std::vector<uint8_t> fat = {0xF0, 0xFF, 0xFF, 0x03, 0x40, 0x00};
    EXPECT_EQ(ReadFatEntry(fat, 12, 2), 0x003);
    EXPECT_EQ(ReadFatEntry(fat, 12, 3), 0x004);

    ASSERT_TRUE(WriteFatEntry(fat, 12, 3, 0xFF7));
    EXPECT_EQ(ReadFatEntry(fat, 12, 2), 0x003);
    EXPECT_EQ(ReadFatEntry(fat, 12, 3), 0xFF7);
    EXPECT_EQ(fat[3], 0x03);
    EXPECT_EQ(fat[4], 0x70);
    EXPECT_EQ(fat[5], 0xFF);

    ASSERT_TRUE(WriteFatEntry(fat, 12, 2, 0xABC));
    EXPECT_EQ(ReadFatEntry(fat, 12, 2), 0xABC);
    EXPECT_EQ(ReadFatEntry(fat, 12, 3), 0xFF7);
    EXPECT_EQ(ReadFatEntry(fat, 12, 1), 0xFFF) << "the media entries are untouched";
}

TEST(FatEntries, TwelveBitValuesAreCutToTwelveBits)
{
    std::vector<uint8_t> fat(6, 0);
    ASSERT_TRUE(WriteFatEntry(fat, 12, 2, 0xFFF7));
    EXPECT_EQ(ReadFatEntry(fat, 12, 2), 0xFF7);
    EXPECT_EQ(ReadFatEntry(fat, 12, 3), 0x000);
}

TEST(FatEntries, SixteenBitEntriesAreLittleEndianWords)
{
    std::vector<uint8_t> fat = {0xF8, 0xFF, 0xFF, 0xFF, 0x34, 0x12, 0xF7, 0xFF};
    EXPECT_EQ(ReadFatEntry(fat, 16, 2), 0x1234);
    EXPECT_EQ(ReadFatEntry(fat, 16, 3), 0xFFF7);
    ASSERT_TRUE(WriteFatEntry(fat, 16, 2, 0xFFF8));
    EXPECT_EQ(fat[4], 0xF8);
    EXPECT_EQ(fat[5], 0xFF);
    EXPECT_EQ(ReadFatEntry(fat, 16, 3), 0xFFF7);
}

TEST(FatEntries, EntriesBeyondTheTableDoNotExist)
{
    std::vector<uint8_t> fat(512, 0);
    const uint32_t last12 = HighestEntryIn(fat.size(), 12);
    const uint32_t last16 = HighestEntryIn(fat.size(), 16);
    EXPECT_EQ(last16, 255u);
    EXPECT_GE(last12, 339u);
    EXPECT_TRUE(WriteFatEntry(fat, 12, last12, 0xFFF));
    EXPECT_TRUE(WriteFatEntry(fat, 16, last16, 0xFFFF));
    EXPECT_EQ(ReadFatEntry(fat, 16, 256), FatValue::NoEntry);
    EXPECT_EQ(ReadFatEntry(fat, 12, 342), FatValue::NoEntry);
    const std::vector<uint8_t> before = fat;
    EXPECT_FALSE(WriteFatEntry(fat, 16, 256, 0));
    EXPECT_FALSE(WriteFatEntry(fat, 12, 0xFFFF, 0));
    EXPECT_EQ(fat, before);
    EXPECT_EQ(ReadFatEntry({}, 12, 0), FatValue::NoEntry);
}
