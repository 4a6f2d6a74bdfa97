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

// A diskette's geometry as the tools should find it, written out here rather than taken
// from our media table.
struct Geometry {
    int cylinders;
    int heads;
    int sectorsPerTrack;
    int TotalSectors() const { return cylinders * heads * sectorsPerTrack; }
};

constexpr Geometry k144M{80, 2, 18};
constexpr Geometry k172M{82, 2, 21};

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

    // A diskette file of zeros: no track of it reads as formatted.
    std::string ZeroImage(const Geometry& g)
    {
        const std::string path = dir.File("zeros.img");
        WriteFile(path, std::vector<uint8_t>(size_t(g.TotalSectors()) * 512));
        return path;
    }

    // A formatted diskette file as dosfstools and mtools see it: a clean file system on
    // the media's geometry, with the volume label.
    static void ExpectFormatted(const std::string& path, const Geometry& g, const std::string& label)
    {
        EXPECT_EQ(ReadFile(path).size(), size_t(g.TotalSectors()) * 512);
        std::string fsck;
        EXPECT_EQ(Shell("fsck.fat -n '" + path + "' 2>&1", &fsck), 0) << fsck;
        std::string info;
        ASSERT_EQ(Shell("minfo -i '" + path + "' :: 2>&1", &info), 0) << info;
        EXPECT_NE(info.find("cylinders: " + std::to_string(g.cylinders) + "\n"), std::string::npos) << info;
        EXPECT_NE(info.find("heads: " + std::to_string(g.heads) + "\n"), std::string::npos) << info;
        EXPECT_NE(info.find("sectors per track: " + std::to_string(g.sectorsPerTrack) + "\n"), std::string::npos)
            << info;
        std::string shown;
        EXPECT_EQ(Shell("mlabel -i '" + path + "' -s ::", &shown), 0);
        EXPECT_NE(shown.find("Volume label is " + label), std::string::npos) << shown;
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
    EXPECT_EQ(run.LastLine(), "1.44M (DS HD)") << run.out << run.err;
}

TEST_F(QemuCli, Formats144MOverAnUnformattedDiskette)
{
    const std::string a = ZeroImage(k144M);
    const CliRun run = Run({"format", "A:", "--media", "1.44m", "--label", "QEMU144"}, a);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.LastLine(), "OK.") << run.out << run.err;
    ExpectFormatted(a, k144M, "QEMU144");
    ExpectLayoutChosenByDriverTold(run);
}

TEST_F(QemuCli, Formats172MWithItsEightyTwoCylinders)
{
    const std::string a = ZeroImage(k172M);
    const CliRun run = Run({"format", "A:", "--media", "1.72m", "--label", "QEMU172"}, a);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.LastLine(), "OK.") << run.out << run.err;
    ExpectFormatted(a, k172M, "QEMU172");
    ExpectLayoutChosenByDriverTold(run);
}

}  // namespace
