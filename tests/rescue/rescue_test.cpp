// SPDX-License-Identifier: GPL-3.0-or-later
// The rescue read on emulated drives: every readable sector kept, every lost one in the
// map, a second run reading only what is missing, from the same drive or another, and
// the map as ddrescuelog reads it.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "drive/backend/files/imdfile.h"
#include "rescue/rescue.h"
#include "rescue/rescuemap.h"
#include "support/requiretools.h"
#include "support/scriptedhost.h"
#include "support/tempdir.h"
#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::test;

namespace {

constexpr uint32_t kSpt = 18;  // 1.44M

PhysicalSector PlaceOf(uint32_t sector)
{
    return {static_cast<uint16_t>(sector / (2 * kSpt)), static_cast<uint8_t>(sector / kSpt % 2),
            static_cast<uint8_t>(sector % kSpt + 1)};
}

// The map file's states, one character per sector.
std::string MapStates(const std::string& path)
{
    const std::vector<uint8_t> bytes = ReadFile(path);
    const ParsedRescueMap parsed = ParseRescueMap(std::string(bytes.begin(), bytes.end()), 512, 2880);
    EXPECT_TRUE(parsed.map) << parsed.error;
    return parsed.map ? std::string(reinterpret_cast<const char*>(parsed.map->sectors.data()), parsed.map->sectors.size())
                      : std::string();
}

struct Rescue : ::testing::Test {
    std::shared_ptr<EmulatedDrive> a = std::make_shared<EmulatedDrive>(DriveKind::Floppy35HD, 1);
    std::shared_ptr<EmulatedDrive> b = std::make_shared<EmulatedDrive>(DriveKind::Floppy35HD, 2);
    DriveTable table;
    std::shared_ptr<RecordingService> aRequests = BindRecorded(table, 'A', ShareService(a));
    std::shared_ptr<RecordingService> bRequests = BindRecorded(table, 'B', ShareService(b));
    ScriptedHost host;
    TempDir dir;
    // A 1.44M FAT diskette whose data area is all in use, so every lost sector is a file's.
    std::vector<uint8_t> source = FatImage(kMedia144M, {}, UsedClusters());

    static std::vector<uint16_t> UsedClusters(const std::vector<uint16_t>& bad = {})
    {
        std::vector<uint16_t> used;
        for (uint16_t c = 2; c < 2 + 2847; ++c)
            if (std::ranges::find(bad, c) == bad.end())
                used.push_back(c);
        return used;
    }

    void Insert(EmulatedDrive& drive, const std::vector<uint8_t>& image, const std::set<uint32_t>& defects = {})
    {
        drive.Insert(EmulatedMedium::FromImage(kMedia144M, image));
        drive.medium()->writeProtected = true;
        for (uint32_t s : defects)
            drive.medium()->defects.insert(PlaceOf(s));
    }

    OperationOutcome Run(char letter, const std::string& image, unsigned passes = 3, unsigned retries = 2)
    {
        RescueJob job;
        job.driveText = std::string(1, letter) + ":  FLOPPY";
        job.imagePath = dir.File(image);
        job.passes = passes;
        job.retries = retries;
        job.drives = table;
        host = ScriptedHost();
        return RescueWorker(std::move(job), host);
    }

    // The reads of the rescue's passes.
    static std::vector<LoggedRequest> PassRequests(const RecordingService& requests)
    {
        return ReadsAfterLayoutCheck(requests, kSpt, 2);
    }

    static int RereadsOfGoodSectors(const RecordingService& requests)
    {
        return RereadsOfSectorsReadWell(PassRequests(requests), kSpt, 2);
    }

    // Every sector the run read in its passes, with how often.
    static std::map<uint32_t, int> PassReads(const RecordingService& requests)
    {
        std::map<uint32_t, int> reads;
        for (const LoggedRequest& r : PassRequests(requests))
            for (uint32_t s : SectorsOfTrackRequest(r, kSpt, 2))
                ++reads[s];
        return reads;
    }
};

}  // namespace

