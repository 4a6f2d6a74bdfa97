// SPDX-License-Identifier: GPL-3.0-or-later
// Tracks of every diskette format through the encoder, flux as drives and readers
// distort it, and back through the decoder and the merge of revolutions.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <string>

#include "drive/backend/emulated/driveclock.h"
#include "drive/diskservice.h"
#include "drive/media.h"
#include "drive/tracklayout.h"
#include "mfm/crc.h"
#include "mfm/encode.h"
#include "mfm/merge.h"
#include "mfm/trackbytes.h"

using namespace vokta;
using namespace vokta::mfm;

namespace {

constexpr MediaType kMediaOf[] = {kMedia720K, kMedia12M, kMedia144M, kMedia168M, kMedia172M};

std::vector<uint8_t> TrackData(const MediumFormat& f, uint32_t seed)
{
    std::vector<uint8_t> data(size_t{f.sectorsPerTrack} * SectorBytes(f.sizeCode));
    for (uint8_t& byte : data) {
        seed = seed * 1103515245 + 12345;
        byte = static_cast<uint8_t>(seed >> 16);
    }
    return data;
}

std::vector<SectorImage> Slots(const MediumFormat& f, size_t medium, bool optimized, uint8_t cylinder, uint8_t head)
{
    const MediaGeometry g = *GeometryOf(kMediaOf[medium]);
    const std::vector<uint16_t> order = optimized
                                            ? OptimizedTrackOrder(g.sectorsPerTrack, g.skew, g.interleave, cylinder, head)
                                            : StandardTrackOrder(g.sectorsPerTrack);
    return *SlotsInOrder(cylinder, head, f.sizeCode, order, TrackData(f, cylinder * 2u + head));
}

EncodedTrack Encode(const MediumFormat& f, const std::vector<SectorImage>& slots)
{
    EncodedTrack track = EncodeTrack(f.recording, f.gap3, slots);
    EXPECT_TRUE(track.ok()) << f.name << " refused, needs " << track.cellsNeeded << " cells";
    return track;
}

MergedTrack Read(const TrackFlux& flux, const MediumFormat& f, uint8_t cylinder = 0, uint8_t head = 0)
{
    const TrackRead read = DecodeTrack(flux, f.recording, {cylinder, head, f.sizeCode});
    EXPECT_TRUE(read.ok());
    return MergeRevolutions(read);
}

// Every slot's sector came back good from the first revolution with its data.
void ExpectAllGood(const MergedTrack& merged, const std::vector<SectorImage>& slots, const std::string& what)
{
    ASSERT_EQ(merged.sectors.size(), slots.size()) << what;
    for (const SectorImage& s : slots) {
        const MergedSector* m = merged.Find(s.sector);
        ASSERT_NE(m, nullptr) << what << " sector " << int{s.sector};
        EXPECT_TRUE(m->good) << what << " sector " << int{s.sector};
        EXPECT_EQ(m->data, s.data) << what << " sector " << int{s.sector};
        EXPECT_EQ(m->badReads + m->missed, 0u) << what << " sector " << int{s.sector};
        EXPECT_FALSE(m->copiesDiffer || m->foundTwice) << what;
    }
    EXPECT_TRUE(merged.strays.empty()) << what;
    EXPECT_EQ(merged.badAddressFields, 0u) << what;
}

// The flux as a drive of another speed, a noisy head or a weak spot gives it: every
// transition moved to `warp(t)` (ticks from the first index), those `lost` dropped.
TrackFlux Distort(const TrackFlux& flux, const std::function<double(double)>& warp,
                  const std::function<bool(double)>& lost = [](double) { return false; })
{
    TrackFlux out{flux.tickHz, {}};
    double at = 0;
    double index = 0;
    int64_t last = 0;
    for (const Revolution& r : flux.revolutions) {
        Revolution& o = out.revolutions.emplace_back();
        o.indexTicks = static_cast<uint64_t>(std::llround(warp(index + static_cast<double>(r.indexTicks)) - warp(index)));
        index += static_cast<double>(r.indexTicks);
        for (const uint32_t interval : r.intervals) {
            at += interval;
            if (lost(at))
                continue;
            const int64_t moved = std::llround(warp(at));
            o.intervals.push_back(static_cast<uint32_t>(moved - last));
            last = moved;
        }
    }
    return out;
}

double Jitter(double at, double amplitude)
{
    // A fixed pseudo-random offset per transition, within ±amplitude.
    const uint64_t h = static_cast<uint64_t>(at) * 0x9E3779B97F4A7C15u;
    return amplitude * (static_cast<double>(h >> 11) / 4503599627370496.0 - 1.0);
}

}  // namespace

