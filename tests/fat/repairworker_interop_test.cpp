// SPDX-License-Identifier: GPL-3.0-or-later
// Repaired diskettes judged by tools nobody here wrote: fsck.fat finds no error and counts
// the clusters in use, mcopy reads every file back, and both FAT copies, read here byte by
// byte, hold the clusters marked BAD.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <ostream>
#include <regex>
#include <set>

#include "fat/fatdisk.h"
#include "fat/damageddiskette.h"
#include "support/requiretools.h"

using namespace vokta;
using namespace vokta::test;

namespace {

struct RepairWorkerInterop : DamagedDiskette {
    // The clusters in use, BAD ones with them, as fsck.fat counts them on the made diskette.
    int usedBefore = 0;

    void SetUp() override
    {
        DamagedDiskette::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        RequireTools({"fsck.fat", "mcopy"});
    }

    // Runs fsck.fat -n -v on a diskette file: no error, and the count of clusters in use.
    int CheckedUsedClusters(const std::string& image)
    {
        std::string out;
        const int status = Shell("fsck.fat -n -v '" + image + "' 2>&1", &out);
        EXPECT_EQ(status, 0) << out;
        std::smatch m;
        if (!std::regex_search(out, m, std::regex("(\\d+) files?, (\\d+)/\\d+ clusters"))) {
            ADD_FAILURE() << "no cluster count in\n" << out;
            return -1;
        }
        return std::stoi(m[2]);
    }

    void MadeIsClean() { usedBefore = CheckedUsedClusters(made); }

    // Every file read back through mcopy equals its source; a file in `lost` differs in
    // the sector at that offset only, which holds zeros.
    void ExpectFilesReadBack(const std::map<std::string, size_t>& lost = {})
    {
        for (const SourceFile& file : files) {
            std::string read;
            ASSERT_EQ(Shell("mcopy -n -i '" + repaired + "' ::" + file.name + " - 2>/dev/null", &read), 0) << file.name;
            std::vector<uint8_t> expected = file.bytes;
            if (const auto at = lost.find(file.name); at != lost.end())
                std::fill_n(expected.begin() + static_cast<std::ptrdiff_t>(at->second),
                            std::min<size_t>(512, expected.size() - at->second), uint8_t{0});
            EXPECT_TRUE(std::ranges::equal(read, expected, [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; }))
                << file.name;
        }
    }

