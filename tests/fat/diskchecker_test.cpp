// SPDX-License-Identifier: GPL-3.0-or-later
// The system's FAT checker handed a diskette: fsck.fat's verdict on diskette files made by
// mkfs.fat, raw and as ImageDisk files read through the drive, and a drive it cannot check.
#include <gtest/gtest.h>

#include <filesystem>

#include "drive/backend/files/virtualdrive.h"
#include "fat/diskchecker.h"
#include "support/environmentvalue.h"
#include "support/imagediskfile.h"
#include "support/requiretools.h"
#include "support/tempdir.h"

using namespace vokta;
using namespace vokta::test;

namespace {

constexpr size_t kSecondFatByte = 512 * 10;

struct DiskChecker : ::testing::Test {
    TempDir dir;
    std::string img = dir.File("disk.img");
    // The checker's raw copies go here, so that the test sees whether one stays behind.
    std::string tmp = dir.File("tmp");
    DriveTable drives;
    std::string output;

    void SetUp() override
    {
        if (!RequireTools({"mkfs.fat", "fsck.fat"}))
            return;
        std::filesystem::create_directory(tmp);
        ASSERT_EQ(Shell("mkfs.fat -C -i 1D0C0144 --invariant '" + img + "' 1440 >/dev/null 2>&1"), 0);
    }

    DiskCheckerRun Check(const std::string& file)
    {
        drives.Bind(VirtualDriveBinding('A', file, DriveKind::Floppy35HD));
        EnvironmentValue privateTmp("TMPDIR", tmp);
        return RunDiskChecker('a', drives, [&](std::string_view chunk) { output.append(chunk); });
    }

    // The mkfs.fat diskette as an ImageDisk file.
    std::string AsImageDisk()
    {
        const std::string file = dir.File("disk.imd");
        WriteImageDiskFile(file, kMedia144M, ReadFile(img));
        return file;
    }

    bool TemporaryLeft() const { return !std::filesystem::is_empty(tmp); }
};

}  // namespace

TEST_F(DiskChecker, CleanDisketteHasNothingToReport)
{
    const DiskCheckerRun run = Check(img);
    EXPECT_TRUE(run.started) << run.reason;
    EXPECT_EQ(run.exitStatus, 0) << output;
    EXPECT_NE(output.find("2880 sectors total"), std::string::npos) << "-v shows the boot sector:\n" << output;
    EXPECT_NE(output.find(img + ": 0 files"), std::string::npos) << output;
}

// An ordinary user's PATH leaves out the administration folders where the checker lives.
TEST_F(DiskChecker, FoundOutsideAnOrdinaryUsersPath)
{
    const EnvironmentValue userPath("PATH", "/usr/local/bin:/usr/bin:/bin");
    const DiskCheckerRun run = Check(img);
    EXPECT_TRUE(run.started) << run.reason;
    EXPECT_EQ(run.exitStatus, 0) << output;
}

TEST_F(DiskChecker, DifferingFatCopiesAreReportedAndLeftAlone)
{
    std::vector<uint8_t> bytes = ReadFile(img);
    bytes[kSecondFatByte + 7] = 0x77;
    WriteFile(img, bytes);

    const DiskCheckerRun run = Check(img);
    EXPECT_TRUE(run.started) << run.reason;
    EXPECT_NE(run.exitStatus, 0) << output;
    EXPECT_NE(output.find("FATs differ"), std::string::npos) << output;
    EXPECT_NE(output.find("Leaving filesystem unchanged."), std::string::npos) << output;
    EXPECT_EQ(ReadFile(img), bytes) << "the checker only looks";
}

TEST_F(DiskChecker, ImageDiskFileIsCheckedThroughARawCopy)
{
    const std::string imd = AsImageDisk();
    const std::vector<uint8_t> before = ReadFile(imd);

    const DiskCheckerRun run = Check(imd);
    EXPECT_TRUE(run.started) << run.reason;
    EXPECT_EQ(run.exitStatus, 0) << output;
    EXPECT_NE(output.find("2880 sectors total"), std::string::npos) << output;
    EXPECT_EQ(output.find(imd), std::string::npos) << "fsck.fat reads raw images only:\n" << output;
    EXPECT_FALSE(TemporaryLeft());
    EXPECT_EQ(ReadFile(imd), before);
}

TEST_F(DiskChecker, DriveWithoutAFileHasNothingToCheck)
{
    const DiskCheckerRun run = RunDiskChecker('Q', drives, [&](std::string_view chunk) { output.append(chunk); });
    EXPECT_FALSE(run.started);
    EXPECT_NE(run.reason.find("Q:"), std::string::npos) << run.reason;
}

// The raw copy holds zeros where the diskette could not be read, which the checker takes
// for sound sectors: they are told before its report, and the report names the drive and
// its file, never the copy.
TEST_F(DiskChecker, UnreadableSectorsOfAnImageDiskFileAreToldBeforeTheReport)
{
    const struct {
        std::set<uint32_t> unreadable;
        std::vector<std::string> lines;
    } cases[] = {
        {{2}, {"  1 in the FAT (sectors 2)"}},
        {{2, 11, 40},
         {"  2 in the FAT (sectors 2, 11)",
          "  1 in the data area, whose files cannot be named: the FAT could not be read (sectors 40)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines.front());
        output.clear();
        const std::string imd = dir.File("disk.imd");
        WriteImageDiskFile(imd, kMedia144M, ReadFile(img), c.unreadable);

        const DiskCheckerRun run = Check(imd);
        EXPECT_TRUE(run.started) << run.reason;
        EXPECT_EQ(run.unreadSectors, c.unreadable.size());
        std::string told = "Sectors of A: (disk.imd) that could not be read: the copy that fsck.fat checks holds "
                           "zeros in their place. What they hold:";
        for (const std::string& line : c.lines)
            told += "\n" + line;
        EXPECT_TRUE(output.starts_with(told + "\n\n")) << output;
        EXPECT_EQ(output.find("vokta-check-"), std::string::npos) << output;
        EXPECT_NE(output.find("A: (disk.imd): 0 files"), std::string::npos) << output;
        EXPECT_FALSE(TemporaryLeft());
    }
}
