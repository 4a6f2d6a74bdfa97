// SPDX-License-Identifier: GPL-3.0-or-later
// SCP files: what the writer lays down against the format's own description, round trips,
// the older single-sided layout, and the refusal of malformed files.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <numeric>
#include <string>

#include "fluxfile/scpfile.h"
#include "refusals.h"
#include "res/strings.h"

using namespace vokta;
using namespace vokta::test;

namespace {

constexpr size_t kFirstTrackAt = 0x2B0;
constexpr uint32_t kIndexTicks = 8000000;  // 200 ms in 25 ns ticks: 300 rpm

// An SCP file put together by hand from the format's description, one cell at a time: a
// second path to the bytes, to hold the writer to.
struct RawTrack {
    uint8_t number;
    std::vector<std::vector<uint16_t>> revolutions;  // cells
};

void Put32(std::vector<uint8_t>& f, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        f[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<uint8_t> RawScp(const std::vector<RawTrack>& tracks, uint8_t heads = 0, uint8_t flags = 0x03)
{
    std::vector<uint8_t> f(kFirstTrackAt, 0);
    f[0] = 'S', f[1] = 'C', f[2] = 'P', f[3] = 0x25, f[4] = 0x80;
    f[5] = static_cast<uint8_t>(tracks.front().revolutions.size());
    f[6] = tracks.front().number;
    f[7] = tracks.back().number;
    f[8] = flags;
    f[10] = heads;
    for (const RawTrack& t : tracks) {
        const size_t at = f.size();
        Put32(f, 0x10 + 4 * t.number, static_cast<uint32_t>(at));
        f.insert(f.end(), {'T', 'R', 'K', t.number});
        f.resize(f.size() + 12 * t.revolutions.size());
        for (size_t r = 0; r < t.revolutions.size(); ++r) {
            Put32(f, at + 4 + 12 * r, kIndexTicks);
            Put32(f, at + 8 + 12 * r, static_cast<uint32_t>(t.revolutions[r].size()));
            Put32(f, at + 12 + 12 * r, static_cast<uint32_t>(f.size() - at));
            for (uint16_t cell : t.revolutions[r])
                f.insert(f.end(), {static_cast<uint8_t>(cell >> 8), static_cast<uint8_t>(cell)});
        }
    }
    Put32(f, 0x0C, std::accumulate(f.begin() + 0x10, f.end(), uint32_t{0}));
    return f;
}

// Tracks of flux made up from their place: several revolutions, intervals of the usual
// 2, 3 and 4 µs, and now and then one long enough to need the escape cells.
ScpImage MadeUp(std::vector<std::pair<uint8_t, uint8_t>> places, size_t revolutions, uint8_t flags)
{
    ScpImage image;
    image.flags = flags;
    for (auto [cylinder, head] : places) {
        FluxTrack t{cylinder, head, {}};
        for (size_t r = 0; r < revolutions; ++r) {
            FluxRevolution rev{kIndexTicks - static_cast<uint32_t>(r), {}};
            for (uint32_t i = 0; i < 300u + cylinder * 7u + head; ++i)
                rev.intervals.push_back(static_cast<uint32_t>(80 + 40 * ((i + r + cylinder) % 3)));
            rev.intervals.push_back(65535);
            rev.intervals.push_back(65537);
            rev.intervals.push_back(3 * 65536 + 4000 + cylinder);
            t.revolutions.push_back(std::move(rev));
        }
        image.tracks.push_back(std::move(t));
    }
    return image;
}

std::vector<std::pair<uint8_t, uint8_t>> Places(uint8_t cylinders, std::vector<uint8_t> heads)
{
    std::vector<std::pair<uint8_t, uint8_t>> places;
    for (uint8_t c = 0; c < cylinders; ++c)
        for (uint8_t h : heads)
            places.emplace_back(c, h);
    return places;
}

}  // namespace

TEST(ScpFile, TheWriterLaysTheFileOutAsTheFormatDescribes)
{
    // Cylinder 0 of both heads; the escape example of the description: 0000 0000 7FFF is
    // 65536 + 65536 + 32767 ticks. No cells hold 0 ticks or 65536: they get one more.
    ScpImage image;
    image.tracks = {{0, 0, {{kIndexTicks, {218, 163839, 80, 0, 65536}}}}, {0, 1, {{kIndexTicks, {100}}}}};
    const FluxFileWrite written = WriteScp(image);
    ASSERT_EQ(written.error, "");
    const std::vector<uint8_t> expected =
        RawScp({{0, {{0x00DA, 0x0000, 0x0000, 0x7FFF, 0x0050, 0x0001, 0x0000, 0x0001}}}, {1, {{0x0064}}}});
    EXPECT_EQ(written.bytes, expected);
    // The description's index time: 007A1200h, 200 ms in ticks of 25 ns.
    EXPECT_EQ(std::vector<uint8_t>(written.bytes.begin() + 0x2B4, written.bytes.begin() + 0x2B8),
              (std::vector<uint8_t>{0x00, 0x12, 0x7A, 0x00}));
}

TEST(ScpFile, WrittenFilesReadBackTheSameAndWriteAgainByteForByte)
{
    struct Case {
        const char* name;
        std::vector<std::pair<uint8_t, uint8_t>> places;
        size_t revolutions;
        uint8_t flags;
        uint8_t heads;  // the header's field
        uint8_t resolution;
    };
    const Case cases[] = {
        {"both heads, 80 cylinders, 300 rpm", Places(80, {0, 1}), 2, kScpIndexCued | kScp96Tpi, 0, 0},
        {"head 0 only, 360 rpm", Places(40, {0}), 1, kScpIndexCued | kScp360Rpm, 1, 0},
        {"head 1 only, 50 ns ticks", Places(3, {1}), 3, kScpIndexCued, 2, 1},
        {"five revolutions, cylinder 83", {{83, 0}, {83, 1}}, 5, kScpIndexCued | kScpFluxCreator, 0, 0},
        {"not index-cued, gaps in the table", {{2, 1}, {9, 0}, {40, 1}}, 2, kScp96Tpi, 0, 0},
        {"no track", {}, 1, kScpIndexCued, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScpImage image = MadeUp(c.places, c.revolutions, c.flags);
        image.resolution = c.resolution;
        const FluxFileWrite written = WriteScp(image);
        ASSERT_EQ(written.error, "");
        EXPECT_EQ(written.bytes[10], c.heads);
        EXPECT_EQ(written.bytes[8], c.flags);
        const ScpReadResult read = ReadScp(written.bytes);
        ASSERT_TRUE(read.image) << read.error;
        EXPECT_TRUE(read.warnings.empty());
        EXPECT_EQ(*read.image, image);
        EXPECT_EQ(read.image->TickNanoseconds(), 25u * (c.resolution + 1u));
        EXPECT_EQ(WriteScp(*read.image).bytes, written.bytes);
    }
}

TEST(ScpFile, OneSideWrittenOneEntryPerCylinderReadsAsThatSide)
{
    struct Case {
        uint8_t heads;
        uint8_t head;
    };
    for (const Case c : {Case{1, 0}, Case{2, 1}}) {
        const ScpReadResult read = ReadScp(RawScp({{0, {{100}}}, {1, {{200}}}, {2, {{300}}}}, c.heads));
        ASSERT_TRUE(read.image) << read.error;
        ASSERT_EQ(read.image->tracks.size(), 3u);
        for (uint8_t n = 0; n < 3; ++n) {
            EXPECT_EQ(read.image->tracks[n].cylinder, n);
            EXPECT_EQ(read.image->tracks[n].head, c.head);
            EXPECT_EQ(read.image->tracks[n].revolutions[0].intervals[0], 100u * (n + 1u));
        }
    }
}

TEST(ScpFile, EscapesRunOnIntoTheNextRevolutionAndAnOpenEndIsToldOf)
{
    const ScpReadResult read = ReadScp(RawScp({{4, {{90, 0x0000}, {0x0005, 0x0000}}}}));
    ASSERT_TRUE(read.image) << read.error;
    const FluxTrack& t = read.image->tracks.at(0);
    EXPECT_EQ(t.cylinder, 2);
    EXPECT_EQ(t.revolutions[0].intervals, std::vector<uint32_t>{90});
    EXPECT_EQ(t.revolutions[1].intervals, std::vector<uint32_t>{65541});
    EXPECT_EQ(read.warnings, std::vector<std::string>{FormatString(Str::ScpOpenInterval, 4)});
}

TEST(ScpFile, AChecksumThatDoesNotMatchIsAWarningNotARefusal)
{
    std::vector<uint8_t> file = RawScp({{0, {{100, 200}}}});
    const uint32_t stored = LittleEndianAt<uint32_t>(file, 0x0C);
    file.back() ^= 0x01;  // the last cell, C8h, becomes C9h
    ScpReadResult read = ReadScp(file);
    ASSERT_TRUE(read.image) << read.error;
    char storedText[16], computedText[16];
    std::snprintf(storedText, sizeof storedText, "%08Xh", stored);
    std::snprintf(computedText, sizeof computedText, "%08Xh", stored + 1);
    EXPECT_EQ(read.warnings, std::vector<std::string>{FormatString(Str::ScpChecksumMismatch, storedText, computedText)});
    EXPECT_EQ(read.image->tracks.at(0).revolutions.at(0).intervals, (std::vector<uint32_t>{100, 201}));

    // A read/write image has no checksum at all.
    file = RawScp({{0, {{100, 200}}}}, 0, kScpIndexCued | kScpReadWrite);
    Put32(file, 0x0C, 0);
    read = ReadScp(file);
    ASSERT_TRUE(read.image) << read.error;
    EXPECT_TRUE(read.warnings.empty());
}

TEST(ScpFile, MalformedFilesAreRefusedWithWhatIsWrong)
{
    // Two tracks of two revolutions: track 0's header at 2B0h, its cells at 2CCh; track
    // 1's header at 2D4h.
    const std::vector<uint8_t> good = RawScp({{0, {{100, 200}, {300, 400}}}, {1, {{500}, {600}}}});
    const size_t track1 = 0x2B0 + 4 + 24 + 8;
    ASSERT_EQ(good[track1], 'T');
    const Mutation mutations[] = {
        {"empty", [](auto& f) { f.clear(); }, LoadString(Str::ScpNotScp)},
        {"other signature", [](auto& f) { f[2] = 'X'; }, LoadString(Str::ScpNotScp)},
        {"no revolutions", [](auto& f) { f[5] = 0; }, LoadString(Str::ScpNoRevolutions)},
        {"8-bit cells", [](auto& f) { f[9] = 8; }, FormatString(Str::ScpCellWidth, 8)},
        {"heads field 3", [](auto& f) { f[10] = 3; }, FormatString(Str::ScpHeadsField, 3)},
        {"cut inside the table", [](auto& f) { f.resize(0x100); }, LoadString(Str::ScpTableTruncated)},
        {"track header past the end", [](auto& f) { Put32(f, 0x14, 0x7FFFFFF0); },
         FormatString(Str::ScpTrackHeaderOutside, 1)},
        {"no TRK", [&](auto& f) { f[track1 + 2] = 'X'; }, FormatString(Str::ScpTrackSignature, 1, long(track1))},
        {"track number", [&](auto& f) { f[track1 + 3] = 7; }, FormatString(Str::ScpTrackNumber, 1, 7)},
        {"flux count of 4 G cells", [](auto& f) { Put32(f, 0x2B0 + 20, 0xFFFFFFFF); },
         FormatString(Str::ScpFluxOutside, 0, 2)},
        {"flux offset past the end", [&](auto& f) { Put32(f, track1 + 12, 0xFFFFFFFF); },
         FormatString(Str::ScpFluxOutside, 1, 1)},
        {"cells inside their own track header", [](auto& f) { Put32(f, 0x2B0 + 12, 0); },
         FormatString(Str::ScpOverlap, 0)},
        {"cells of one track in another's", [&](auto& f) { Put32(f, 0x2B0 + 12, uint32_t(track1 + 28 - 0x2B0)); },
         FormatString(Str::ScpOverlap, 1)},
        {"cut inside the cells", [](auto& f) { f.resize(f.size() - 1); }, FormatString(Str::ScpFluxOutside, 1, 2)},
    };
    ExpectEachRefused(good, mutations, ReadScp);
}

TEST(ScpFile, AnIntervalPastFourGigaTicksIsRefused)
{
    std::vector<uint16_t> cells(65536, 0);
    cells.push_back(1);
    const ScpReadResult read = ReadScp(RawScp({{0, {cells}}}));
    EXPECT_FALSE(read.image);
    EXPECT_EQ(read.error, FormatString(Str::ScpIntervalTooLong, 0, 1));
}

TEST(ScpFile, TracksTheFileCannotHoldAreNotWritten)
{
    struct Case {
        const char* name;
        std::vector<FluxTrack> tracks;
        std::string error;
    };
    const FluxRevolution rev{kIndexTicks, {100}};
    const Case cases[] = {
        {"cylinder 84", {{84, 0, {rev}}}, FormatString(Str::ScpNoPlaceForTrack, 84, 0)},
        {"head 2", {{0, 2, {rev}}}, FormatString(Str::ScpNoPlaceForTrack, 0, 2)},
        {"a track twice", {{5, 1, {rev}}, {5, 1, {rev}}}, FormatString(Str::ScpTrackTwice, 5, 1)},
        {"revolutions differ", {{0, 0, {rev}}, {0, 1, {rev, rev}}}, FormatString(Str::ScpRevolutionCount, 1, 2)},
        {"no revolution", {{0, 0, {}}}, FormatString(Str::ScpRevolutionCount, 0, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScpImage image;
        image.tracks = c.tracks;
        ExpectNotWritten(WriteScp(image), c.error);
    }
}
