// SPDX-License-Identifier: GPL-3.0-or-later
// vokta-cli on a drive of an emulated Greaseweazle, bound by the path of its serial line:
// the device's faults in the system's words, a weak sector taken from a good turn, and the
// drive in the drive list.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/clirun.h"
#include "support/fluxdiskettes.h"
#include "support/greaseweazleemulator.h"
#include "support/requiretools.h"
#include "support/tempdir.h"

using namespace vokta;
using namespace vokta::test;

namespace {

// A diskette fresh from the box: no track holds a transition.
FluxDiskette Blank(DriveKind kind)
{
    return FluxDisketteOf(EmulatedMedium(MediumDensity::High), kind);
}

}  // namespace

TEST(GreaseweazleCli, EachFaultOfTheDeviceGetsTheSystemsOwnWords)
{
    enum class Fault { WriteProtected, NoDiskette, NoIndex, PulledOutDuringRead, PulledOutDuringWrite };
    const struct {
        Fault fault;
        std::string command;
        int status;
        const char* said;  // on either stream
    } cases[] = {
        {Fault::WriteProtected, "format A: --media 1.44m", 1, "Format Error: Write protect Disk !"},
        {Fault::WriteProtected, "write fat.img A:", 2, "Error: Write protect Disk !"},
        {Fault::NoDiskette, "info A:", 1, "Please insert a disk !"},
        {Fault::NoDiskette, "read A: out.img", 1, "Please insert a disk !"},
        {Fault::NoIndex, "info A:", 2, "Cannot establish the media type !"},
        {Fault::NoIndex, "read A: out.img", 2, "Drive NOT ready"},
        {Fault::PulledOutDuringRead, "read A: out.img", 2, "Drive NOT ready"},
        {Fault::PulledOutDuringWrite, "write fat.img A:", 2, "Drive NOT ready"},
    };
    if (!RequireTools({"mkfs.fat", "mcopy"}))
        return;
    // A 1.44M diskette with a file system on it, and the same with a file more.
    TempDir dir;
    WriteFile(dir.File("one.bin"), RandomBytes(200'000, 5));
    ASSERT_EQ(Shell("cd " + ShellQuoted(dir.path()) + " && mkfs.fat -C blank.img 1440 >/dev/null" +
                    " && cp blank.img fat.img && MTOOLS_SKIP_CHECK=1 mcopy -i fat.img one.bin ::"),
              0);
    const FluxDiskette blank =
        FluxDisketteOf(EmulatedMedium::FromImage(kMedia144M, ReadFile(dir.File("blank.img"))), DriveKind::Floppy35HD);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command + " " + std::to_string(static_cast<int>(c.fault)));
        GreaseweazleModel model;
        model.indexPulse = c.fault != Fault::NoIndex;
        GreaseweazleEmulator device(model);
        device.Insert(c.fault == Fault::NoIndex ? Blank(DriveKind::Floppy35HD) : blank);
        const std::string drive = "--drive A:=" + device.path() + " -y ";
        const FluxDiskette before = *device.diskette();
        switch (c.fault) {
        case Fault::NoIndex: break;
        case Fault::WriteProtected: device.SetWriteProtected(true); break;
        case Fault::NoDiskette: device.Eject(); break;
        case Fault::PulledOutDuringRead: device.DropDuring(gw::Cmd::ReadFlux, 20'000); break;
        case Fault::PulledOutDuringWrite: device.DropDuring(gw::Cmd::WriteFlux, 1); break;
        }
        const CliRun run = RunCli(VOKTA_CLI, drive + c.command, dir);
        EXPECT_EQ(run.status, c.status) << run.out << run.err;
        EXPECT_NE((run.out + run.err).find(c.said), std::string::npos) << run.out << run.err;
        if (c.fault == Fault::WriteProtected) {
            EXPECT_EQ(device.diskette()->tracks, before.tracks);
        }
    }
}

TEST(GreaseweazleCli, TheDriveListNamesTheSerialLineAndAnOpenSaysWhyNot)
{
    TempDir dir;
    GreaseweazleEmulator device;
    device.Insert(Blank(DriveKind::Floppy525HD));
    const CliRun run = RunCli(VOKTA_CLI, "--drive B:=" + device.path() + ",type=1.2m drives --paths", dir);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("B:  FLOPPY 5¼ 1.2M\t" + device.path()), std::string::npos) << run.out;

    // A terminal that answers nothing is no Greaseweazle.
    const int silent = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(silent, 0);
    ASSERT_EQ(grantpt(silent), 0);
    ASSERT_EQ(unlockpt(silent), 0);
    const std::string line = ptsname(silent);
    const CliRun refused = RunCli(VOKTA_CLI, "--drive A:=" + line + " info A:", dir);
    close(silent);
    EXPECT_EQ(refused.status, 2) << refused.out << refused.err;
    EXPECT_NE(refused.err.find(line + ": not a Greaseweazle"), std::string::npos) << refused.err;
}