    // The repaired diskette passes fsck.fat, which counts `newlyBad` more clusters in use
    // than on the made diskette, and both FAT copies hold exactly `bad` as BAD.
    void ExpectConsistent(const std::set<uint16_t>& bad, int newlyBad)
    {
        EXPECT_EQ(CheckedUsedClusters(repaired), usedBefore + newlyBad);
        for (unsigned copy = 0; copy < 2; ++copy) {
            const std::vector<uint16_t> found = BadClusters(after, copy, type);
            EXPECT_EQ(std::set<uint16_t>(found.begin(), found.end()), bad) << "FAT copy " << copy + 1;
        }
    }
};

TEST_F(RepairWorkerInterop, RewrittenBootSector)
{
    // The root directory's label is the one a rewritten boot sector carries, so that
    // fsck.fat finds the two in agreement.
    ASSERT_NO_FATAL_FAILURE(Make("VOKTA_FIXED"));
    MadeIsClean();
    EditBootSector([](std::span<uint8_t> boot) { std::copy_n("FAT     ", 8, boot.begin() + 54); });
    job.inputs->boot = BootChoice::WriteNew;
    Run();
    ASSERT_EQ(outcome.result, kResultDone);
    ExpectConsistent({}, 0);
    ExpectFilesReadBack();
    std::string info;
    Shell("fsck.fat -n -v '" + repaired + "' 2>&1", &info);
    EXPECT_NE(info.find("2880 sectors total"), std::string::npos) << info;
}

// A repair the tools judge afterwards: the diskette, its damage, the choices, and what the
// repair leaves.
struct Case {
    const char* name;
    MediaType type = kMedia144M;
    const char* label = "";
    std::optional<uint32_t> lost;      // recorded with a data error
    std::optional<uint32_t> marginal;  // reads once, then fails
    SystemChoice system = SystemChoice::Stop;
    DataChoice data = DataChoice::Stop;
    int abortAtCylinder = 0;  // none
    // The sectors whose clusters are BAD afterwards; `alreadyBad` when the made diskette
    // has them marked.
    uint32_t badFirst = 0, badEnd = 0;
    bool alreadyBad = false;
    // The file whose sector at this offset is lost.
    const char* lostFile = "";
    size_t lostOffset = 0;
    int result = kResultDone;
};

const Case kCases[] = {
    {.name = "DisketteWithoutErrors", .label = "REPAIRME"},
    {.name = "ReformattedSystemAreaTrack", .lost = 8, .system = SystemChoice::TryFormat},
    // FIRST.BIN's second cluster.
    {.name = "MarkedTrackWhereTheRootDirectoryEnds", .marginal = 34, .data = DataChoice::MarkTrack, .badFirst = 33,
     .badEnd = 36, .lostFile = "FIRST.BIN", .lostOffset = 512},
    // BIG.BIN's cluster 49, its 44th, on cylinder 2, head 0.
    {.name = "ReformattedDataTrack", .label = "REPAIRME", .lost = 80, .data = DataChoice::TryFormat,
     .lostFile = "BIG.BIN", .lostOffset = 43 * 512},
    {.name = "MarkedCylinder", .lost = 80, .data = DataChoice::MarkCylinder, .badFirst = 72, .badEnd = 108,
     .lostFile = "BIG.BIN", .lostOffset = 43 * 512},
    {.name = "MarkedDataTrackThenAbort", .lost = 80, .data = DataChoice::MarkTrack, .abortAtCylinder = 10,
     .badFirst = 72, .badEnd = 90, .lostFile = "BIG.BIN", .lostOffset = 43 * 512, .result = kResultAborted},
    {.name = "TrackAlreadyMarkedBad", .lost = 200, .data = DataChoice::MarkTrack, .badFirst = 198, .badEnd = 216,
     .alreadyBad = true},
    // The first half of BIG.BIN's cluster 15, its twelfth: the track's clusters reach sector 45.
    {.name = "MarkedTrackOfA720KDiskette", .type = kMedia720K, .lost = 40, .data = DataChoice::MarkTrack,
     .badFirst = 36, .badEnd = 45, .lostFile = "BIG.BIN", .lostOffset = 11 * 1024},
    // BIG.BIN's cluster 57, its 52nd.
    {.name = "ReformattedTrackOfA21SectorDiskette", .type = kMedia172M, .label = "REPAIRME", .lost = 90,
     .data = DataChoice::TryFormat, .lostFile = "BIG.BIN", .lostOffset = 51 * 512},
};

void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.name;
}

struct RepairedDiskette : RepairWorkerInterop, ::testing::WithParamInterface<Case> {
    // The clusters of the sectors badFirst .. badEnd - 1.
    std::set<uint16_t> Bad(const Case& c) const
    {
        const MediaGeometry g = *GeometryOf(c.type);
        const uint32_t firstData = 1u + g.fatCount * g.sectorsPerFat + g.rootEntries / 16u;
        std::set<uint16_t> clusters;
        for (uint32_t s = c.badFirst; s < c.badEnd; ++s)
            clusters.insert(static_cast<uint16_t>((s - firstData) / g.sectorsPerCluster + 2));
        return clusters;
    }
};

}  // namespace

TEST_P(RepairedDiskette, PassesTheToolsAndKeepsEveryReadableFile)
{
    const Case& c = GetParam();
    if (c.type == kMedia172M && !RequireTools({"mformat"}))
        return;
    type = c.type;
    ASSERT_NO_FATAL_FAILURE(Make(c.label));
    const std::set<uint16_t> bad = Bad(c);
    if (c.alreadyBad)
        MarkBad({bad.begin(), bad.end()});
    MadeIsClean();
    if (c.lost)
        Lose(*c.lost);
    if (c.marginal)
        Weaken(*c.marginal);
    job.inputs->system = c.system;
    job.inputs->data = c.data;
    if (c.abortAtCylinder != 0)
        host.abortWhen = [at = c.abortAtCylinder](const ScriptedHost& h) { return h.position >= at; };
    Run();
    ASSERT_EQ(outcome.result, c.result);
    ExpectConsistent(bad, c.alreadyBad ? 0 : static_cast<int>(bad.size()));
    std::map<std::string, size_t> lost;
    if (*c.lostFile != 0)
        lost[c.lostFile] = c.lostOffset;
    ExpectFilesReadBack(lost);
}

INSTANTIATE_TEST_SUITE_P(Repairs, RepairedDiskette, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });
