// SPDX-License-Identifier: GPL-3.0-or-later
// vokta-cli rescue on a drive of an emulated Greaseweazle: weak and dead sectors, the map
// as ddrescuelog reads it, and a rescue killed or cut off halfway that resumes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "rescue/rescuemap.h"
#include "support/clirun.h"
#include "support/fluxdiskettes.h"
#include "support/greaseweazleemulator.h"
#include "support/requiretools.h"
#include "support/tempdir.h"

using namespace vokta;
using namespace vokta::test;

namespace {

constexpr uint32_t kSectors = 1440;  // 720K: a quarter of the flux of a 1.44M diskette

// A 720K diskette made by mkfs.fat, a file filling most of it; empty when the tools are missing.
std::vector<uint8_t> FilledDiskette(const TempDir& dir)
{
    if (!RequireTools({"mkfs.fat", "mcopy"}))
        return {};
    WriteFile(dir.File("one.bin"), RandomBytes(600'000, 11));
    EXPECT_EQ(Shell("cd " + ShellQuoted(dir.path()) +
                    " && mkfs.fat -C fat.img 720 >/dev/null && MTOOLS_SKIP_CHECK=1 mcopy -i fat.img one.bin ::"),
              0);
    return ReadFile(dir.File("fat.img"));
}

// The map's states, one character per sector; empty when it does not read.
std::string States(const std::string& path)
{
    const std::vector<uint8_t> bytes = ReadFile(path);
    const ParsedRescueMap parsed = ParseRescueMap(std::string(bytes.begin(), bytes.end()), 512, kSectors);
    return parsed.map ? std::string(reinterpret_cast<const char*>(parsed.map->sectors.data()), kSectors) : "";
}

// The sectors of one state, as ddrescuelog lists them.
std::set<uint32_t> Listed(const std::string& map, char status)
{
    std::string out;
    EXPECT_EQ(Shell("ddrescuelog -b512 -l'" + std::string(1, status) + "' " + ShellQuoted(map), &out), 0);
    std::set<uint32_t> sectors;
    for (size_t at = 0; at < out.size();) {
        const size_t end = out.find('\n', at);
        sectors.insert(static_cast<uint32_t>(std::stoul(out.substr(at, end - at))));
        at = end + 1;
    }
    return sectors;
}

// Every sector the map says was read holds the diskette's bytes.
void ExpectImageHoldsWhatTheMapSays(const std::string& image, const std::string& map, const std::vector<uint8_t>& source)
{
    const std::string states = States(map);
    ASSERT_EQ(states.size(), kSectors) << "the map reads";
    const std::vector<uint8_t> bytes = ReadFile(image);
    ASSERT_EQ(bytes.size(), source.size());
    for (uint32_t s = 0; s < kSectors; ++s)
        if (states[s] == '+') {
            ASSERT_TRUE(std::equal(bytes.begin() + s * 512, bytes.begin() + (s + 1) * 512, source.begin() + s * 512))
                << "sector " << s;
        }
}

}  // namespace

TEST(RescueCli, DeadSectorsAreLostNamedAndMappedAsDdrescuelogReadsThem)
{
    TempDir dir;
    const std::vector<uint8_t> image = FilledDiskette(dir);
    if (image.empty() || !RequireTools({"ddrescuelog"}))
        return;
    const EmulatedMedium medium = EmulatedMedium::FromImage(kMedia720K, image);
    GreaseweazleEmulator device;
    FluxDiskette diskette = FluxDisketteOf(medium, DriveKind::Floppy35HD);
    // Cylinder 20, head 1, slot 4: sector 20 * 18 + 9 + 3 of one.bin, bad in every turn.
    diskette.weak.push_back(WeakSectorData(medium, DriveKind::Floppy35HD, 20, 1, 3, 1, 1));
    device.Insert(std::move(diskette));
    const uint32_t dead = 20 * 18 + 9 + 3;
    const CliRun run = RunCli(VOKTA_CLI, "--drive A:=" + device.path() + " rescue A: disk.img --passes 2 --retries 1", dir);
    EXPECT_EQ(run.status, 3) << run.out << run.err;
    EXPECT_EQ(run.LastLine(), "Data lost !");
    EXPECT_NE(run.out.find("Sectors read: 1439, recovered on retry: 0, lost: 1"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("ONE.BIN"), std::string::npos) << run.err;
    EXPECT_EQ(Listed(dir.File("disk.img.map"), '-'), std::set<uint32_t>{dead});
    EXPECT_EQ(Listed(dir.File("disk.img.map"), '+').size(), kSectors - 1);
    EXPECT_NE(Shell("ddrescuelog -D " + ShellQuoted(dir.File("disk.img.map"))), 0);
    std::vector<uint8_t> expected = image;
    std::fill_n(expected.begin() + dead * 512, 512, 0);
    EXPECT_EQ(ReadFile(dir.File("disk.img")), expected);
}

TEST(RescueCli, ARescueKilledOrCutOffHalfwayLeavesImageAndMapInStepAndResumes)
{
    TempDir dir;
    const std::vector<uint8_t> image = FilledDiskette(dir);
    if (image.empty())
        return;
    const FluxDiskette sound = FluxDisketteOf(EmulatedMedium::FromImage(kMedia720K, image), DriveKind::Floppy35HD);
    for (const bool killed : {true, false}) {
        SCOPED_TRACE(killed ? "killed" : "diskette pulled out");
        const std::string name = killed ? "killed.img" : "pulled.img";
        // Waits until the map holds some of the diskette and not all of it.
        const auto halfway = [&] {
            for (int i = 0; i < 3000; ++i) {
                const std::string states = FileExists(dir.File(name + ".map")) ? States(dir.File(name + ".map")) : "";
                const auto finished = std::ranges::count(states, '+');
                if (finished > 200 && finished < 1200)
                    return;
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        };
        {
            GreaseweazleEmulator device;
            device.Insert(sound);
            if (killed) {
                const pid_t child = fork();
                ASSERT_GE(child, 0);
                if (child == 0) {
                    const int quiet = open("/dev/null", O_WRONLY);
                    dup2(quiet, 1);
                    dup2(quiet, 2);
                    if (chdir(dir.path().c_str()) == 0)
                        execl(VOKTA_CLI, VOKTA_CLI, "--drive", ("A:=" + device.path()).c_str(), "rescue", "A:",
                              name.c_str(), static_cast<char*>(nullptr));
                    _exit(127);
                }
                halfway();
                ASSERT_EQ(kill(child, SIGKILL), 0);
                int status = 0;
                ASSERT_EQ(waitpid(child, &status, 0), child);
            } else {
                std::thread puller([&] {
                    halfway();
                    device.Eject();
                });
                const CliRun run = RunCli(VOKTA_CLI, "--drive A:=" + device.path() + " rescue A: " + name, dir);
                puller.join();
                EXPECT_EQ(run.status, 1) << run.out << run.err;
                EXPECT_NE(run.err.find("Please insert a disk !"), std::string::npos) << run.err;
            }
        }
        const size_t finished = static_cast<size_t>(std::ranges::count(States(dir.File(name + ".map")), '+'));
        EXPECT_GT(finished, 0u);
        EXPECT_LT(finished, kSectors);
        ExpectImageHoldsWhatTheMapSays(dir.File(name), dir.File(name + ".map"), image);

        GreaseweazleEmulator again;
        again.Insert(sound);
        const CliRun resumed = RunCli(VOKTA_CLI, "--drive A:=" + again.path() + " rescue A: " + name, dir);
        EXPECT_EQ(resumed.status, 0) << resumed.out << resumed.err;
        EXPECT_NE(resumed.out.find("Sectors read by an earlier run: " + std::to_string(finished)), std::string::npos)
            << resumed.out;
        EXPECT_EQ(ReadFile(dir.File(name)), image);
    }
}
