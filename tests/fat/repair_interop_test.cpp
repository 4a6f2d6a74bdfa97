// SPDX-License-Identifier: GPL-3.0-or-later
// vokta-cli repair on diskettes made by mkfs.fat and filled by mcopy: a sound diskette is
// walked to its end untouched, and a diskette with an unreadable FAT sector is handed to
// fsck.fat, whose report reaches stdout before the result.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/clirun.h"
#include "support/environmentvalue.h"
#include "support/imagediskfile.h"
#include "support/requiretools.h"

using namespace vokta;
using namespace vokta::test;

namespace {

struct RepairInterop : ::testing::Test {
    TempDir dir;
    std::string img = dir.File("disk.img");

    void SetUp() override
    {
        if (!RequireTools({"mkfs.fat", "fsck.fat", "mcopy"}))
            return;
        setenv("MTOOLS_SKIP_CHECK", "1", 1);
        ASSERT_EQ(Shell("mkfs.fat -C -i 1D0C0144 --invariant '" + img + "' 1440 >/dev/null 2>&1"), 0);
        WriteFile(dir.File("readme.txt"), std::vector<uint8_t>(3000, 'r'));
        WriteFile(dir.File("data.bin"), std::vector<uint8_t>(40000, 0xd5));
        ASSERT_EQ(Shell("cd '" + dir.path() + "' && mcopy -i disk.img readme.txt data.bin :: 2>&1"), 0);
    }
};

}  // namespace

TEST_F(RepairInterop, SoundDisketteIsWalkedToItsEndUntouched)
{
    const std::vector<uint8_t> before = ReadFile(img);
    const CliRun run = RunCli(VOKTA_CLI, "--drive A:=disk.img repair A: --system checker", dir);
    EXPECT_EQ(run.out, "OK.\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadFile(img), before);
    std::string fsck;
    EXPECT_EQ(Shell("fsck.fat -n '" + img + "' 2>&1", &fsck), 0) << fsck;
}

TEST_F(RepairInterop, UnreadableFatSectorIsHandedToTheChecker)
{
    const std::string imd = dir.File("disk.imd");
    WriteImageDiskFile(imd, kMedia144M, ReadFile(img), 1);
    const std::string tmp = dir.File("tmp");
    std::filesystem::create_directory(tmp);
    const EnvironmentValue privateTmp("TMPDIR", tmp);

    const CliRun run = RunCli(VOKTA_CLI, "--drive A:=disk.imd repair A: --boot write --system checker", dir);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.LastLine(), "Aborted !");
    // What the raw copy lacks comes first, then the checker's report on the drive.
    EXPECT_TRUE(run.out.starts_with("Sectors of A: (disk.imd) that could not be read: the copy that fsck.fat checks "
                                    "holds zeros in their place. What they hold:\n"
                                    "  1 in the FAT (sectors 1)\n\nfsck.fat "))
        << run.out;
    EXPECT_NE(run.out.find("A: (disk.imd): 2 files"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("FATs differ"), std::string::npos) << "the unreadable sector reads as zeros:\n" << run.out;
    EXPECT_NE(run.out.find("2 files"), std::string::npos) << run.out;
    EXPECT_EQ(run.err.find("Scandiskw"), std::string::npos) << run.err;
    EXPECT_TRUE(std::filesystem::is_empty(tmp)) << "the raw copy is removed";
}
