// SPDX-License-Identifier: GPL-3.0-or-later
// The Linux floppy backend against the kernel's floppy driver: each case boots Debian's
// kernel in QEMU with diskette files in A: and B:, runs a group of guest cases
// (guest_test.cpp) and checks the diskette files afterwards with our eyes and with
// tools nobody here wrote.
#include <gtest/gtest.h>

#include "drive/media.h"
#include "qemu/pattern.h"
#include "qemu/qemuguest.h"
#include "support/tempdir.h"

using namespace vokta;
using namespace vokta::qemu;
using namespace vokta::test;

namespace {

constexpr uint32_t kWriteSeed = 7;  // what the guest's Write case writes
constexpr uint8_t kStaleByte = 0xE5;

class QemuFloppy : public ::testing::Test {
protected:
    std::string MkfsImage(const std::string& name, int kilobytes)
    {
        const std::string path = dir.File(name);
        EXPECT_EQ(Shell("mkfs.fat -C -i 12345678 '" + path + "' " + std::to_string(kilobytes) + " >/dev/null"), 0);
        return path;
    }

    // A diskette file full of bytes no format writes, so every formatted sector shows.
    std::string StaleImage(const std::string& name, MediaType type)
    {
        const std::string path = dir.File(name);
        WriteFile(path, std::vector<uint8_t>(ImageSizeOf(type), kStaleByte));
        return path;
    }

    GuestRun Boot(const std::string& cases, const std::vector<FloppySlot>& drives, const MonitorRequests& requests = {})
    {
        GuestRun run = BootGuest(cases, drives, requests);
        std::printf("[ qemu ] %s: booted in %.1f s, ran %.1f s in all\n", cases.c_str(), run.bootSeconds,
                    run.totalSeconds);
        for (const auto& [key, value] : run.results)
            std::printf("[ qemu ]   %s = %s\n", key.c_str(), value.c_str());
        EXPECT_TRUE(run.finished && run.exitCode == 0) << run.console;
        return run;
    }

    // A formatted diskette file: the same size, and the boot sector that EndFormat wrote,
    // as mtools reads it. QEMU's controller accepts a track format without writing the
    // sectors, so everything else keeps its old bytes.
    void ExpectFormatted(const std::string& path, MediaType type, const GuestRun& run, const std::string& name)
    {
        const std::vector<uint8_t> image = ReadFile(path);
        ASSERT_EQ(image.size(), ImageSizeOf(type));
        EXPECT_EQ(Result(run, name + ".endformat"), "1");
        const MediaGeometry g = *GeometryOf(type);
        std::string info;
        EXPECT_EQ(Shell("minfo -i '" + path + "' :: 2>&1", &info), 0) << info;
        EXPECT_NE(info.find("sectors per track: " + std::to_string(g.sectorsPerTrack)), std::string::npos) << info;
        EXPECT_EQ(GetU16(image, 19), g.totalSectors);
        EXPECT_EQ(GetU16(image, 24), g.sectorsPerTrack);
        EXPECT_EQ(image[21], g.mediaDescriptor);
        EXPECT_EQ(GetU16(image, 510), 0xAA55);
        // The kernel has no raw commands here: its own format request numbered the sectors.
        EXPECT_EQ(Result(run, name + ".layoutHonoured"), "0");
    }

    static std::string Result(const GuestRun& run, const std::string& key)
    {
        const auto found = run.results.find(key);
        return found == run.results.end() ? "" : found->second;
    }