TEST(GreaseweazleCli, AWeakSectorIsTakenFromATurnThatReadsItWell)
{
    if (!RequireTools({"mkfs.fat", "mcopy"}))
        return;
    // The sector of cylinder 3, head 0, slot 4 lies in one.bin's data; it reads badly in
    // `bad` of every `every` turns.
    const struct {
        uint32_t bad;
        uint32_t every;
        const char* onError;
        int status;
    } cases[] = {
        {1, 2, "abort", 0},
        {2, 3, "abort", 0},
        {3, 4, "retry", 0},
        {1, 1, "abort", 1},
        {1, 1, "ignore", 3},
    };
    TempDir dir;
    WriteFile(dir.File("one.bin"), RandomBytes(300'000, 9));
    ASSERT_EQ(Shell("cd " + ShellQuoted(dir.path()) +
                    " && mkfs.fat -C fat.img 720 >/dev/null && MTOOLS_SKIP_CHECK=1 mcopy -i fat.img one.bin ::"),
              0);
    const std::vector<uint8_t> image = ReadFile(dir.File("fat.img"));
    // A 720K diskette: a quarter of the flux of a 1.44M one to go through.
    const EmulatedMedium medium = EmulatedMedium::FromImage(kMedia720K, image);
    const FluxDiskette sound = FluxDisketteOf(medium, DriveKind::Floppy35HD);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.bad) + " of " + std::to_string(c.every) + ", " + c.onError);
        GreaseweazleEmulator device;
        FluxDiskette diskette = sound;
        diskette.weak.push_back(WeakSectorData(medium, DriveKind::Floppy35HD, 3, 0, 4, c.bad, c.every));
        device.Insert(std::move(diskette));
        std::remove(dir.File("out.img").c_str());
        const CliRun run = RunCli(VOKTA_CLI,
                                  "--drive A:=" + device.path() + " --on-error " + c.onError + " read A: out.img", dir);
        EXPECT_EQ(run.status, c.status) << run.out << run.err;
        if (c.status == 0) {
            EXPECT_EQ(ReadFile(dir.File("out.img")), image);
        }
        if (c.status == 3) {
            EXPECT_NE(run.err.find("ONE.BIN"), std::string::npos) << run.err;
        }
    }

    // A new label is written into the boot sector, on the track of the first FAT: the whole
    // track is written again, and its weak FAT sector goes back as it reads in its good turns.
    for (const uint32_t bad : {1u, 2u, 3u}) {
        SCOPED_TRACE("labelled, bad in " + std::to_string(bad) + " of " + std::to_string(bad + 1));
        GreaseweazleEmulator device;
        FluxDiskette diskette = sound;
        diskette.weak.push_back(WeakSectorData(medium, DriveKind::Floppy35HD, 0, 0, 2, bad, bad + 1));
        device.Insert(std::move(diskette));
        const std::string drive = "--drive A:=" + device.path() + " --on-error retry -y ";
        const CliRun labelled = RunCli(VOKTA_CLI, drive + "label A: WEAKTRACK", dir);
        ASSERT_EQ(labelled.status, 0) << labelled.out << labelled.err;
        std::remove(dir.File("out.img").c_str());
        const CliRun back = RunCli(VOKTA_CLI, drive + "read A: out.img", dir);
        EXPECT_EQ(back.status, 0) << back.out << back.err;
        const std::vector<uint8_t> out = ReadFile(dir.File("out.img"));
        ASSERT_EQ(out.size(), image.size());
        // The FATs: sectors 2 to 7 of the track; the label changes the root directory behind them.
        EXPECT_TRUE(std::equal(out.begin() + 512, out.begin() + 7 * 512, image.begin() + 512));
    }
}
