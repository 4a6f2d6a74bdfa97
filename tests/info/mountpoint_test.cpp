// SPDX-License-Identifier: GPL-3.0-or-later
// Finding where a diskette file or device is mounted, in a mount table written here.
#include <gtest/gtest.h>

#include "info/mountpoint.h"
#include "support/tempdir.h"

using namespace vokta;
using namespace vokta::test;

namespace {

struct MountTable : ::testing::Test {
    TempDir dir;
    std::string disk = dir.File("disk.img");
    std::string other = dir.File("other.img");
    std::string table = dir.File("mounts");

    void SetUp() override
    {
        WriteFile(disk, std::vector<uint8_t>(512));
        WriteFile(other, std::vector<uint8_t>(512));
    }

    void Write(const std::string& text)
    {
        WriteFile(table, std::vector<uint8_t>(text.begin(), text.end()));
    }
};

TEST_F(MountTable, FileMountedDirectlyIsFoundByIdentityNotByName)
{
    // The same file under another name (a link) is still the same volume.
    ASSERT_EQ(Shell("ln -s '" + disk + "' '" + dir.File("link.img") + "'"), 0);
    Write("proc /proc proc rw 0 0\n" + other + " /mnt/other vfat rw 0 0\n" + dir.File("link.img") +
          " /mnt/disk vfat rw 0 0\n");
    EXPECT_EQ(MountPointOf(disk, table), "/mnt/disk");
    EXPECT_EQ(MountPointOf(other, table), "/mnt/other");
}

TEST_F(MountTable, UnmountedOrMissingFileHasNoMountPoint)
{
    Write("proc /proc proc rw 0 0\n" + other + " /mnt/other vfat rw 0 0\n");
    EXPECT_EQ(MountPointOf(disk, table), std::nullopt);
    EXPECT_EQ(MountPointOf(dir.File("absent.img"), table), std::nullopt);
    EXPECT_EQ(MountPointOf("", table), std::nullopt);
    EXPECT_EQ(MountPointOf(disk, dir.File("no-table")), std::nullopt);
}

TEST_F(MountTable, BlockDeviceIsFoundByItsDeviceNumberUnderAnyName)
{
    if (!FileExists("/dev/loop0") || !FileExists("/dev/loop1"))
        GTEST_SKIP() << "no loop devices to stand for a diskette drive";
    ASSERT_EQ(Shell("ln -s /dev/loop1 '" + dir.File("fd0") + "'"), 0);
    Write("/dev/loop0 /mnt/zero vfat rw 0 0\n" + dir.File("fd0") + " /mnt/floppy vfat rw 0 0\n");
    EXPECT_EQ(MountPointOf("/dev/loop1", table), "/mnt/floppy");
    EXPECT_EQ(MountPointOf("/dev/loop0", table), "/mnt/zero");
    // A diskette file is no block device, whatever device numbers its file system has.
    EXPECT_EQ(MountPointOf(disk, table), std::nullopt);
}

}  // namespace