TEST_F(Rescue, EveryReadableSectorIsKeptAndEveryLostOneIsInTheMap)
{
    const struct {
        const char* name;
        std::set<uint32_t> persistent;
        // Sectors that fail their first `transientReads` reads, then read.
        std::set<uint32_t> transient;
        int transientReads;
        std::vector<uint16_t> badClusters;
        unsigned passes;
        uint32_t recovered;
        std::set<uint32_t> lost;
    } cases[] = {
        {"a sound diskette", {}, {}, 0, {}, 3, 0, {}},
        {"three sectors that never read", {400, 401, 2000}, {}, 0, {}, 3, 0, {400, 401, 2000}},
        {"sectors that read on a retry", {}, {700, 1500}, 2, {}, 3, 2, {}},
        {"a sector that needs the third pass", {}, {900}, 5, {}, 3, 1, {}},
        {"one pass leaves failing tracks unread", {}, {702}, 1, {}, 1, 0, {702, 703, 704, 705, 706, 707, 708, 709, 710, 711, 712, 713, 714, 715, 716, 717, 718, 719}},
        {"a BAD cluster is not lost", {1000}, {}, 0, {1000 - 33 + 2}, 3, 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> image = FatImage(kMedia144M, c.badClusters, UsedClusters(c.badClusters));
        Insert(*a, image, c.persistent);
        aRequests->log.clear();
        for (uint32_t s : c.transient) {
            const PhysicalSector place = PlaceOf(s);
            aRequests->FailNext(
                [place](const DiskRequest& r) {
                    return r.minor() == Minor::ReadTrack && TrackIoBlock::Cylinder(r.block) == place.cylinder &&
                           TrackIoBlock::Head(r.block) == place.head && TrackIoBlock::FirstSector(r.block) < place.number &&
                           TrackIoBlock::FirstSector(r.block) + TrackIoBlock::Count(r.block) >= place.number;
                },
                c.transientReads, Err::BadCrc);
        }
        const std::string name = std::string("r") + std::to_string(&c - cases) + ".img";
        const OperationOutcome outcome = Run('A', name, c.passes);
        EXPECT_EQ(outcome.result, kResultDone);
        EXPECT_EQ(outcome.dataLost, !c.lost.empty());
        EXPECT_EQ(outcome.figures.sectorsIgnored, c.lost.size());
        EXPECT_EQ(outcome.figures.sectorsRecovered, c.recovered);
        const uint32_t skipped = c.badClusters.empty() ? 0 : 1;
        EXPECT_EQ(outcome.figures.sectorsRead, 2880 - c.lost.size() - skipped);
        std::vector<uint8_t> expected = image;
        for (uint32_t s : c.lost)
            std::fill_n(expected.begin() + s * 512, 512, 0);
        for (uint32_t s : c.persistent)
            std::fill_n(expected.begin() + s * 512, 512, 0);
        EXPECT_EQ(ReadFile(dir.File(name)), expected) << "readable sectors kept, lost ones zeros";
        const std::string states = MapStates(dir.File(name + ".map"));
        for (uint32_t s = 0; s < 2880; ++s) {
            const bool missing = c.lost.contains(s) || c.persistent.contains(s);
            const char want = !missing ? '+' : c.passes == 1 ? '/' : '-';
            ASSERT_EQ(states[s], want) << "sector " << s;
        }
        // The track map: each track in the state of its worst sector.
        for (uint32_t s : c.lost) {
            EXPECT_EQ(outcome.trackMap.State(PlaceOf(s).cylinder, PlaceOf(s).head), TrackState::Lost);
        }
        for (uint32_t s : c.transient)
            if (c.passes > 1) {
                EXPECT_EQ(outcome.trackMap.State(PlaceOf(s).cylinder, PlaceOf(s).head), TrackState::Recovered);
            }
        if (!c.badClusters.empty()) {
            EXPECT_EQ(outcome.trackMap.State(PlaceOf(1000).cylinder, PlaceOf(1000).head), TrackState::SkippedBad);
        }
        EXPECT_EQ(outcome.trackMap.State(0, 0), TrackState::Good);
        EXPECT_EQ(RereadsOfGoodSectors(*aRequests), 0) << "a sector once read well is never read again";
        EXPECT_TRUE(aRequests->Requests(Minor::WriteTrack).empty()) << "a failing diskette is never written";
        if (!c.lost.empty()) {
            EXPECT_FALSE(outcome.lost.empty()) << "the files that lost sectors are named";
        }
        EXPECT_EQ(host.Count(HostEvent::Close), 1);
    }
}

TEST_F(Rescue, ASecondRunReadsOnlyWhatIsMissingAlsoFromAnotherDrive)
{
    // The first run on A leaves four sectors; B holds the same diskette in a better state.
    Insert(*a, source, {100, 101, 1234, 2879});
    ASSERT_EQ(Run('A', "disk.img", 2, 1).result, kResultDone);
    ASSERT_EQ(MapStates(dir.File("disk.img.map")).find('-'), 100u);

    for (const char letter : {'A', 'B'}) {
        SCOPED_TRACE(letter);
        RecordingService& requests = letter == 'A' ? *aRequests : *bRequests;
        Insert(letter == 'A' ? *a : *b, source, letter == 'A' ? std::set<uint32_t>{100, 101, 1234, 2879} : std::set<uint32_t>{});
        requests.log.clear();
        const OperationOutcome again = Run(letter, "disk.img", 2, 1);
        EXPECT_EQ(again.result, kResultDone);
        EXPECT_EQ(again.figures.sectorsHeldBefore, 2876u);
        std::set<uint32_t> read;
        for (const auto& [sector, reads] : PassReads(requests))
            read.insert(sector);
        EXPECT_EQ(read, (std::set<uint32_t>{100, 101, 1234, 2879})) << "only the missing sectors are read";
        if (letter == 'B') {
            EXPECT_FALSE(again.dataLost);
            EXPECT_EQ(again.figures.sectorsRead, 4u);
            EXPECT_EQ(ReadFile(dir.File("disk.img")), source);
            EXPECT_EQ(MapStates(dir.File("disk.img.map")), std::string(2880, '+'));
        }
    }

    // A third run has nothing to read.
    bRequests->log.clear();
    EXPECT_EQ(Run('B', "disk.img").figures.sectorsRead, 0u);
    EXPECT_TRUE(PassReads(*bRequests).empty());
}

TEST_F(Rescue, AnImageDiskImageRecordsTheLostSectorsAsDataErrors)
{
    Insert(*a, source, {500, 501});
    ASSERT_EQ(Run('A', "disk.imd").result, kResultDone);
    const ImdReadResult imd = ReadImd(ReadFile(dir.File("disk.imd")), MediumDensity::High);
    ASSERT_TRUE(imd.medium) << imd.error;
    const std::vector<const SectorRecord*> sectors = imd.medium->LogicalSectors(kMedia144M);
    for (uint32_t s = 0; s < 2880; ++s) {
        ASSERT_TRUE(sectors[s]);
        ASSERT_EQ(sectors[s]->dataError, s == 500 || s == 501) << s;
        if (!sectors[s]->dataError) {
            ASSERT_TRUE(std::equal(sectors[s]->data.begin(), sectors[s]->data.end(), source.begin() + s * 512)) << s;
        }
    }
    // Resumed from a sound copy, the file holds every sector.
    Insert(*b, source);
    ASSERT_EQ(Run('B', "disk.imd").figures.sectorsRead, 2u);
    EXPECT_EQ(ReadImd(ReadFile(dir.File("disk.imd")), MediumDensity::High).medium->ToImage(kMedia144M), source);
}

TEST_F(Rescue, WhatCannotBeTheImageOrMapOfThisDisketteIsRefusedAndLeftAlone)
{
    Insert(*a, source);
    const std::vector<uint8_t> otherSerial = [&] {
        std::vector<uint8_t> image = source;
        image[39] ^= 0xFF;
        return image;
    }();
    const std::string finished = "0 +\n0 0x168000 +\n";
    const struct {
        const char* name;
        std::optional<std::vector<uint8_t>> image;
        std::optional<std::string> map;
        const char* told;
    } cases[] = {
        {"an image without its map", source, std::nullopt, "does not: a rescue would overwrite"},
        {"a map without its image", std::nullopt, finished, "but its image"},
        {"a map of a larger diskette", std::vector<uint8_t>(1474560), "0 ?\n0 0x200000 ?\n", "beyond the 1474560 bytes"},
        {"a map that is no map", std::vector<uint8_t>(1474560), "hello world\n", "status line"},
        {"an image of another size", std::vector<uint8_t>(737280), "0 ?\n0 0xB4000 ?\n", "holds 737280 bytes"},
        {"the image of another diskette", otherSerial, finished, "is not the one"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = std::string("x") + std::to_string(&c - cases) + ".img";
        if (c.image)
            WriteFile(dir.File(name), *c.image);
        if (c.map)
            WriteFile(dir.File(name + ".map"), std::vector<uint8_t>(c.map->begin(), c.map->end()));
        aRequests->log.clear();
        const OperationOutcome outcome = Run('A', name);
        EXPECT_EQ(outcome.result, kResultFailed);
        ASSERT_FALSE(host.BoxTexts().empty());
        EXPECT_NE(host.BoxTexts().back().find(c.told), std::string::npos) << host.BoxTexts().back();
        EXPECT_EQ(FileExists(dir.File(name)), c.image.has_value());
        EXPECT_EQ(FileExists(dir.File(name + ".map")), c.map.has_value());
        if (c.image) {
            EXPECT_EQ(ReadFile(dir.File(name)), *c.image);
        }
        if (c.map) {
            EXPECT_EQ(ReadFile(dir.File(name + ".map")), std::vector<uint8_t>(c.map->begin(), c.map->end()));
        }
        EXPECT_TRUE(PassReads(*aRequests).empty());
    }
}

TEST_F(Rescue, AnAbortKeepsEverythingReadSoFarAndTheRunResumesThere)
{
    Insert(*a, source);
    RescueJob job;
    job.driveText = "A:";
    job.imagePath = dir.File("half.img");
    job.drives = table;
    host.abortWhen = [](const ScriptedHost& h) { return h.position >= 40; };
    EXPECT_EQ(RescueWorker(job, host).result, kResultAborted);
    const std::string states = MapStates(dir.File("half.img.map"));
    const size_t finished = static_cast<size_t>(std::ranges::count(states, '+'));
    EXPECT_GE(finished, 40u * 36);
    EXPECT_LT(finished, 2880u);
    const std::vector<uint8_t> half = ReadFile(dir.File("half.img"));
    for (size_t s = 0; s < 2880; ++s)
        if (states[s] == '+') {
            ASSERT_TRUE(std::equal(half.begin() + s * 512, half.begin() + s * 512 + 512, source.begin() + s * 512)) << s;
        }
    aRequests->log.clear();
    EXPECT_EQ(Run('A', "half.img").figures.sectorsRead, 2880 - finished);
    EXPECT_EQ(ReadFile(dir.File("half.img")), source);
}

TEST(RescueMap, ReadsWhatDdrescueWritesAndWritesWhatDdrescuelogReads)
{
    const struct {
        const char* text;
        const char* states;  // one character per sector of an 8-sector medium; empty: refused
        const char* refusal = "";
    } cases[] = {
        {"0x0 ? 1\n0x0 0x1000 +\n", "++++++++"},
        {"# comment\n\n  0 +   # finished\n0 4096 +\n", "++++++++"},
        {"0 ?\n0x0 0x600 +\n0x600 0x200 -\n0x800 0x800 ?\n", "+++-????"},
        {"0 ?\n0 0x500 +\n0x500 0x100 -\n0x600 0xA00 +\n", "++-+++++"},
        {"0 ?\n0 0x480 /\n0x480 0xB80 +\n", "///+++++"},
        {"0 ?\n0 0x400 +\n", "++??????"},
        {"0 F 2\n0 4096 ?\n", "????????"},
        {"0 ?\n0 0x2000 +\n", "", "beyond the 4096 bytes"},
        {"0 ?\n0x400 0x200 +\n0x0 0x200 +\n", "", "begins before the end"},
        {"0 ?\n0 0 +\n", "", "is empty"},
        {"0 ?\n0 0x200 x\n", "", "a block line must be"},
        {"0 ?\n0 0x200\n", "", "a block line must be"},
        {"", "", "no status line"},
        {"# only a comment\n", "", "no status line"},
        {"hello world\n", "", "the status line must be"},
        {"0 ? 0\n", "", "the status line must be"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const ParsedRescueMap parsed = ParseRescueMap(c.text, 512, 8);
        if (*c.states == 0) {
            EXPECT_FALSE(parsed.map);
            EXPECT_NE(parsed.error.find(c.refusal), std::string::npos) << parsed.error;
            continue;
        }
        ASSERT_TRUE(parsed.map) << parsed.error;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(parsed.map->sectors.data()), 8), c.states);
        const ParsedRescueMap back = ParseRescueMap(RescueMapText(*parsed.map, 512, "x", "s", "n"), 512, 8);
        ASSERT_TRUE(back.map);
        EXPECT_EQ(back.map->sectors, parsed.map->sectors);
    }

    // ddrescuelog, which nobody here wrote, reads the map this program writes.
    if (!RequireTools({"ddrescuelog"}))
        return;
    RescueMap map;
    const std::string states = "+++--//??+*+-+++";
    for (char s : states)
        map.sectors.push_back(static_cast<SectorRescue>(s));
    TempDir dir;
    const std::string text = RescueMapText(map, 512, "rescue A: x.img", "2026-12-10 04:00:00", "2026-12-10 04:01:00");
    WriteFile(dir.File("x.map"), std::vector<uint8_t>(text.begin(), text.end()));
    for (const char status : std::string("+-/?*")) {
        std::string listed;
        ASSERT_EQ(Shell("ddrescuelog -b512 -l'" + std::string(1, status) + "' " + ShellQuoted(dir.File("x.map")), &listed), 0);
        std::string expected;
        for (size_t s = 0; s < states.size(); ++s)
            if (states[s] == status)
                expected += std::to_string(s) + "\n";
        EXPECT_EQ(listed, expected) << status;
    }
    EXPECT_NE(Shell("ddrescuelog -D " + ShellQuoted(dir.File("x.map"))), 0) << "not finished";
    map.sectors.assign(16, SectorRescue::Finished);
    const std::string done = RescueMapText(map, 512, "x", "s", "n");
    WriteFile(dir.File("done.map"), std::vector<uint8_t>(done.begin(), done.end()));
    EXPECT_EQ(Shell("ddrescuelog -D " + ShellQuoted(dir.File("done.map"))), 0) << "finished";
}
