// SPDX-License-Identifier: GPL-3.0-or-later
// HFE files: the header, track list and interleaved blocks as the format describes them,
// round trips, tracks whose lengths fit no block, and the refusal of malformed files.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "fluxfile/hfefile.h"
#include "refusals.h"
#include "res/strings.h"

using namespace vokta;
using namespace vokta::test;

namespace {

constexpr size_t kBlock = 512;
constexpr uint8_t kFiller = 0x11;  // MFM cells of 55h, first cell in the top bit

uint8_t Pattern(size_t cylinder, size_t side, size_t i)
{
    return static_cast<uint8_t>(i * 7 + cylinder * 13 + side * 101 + (i >> 8));
}

BitCells Cells(size_t cylinder, size_t side, size_t bytes)
{
    BitCells cells{std::vector<uint8_t>(bytes), bytes * 8};
    for (size_t i = 0; i < bytes; ++i)
        cells.bytes[i] = Pattern(cylinder, side, i);
    return cells;
}

HfeImage Diskette(size_t cylinders, uint8_t sides, size_t bytes)
{
    HfeImage image;
    image.sides = sides;
    for (size_t c = 0; c < cylinders; ++c)
        image.cylinders.push_back({{Cells(c, 0, bytes), sides == 2 ? Cells(c, 1, bytes) : BitCells{}}});
    return image;
}

uint8_t Reversed(uint8_t b)
{
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i)
        if (b & (1 << i))
            r = static_cast<uint8_t>(r | (0x80 >> i));
    return r;
}

}  // namespace

TEST(HfeFile, TheWriterLaysTheFileOutAsTheFormatDescribes)
{
    HfeImage image = Diskette(2, 2, 300);
    image.bitRateKbps = 500;
    image.interfaceMode = kHfeInterfaceIbmPcHd;
    image.cylinders[0].sides[0].bytes[0] = 0x80;  // the first cell: the lowest bit in the file
    const FluxFileWrite written = WriteHfe(image);
    ASSERT_EQ(written.error, "");
    const std::vector<uint8_t>& f = written.bytes;
    ASSERT_EQ(f.size(), 6 * kBlock) << "header, track list, two tracks of two blocks";
    EXPECT_EQ(std::string(f.begin(), f.begin() + 8), "HXCPICFE");
    const std::pair<size_t, uint8_t> fields[] = {
        {8, 0},     {9, 2},     {10, 2},    {11, 0},  // revision, tracks, sides, ISO/IBM MFM
        {12, 0xF4}, {13, 0x01},                       // 500 kbit/s
        {14, 0x2C}, {15, 0x01},                       // 300 rpm
        {16, 1},    {18, 1},    {19, 0},              // PC HD interface; track list in block 1
        {20, 0xFF}, {21, 0xFF}, {22, 0xFF}, {24, 0xFF}, {511, 0xFF},
        // Track 0 from block 2 and track 1 from block 4, each 600 bytes for both sides.
        {512, 2},   {513, 0},   {514, 0x58}, {515, 0x02}, {516, 4}, {518, 0x58}, {520, 0xFF},
        {2 * kBlock, 0x01},
    };
    for (auto [at, value] : fields)
        EXPECT_EQ(f[at], value) << "byte " << at;
    for (size_t i = 1; i < 300; ++i) {
        const size_t at = 2 * kBlock + (i / 256) * kBlock + i % 256;
        ASSERT_EQ(f[at], Reversed(Pattern(0, 0, i))) << "side 0, byte " << i;
        ASSERT_EQ(f[at + 256], Reversed(Pattern(0, 1, i))) << "side 1, byte " << i;
    }
    for (size_t at = 3 * kBlock + 44; at < 3 * kBlock + 256; ++at)
        ASSERT_EQ(f[at], Reversed(kFiller)) << "the rest of the block, byte " << at;
}

TEST(HfeFile, WrittenFilesReadBackTheSameAndWriteAgainByteForByte)
{
    struct Case {
        const char* name;
        size_t cylinders;
        uint8_t sides;
        size_t bytes;  // a side
        uint16_t rateKbps;
    };
    const Case cases[] = {
        {"720K: 80 cylinders, 250 kbit/s", 80, 2, 6250, 250},
        {"one side of 1.44M tracks", 3, 1, 12500, 500},
        {"tracks that end inside a block", 2, 2, 257, 250},
        {"tracks shorter than a half block", 4, 2, 100, 300},
        {"the longest track", 1, 2, 32767, 1000},
        {"empty tracks", 2, 1, 0, 250},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HfeImage image = Diskette(c.cylinders, c.sides, c.bytes);
        image.bitRateKbps = c.rateKbps;
        image.rpm = 360;
        image.writeAllowed = kHfeNo;
        image.singleStep = kHfeNo;
        image.track0Alternate = {kHfeNo, kHfeYes};
        image.track0Encoding = {2, kHfeYes};
        const FluxFileWrite written = WriteHfe(image);
        ASSERT_EQ(written.error, "");
        const HfeReadResult read = ReadHfe(written.bytes);
        ASSERT_TRUE(read.image) << read.error;
        EXPECT_EQ(*read.image, image);
        EXPECT_EQ(WriteHfe(*read.image).bytes, written.bytes);
    }
}

