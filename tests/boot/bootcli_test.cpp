// SPDX-License-Identifier: GPL-3.0-or-later
// vokta-cli boot check|recreate on diskette files: stdout lines, stderr boxes, exit status.
#include <gtest/gtest.h>

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

#include "boot/bootsector.h"
#include "support/clirun.h"
#include "support/testdrives.h"
#include "support/unprivileged.h"

using namespace vokta;
using namespace vokta::test;

namespace {

struct BootCli : ::testing::Test {
    TempDir dir;
    const std::string diskette = dir.File("a.img");

    CliRun Boot(const std::string& action)
    {
        const bool quiet = action.starts_with("-q ");
        return RunCli(VOKTA_CLI, std::string(quiet ? "-q " : "") + "--drive A:='" + diskette + "' boot " +
                                     action.substr(quiet ? 3 : 0) + " A:",
                      dir);
    }
};

}  // namespace

TEST_F(BootCli, CheckOfAGoodDiskette)
{
    WriteFile(diskette, PatternImage(kMedia144M));
    const CliRun run = Boot("check");
    EXPECT_EQ(run.out, "OK.\n") << "the results list's line is the outcome line";
    EXPECT_EQ(run.err, "Checking Disk media ...\nChecking Boot Sector ...\nBoot Checked !\n");
    EXPECT_EQ(run.status, 0);
}

TEST_F(BootCli, CheckListsEveryFailedTestAndFindsDefects)
{
    std::vector<uint8_t> image = PatternImage(kMedia720K);
    std::fill_n(image.begin(), 512, 0);
    WriteFile(diskette, image);
    const CliRun run = Boot("check");
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 10);
    EXPECT_TRUE(run.out.starts_with("Invalid final signature.\n")) << run.out;
    EXPECT_TRUE(run.out.ends_with("Invalid total number of sectors.\nDefects found !\n")) << run.out;
    EXPECT_EQ(run.status, 5);
}

TEST_F(BootCli, CheckOfAnUnformattedDisketteFails)
{
    WriteFile(diskette, {});
    const CliRun run = Boot("check");
    EXPECT_EQ(run.out, "Media UNKNOWN or Drive NOT Ready.\nFailed !\n");
    EXPECT_TRUE(run.err.ends_with("Check failed !\n")) << run.err;
    EXPECT_EQ(run.status, 2);
}

TEST_F(BootCli, RecreateWritesTheDisketteFile)
{
    std::vector<uint8_t> image = FatImage(kMedia144M);
    image[510] = 0;
    WriteFile(diskette, image);
    const CliRun run = Boot("recreate");
    EXPECT_EQ(run.out, "OK.\n");
    EXPECT_TRUE(run.err.ends_with("Write OK.\n")) << run.err;
    EXPECT_EQ(run.status, 0);
    const std::vector<uint8_t> written = ReadFile(diskette);
    ASSERT_EQ(written.size(), image.size());
    EXPECT_EQ(ValidateBootSector(std::span<const uint8_t>(written).first(512)), 0);
    EXPECT_TRUE(std::equal(written.begin() + 512, written.end(), image.begin() + 512));
}

TEST_F(BootCli, RecreateOnAWriteProtectedDisketteFile)
{
    const std::vector<uint8_t> image = FatImage(kMedia144M);
    WriteFile(diskette, image);
    chmod(diskette.c_str(), 0444);
    // Root writes read-only files anyway: the command runs as a user who may not.
    GiveToUnprivilegedUser(dir.path());
    const std::optional<std::string> seen = RunAsNobody([&] {
        const CliRun run = Boot("-q recreate");
        return run.err + "|" + run.out + "|" + std::to_string(run.status);
    });
    EXPECT_EQ(seen, std::optional<std::string>("Fatal Error: Write protect Disk !\n|Failed !\n|2"));
    EXPECT_EQ(ReadFile(diskette), image);
}

TEST_F(BootCli, RecreateOfAnUnformattedDisketteFails)
{
    WriteFile(diskette, {});
    const CliRun run = Boot("recreate");
    EXPECT_EQ(run.out, "Media UNKNOWN or Drive NOT Ready.\nFailed !\n");
    EXPECT_EQ(run.status, 2);
}

TEST_F(BootCli, BadArgumentsAreAUsageError)
{
    EXPECT_EQ(Boot("format").status, 64);
    EXPECT_EQ(Shell("'" VOKTA_CLI "' boot check 2>/dev/null"), 64);
}
