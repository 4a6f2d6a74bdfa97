// SPDX-License-Identifier: GPL-3.0-or-later
// vokta-cli inside the QEMU guest on a USB disk: QEMU's usb-storage device, which the
// guest's usb-storage and sd drivers show as /dev/sda, holds a 1.44M diskette file, and
// the kernel floppy driver's A: holds another. One boot runs the command lines in turn, so
// that an image read by one is there for the next. The device speaks the SCSI transparent
// command set, not UFI (interface subclass 06h): it is not found as a USB floppy drive but
// bound by name, and it reads and writes diskettes but cannot format one.
#include <gtest/gtest.h>

#include "qemu/qemuguest.h"
#include "res/strings.h"
#include "support/requiretools.h"
#include "support/tempdir.h"

using namespace vokta;
using namespace vokta::qemu;
using namespace vokta::test;

namespace {

std::vector<std::string> OnUsbDrive(std::vector<std::string> line)
{
    line.insert(line.begin(), {"--drive", "B:=/dev/sda"});
    return line;
}

GuestCliSequence RunInGuest(const std::vector<std::vector<std::string>>& lines, const GuestDrives& drives)
{
    const GuestCliSequence run = RunCliSequenceInGuest(lines, drives);
    std::printf("[ qemu ] usb disk: booted in %.1f s, ran %.1f s in all\n", run.guest.bootSeconds,
                run.guest.totalSeconds);
    EXPECT_TRUE(run.guest.finished) << run.guest.console;
    return run;
}

TEST(QemuUsb, ReadsComparesAndWritesA144MDisketteOnAUsbDiskAndRefusesToFormatIt)
{
    RequireTools({"qemu-system-x86_64", "mkfs.fat", "mcopy"});
    TempDir dir;
    const std::string usb = dir.File("usb.img");
    const std::string floppy = dir.File("floppy.img");
    ASSERT_EQ(Shell("mkfs.fat -n ONUSB -C '" + usb + "' 1440 >/dev/null && seq 1 20000 >'" + dir.File("n.txt") +
                    "' && mcopy -i '" + usb + "' '" + dir.File("n.txt") + "' ::"),
              0);
    ASSERT_EQ(Shell("mkfs.fat -n ONFLOPPY -C '" + floppy + "' 1440 >/dev/null"), 0);

    const GuestCliSequence run = RunInGuest(
        {
            OnUsbDrive({"drives", "--paths"}),
            OnUsbDrive({"read", "B:", "/tmp/usb.img"}),
            OnUsbDrive({"compare", "/tmp/usb.img", "B:"}),
            {"read", "A:", "/tmp/floppy.img"},
            OnUsbDrive({"--assume-yes", "write", "/tmp/floppy.img", "B:"}),
            OnUsbDrive({"compare", "/tmp/usb.img", "B:"}),
            OnUsbDrive({"format", "B:", "--media", "1.44m"}),
        },
        {{{floppy}, {}}, {{usb}}});
    const auto said = [&](size_t i) { return run.cli[i].out + run.cli[i].err; };

    EXPECT_NE(run.cli[0].out.find("B:  FLOPPY 3½ 1.44M\t/dev/sda\n"), std::string::npos) << said(0) << run.guest.console;
    for (size_t i = 1; i <= 4; ++i) {
        EXPECT_EQ(run.cli[i].status, 0) << i << ": " << said(i);
        EXPECT_EQ(run.cli[i].LastLine(), "OK.") << i << ": " << said(i);
    }
    // The image read from the USB disk before the write no longer matches it.
    EXPECT_EQ(run.cli[5].status, 4) << said(5);
    EXPECT_EQ(run.cli[5].LastLine(), "Differences found !") << said(5);
    // The disk does not speak UFI: it lists no capacity to format, so the format is refused
    // before anything is written.
    EXPECT_NE(run.cli[6].status, 0) << said(6);
    EXPECT_NE(run.cli[6].err.find("Format Error: Unrecognized Media"), std::string::npos) << said(6);
    EXPECT_NE(run.cli[6].err.find(LoadString(Str::DriveFormatsNoDiskette)), std::string::npos) << said(6);
    // What the USB disk holds at the end is the floppy's diskette, to the byte.
    EXPECT_TRUE(ReadFile(usb) == ReadFile(floppy));
}

}  // namespace

TEST(QemuUsb, AMountedUsbDiskIsNotWritten)
{
    RequireTools({"qemu-system-x86_64", "mkfs.fat"});
    TempDir dir;
    const std::string usb = dir.File("usb.img");
    const std::string floppy = dir.File("floppy.img");
    ASSERT_EQ(Shell("mkfs.fat -C '" + usb + "' 1440 >/dev/null && mkfs.fat -C '" + floppy + "' 1440 >/dev/null"), 0);
    const std::vector<uint8_t> before = ReadFile(usb);

    GuestDrives drives{{{floppy}, {}}, {{usb}}};
    drives.mountFirstUsbDisk = true;
    const GuestCliSequence run =
        RunInGuest({{"read", "A:", "/tmp/floppy.img"}, OnUsbDrive({"--assume-yes", "write", "/tmp/floppy.img", "B:"})},
            drives);
    EXPECT_EQ(run.guest.console.find("vokta-guest-mount-failed"), std::string::npos) << run.guest.console;
    EXPECT_EQ(run.cli[0].status, 0) << run.cli[0].err;
    EXPECT_NE(run.cli[1].status, 0) << run.cli[1].out;
    EXPECT_NE(run.cli[1].err.find("Drive is Locked !"), std::string::npos) << run.cli[1].err;
    EXPECT_TRUE(ReadFile(usb) == before);
}
