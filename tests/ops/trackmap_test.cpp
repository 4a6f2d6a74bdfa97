// SPDX-License-Identifier: GPL-3.0-or-later
// Every operation tells its tracks: each goes in progress, then takes the state its work
// left it in. One table of runs on emulated drives, each map checked track by track.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

#include "fat/repair.h"
#include "format/format.h"
#include "image/duplicate.h"
#include "support/scriptedhost.h"
#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::test;

namespace {

using enum TrackState;

constexpr uint16_t kClusterOfTrack10 = 10 * 36 - 33 + 2;  // 1.44M: data starts at sector 33

struct Track {
    uint16_t cylinder;
    uint8_t head;
    auto operator<=>(const Track&) const = default;
};

struct Sector {
    Track track;
    size_t index;  // sector 1 is index 0
    TrackState state;
};

enum class Op { Read, Write, Compare, Format, Repair };

struct World {
    std::shared_ptr<EmulatedDrive> a = std::make_shared<EmulatedDrive>(DriveKind::Floppy35HD, 1);
    DriveTable table;
    std::shared_ptr<RecordingService> recorder = BindRecorded(table, 'A', ShareService(a));
    std::shared_ptr<DiskImage> image = std::make_shared<DiskImage>();
    std::shared_ptr<FormatInputs> format = std::make_shared<FormatInputs>();
    std::shared_ptr<RepairInputs> repair = std::make_shared<RepairInputs>();
    bool verify = false;
    ScriptedHost host;

    // The image of a FAT diskette in memory, as a read of it would leave it.
    void ImageOfFatDiskette()
    {
        image->data = FatImage(kMedia144M);
        image->size = static_cast<uint32_t>(image->data.size());
        image->mediaType = kMedia144M;
        image->serialText = "ABCDEF";
    }
    EmulatedMedium& Medium() { return *a->medium(); }

