// SPDX-License-Identifier: GPL-3.0-or-later
// vokta-cli itself inside the QEMU guest: each case boots the guest with a diskette file in
// A:, which the machine's drive table makes the kernel floppy driver's /dev/fd0, runs one
// command line there and checks what the program said and, with tools nobody here wrote,
// what it left in the diskette file.
#include <gtest/gtest.h>

#include "qemu/qemuguest.h"
#include "res/strings.h"
#include "support/requiretools.h"
#include "support/tempdir.h"

using namespace vokta;
using namespace vokta::qemu;
using namespace vokta::test;

namespace {

// A format of an unformatted diskette: the --media word, and the geometry and label the
// tools should then find, written out here rather than taken from our media table.
struct FormatCase {
    std::string media;
    int cylinders;
    int heads;
    int sectorsPerTrack;
    std::string label;
    size_t ImageSize() const { return size_t(cylinders) * heads * sectorsPerTrack * 512; }
};

class QemuCli : public ::testing::Test {
protected:
    void SetUp() override { RequireTools({"qemu-system-x86_64", "mkfs.fat", "fsck.fat", "minfo", "mlabel"}); }

    // Runs the command line in the guest with `image` in A: and B: empty.
    CliRun Run(const std::vector<std::string>& args, const std::string& image)
    {
        const GuestCliRun run = RunCliInGuest(args, {{image}, {}});
        std::printf("[ qemu ] vokta-cli %s: booted in %.1f s, ran %.1f s in all\n", args.front().c_str(),
                    run.guest.bootSeconds, run.guest.totalSeconds);
        EXPECT_TRUE(run.guest.finished) << run.guest.console;
        return run.cli;
    }

    // Formats a diskette file of zeros, on which no track reads as formatted, and checks it
    // as dosfstools and mtools see it: a clean file system on the media's geometry, with
    // the volume label.
    void FormatUnformattedDiskette(const FormatCase& c)
    {
        const std::string path = dir.File("zeros.img");
        WriteFile(path, std::vector<uint8_t>(c.ImageSize()));
        const CliRun run = Run({"format", "A:", "--media", c.media, "--label", c.label}, path);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.LastLine(), "OK.") << run.out << run.err;
        ExpectLayoutChosenByDriverTold(run);

        EXPECT_EQ(ReadFile(path).size(), c.ImageSize());
        std::string fsck;
        EXPECT_EQ(Shell("fsck.fat -n '" + path + "' 2>&1", &fsck), 0) << fsck;
        std::string info;
        ASSERT_EQ(Shell("minfo -i '" + path + "' :: 2>&1", &info), 0) << info;
        EXPECT_NE(info.find("cylinders: " + std::to_string(c.cylinders) + "\n"), std::string::npos) << info;
        EXPECT_NE(info.find("heads: " + std::to_string(c.heads) + "\n"), std::string::npos) << info;
        EXPECT_NE(info.find("sectors per track: " + std::to_string(c.sectorsPerTrack) + "\n"), std::string::npos)
            << info;
        std::string shown;
        EXPECT_EQ(Shell("mlabel -i '" + path + "' -s ::", &shown), 0);
        EXPECT_NE(shown.find("Volume label is " + c.label), std::string::npos) << shown;
    }

    // The kernel's format request numbers the sectors itself; the user is told, in words
    // whose beginning does not depend on the layout the driver chose.
    static void ExpectLayoutChosenByDriverTold(const CliRun& run)
    {
        const std::string text = FormatString(Str::LayoutChosenByDriver, LoadString(Str::OptimizedLayoutWord), 0, 0, 0);
        const std::string firstWords = text.substr(0, text.find(':'));
        EXPECT_NE(run.err.find(firstWords), std::string::npos) << run.err;
    }

    TempDir dir;
};

TEST_F(QemuCli, MediaNamesAMkfs144MDiskette)
{
    const std::string a = dir.File("a.img");
    ASSERT_EQ(Shell("mkfs.fat -C '" + a + "' 1440 >/dev/null"), 0);
    const CliRun run = Run({"media", "A:"}, a);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "1.44M (DS HD)\nOK.\n") << run.err;
}

TEST_F(QemuCli, Formats144MOverAnUnformattedDiskette)
{
    FormatUnformattedDiskette({"1.44m", 80, 2, 18, "QEMU144"});
}

TEST_F(QemuCli, Formats172MWithItsEightyTwoCylinders)
{
    FormatUnformattedDiskette({"1.72m", 82, 2, 21, "QEMU172"});
}

}  // namespace