TEST(MfmCrc, MatchesTheControllersCrc)
{
    const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(Crc16(check), 0x29B1);
    const uint8_t syncs[] = {0xA1, 0xA1, 0xA1};
    EXPECT_EQ(Crc16(syncs), kCrcAfterSync);
    // The address field of cylinder 0, head 0, sector 1, 512 bytes, as controllers write it.
    const uint8_t id[] = {0xA1, 0xA1, 0xA1, 0xFE, 0, 0, 1, 2};
    EXPECT_EQ(Crc16(id), 0xCA6F);
}

TEST(MfmFormats, AgreeWithTheDriveTables)
{
    for (size_t i = 0; i < kMediumFormats.size(); ++i) {
        const MediumFormat& f = kMediumFormats[i];
        const MediaGeometry g = *GeometryOf(kMediaOf[i]);
        EXPECT_EQ(f.sectorsPerTrack, g.sectorsPerTrack) << f.name;
        EXPECT_EQ(f.cylinders, g.cylinders) << f.name;
        EXPECT_EQ(f.gap3, StandardFormatGap(f.sectorsPerTrack)) << f.name;
        if (f.sectorsPerTrack == 21) {
            EXPECT_EQ(f.gap3, kDmfParameterTable[7]) << f.name;
        }
    }
}

// Every format, both layouts, first, second and last cylinder: one revolution of cells
// exactly, and two revolutions of flux read back whole, each sector where it was put.
TEST(MfmRoundTrip, EveryFormatInBothLayouts)
{
    for (size_t medium = 0; medium < kMediumFormats.size(); ++medium) {
        const MediumFormat& f = kMediumFormats[medium];
        for (const bool optimized : {false, true}) {
            for (const uint8_t cylinder : {uint8_t{0}, uint8_t{1}, static_cast<uint8_t>(f.cylinders - 1)}) {
                const auto head = static_cast<uint8_t>(cylinder & 1);
                const std::string what = std::string(f.name) + (optimized ? " optimized" : " standard") +
                                         " cylinder " + std::to_string(cylinder);
                const std::vector<SectorImage> slots = Slots(f, medium, optimized, cylinder, head);
                const EncodedTrack track = Encode(f, slots);
                EXPECT_EQ(track.cells.size(), CellsPerRevolution(f.recording)) << what;
                const double tickHz = cylinder % 2 ? 40e6 : 72e6;
                const TrackRead read = DecodeTrack(CellsToFlux(track.cells, f.recording, tickHz, 2), f.recording,
                                                   {cylinder, head, f.sizeCode});
                ASSERT_EQ(read.revolutions.size(), 2u) << what;
                for (const RevolutionRead& revolution : read.revolutions) {
                    ASSERT_EQ(revolution.sectors.size(), slots.size()) << what;
                    for (size_t slot = 0; slot < slots.size(); ++slot) {
                        EXPECT_EQ(revolution.sectors[slot].sector, slots[slot].sector) << what << " slot " << slot;
                        EXPECT_NEAR(static_cast<double>(revolution.sectors[slot].position),
                                    static_cast<double>(track.addressMarks[slot]), 1.0)
                            << what << " slot " << slot;
                    }
                }
                ExpectAllGood(MergeRevolutions(read), slots, what);
            }
        }
    }
}

// What drives and readers do to the flux: the decoder reads every sector through it.
TEST(MfmDecode, HoldsThroughSpeedJitterAndDropouts)
{
    const MediumFormat& f = k1440K;
    const std::vector<SectorImage> slots = Slots(f, 2, true, 1, 0);
    const EncodedTrack track = Encode(f, slots);
    const TrackFlux clean = CellsToFlux(track.cells, f.recording, 72e6, 3);
    const double cell = 72e6 / CellsPerSecond(f.recording);
    const double revolution = 72e6 * 0.2;
    // A dropout of 60 cells in the gap 3 behind the fifth slot's data, every revolution.
    const double gapStart = static_cast<double>(track.addressMarks[4] + (50 + 512 + 4) * 16) * cell;
    const auto inGap3 = [&](double at) {
        const double within = std::fmod(at, revolution);
        return within > gapStart && within < gapStart + 60 * cell;
    };
    struct Case {
        const char* name;
        std::function<double(double)> warp;
        std::function<bool(double)> lost;
    };
    const auto none = [](double) { return false; };
    const Case cases[] = {
        {"jitter of 8% of a cell", [&](double t) { return t + Jitter(t, 0.08 * cell); }, none},
        {"10% slow", [](double t) { return t * 1.1; }, none},
        {"10% fast", [](double t) { return t * 0.9; }, none},
        {"drift between 10% slow and fast",
         [&](double t) { return t + 0.1 * revolution / (2 * std::numbers::pi) * std::sin(2 * std::numbers::pi * t / revolution); }, none},
        {"speed rising 10% over three revolutions", [&](double t) { return t - 0.05 * t * t / (3 * revolution); }, none},
        {"drift and jitter",
         [&](double t) {
             return t + 0.09 * revolution / (4 * std::numbers::pi) * std::sin(4 * std::numbers::pi * t / revolution) + Jitter(t, 0.05 * cell);
         },
         none},
        {"dropout of 60 cells", [](double t) { return t; }, inGap3},
    };
    for (const Case& c : cases)
        ExpectAllGood(Read(Distort(clean, c.warp, c.lost), f, 1, 0), slots, c.name);
    // A reader that gives no index length leaves the PLL to find the speed on its own.
    TrackFlux slowUntimed = Distort(clean, [](double t) { return t * 1.1; });
    for (Revolution& r : slowUntimed.revolutions)
        r.indexTicks = 0;
    ExpectAllGood(Read(slowUntimed, f, 1, 0), slots, "10% slow, no index length");
}