    TempDir dir;
};

TEST_F(QemuFloppy, DetectsReadsAndLocksMkfsDiskettes)
{
    const std::string a = MkfsImage("a.img", 1440);
    std::vector<uint8_t> image = ReadFile(a);
    // Data in the free clusters, so the whole-disk read has something to tell apart.
    const std::vector<uint8_t> data = PatternBytes(image.size() - 33 * 512, 3);
    std::copy(data.begin(), data.end(), image.begin() + 33 * 512);
    WriteFile(a, image);
    const std::string b = MkfsImage("b.img", 720);
    const std::vector<uint8_t> before = ReadFile(b);

    const GuestRun run = Boot("Detect.*:HeadMoves.*", {{a}, {b}});
    EXPECT_EQ(Result(run, "read144.digest"), Digest(image));
    // Without raw commands the driver offers a recalibrate on its next access and no seek.
    EXPECT_EQ(Result(run, "headmoves.seek"), Result(run, "headmoves.raw"));
    EXPECT_TRUE(ReadFile(a) == image) << "reading or mounting changed A:";
    EXPECT_TRUE(ReadFile(b) == before);
}

TEST_F(QemuFloppy, WritesReadsBackAndHonoursTheWriteProtectTab)
{
    const std::string a = MkfsImage("a.img", 1440);
    const std::string b = MkfsImage("b.img", 720);
    const std::vector<uint8_t> before = ReadFile(b);

    Boot("Write.*", {{a}, {b, true}});
    EXPECT_TRUE(ReadFile(a) == PatternBytes(1474560, kWriteSeed)) << "A: does not hold what the guest wrote";
    EXPECT_TRUE(ReadFile(b) == before) << "the write-protected B: changed";
}

TEST_F(QemuFloppy, Formats144MAndFindsTheEmptyDriveNotReady)
{
    const std::string a = StaleImage("a.img", kMedia144M);
    const GuestRun run = Boot("Format144.*", {{a}, {}});
    ExpectFormatted(a, kMedia144M, run, "format144");
}

TEST_F(QemuFloppy, FormatsBothDistributionFormats)
{
    const std::string a = StaleImage("a.img", kMedia168M);
    const std::string b = StaleImage("b.img", kMedia172M);
    const GuestRun run = Boot("FormatDmf.*", {{a}, {b}});
    ExpectFormatted(a, kMedia168M, run, "format168");
    ExpectFormatted(b, kMedia172M, run, "format172");
}

TEST_F(QemuFloppy, ReadsAfterADisketteChangeComeFromTheNewDiskette)
{
    const std::string first = dir.File("first.img");
    const std::string second = dir.File("second.img");
    WriteFile(first, PatternBytes(1474560, 11));
    WriteFile(second, PatternBytes(1474560, 12));

    const GuestRun run = Boot("Change.*", {{first}}, {{"swap", "change floppy0 " + second + " raw"}});
    const auto digestOfFirstTracks = [](const std::vector<uint8_t>& image) {
        return Digest(std::span(image).first(5 * 18 * 512));
    };
    EXPECT_EQ(Result(run, "change.before"), digestOfFirstTracks(ReadFile(first)));
    EXPECT_EQ(Result(run, "change.after"), digestOfFirstTracks(ReadFile(second)));
}

// QEMU's controller hands out zeros for a sector its image cannot read, so injected
// errors can only reach the driver on writes.
TEST_F(QemuFloppy, InjectedWriteErrorsReachTheCaller)
{
    const std::string a = MkfsImage("a.img", 1440);
    std::vector<uint8_t> image = ReadFile(a);
    const std::vector<uint8_t> data = PatternBytes(image.size() - 33 * 512, 3);
    std::copy(data.begin(), data.end(), image.begin() + 33 * 512);
    WriteFile(a, image);
    // Cylinder 5, head 0, sector 3: absolute sector 182.
    const std::string rules = dir.File("blkdebug.conf");
    const std::string text = "[inject-error]\nevent = \"write_aio\"\niotype = \"write\"\nerrno = \"5\"\nsector = \"182\"\n";
    WriteFile(rules, std::vector<uint8_t>(text.begin(), text.end()));

    Boot("Faults.*", {{a, false, rules}});
    const std::vector<uint8_t> after = ReadFile(a);
    ASSERT_EQ(after.size(), image.size());
    // The failing sector kept its bytes; no track but the one written changed.
    EXPECT_TRUE(std::equal(after.begin(), after.begin() + 180 * 512, image.begin()));
    EXPECT_TRUE(std::equal(after.begin() + 182 * 512, after.begin() + 183 * 512, image.begin() + 182 * 512));
    EXPECT_TRUE(std::equal(after.begin() + 198 * 512, after.end(), image.begin() + 198 * 512));
}

}  // namespace
