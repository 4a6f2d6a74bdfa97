// The system's FAT checker handed a diskette: fsck.fat's verdict on diskette files made by
// mkfs.fat, raw and as ImageDisk files read through the drive, and a checker that cannot
// be started.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "drive/backend/imdfile.h"
#include "drive/backend/virtualdrive.h"
#include "fat/diskchecker.h"
#include "support/requiretools.h"
#include "support/tempdir.h"

using namespace vokta;
using namespace vokta::test;

namespace {

// Sets an environment variable for one test and puts the old value back afterwards.
class EnvironmentValue {
public:
    EnvironmentValue(const char* name, const std::string& value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~EnvironmentValue()
    {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

constexpr size_t kFirstFatByte = 512;
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

    // The mkfs.fat diskette as an ImageDisk file; `unreadable` is recorded with a data
    // error, its data intact.
    std::string AsImageDisk(std::optional<uint32_t> unreadable = std::nullopt)
    {
        EmulatedMedium medium = EmulatedMedium::FromImage(kMedia144M, ReadFile(img));
        if (unreadable)
            medium.LogicalSectors(kMedia144M)[*unreadable]->dataError = true;
        const std::string file = dir.File("disk.imd");
        WriteFile(file, WriteImd(medium, "07/12/2026 12:00:00", "checker test\r\n"));
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

TEST_F(DiskChecker, UnreadableSectorOfTheCopyIsZeros)
{
    const std::vector<uint8_t> bytes = ReadFile(img);
    ASSERT_NE(bytes[kFirstFatByte], 0) << "the media byte leads the FAT";

    const DiskCheckerRun run = Check(AsImageDisk(1));
    EXPECT_TRUE(run.started) << run.reason;
    EXPECT_NE(run.exitStatus, 0) << output;
    EXPECT_NE(output.find("FATs differ"), std::string::npos) << output;
    EXPECT_FALSE(TemporaryLeft());
}

TEST_F(DiskChecker, CheckerMissingFromThePathIsNotStarted)
{
    EnvironmentValue emptyPath("PATH", "");
    const DiskCheckerRun run = Check(img);
    EXPECT_FALSE(run.started);
    EXPECT_NE(run.reason.find("fsck.fat"), std::string::npos) << run.reason;
    EXPECT_NE(run.reason.find("No such file"), std::string::npos) << run.reason;
    EXPECT_EQ(output, "");
}

TEST_F(DiskChecker, DriveWithoutAFileHasNothingToCheck)
{
    const DiskCheckerRun unbound = RunDiskChecker('Q', drives, [&](std::string_view chunk) { output.append(chunk); });
    EXPECT_FALSE(unbound.started);
    EXPECT_NE(unbound.reason.find("Q:"), std::string::npos) << unbound.reason;

    const DiskCheckerRun noDiskette = Check(dir.File("absent.imd"));
    EXPECT_TRUE(noDiskette.started) << "a raw file the checker finds missing is its own to report";
    EXPECT_NE(noDiskette.exitStatus, 0);
    EXPECT_EQ(output.find("0 files"), std::string::npos) << output;
}
