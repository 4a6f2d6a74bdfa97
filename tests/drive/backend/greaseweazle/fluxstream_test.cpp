// SPDX-License-Identifier: GPL-3.0-or-later
// The byte encoding of the Greaseweazle's flux streams, against the firmware's own rules.
#include <gtest/gtest.h>

#include "drive/backend/greaseweazle/fluxstream.h"

using namespace vokta::gw;

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kMax = kMaxN28;

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes Op(uint8_t op, uint32_t value)
{
    Bytes out{kEscape, op};
    AppendN28(out, value);
    return out;
}

struct EncodingCase {
    const char* what;
    FluxRead flux;
    Bytes stream;
};

const EncodingCase kReadStreams[] = {
    {"one byte, shortest", {{1}, {}}, {1, 0}},
    {"one byte, longest", {{249}, {}}, {249, 0}},
    {"two bytes, shortest", {{250}, {}}, {250, 1, 0}},
    {"two bytes, end of the first row", {{504}, {}}, {250, 255, 0}},
    {"two bytes, start of the second row", {{505}, {}}, {251, 1, 0}},
    {"two bytes, longest", {{1524}, {}}, {254, 255, 0}},
    {"a space, shortest", {{1525}, {}}, {255, FluxOp::Space, 249, 19, 1, 1, 249, 0}},
    {"a space of 28 bits", {{kMax + 249}, {}}, Cat({Op(FluxOp::Space, kMax), {249, 0}})},
    {"two spaces", {{kMax + 250}, {}}, Cat({Op(FluxOp::Space, kMax), Op(FluxOp::Space, 1), {249, 0}})},
    {"index before a transition", {{100}, {40}}, Cat({Op(FluxOp::Index, 40), {100, 0}})},
    {"index on a transition", {{100, 7}, {100}}, Cat({{100}, Op(FluxOp::Index, 0), {7, 0}})},
    {"index after the last transition", {{3}, {10}}, Cat({{3}, Op(FluxOp::Index, 7), {0}})},
    {"index 28 bits away", {{}, {kMax + 5}}, Cat({Op(FluxOp::Space, 5), Op(FluxOp::Index, kMax), {0}})},
    {"index inside a long interval", {{2000}, {1000}}, Cat({Op(FluxOp::Index, 1000), Op(FluxOp::Space, 1751), {249, 0}})},
    {"a zero interval joins the next", {{0, 9}, {}}, {9, 0}},
};

TEST(FluxStream, ReadStreamsEncodeAsTheFirmwareSendsThem)
{
    for (const EncodingCase& c : kReadStreams) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(EncodeReadStream(c.flux), c.stream);
        const DecodedRead back = DecodeReadStream(c.stream);
        EXPECT_EQ(back.fault, StreamFault::None);
        FluxRead expected = c.flux;
        std::erase(expected.intervals, 0u);
        EXPECT_EQ(back.flux, expected);
    }
}

TEST(FluxStream, AnIndexTheDeviceReportsLateStillLandsWhereItWas)
{
    // The firmware tells an index from the cursor where it noticed it, behind transitions
    // it sends after the mark.
    const DecodedRead read = DecodeReadStream(Cat({{100}, Op(FluxOp::Index, 150), {50, 50, 0}}));
    EXPECT_EQ(read.flux.intervals, (std::vector<uint32_t>{100, 50, 50}));
    EXPECT_EQ(read.flux.indexes, (std::vector<uint64_t>{250}));
}

struct FaultCase {
    const char* what;
    Bytes stream;
    StreamFault fault;
};

TEST(FluxStream, BrokenReadStreamsSayHow)
{
    Bytes tooLong;
    for (int i = 0; i < 17; ++i)
        tooLong = Cat({tooLong, Op(FluxOp::Space, kMax)});
    const FaultCase cases[] = {
        {"nothing", {}, StreamFault::Truncated},
        {"no end byte", {5, 6}, StreamFault::Truncated},
        {"bytes after the end", {1, 0, 1}, StreamFault::Truncated},
        {"two-byte interval cut", {250, 0}, StreamFault::Truncated},
        {"escape cut", {255, 2, 3, 1, 0}, StreamFault::Truncated},
        {"unknown opcode", Cat({Op(9, 1), {0}}), StreamFault::BadOpcode},
        {"astable in a read", Cat({Op(FluxOp::Astable, 100), {0}}), StreamFault::BadOpcode},
        {"interval past 32 bits", Cat({tooLong, {1, 0}}), StreamFault::TooLong},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(DecodeReadStream(c.stream).fault, c.fault);
    }
}

