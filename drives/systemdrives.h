// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "drive/backend/emulated/emulateddrive.h"
#include "drive/drivetable.h"

namespace vokta {

// A letter bound to a device or diskette file for this run: "A:=PATH[,type=720k|1.2m|1.44m]".
struct DriveOption {
    char letter = 'A';
    std::string path;
    DriveKind kind = DriveKind::Floppy35HD;
    bool operator==(const DriveOption&) const = default;
};

// The option parsed, or the reason it is not one in `error`.
std::optional<DriveOption> ParseDriveOption(const std::string& text, std::string& error);

// What follows "A:=" in the option's text: "PATH,type=T", which ParseDriveOption reads back.
std::string DriveOptionValue(const DriveOption& option);

// One of the machine's diskette drives or flux interfaces goes to its driver, anything else
// is a diskette file.
DriveBinding BindingFor(const DriveOption& option);

// A diskette drive of the machine and the letter it gets.
struct DisketteDevice {
    enum class Driver { KernelFloppy, UsbFloppy, Greaseweazle };
    char letter = 'A';
    std::string device;  // "/dev/fd0", "/dev/sdb", "/dev/ttyACM0"
    Driver driver = Driver::KernelFloppy;
    bool operator==(const DisketteDevice&) const = default;
};

// Where the machine's diskette drives are found; tests point it at trees of their own.
struct DisketteDeviceSources {
    std::string blockDevices = "/sys/block";
    std::string deviceFolder = "/dev";
};

// The machine's diskette drives as sysfs shows them: the kernel floppy driver's fd0 and
// fd1 as A: and B:, then the USB floppy drives (removable SCSI disks on a USB interface
// of the UFI subclass) on the letters among A: and B: left free, by device name, then the
// drives on the flux interfaces `fluxDevices` (their serial devices, in order) on what is
// still free. A drive beyond B: gets no letter: only A: and B: are diskette letters.
std::vector<DisketteDevice> FindDisketteDevices(const DisketteDeviceSources& sources,
                                                const std::vector<std::string>& fluxDevices = {});

// Whether the block device `name` under `blockDevices` is a whole removable SCSI disk (a
// partition has no "removable" attribute).
bool IsRemovableScsiDisk(const std::string& blockDevices, const std::string& name);

// Whether the block device `name` under `blockDevices` is a USB floppy drive: a removable
// SCSI disk whose nearest USB interface is of class 08h (mass storage), subclass 04h (UFI).
bool IsUsbFloppyDevice(const std::string& blockDevices, const std::string& name);

// The machine's own diskette drives, from the platform's file the build chooses
// (systemdrives_linux.cpp: the kernel floppy driver's /dev/fd0 and /dev/fd1, the USB
// floppy drives and the Greaseweazles). `letter` bound to `device` when that is one of the
// machine's diskette drives; an explicitly named removable SCSI disk is taken as a USB
// floppy drive, whatever interface subclass it reports, and a terminal device as a
// Greaseweazle's serial line, whose drive is of `kind`.
std::optional<DriveBinding> MachineDisketteDrive(char letter, const std::string& device,
                                                 DriveKind kind = DriveKind::Floppy35HD);
// The machine's diskette drives that exist, bound to A: and B:.
std::vector<DriveBinding> MachineDisketteDrives();

// The diskette file of the default virtual A:, in the user's data folder.
std::string DefaultDisketteFile();

// Fills the table: the machine's floppy drives as A: and B:, then the options (which
// override them), and, when neither gave an A:, a virtual A: on the default diskette
// file, created empty (an unformatted 1.44M diskette) if it does not exist.
void PopulateSystemDrives(DriveTable& table, const std::vector<DriveOption>& options);

}  // namespace vokta