TEST(MfmDecode, DropoutInDataSpoilsThatSectorAlone)
{
    const MediumFormat& f = k720K;
    const std::vector<SectorImage> slots = Slots(f, 0, false, 0, 0);
    const EncodedTrack track = Encode(f, slots);
    const double cell = 40e6 / CellsPerSecond(f.recording);
    const double start = static_cast<double>(track.addressMarks[3] + 60 * 16) * cell;
    const double revolution = 40e6 * 0.2;
    const MergedTrack merged = Read(Distort(CellsToFlux(track.cells, f.recording, 40e6, 3), [](double t) { return t; },
                                            [&](double t) {
                                                const double within = std::fmod(t, revolution);
                                                return within > start && within < start + 100 * cell;
                                            }),
                                    f);
    for (const MergedSector& m : merged.sectors) {
        EXPECT_EQ(m.good, m.sector != slots[3].sector) << int{m.sector};
        EXPECT_EQ(m.badReads, m.good ? 0u : 3u) << int{m.sector};
    }
    EXPECT_EQ(merged.sectors.size(), slots.size());
}

// Revolutions that read differently: the merge takes a good read, and says where it came
// from and what the others did.
TEST(MfmMerge, TakesTheGoodReadAndTellsTheRest)
{
    const MediumFormat& f = k1440K;
    const std::vector<SectorImage> slots = Slots(f, 2, false, 0, 0);
    std::vector<SectorImage> badFive = slots;
    badFive[4].badDataCrc = true;
    std::vector<SectorImage> otherThree = slots;
    otherThree[2].data[100] ^= 0x55;
    struct Case {
        const char* name;
        std::vector<const std::vector<SectorImage>*> revolutions;
        int fromRevolution;  // of sector 5, or of sector 3 when copies differ
        unsigned badReads;
        bool copiesDiffer;
    };
    const Case cases[] = {
        {"bad in two of three", {&badFive, &badFive, &slots}, 2, 2, false},
        {"bad in the first", {&badFive, &slots, &slots}, 1, 1, false},
        {"bad in all three", {&badFive, &badFive, &badFive}, -1, 3, false},
        {"two good copies differ", {&slots, &otherThree, &slots}, 0, 0, true},
    };
    for (const Case& c : cases) {
        TrackFlux flux{84e6, {}};
        for (const std::vector<SectorImage>* revolution : c.revolutions)
            AppendRevolution(flux, Encode(f, *revolution).cells, f.recording);
        const MergedTrack merged = Read(flux, f);
        const MergedSector& m = *merged.Find(c.copiesDiffer ? 3 : 5);
        EXPECT_EQ(m.fromRevolution, c.fromRevolution) << c.name;
        EXPECT_EQ(m.good, c.fromRevolution >= 0) << c.name;
        EXPECT_EQ(m.badReads, c.badReads) << c.name;
        EXPECT_EQ(m.copiesDiffer, c.copiesDiffer) << c.name;
        // A bad CRC alone leaves the data as written, to be saved.
        EXPECT_EQ(m.data, c.copiesDiffer ? slots[2].data : slots[4].data) << c.name;
        EXPECT_EQ(merged.sectors.size(), slots.size()) << c.name;
    }
}