TEST(FluxStream, LongReadsRoundTrip)
{
    FluxRead flux;
    uint64_t at = 0;
    for (uint32_t i = 0; i < 20'000; ++i) {
        const uint32_t interval = i % 97 == 0 ? 1'000'000 + i : i % 13 == 0 ? 250 + i % 1400 : 100 + i % 200;
        flux.intervals.push_back(interval);
        at += interval;
        if (i % 5'000 == 0)
            flux.indexes.push_back(at - i % 50);
    }
    flux.indexes.push_back(at + 3'000'000'000ull);
    const DecodedRead back = DecodeReadStream(EncodeReadStream(flux));
    EXPECT_EQ(back.fault, StreamFault::None);
    EXPECT_EQ(back.flux, flux);
}

TEST(FluxStream, WriteStreamsEncodeGapsAndTheSacrificialLastInterval)
{
    const WriteEncoding bare{10'800, 90, 0};
    const struct {
        const char* what;
        std::vector<uint32_t> intervals;
        Bytes stream;
    } cases[] = {
        {"short", {144, 216}, {144, 216, 0}},
        {"two bytes", {1000}, {252, 241, 0}},
        {"spaced", {5000}, Cat({Op(FluxOp::Space, 4751), {249, 0}})},
        {"no-flux area", {20'000}, Cat({Op(FluxOp::Space, 20'000), Op(FluxOp::Astable, 90), {0}})},
        {"zero skipped", {0, 5}, {5, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(EncodeWriteStream(c.intervals, bare), c.stream);
    }
    EXPECT_EQ(EncodeWriteStream(std::vector<uint32_t>{100}, {10'800, 90, 200}), (Bytes{100, 200, 0}));
}

TEST(FluxStream, TheDeviceTakesAWriteStreamAsItsFirmwareDoes)
{
    const struct {
        const char* what;
        Bytes stream;
        std::vector<uint32_t> intervals;
        StreamFault fault;
    } cases[] = {
        {"plain", {144, 250, 1, 0}, {144, 250}, StreamFault::None},
        {"pulses too close join the next", {30, 30, 100, 0}, {60, 100}, StreamFault::None},
        {"no-flux area at its period, the rest carried",
         Cat({Op(FluxOp::Space, 1000), Op(FluxOp::Astable, 300), {50, 0}}), {300, 300, 300, 150}, StreamFault::None},
        {"period below the shortest pulse", Cat({Op(FluxOp::Astable, 20), {0}}), {}, StreamFault::BadPeriod},
        {"index has no place in a write", Cat({Op(FluxOp::Index, 20), {0}}), {}, StreamFault::BadOpcode},
        {"longer than any write", Cat({Op(FluxOp::Space, kMax), {0}}), {}, StreamFault::TooLong},
        {"no end", {100}, {100}, StreamFault::Truncated},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const DecodedWrite write = DecodeWriteStream(c.stream, 57);
        EXPECT_EQ(write.fault, c.fault);
        if (c.fault == StreamFault::None) {
            EXPECT_EQ(write.intervals, c.intervals);
        }
    }
    // What the host encodes comes out as the intervals plus the one the device stops on.
    std::vector<uint32_t> intervals;
    for (uint32_t i = 0; i < 5'000; ++i)
        intervals.push_back(144 + (i * 37) % 9'000);
    const DecodedWrite write = DecodeWriteStream(EncodeWriteStream(intervals), 57);
    intervals.push_back(WriteEncoding{}.finalTicks);
    EXPECT_EQ(write.intervals, intervals);
}

TEST(FluxStream, RevolutionsAreCutAtTheIndexPulses)
{
    // Transitions at 10, 30, 60, 100, 110, 130; pulses at 30, 100, 125.
    const FluxRead flux{{10, 20, 30, 40, 10, 20}, {30, 100, 125}};
    const std::vector<Revolution> turns = CutRevolutions(flux);
    ASSERT_EQ(turns.size(), 2u);
    EXPECT_EQ(turns[0].intervals, (std::vector<uint32_t>{30, 40}));
    EXPECT_EQ(turns[0].ticks, 70u);
    EXPECT_EQ(turns[1].intervals, (std::vector<uint32_t>{10}));
    EXPECT_EQ(turns[1].ticks, 25u);
    EXPECT_TRUE(CutRevolutions({{10}, {5}}).empty());
}

}  // namespace
