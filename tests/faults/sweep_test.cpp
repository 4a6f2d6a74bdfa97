// SPDX-License-Identifier: GPL-3.0-or-later
// Read Disk, Write Disk with and without verify, Compare, quick and full Format with verify, Repair and the information
// report under a fault at sampled sectors of tool-made diskettes, every question answered every way; each run's
// aftermath checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <ostream>

#include "faults/sweep.h"
#include "support/requiretools.h"
#include "support/tempdir.h"

using namespace vokta;
using namespace vokta::test;
using namespace vokta::test::sweep;

namespace vokta::test::sweep {
void PrintTo(const Layout& layout, std::ostream* os)
{
    *os << layout.name;
}
}  // namespace vokta::test::sweep

namespace {

constexpr uint32_t kStep = 97;

template <typename Base>
struct WithDiskettes : Base {
    TempDir dir;
    std::optional<Diskettes> diskettes;
    void Make(MediaType type) { Make(DefaultLayout(type)); }
    void Make(const Layout& layout)
    {
        if (!RequireTools({"mkfs.fat", "fsck.fat", "mformat", "mcopy", "mmd"}))
            return;
        std::string why;
        diskettes = MakeDiskettes(layout, dir.path(), why);
        ASSERT_TRUE(diskettes) << why;
    }
};

struct FaultSweepCases : WithDiskettes<::testing::Test> {
    void SetUp() override { Make(kMedia144M); }
};

struct FaultSweepCases172 : WithDiskettes<::testing::Test> {
    void SetUp() override { Make(kMedia172M); }
};

struct FaultSweep : WithDiskettes<::testing::TestWithParam<MediaType>> {
    void SetUp() override { Make(GetParam()); }
    // `few`: an operation that reads little, whose runs check less and miss more faults.
    void Expect(Operation operation, uint32_t step = kStep, bool few = false)
    {
        Figures figures;
        Sweep(*this->diskettes, operation, step, figures);
        for (const std::string& broken : figures.broken)
            ADD_FAILURE() << broken;
        EXPECT_EQ(figures.failures, 0u);
        // Most faults lie where the operation goes: a sweep that never met them checked nothing.
        EXPECT_GT(figures.faultsInjected * 4, figures.runs * (few ? 2 : 3));
        EXPECT_GT(figures.invariants, figures.runs * (few ? 1 : 3));
        std::printf("runs %llu, faults injected %llu, invariants checked %llu, failures %llu\n",
                    static_cast<unsigned long long>(figures.runs), static_cast<unsigned long long>(figures.faultsInjected),
                    static_cast<unsigned long long>(figures.invariants), static_cast<unsigned long long>(figures.failures));
    }
};

}  // namespace

TEST_P(FaultSweep, ReadKeepsEveryReadableSector)
{
    if (diskettes)
        Expect(Operation::Read);
}

TEST_P(FaultSweep, WriteWithVerifyNeverReportsAnUnwrittenSector)
{
    if (diskettes)
        Expect(Operation::Write);
}

TEST_P(FaultSweep, CompareNeverMatchesWhatDiffers)
{
    if (diskettes)
        Expect(Operation::Compare);
}

TEST_P(FaultSweep, QuickFormatLeavesASoundDisketteAndMarksWhatFailsVerify)
{
    if (diskettes)
        Expect(Operation::QuickFormat);
}

// Every track formatted and verified a run: sampled more sparsely than the others.
TEST_P(FaultSweep, FullFormatLeavesASoundDisketteAndMarksWhatFailsVerify)
{
    if (diskettes)
        Expect(Operation::FullFormat, 4 * kStep + 1);
}

// A repair with each data choice (and a new boot sector, a reformatted system track): every
// file keeps its bytes and the diskette stays sound. Sampled twice as sparsely as the full format.
TEST_P(FaultSweep, RepairKeepsEveryFileWhateverItsDataChoice)
{
    if (diskettes)
        for (Operation operation : {Operation::RepairFormat, Operation::RepairMarkTrack, Operation::RepairMarkCylinder,
                                    Operation::RepairStop})
            Expect(operation, 8 * kStep + 1);
}

TEST_P(FaultSweep, WriteWithoutVerifyReportsEveryWriteError)
{
    if (diskettes)
        Expect(Operation::WriteWithoutVerify, 2 * kStep + 1);
}

TEST_P(FaultSweep, InfoReportTellsNoFigureThatIsNotSo)
{
    if (diskettes)
        Expect(Operation::Info, kStep, true);
}

INSTANTIATE_TEST_SUITE_P(Media, FaultSweep, ::testing::Values(kMedia144M, kMedia172M),
                         [](const auto& media) { return media.param == kMedia144M ? "M144" : "M172"; });

// Diskettes whose layout is not the media table's, each operation under every fault at the
// first sector of each of their own system areas only: the whole diskette is the bench's.
struct FaultSweepOtherLayout : WithDiskettes<::testing::TestWithParam<Layout>> {
    void SetUp() override { Make(GetParam()); }
    void Expect(std::initializer_list<Operation> operations)
    {
        for (Operation operation : operations) {
            Figures figures;
            for (uint32_t sector : Positions(*diskettes, ~0u))
                SweepAt(*diskettes, operation, sector, figures);
            for (const std::string& broken : figures.broken)
                ADD_FAILURE() << broken;
            EXPECT_EQ(figures.failures, 0u);
            EXPECT_GT(figures.faultsInjected * 2, figures.runs);
        }
    }
};

TEST_P(FaultSweepOtherLayout, EveryDuplicationAndTheReportAtTheStartOfEachSystemArea)
{
    if (diskettes)
        Expect({Operation::Read, Operation::Write, Operation::WriteWithoutVerify, Operation::Compare, Operation::Info});
}

TEST_P(FaultSweepOtherLayout, RepairKeepsTheLayoutAndEveryFile)
{
    if (diskettes)
        Expect({Operation::RepairFormat, Operation::RepairMarkTrack, Operation::RepairStop});
}

INSTANTIATE_TEST_SUITE_P(Layouts, FaultSweepOtherLayout, ::testing::ValuesIn(OtherLayouts()),
                         [](const auto& layout) { return layout.param.mformat ? "MformatOneFat" : "MkfsFourReservedOneFat"; });

TEST(FaultSweepPositions, SampleEverySystemAreaAndTheWholeDiskette)
{
    const std::vector<uint32_t> at = Positions(kMedia144M, 97);
    for (uint32_t s : {0u, 1u, 10u, 19u, 33u, 97u, 2813u})
        EXPECT_TRUE(std::binary_search(at.begin(), at.end(), s)) << s;
    EXPECT_EQ(Positions(kMedia172M, 1).size(), 3444u);
}

// Faults the sweep once found, each at one place.
TEST_F(FaultSweepCases, ADisketteTakenOutBeforeTheFatIsReadIsAskedForNotGivenUp)
{
    if (!diskettes)
        return;
    for (Answers answers : {Answers::Accept, Answers::RetryFirst}) {
        Figures figures;
        RunOne(*diskettes, {Operation::Read, Fault::NotReady, answers, 97}, figures);
        EXPECT_EQ(figures.faultsInjected, 1u);
        EXPECT_EQ(figures.failures, 0u) << figures.broken.front();
    }
}

// A repair that met a diskette taken out or swapped took it for damage: it wrote a new boot
// sector, zeroed FAT sectors it could not read, or formatted the diskette put in instead.
// A boot sector that failed to read once was replaced; a FAT sector lost to a reformat left
// the two copies differing.
TEST_F(FaultSweepCases, ARepairTellsADisketteGoneAndKeepsWhatReadsAtSecondTry)
{
    if (!diskettes)
        return;
    const std::pair<Fault, uint32_t> cases[] = {{Fault::NotReady, 0},      {Fault::NotReady, 1},  {Fault::Swapped, 1},
                                                {Fault::NotReady, 1000},   {Fault::Swapped, 1000}, {Fault::TransientCrc, 0},
                                                {Fault::PersistentCrc, 1}, {Fault::PersistentCrc, 12}};
    for (const auto& [fault, sector] : cases)
        for (Operation operation : {Operation::RepairFormat, Operation::RepairMarkTrack}) {
            Figures figures;
            RunOne(*diskettes, {operation, fault, Answers::RetryFirst, sector}, figures);
            EXPECT_EQ(figures.faultsInjected, 1u) << sector;
            EXPECT_EQ(figures.failures, 0u) << figures.broken.front();
        }
    // A track whose write-back was given up stayed empty, the FAT copy that did not read
    // differing from the other.
    for (uint32_t sector : {1u, 1000u}) {
        Figures figures;
        RunOne(*diskettes, {Operation::RepairFormat, Fault::WriteError, Answers::Refuse, sector}, figures);
        EXPECT_EQ(figures.failures, 0u) << figures.broken.front();
    }
}

TEST_F(FaultSweepCases, AnotherDisketteInsertedMidwayIsNeverMixedIntoTheImageNorMatched)
{
    if (!diskettes)
        return;
    for (Operation operation : {Operation::Read, Operation::Compare})
        for (Answers answers : {Answers::Refuse, Answers::Accept, Answers::RetryFirst}) {
            Figures figures;
            RunOne(*diskettes, {operation, Fault::Swapped, answers, 1000}, figures);
            EXPECT_EQ(figures.faultsInjected, 1u);
            EXPECT_EQ(figures.failures, 0u) << figures.broken.front();
        }
}

// Marking a track BAD moved the data of its used clusters into its own free ones, one of
// them the sector that does not read: a file lost a sector it never had on that track.
TEST_F(FaultSweepCases172, DataMovedOffACondemnedTrackLandsOutsideIt)
{
    if (!diskettes)
        return;
    for (Operation operation : {Operation::RepairMarkTrack, Operation::RepairMarkCylinder}) {
        Figures figures;
        RunOne(*diskettes, {operation, Fault::PersistentCrc, Answers::Accept, 1189}, figures);
        EXPECT_EQ(figures.failures, 0u) << figures.broken.front();
    }
}
