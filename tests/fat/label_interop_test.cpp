// SPDX-License-Identifier: GPL-3.0-or-later
// vokta-cli label on diskette files made by mkfs.fat and mformat: mlabel and mdir read
// the labels it writes, it reads the labels mlabel writes, and fsck.fat finds nothing
// to fix after either.
#include <gtest/gtest.h>

#include <cstdlib>

#include "res/strings.h"
#include "support/clirun.h"
#include "support/requiretools.h"
#include "support/tempdir.h"

using namespace vokta;
using namespace vokta::test;

namespace {

struct Maker {
    const char* name;
    const char* make;  // makes an empty diskette file at IMG
    const char* drive; // the drive type it goes into
};

const Maker kMakers[] = {
    {"mkfs_fat_144M", "mkfs.fat -C -i 1D0C0144 --invariant IMG 1440", "1.44m"},
    {"mformat_720K", "mformat -C -i IMG -f 720 -N 1D0C0720 ::", "720k"},
};

struct LabelInterop : ::testing::TestWithParam<Maker> {
    TempDir dir;
    std::string img = dir.File("disk.img");

    void SetUp() override
    {
        if (!RequireTools({"mkfs.fat", "fsck.fat", "mformat", "mlabel", "mdir"}))
            return;
        setenv("MTOOLS_SKIP_CHECK", "1", 1);
        std::string make = GetParam().make;
        make.replace(make.find("IMG"), 3, "'" + img + "'");
        ASSERT_EQ(Shell(make + " >/dev/null 2>&1"), 0) << make;
    }

    CliRun Label(const std::string& args)
    {
        return RunCli(VOKTA_CLI, "--drive A:='" + img + "',type=" + GetParam().drive + " label A: " + args, dir);
    }

    std::string Tool(const std::string& command)
    {
        std::string out;
        Shell(command + " -i '" + img + "' :: 2>&1", &out);
        return out;
    }

    // fsck.fat -n: whether it left the diskette alone, and what it said.
    bool FsckClean(std::string& out) { return Shell("fsck.fat -n '" + img + "' 2>&1", &out) == 0; }
};

TEST_P(LabelInterop, LabelWrittenHereIsSeenByMtools)
{
    const CliRun run = Label("NEWNAME");
    EXPECT_EQ(run.out, "OK.\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(Tool("mlabel -s").find("Volume label is NEWNAME"), std::string::npos) << Tool("mlabel -s");
    EXPECT_NE(Tool("mdir").find("Volume in drive : is NEWNAME"), std::string::npos) << Tool("mdir");
    std::string fsck;
    EXPECT_TRUE(FsckClean(fsck)) << fsck;
    EXPECT_EQ(fsck.find("abel"), std::string::npos) << fsck;

    EXPECT_EQ(Label("'two words'").status, 0);
    EXPECT_NE(Tool("mlabel -s").find("Volume label is TWO WORDS"), std::string::npos) << Tool("mlabel -s");
}

TEST_P(LabelInterop, LabelWrittenByMlabelIsReadHere)
{
    const CliRun none = Label("");
    EXPECT_EQ(none.out, LoadString(Str::NoLabel) + "\nOK.\n") << "the boot sector's NO NAME is no label";
    EXPECT_EQ(none.status, 0);

    ASSERT_EQ(Shell("mlabel -i '" + img + "' ::Hello_1 2>&1"), 0);
    const CliRun read = Label("");
    EXPECT_EQ(read.out, "HELLO_1\nOK.\n");
    EXPECT_EQ(read.err, "");
    EXPECT_EQ(read.status, 0);
}

TEST_P(LabelInterop, RemovalLeavesNoLabelAndACleanFileSystem)
{
    ASSERT_EQ(Shell("mlabel -i '" + img + "' ::OLDNAME 2>&1"), 0);
    const CliRun run = Label("''");
    EXPECT_EQ(run.out, "OK.\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(Tool("mlabel -s").find("Volume has no label"), std::string::npos) << Tool("mlabel -s");
    std::string fsck;
    EXPECT_TRUE(FsckClean(fsck)) << fsck;
}

TEST_P(LabelInterop, InvalidLabelsAreUsageErrorsThatChangeNothing)
{
    const std::vector<uint8_t> before = ReadFile(img);
    const CliRun star = Label("'A*B'");
    EXPECT_EQ(star.status, 64);
    EXPECT_NE(star.err.find(LoadString(Str::InvalidLabelLetter)), std::string::npos) << star.err;
    const CliRun twelve = Label("ABCDEFGHIJKL");
    EXPECT_EQ(twelve.status, 64);
    EXPECT_NE(twelve.err.find(LoadString(Str::LabelTooLong)), std::string::npos) << twelve.err;
    EXPECT_TRUE(ReadFile(img) == before);
}

struct LabelCli : ::testing::Test {
    TempDir dir;

    CliRun Label(const std::string& args)
    {
        WriteFile(dir.File("blank.img"), {});
        return RunCli(VOKTA_CLI, "--drive A:='" + dir.File("blank.img") + "' label A: " + args, dir);
    }
};

TEST_F(LabelCli, UnformattedDisketteHasNoLabelToRead)
{
    const CliRun run = Label("");
    EXPECT_TRUE(run.err.starts_with("Error: " + LoadString(Str::CannotGetLabel) + "\n")) << run.err;
    EXPECT_GT(run.err.size(), LoadString(Str::CannotGetLabel).size() + 8) << "the reason follows";
    EXPECT_EQ(run.out, "Failed !\n");
    EXPECT_EQ(run.status, 2);
}

TEST_F(LabelCli, UnformattedDisketteRefusesANewLabel)
{
    const CliRun run = Label("NEW");
    EXPECT_TRUE(run.err.starts_with("Error: Cannot change the Volume Label !\n  ")) << run.err;
    EXPECT_EQ(run.out, "Failed !\n");
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(ReadFile(dir.File("blank.img")).empty());
}

INSTANTIATE_TEST_SUITE_P(Makers, LabelInterop, ::testing::ValuesIn(kMakers),
                         [](const auto& maker) { return std::string(maker.param.name); });

}  // namespace
