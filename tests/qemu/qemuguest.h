// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <string>
#include <vector>

#include "support/clirun.h"

namespace vokta::qemu {

// What sits in one of the guest's two floppy drives.
struct FloppySlot {
    std::string image;            // raw diskette file; empty = no diskette in the drive
    bool readOnly = false;        // the write-protect tab
    std::string blkdebugConfig;   // a QEMU blkdebug rule file that injects I/O errors
};

// One boot of the guest: how far it got, what it printed, what its cases reported.
struct GuestRun {
    bool finished = false;  // the guest's cases ran to the end
    int exitCode = -1;      // of the guest test program
    double bootSeconds = 0;   // from starting QEMU until the cases began
    double totalSeconds = 0;
    std::string console;
    std::map<std::string, std::string> results;  // "vokta-result KEY VALUE" lines
};

// The kernel, modules and initramfs that the qemu_guest_kit test prepares.
std::string KitDirectory();

// What the host does for the guest when it prints "vokta-request NAME": a command for
// QEMU's monitor, such as "change floppy0 FILE raw" to swap the diskette in A:.
using MonitorRequests = std::map<std::string, std::string>;

// Boots Debian's kernel in QEMU (software emulation) with these diskettes as A: and B:,
// runs the guest cases matching `cases` (a GoogleTest filter) and waits at most
// `timeoutSeconds` before killing the machine.
GuestRun BootGuest(const std::string& cases, const std::vector<FloppySlot>& drives,
                   const MonitorRequests& requests = {}, int timeoutSeconds = 300);

// One vokta-cli command line run inside the guest: the boot, and the program's exit
// status, stdout and stderr (status -1 when the guest did not get to the end).
struct GuestCliRun {
    GuestRun guest;
    test::CliRun cli;
};

// What the guest is booted with: diskettes in its floppy drives A: and B:, and diskette
// files on QEMU's USB mass-storage devices (removable, on an xHCI controller), which the
// guest's usb-storage and sd drivers show as /dev/sda, /dev/sdb, ...
struct GuestDrives {
    std::vector<FloppySlot> floppies;
    std::vector<FloppySlot> usbDisks;  // the blkdebug rule is for floppies only
    bool mountFirstUsbDisk = false;    // mounted read-only on /mnt before the command lines run
};

// Several vokta-cli command lines run one after the other in one boot of the guest, so
// that a later one sees the files an earlier one left in the guest: one CliRun for each.
struct GuestCliSequence {
    GuestRun guest;
    std::vector<test::CliRun> cli;
};
GuestCliSequence RunCliSequenceInGuest(const std::vector<std::vector<std::string>>& lines, const GuestDrives& drives,
                                       int timeoutSeconds = 300);

// Boots the guest with these diskettes and runs vokta-cli with `args` there, on the
// machine's own drive table: A: and B: are the kernel floppy driver's /dev/fd0 and
// /dev/fd1. The arguments travel on the kernel command line, which holds 2048 bytes in
// all; longer ones are refused without a boot.
GuestCliRun RunCliInGuest(const std::vector<std::string>& args, const std::vector<FloppySlot>& drives,
                          int timeoutSeconds = 300);

}  // namespace vokta::qemu
