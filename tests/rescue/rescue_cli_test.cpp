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

TEST(RescueCli, WeakSectorsAreRecoveredDeadOnesLostNamedAndMappedAsDdrescuelogReadsThem)
{
    // Each a sector of one.bin on a slot of a track, bad in `bad` of every `every` turns.
    const struct {
        uint16_t cylinder;
        uint8_t head;
        uint8_t slot;
        uint32_t bad;
        uint32_t every;
        const char* options;
        int status;
        const char* summary;
    } cases[] = {
        // Only a read over 8 turns is sure to meet the one good turn in 8.
        {30, 0, 6, 7, 8, "--passes 2 --retries 0 --revolutions 8", 0, "lost: 0"},
        {20, 1, 3, 1, 1, "--passes 2 --retries 1", 3, "Sectors read: 1439, recovered on retry: 0, lost: 1"},
    };
    TempDir dir;
    const std::vector<uint8_t> image = FilledDiskette(dir);
    if (image.empty() || !RequireTools({"ddrescuelog"}))
        return;
    const EmulatedMedium medium = EmulatedMedium::FromImage(kMedia720K, image);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        GreaseweazleEmulator device;
        FluxDiskette diskette = FluxDisketteOf(medium, DriveKind::Floppy35HD);
        diskette.weak.push_back(WeakSectorData(medium, DriveKind::Floppy35HD, c.cylinder, c.head, c.slot, c.bad, c.every));
        device.Insert(std::move(diskette));
        const std::string name = "weak" + std::to_string(c.cylinder) + ".img";
        const CliRun run = RunCli(VOKTA_CLI, "--drive A:=" + device.path() + " rescue A: " + name + " " + c.options, dir);
        EXPECT_EQ(run.status, c.status) << run.out << run.err;
        EXPECT_NE(run.out.find(c.summary), std::string::npos) << run.out;
        // The 720K layout is 1:1, so the slot is the sector's place on the track.
        std::set<uint32_t> lost;
        if (c.status != 0)
            lost.insert((uint32_t{c.cylinder} * 2 + c.head) * 9 + c.slot);
        const std::string map = dir.File(name + ".map");
        EXPECT_EQ(Listed(map, '-'), lost);
        EXPECT_EQ(Listed(map, '+').size(), kSectors - lost.size());
        EXPECT_EQ(Shell("ddrescuelog -D " + ShellQuoted(map)) == 0, lost.empty());
        std::vector<uint8_t> expected = image;
        for (uint32_t s : lost)
            std::fill_n(expected.begin() + s * 512, 512, 0);
        EXPECT_EQ(ReadFile(dir.File(name)), expected);
        if (!lost.empty()) {
            EXPECT_EQ(run.LastLine(), "Data lost !");
            EXPECT_NE(run.err.find("ONE.BIN"), std::string::npos) << run.err;
        }
    }
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
