// SPDX-License-Identifier: GPL-3.0-or-later
// A diskette file on a file system with no room left: every command that writes tells the
// user so, with the file's path, not that the diskette is full, and the file keeps its
// bytes. The full file system is a small tmpfs mounted in a user and mount namespace of
// its own (unshare), which needs no root.
#include <gtest/gtest.h>

#include "drive/diskerror.h"
#include "support/clirun.h"
#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::test;

namespace {

// 1.44M of diskette leave a 1600K tmpfs too little room for the copy a change is saved through.
std::string InFullFileSystem(const std::string& commands)
{
    return "-rm sh -c " + ShellQuoted("mount -t tmpfs -o size=1600k tmpfs full && cp made.img full/d.img && " +
                                      commands + "; status=$?; cmp -s made.img full/d.img && echo UNCHANGED >&2;"
                                                 " exit $status");
}

bool CanMountInANamespace(const TempDir& dir)
{
    return Shell("mkdir -p " + ShellQuoted(dir.File("probe")) + " && unshare -rm sh -c " +
                 ShellQuoted("mount -t tmpfs -o size=64k tmpfs " + ShellQuoted(dir.File("probe"))) +
                 " >/dev/null 2>&1") == 0;
}

}  // namespace

TEST(HostFileSystemFull, EveryWritingCommandNamesTheFile)
{
    TempDir probe;
    if (!CanMountInANamespace(probe))
        GTEST_SKIP() << "no tmpfs can be mounted in a user and mount namespace here";
    const std::string told = DiskErrorText(Err::HostDiskFull) + "\n  full/d.img\n";
    for (const char* command : {"format A: --quick", "write other.dim A:", "label A: NEWNAME", "boot recreate A:",
                                "repair A: --boot write"}) {
        SCOPED_TRACE(command);
        TempDir dir;
        // The boot sector fails the check, so that the repair writes one.
        std::vector<uint8_t> image = FatImage(kMedia144M);
        image[510] = 0;
        WriteFile(dir.File("made.img"), image);
        WriteFile(dir.File("other.dim"), PatternImage(kMedia144M));
        ASSERT_EQ(Shell("mkdir " + ShellQuoted(dir.File("full"))), 0);
        const CliRun run =
            RunCli("unshare", InFullFileSystem(std::string("'" VOKTA_CLI "' --drive A:=full/d.img --assume-yes ") + command), dir);
        EXPECT_NE(run.status, 0) << run.out;
        EXPECT_NE(run.err.find(told), std::string::npos) << run.err << run.out;
        EXPECT_EQ(run.err.find(DiskErrorText(Err::DiskFull)), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("UNCHANGED"), std::string::npos) << run.err;
    }
}