// Address fields that do not belong, and marks that matter: reported, never taken silently.
TEST(MfmDecode, ReportsWhatDoesNotBelongToTheTrack)
{
    const MediumFormat& f = k720K;
    const std::vector<SectorImage> base = Slots(f, 0, false, 3, 1);
    struct Case {
        const char* name;
        std::function<void(std::vector<SectorImage>&)> change;
        bool wrongTrack;
        bool wrongSize;
        bool foundTwice;
        bool deleted;
    };
    const Case cases[] = {
        {"another cylinder", [](auto& s) { s[2].cylinder = 4; }, true, false, false, false},
        {"another head", [](auto& s) { s[2].head = 0; }, true, false, false, false},
        {"another size", [](auto& s) {
             s[2].sizeCode = 1;
             s[2].data.resize(256);
         }, false, true, false, false},
        {"a sector twice", [](auto& s) { s[2].sector = s[1].sector; }, false, false, true, false},
        {"a deleted-data mark", [](auto& s) { s[2].deleted = true; }, false, false, false, true},
    };
    for (const Case& c : cases) {
        std::vector<SectorImage> slots = base;
        c.change(slots);
        const TrackRead read = DecodeTrack(CellsToFlux(Encode(f, slots).cells, f.recording, 72e6, 1), f.recording,
                                           {3, 1, f.sizeCode});
        const SectorRead& third = read.revolutions.at(0).sectors.at(2);
        EXPECT_TRUE(third.idCrcOk && third.dataCrcOk) << c.name;
        EXPECT_EQ(third.data, slots[2].data) << c.name;
        EXPECT_EQ(third.wrongTrack, c.wrongTrack) << c.name;
        EXPECT_EQ(third.wrongSize, c.wrongSize) << c.name;
        EXPECT_EQ(third.foundTwice, c.foundTwice) << c.name;
        EXPECT_EQ(third.deleted, c.deleted) << c.name;
        const MergedTrack merged = MergeRevolutions(read);
        EXPECT_EQ(merged.strays.size(), c.wrongTrack || c.wrongSize ? 1u : 0u) << c.name;
        EXPECT_EQ(merged.Find(slots[2].sector) && merged.Find(slots[2].sector)->foundTwice, c.foundTwice) << c.name;
    }
}

TEST(MfmEncode, RefusesWhatCannotBeRecorded)
{
    const MediumFormat& f = k1440K;
    const std::vector<SectorImage> slots = Slots(f, 2, false, 0, 0);
    std::vector<SectorImage> nineteen = slots;
    nineteen.push_back(slots[0]);
    nineteen.back().sector = 19;
    std::vector<SectorImage> shortData = slots;
    shortData[7].data.pop_back();
    struct Case {
        const char* name;
        Recording recording;
        uint8_t gap3;
        const std::vector<SectorImage>* slots;
        EncodeRefusal refusal;
    };
    // 18 sectors of 574 bytes and their gap 3, with the shortest preamble, in 12500 bytes.
    const Case cases[] = {
        {"widest gap that fits", f.recording, 118, &slots, EncodeRefusal::None},
        {"one byte wider", f.recording, 119, &slots, EncodeRefusal::TrackTooLong},
        {"nineteen sectors", f.recording, f.gap3, &nineteen, EncodeRefusal::TrackTooLong},
        {"double density rate", k720K.recording, f.gap3, &slots, EncodeRefusal::TrackTooLong},
        {"a short sector", f.recording, f.gap3, &shortData, EncodeRefusal::DataSizeMismatch},
        {"no such rotation", {500, 0}, f.gap3, &slots, EncodeRefusal::RecordingImplausible},
    };
    for (const Case& c : cases) {
        const EncodedTrack track = EncodeTrack(c.recording, c.gap3, *c.slots);
        EXPECT_EQ(track.refusal, c.refusal) << c.name;
        if (c.refusal == EncodeRefusal::TrackTooLong) {
            EXPECT_GT(track.cellsNeeded, track.cellsPerRevolution) << c.name;
        }
        if (c.refusal != EncodeRefusal::None) {
            EXPECT_EQ(track.cells.size(), 0u) << c.name << ": nothing cut short is handed out";
        }
    }
    EXPECT_FALSE(SlotsInOrder(0, 0, 2, std::vector<uint16_t>{1, 19}, TrackData(f, 0)).has_value()) << "sector 19 has no data";
}

TEST(MfmDecode, RefusesAClockTooSlowToTimeCells)
{
    const TrackFlux flux = CellsToFlux(Encode(k1440K, Slots(k1440K, 2, false, 0, 0)).cells, k1440K.recording, 72e6, 1);
    TrackFlux coarse = flux;
    coarse.tickHz = 2e6;
    EXPECT_EQ(DecodeTrack(coarse, k1440K.recording, {}).refusal, DecodeRefusal::TickRateUnusable);
    EXPECT_EQ(DecodeTrack(flux, {500, 0}, {}).refusal, DecodeRefusal::RecordingImplausible);
    EXPECT_TRUE(DecodeTrack(TrackFlux{72e6, {}}, k1440K.recording, {}).revolutions.empty());
}