    OperationOutcome Run(Op op)
    {
        DuplicateJob job;
        job.driveText = "A:  FLOPPY";
        job.image = image;
        job.serialField = image->serialText;
        job.drives = table;
        job.verifyAfterWrite = verify;
        switch (op) {
        case Op::Read: return ReadDiskWorker(std::move(job), host);
        case Op::Write: return WriteDiskWorker(std::move(job), host);
        case Op::Compare: return CompareWorker(std::move(job), host);
        case Op::Format: {
            format->driveText = job.driveText;
            format->media = kMedia144M;
            format->verify = verify;
            FormatJob formatJob;
            formatJob.inputs = format;
            formatJob.drives = table;
            return FormatWorker(std::move(formatJob), host);
        }
        case Op::Repair: {
            repair->driveText = job.driveText;
            RepairJob repairJob;
            repairJob.inputs = repair;
            repairJob.drives = table;
            return RepairWorker(std::move(repairJob), host);
        }
        }
        return {};
    }
};

struct Row {
    const char* name;
    Op op;
    std::function<void(World&)> setUp;
    int result;
    TrackState rest;                       // every track not named below
    std::map<Track, TrackState> tracks{};  // the exceptions
    std::vector<Sector> sectors{};         // sectors whose state differs from their track's
};

void FatDiskette(World& w, const std::vector<uint16_t>& bad = {})
{
    w.a->Insert(EmulatedMedium::FromImage(kMedia144M, FatImage(kMedia144M, bad)));
    w.Medium().writeProtected = true;
}

void Answering(World& w, Buttons buttons, Answer answer)
{
    w.host.answerWith = [buttons, answer](const std::string&, Buttons asked) {
        return asked == buttons ? answer : Answer::Ok;
    };
}

std::map<Track, TrackState> Cylinders(uint16_t from, uint16_t to, TrackState state)
{
    std::map<Track, TrackState> tracks;
    for (uint16_t c = from; c < to; ++c)
        for (uint8_t h = 0; h < 2; ++h)
            tracks[{c, h}] = state;
    return tracks;
}

const Row kRows[] = {
    {"ReadClean", Op::Read, [](World& w) { FatDiskette(w); }, kResultDone, Good},
    {"ReadIgnoredDefectLosesItsSectorOnly", Op::Read,
     [](World& w) {
         FatDiskette(w);
         w.Medium().defects.insert({10, 0, 4});
         Answering(w, Buttons::AbortRetryIgnore, Answer::Ignore);
     },
     kResultDone, Good, {{{10, 0}, Lost}}, {{{10, 0}, 3, Lost}, {{10, 0}, 0, Good}, {{10, 0}, 4, Good}}},
    {"ReadRetriedTrackThatReadsIsRecovered", Op::Read,
     [](World& w) {
         FatDiskette(w);
         w.Medium().transientDefects[{10, 1, 5}] = 1;
         Answering(w, Buttons::AbortRetryIgnore, Answer::Retry);
     },
     kResultDone, Good, {{{10, 1}, Recovered}}},
    {"ReadPassesOverTheTrackOfABadCluster", Op::Read,
     [](World& w) {
         FatDiskette(w, {kClusterOfTrack10});
         w.Medium().defects.insert({10, 0, 4});
     },
     kResultDone, Good, {{{10, 0}, SkippedBad}}},
    {"ReadAbortedAtADefect", Op::Read,
     [](World& w) {
         FatDiskette(w);
         w.Medium().defects.insert({3, 1, 1});
         Answering(w, Buttons::AbortRetryIgnore, Answer::Abort);
     },
     kResultAborted, NotYet, [] {
         auto t = Cylinders(0, 4, Good);
         t[{3, 1}] = Lost;
         return t;
     }()},
    {"Write", Op::Write,
     [](World& w) {
         w.ImageOfFatDiskette();
         w.a->Insert(EmulatedMedium::FromImage(kMedia144M, FatImage(kMedia144M)));
     },
     kResultDone, Written},
    {"WriteAndVerify", Op::Write,
     [](World& w) {
         w.ImageOfFatDiskette();
         w.a->Insert(EmulatedMedium::FromImage(kMedia144M, FatImage(kMedia144M)));
         w.format->full = false;
         w.verify = true;
     },
     kResultDone, Verified},
    {"WriteThatFormatsAndMeetsATrackThatWillNotFormat", Op::Write,
     [](World& w) {
         w.ImageOfFatDiskette();
         w.a->Insert(EmulatedMedium(MediumDensity::High));
         w.Medium().unformattable.insert({5, 1});
     },
     kResultFailed, NotYet,
     [] {
         auto t = Cylinders(0, 6, Formatted);
         t[{5, 1}] = Lost;
         return t;
     }()},
    {"CompareEqual", Op::Compare,
     [](World& w) {
         w.ImageOfFatDiskette();
         FatDiskette(w);
     },
     kResultDone, Good},
    {"CompareStopsAtTheCylinderThatDiffers", Op::Compare,
     [](World& w) {
         w.ImageOfFatDiskette();
         FatDiskette(w);
         w.Medium().Find(40, 1, 3)->data[100] ^= 0xFF;
     },
     kResultAborted, NotYet,
     [] {
         auto t = Cylinders(0, 41, Good);
         t[{40, 1}] = Differs;
         return t;
     }(),
     {{{40, 1}, 2, Differs}, {{40, 1}, 1, Good}}},
    {"CompareIgnoredDefectIsLost", Op::Compare,
     [](World& w) {
         w.ImageOfFatDiskette();
         FatDiskette(w);
         w.Medium().defects.insert({50, 0, 7});
         Answering(w, Buttons::AbortRetryIgnore, Answer::Ignore);
     },
     kResultDone, Good, {{{50, 0}, Lost}}, {{{50, 0}, 6, Lost}, {{50, 0}, 7, Good}}},
    {"FormatFull", Op::Format,
     [](World& w) {
         w.a->Insert(EmulatedMedium(MediumDensity::High));
         w.format->full = true;
     },
     kResultDone, Formatted},
    {"FormatFullVerified", Op::Format,
     [](World& w) {
         w.a->Insert(EmulatedMedium(MediumDensity::High));
         w.format->full = true;
         w.verify = true;
     },
     kResultDone, Verified},
    {"FormatFullVerifiedWithATrackThatFails", Op::Format,
     [](World& w) {
         w.a->Insert(EmulatedMedium(MediumDensity::High));
         w.Medium().defects.insert({20, 1, 3});
         w.format->full = true;
         w.verify = true;
     },
     kResultDone, Verified, {{{20, 1}, Lost}}},
    {"FormatQuickWritesTheSystemArea", Op::Format,
     [](World& w) {
         w.a->Insert(EmulatedMedium::FromImage(kMedia144M, FatImage(kMedia144M)));
         w.format->full = false;
     },
     kResultDone, NotYet, {{{0, 0}, Written}, {{0, 1}, Written}}},
    {"FormatQuickVerified", Op::Format,
     [](World& w) {
         w.a->Insert(EmulatedMedium::FromImage(kMedia144M, FatImage(kMedia144M)));
         w.format->full = false;
         w.verify = true;
     },
     kResultDone, Verified},
    {"RepairClean", Op::Repair, [](World& w) { FatDiskette(w); }, kResultDone, Good},
    {"RepairMarksADataTrackBad", Op::Repair,
     [](World& w) {
         FatDiskette(w);
         w.Medium().writeProtected = false;
         w.Medium().defects.insert({30, 0, 9});
         w.repair->data = DataChoice::MarkTrack;
     },
     kResultDone, Good, {{{30, 0}, SkippedBad}}},
    {"RepairReformatsATrackWithItsDataRestored", Op::Repair,
     [](World& w) {
         FatDiskette(w);
         w.Medium().writeProtected = false;
         w.Medium().transientDefects[{30, 0, 9}] = 1;
         w.repair->data = DataChoice::TryFormat;
     },
     kResultDone, Good, {{{30, 0}, Formatted}}},
    {"RepairReformatLosesTheSectorThatNeverRead", Op::Repair,
     [](World& w) {
         FatDiskette(w);
         w.Medium().writeProtected = false;
         w.Medium().Find(30, 0, 9)->dataError = true;
         w.repair->data = DataChoice::TryFormat;
     },
     kResultDone, Good, {{{30, 0}, Lost}}, {{{30, 0}, 8, Lost}, {{30, 0}, 7, Formatted}}},
    {"RepairStopsAtDamage", Op::Repair,
     [](World& w) {
         FatDiskette(w);
         w.Medium().defects.insert({30, 0, 9});
     },
     kResultAborted, NotYet,
     [] {
         auto t = Cylinders(0, 30, Good);
         t[{30, 0}] = Lost;
         return t;
     }()},
};

void PrintTo(const Row& row, std::ostream* out)
{
    *out << row.name;
}

class TrackMapOfOperations : public ::testing::TestWithParam<Row> {};

// The map as the host's record tells it: begun afresh, then every track's news applied.
TrackMap Replayed(const ScriptedHost& host)
{
    TrackMap map;
    for (const HostEvent& e : host.events) {
        if (e.kind == HostEvent::MapBegun)
            map = TrackMap(e.shape);
        else if (e.kind == HostEvent::Track)
            map.Apply(e.track);
    }
    return map;
}

// Tracks that took a final state without having been in progress since the map began.
std::vector<std::string> TracksNeverInProgress(const ScriptedHost& host)
{
    std::set<Track> inProgress;
    std::vector<std::string> wrong;
    for (const HostEvent& e : host.events) {
        if (e.kind == HostEvent::MapBegun)
            inProgress.clear();
        if (e.kind != HostEvent::Track)
            continue;
        const Track t{e.track.cylinder, e.track.head};
        if (e.track.state == InProgress)
            inProgress.insert(t);
        else if (!inProgress.contains(t))
            wrong.push_back(std::to_string(t.cylinder) + "/" + std::to_string(t.head));
    }
    return wrong;
}

TEST_P(TrackMapOfOperations, EveryTrackEndsAsItsWorkLeftIt)
{
    const Row& row = GetParam();
    World world;
    row.setUp(world);
    const OperationOutcome outcome = world.Run(row.op);
    EXPECT_EQ(outcome.result, row.result) << (world.host.BoxTexts().empty() ? "" : world.host.BoxTexts().front());

    const TrackMap& map = outcome.trackMap;
    ASSERT_EQ(map.shape(), (TrackMapShape{80, 2, 18}));
    std::vector<std::string> wrong;
    const auto expect = [&](const std::string& where, TrackState actual, TrackState expected) {
        if (actual != expected)
            wrong.push_back(where + ": " + TrackStateName(actual) + ", not " + TrackStateName(expected));
    };
    for (uint16_t c = 0; c < 80; ++c)
        for (uint8_t h = 0; h < 2; ++h) {
            const auto named = row.tracks.find({c, h});
            expect(std::to_string(c) + "/" + std::to_string(h), map.State(c, h),
                   named != row.tracks.end() ? named->second : row.rest);
        }
    for (const Sector& s : row.sectors)
        expect(std::to_string(s.track.cylinder) + "/" + std::to_string(s.track.head) + " sector " +
                   std::to_string(s.index + 1),
               map.Sectors(s.track.cylinder, s.track.head)[s.index], s.state);
    EXPECT_EQ(wrong, std::vector<std::string>{});

    EXPECT_EQ(map, Replayed(world.host)) << "the outcome's map is the one the host was shown";
    EXPECT_EQ(map, world.host.trackMap);
    EXPECT_EQ(world.host.Count(HostEvent::MapBegun), 1);
    EXPECT_EQ(TracksNeverInProgress(world.host), std::vector<std::string>{});
    EXPECT_EQ(map.Count(InProgress), 0) << "no track is left in progress at the end";
}

INSTANTIATE_TEST_SUITE_P(Operations, TrackMapOfOperations, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& run) { return std::string(run.param.name); });

// Each diskette of a run of several begins a map of its own.
TEST(TrackMapOfOperations, EveryDisketteOfAMultipleWriteBeginsAFreshMap)
{
    World world;
    world.ImageOfFatDiskette();
    world.a->Insert(EmulatedMedium::FromImage(kMedia144M, FatImage(kMedia144M)));
    int removals = 0;
    world.host.abortWhen = [&](const ScriptedHost& host) {
        return host.Count(HostEvent::MapBegun) == 2 && host.Count(HostEvent::AbortCaption) >= 3;
    };
    world.host.At(1000, [&] {
        ++removals;
        world.a->Eject();
    });
    world.host.At(3000, [&] { world.a->Insert(EmulatedMedium::FromImage(kMedia144M, FatImage(kMedia144M))); });
    DuplicateJob job;
    job.driveText = "A:  FLOPPY";
    job.image = world.image;
    job.serialField = world.image->serialText;
    job.drives = world.table;
    job.multiWrite = true;
    job.verifyAfterWrite = false;
    const OperationOutcome outcome = WriteDiskWorker(std::move(job), world.host);
    EXPECT_EQ(outcome.result, kResultDone);
    EXPECT_EQ(removals, 1);
    EXPECT_EQ(world.host.Count(HostEvent::MapBegun), 2);
    EXPECT_EQ(outcome.trackMap.Count(Written), 160) << "the second diskette's map, whole";
    EXPECT_EQ(outcome.trackMap, Replayed(world.host));
}

}  // namespace
