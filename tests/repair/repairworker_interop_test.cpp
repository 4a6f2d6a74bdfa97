// Repaired diskettes judged by tools nobody here wrote: fsck.fat finds no error and counts
// the clusters in use, mcopy reads every file back, and both FAT copies, read here byte by
// byte, hold the clusters marked BAD.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

#include "fat/fatdisk.h"
#include "repair/damageddiskette.h"
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

}  // namespace

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

TEST_F(RepairWorkerInterop, ReformattedSystemAreaTrack)
{
    ASSERT_NO_FATAL_FAILURE(Make());
    MadeIsClean();
    Lose(8);
    job.inputs->system = SystemChoice::TryFormat;
    Run();
    ASSERT_EQ(outcome.result, kResultDone);
    ExpectConsistent({}, 0);
    ExpectFilesReadBack();
}

TEST_F(RepairWorkerInterop, MarkedTrackWhereTheRootDirectoryEnds)
{
    ASSERT_NO_FATAL_FAILURE(Make());
    MadeIsClean();
    Weaken(34);
    job.inputs->data = DataChoice::MarkTrack;
    Run();
    ASSERT_EQ(outcome.result, kResultDone);
    ExpectConsistent({2, 3, 4}, 3);
    ExpectFilesReadBack({{"FIRST.BIN", 512}});
}

TEST_F(RepairWorkerInterop, MarkedCylinder)
{
    ASSERT_NO_FATAL_FAILURE(Make());
    MadeIsClean();
    Lose(80);
    job.inputs->data = DataChoice::MarkCylinder;
    Run();
    ASSERT_EQ(outcome.result, kResultDone);
    std::set<uint16_t> cylinder;
    for (uint32_t s = 72; s < 108; ++s)
        cylinder.insert(ClusterOfSector(s));
    ExpectConsistent(cylinder, 36);
    ExpectFilesReadBack({{"BIG.BIN", 43 * 512}});
}

TEST_F(RepairWorkerInterop, MarkedDataTrackThenAbort)
{
    ASSERT_NO_FATAL_FAILURE(Make());
    MadeIsClean();
    Lose(80);  // the ninth sector of cylinder 2, head 0
    job.inputs->data = DataChoice::MarkTrack;
    host.abortWhen = [](const ScriptedHost& h) { return h.position >= 10; };
    Run();
    ASSERT_EQ(outcome.result, kResultAborted);
    std::set<uint16_t> track;
    for (uint32_t s = 72; s < 90; ++s)
        track.insert(ClusterOfSector(s));
    ExpectConsistent(track, 18);
    ExpectFilesReadBack({{"BIG.BIN", 43 * 512}});
}

TEST_F(RepairWorkerInterop, ReformattedDataTrack)
{
    ASSERT_NO_FATAL_FAILURE(Make("REPAIRME"));
    MadeIsClean();
    Lose(80);  // BIG.BIN's cluster 49, its 44th
    job.inputs->data = DataChoice::TryFormat;
    Run();
    ASSERT_EQ(outcome.result, kResultDone);
    ExpectConsistent({}, 0);
    ExpectFilesReadBack({{"BIG.BIN", 43 * 512}});
}

TEST_F(RepairWorkerInterop, MarkedTrackOfA720KDiskette)
{
    type = kMedia720K;
    ASSERT_NO_FATAL_FAILURE(Make());
    MadeIsClean();
    Lose(40);  // the first half of BIG.BIN's cluster 15, its twelfth
    job.inputs->data = DataChoice::MarkTrack;
    Run();
    ASSERT_EQ(outcome.result, kResultDone);
    ExpectConsistent({13, 14, 15, 16, 17}, 5);
    ExpectFilesReadBack({{"BIG.BIN", 11 * 1024}});
}

TEST_F(RepairWorkerInterop, ReformattedTrackOfA21SectorDiskette)
{
    if (!RequireTools({"mformat"}))
        return;
    type = kMedia172M;
    ASSERT_NO_FATAL_FAILURE(Make("REPAIRME"));
    MadeIsClean();
    Lose(90);  // BIG.BIN's cluster 57, its 52nd
    job.inputs->data = DataChoice::TryFormat;
    Run();
    ASSERT_EQ(outcome.result, kResultDone);
    ExpectConsistent({}, 0);
    ExpectFilesReadBack({{"BIG.BIN", 51 * 512}});
}

TEST_F(RepairWorkerInterop, TrackAlreadyMarkedBad)
{
    ASSERT_NO_FATAL_FAILURE(Make());
    std::set<uint16_t> track;
    for (uint32_t s = 198; s < 216; ++s)
        track.insert(ClusterOfSector(s));
    MarkBad({track.begin(), track.end()});
    MadeIsClean();
    Lose(200);
    job.inputs->data = DataChoice::MarkTrack;
    Run();
    ASSERT_EQ(outcome.result, kResultDone);
    ExpectConsistent(track, 0);
    ExpectFilesReadBack();
}

TEST_F(RepairWorkerInterop, DisketteWithoutErrors)
{
    ASSERT_NO_FATAL_FAILURE(Make("REPAIRME"));
    MadeIsClean();
    Run();
    ASSERT_EQ(outcome.result, kResultDone);
    ExpectConsistent({}, 0);
    ExpectFilesReadBack();
}
