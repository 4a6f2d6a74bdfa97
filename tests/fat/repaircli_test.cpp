// SPDX-License-Identifier: GPL-3.0-or-later
// vokta-cli repair: its choices from the command line, and the disk checker it hands a
// diskette to when the system area is unreadable, here without a checker on PATH.
#include <gtest/gtest.h>

#include "cli/cli.h"
#include "support/clirun.h"
#include "support/environmentvalue.h"
#include "support/imagediskfile.h"
#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::test;

namespace {

// The second sector of the first FAT copy.
constexpr uint32_t kFatSector = 2;

struct RepairCli : ::testing::Test {
    TempDir dir;
    std::string imd = dir.File("disk.imd");

    CliRun Repair(const std::string& options) { return RunCli(VOKTA_CLI, "--drive A:=disk.imd repair A: " + options, dir); }

    void WriteDisketteWithUnreadableFat() { WriteImageDiskFile(imd, kMedia144M, FatImage(kMedia144M), kFatSector); }
};

}  // namespace

TEST_F(RepairCli, HelpNamesEveryChoiceAndWhatTheCheckerShows)
{
    const CliRun run = RunCli(VOKTA_CLI, "repair --help", dir);
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.starts_with("usage: vokta-cli [GLOBAL OPTIONS] repair L: [OPTIONS]\n")) << run.out;
    for (const char* option : {"  --boot write|stop ", "  --system format|checker|stop\n",
                               "  --data format|track|cylinder|stop\n", "fsck.fat -n -v", "Aborted !"})
        EXPECT_NE(run.out.find(option), std::string::npos) << option << "\n" << run.out;
}

TEST_F(RepairCli, ChoicesOutsideTheirWordsAreUsageErrors)
{
    WriteDisketteWithUnreadableFat();
    const std::vector<uint8_t> before = ReadFile(imd);
    const struct {
        const char* options;
        const char* message;
    } cases[] = {
        {"--boot fix", "vokta-cli: --boot: 'fix' is not write or stop\n"},
        {"--system scandisk", "vokta-cli: --system: 'scandisk' is not format, checker or stop\n"},
        {"--data=sector", "vokta-cli: --data: 'sector' is not format, track, cylinder or stop\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        const CliRun run = Repair(c.options);
        EXPECT_EQ(run.status, cli::kExitUsage);
        EXPECT_EQ(run.out, "");
        EXPECT_TRUE(run.err.starts_with(c.message)) << run.err;
    }
    EXPECT_EQ(ReadFile(imd), before);
}

TEST_F(RepairCli, CheckerThatCannotBeStartedIsTold)
{
    WriteDisketteWithUnreadableFat();
    const EnvironmentValue emptyPath("PATH", "");
    const CliRun run = Repair("--system checker");
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.out, "Aborted !\n");
    EXPECT_NE(run.err.find("Error: Cannot execute Scandiskw !\n  fsck.fat could not be started: "), std::string::npos)
        << run.err;
}