TEST(HfeFile, SidesOfOtherLengthsAreFilledUpToTheLonger)
{
    HfeImage image = Diskette(1, 2, 100);
    image.cylinders[0].sides[0] = {{0xAB, 0xFF}, 13};
    const FluxFileWrite written = WriteHfe(image);
    ASSERT_EQ(written.error, "");
    const HfeReadResult read = ReadHfe(written.bytes);
    ASSERT_TRUE(read.image) << read.error;
    const BitCells& side0 = read.image->cylinders[0].sides[0];
    EXPECT_EQ(side0.bits, 800u);
    std::vector<uint8_t> expected(100, kFiller);
    expected[0] = 0xAB;
    expected[1] = 0xF9;  // five cells given, three of the filler
    EXPECT_EQ(side0.bytes, expected);
    EXPECT_EQ(read.image->cylinders[0].sides[1], image.cylinders[0].sides[1]);
    EXPECT_EQ(WriteHfe(*read.image).bytes, written.bytes);
}

TEST(HfeFile, MalformedFilesAreRefusedWithWhatIsWrong)
{
    // Two tracks of 300 bytes a side: the list in block 1, the tracks from blocks 2 and 4.
    const std::vector<uint8_t> good = WriteHfe(Diskette(2, 2, 300)).bytes;
    ASSERT_EQ(good.size(), 6 * kBlock);
    const Mutation mutations[] = {
        {"empty", [](auto& f) { f.clear(); }, LoadString(Str::HfeNotHfe)},
        {"other signature", [](auto& f) { f[7] = 'X'; }, LoadString(Str::HfeNotHfe)},
        {"header cut short", [](auto& f) { f.resize(511); }, LoadString(Str::HfeNotHfe)},
        {"version 3", [](auto& f) { std::copy_n("HXCHFEV3", 8, f.begin()); }, LoadString(Str::HfeVersion3)},
        {"revision 1", [](auto& f) { f[8] = 1; }, FormatString(Str::HfeRevision, 1)},
        {"no tracks", [](auto& f) { f[9] = 0; }, FormatString(Str::HfeGeometry, 0, 2)},
        {"three sides", [](auto& f) { f[10] = 3; }, FormatString(Str::HfeGeometry, 2, 3)},
        {"no side", [](auto& f) { f[10] = 0; }, FormatString(Str::HfeGeometry, 2, 0)},
        {"bit rate 0", [](auto& f) { f[12] = f[13] = 0; }, LoadString(Str::HfeBitRate)},
        {"track list in the header", [](auto& f) { f[18] = 0; }, LoadString(Str::HfeTrackListOutside)},
        {"track list past the end", [](auto& f) { f[18] = 6; }, LoadString(Str::HfeTrackListOutside)},
        {"255 tracks in a list of two", [](auto& f) { f[9] = 255; f.resize(kBlock + 100); },
         LoadString(Str::HfeTrackListOutside)},
        {"track past the end", [](auto& f) { f[516] = 5; }, FormatString(Str::HfeTrackOutside, 1)},
        {"track of 64 KB", [](auto& f) { f[518] = f[519] = 0xFF; }, FormatString(Str::HfeTrackOutside, 1)},
        {"file cut inside a track", [](auto& f) { f.resize(5 * kBlock + 100); }, FormatString(Str::HfeTrackOutside, 1)},
        {"tracks sharing a block", [](auto& f) { f[516] = 3; }, FormatString(Str::HfeOverlap, 1)},
        {"track over the list", [](auto& f) { f[512] = 1; }, FormatString(Str::HfeOverlap, 0)},
        {"track over the header", [](auto& f) { f[512] = 0; }, FormatString(Str::HfeOverlap, 0)},
    };
    ExpectEachRefused(good, mutations, ReadHfe);
}

TEST(HfeFile, TracksTheFileCannotHoldAreNotWritten)
{
    struct Case {
        const char* name;
        HfeImage image;
        std::string error;
    };
    HfeImage secondSide = Diskette(3, 1, 10);
    secondSide.cylinders[2].sides[1] = Cells(2, 1, 10);
    HfeImage sides3 = Diskette(1, 2, 10);
    sides3.sides = 3;
    HfeImage rate0 = Diskette(1, 2, 10);
    rate0.bitRateKbps = 0;
    const Case cases[] = {
        {"cells on side 1 of a one-sided file", secondSide, FormatString(Str::HfeSecondSide, 2)},
        {"no cylinder", Diskette(0, 2, 10), FormatString(Str::HfeGeometry, 0, 2)},
        {"256 cylinders", Diskette(256, 2, 1), FormatString(Str::HfeGeometry, 256, 2)},
        {"three sides", sides3, FormatString(Str::HfeGeometry, 1, 3)},
        {"bit rate 0", rate0, LoadString(Str::HfeBitRate)},
        {"a side of 32768 bytes", Diskette(1, 1, 32768), FormatString(Str::HfeTrackTooLong, 0, 32768)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectNotWritten(WriteHfe(c.image), c.error);
    }
}
