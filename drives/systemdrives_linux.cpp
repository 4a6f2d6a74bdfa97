// SPDX-License-Identifier: GPL-3.0-or-later
// The machine's diskette drives on Linux: /dev/fd0 and /dev/fd1 of the kernel floppy driver,
// and USB floppy drives, which the kernel shows as SCSI disks.
#include "drives/systemdrives.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>

#include "drive/backend/greaseweazle/gwdrive.h"
#include "drive/backend/linuxfloppy/linuxfloppy.h"
#include "drive/backend/usbfloppy/transparentscsi.h"
#include "drive/backend/usbfloppy/usbfloppy.h"

namespace vokta {

namespace {

// The name sysfs gives the block device behind `device` ("sdb"), or "" for anything else.
std::string BlockDeviceName(const std::string& device)
{
    struct stat st {};
    if (stat(device.c_str(), &st) != 0 || !S_ISBLK(st.st_mode))
        return {};
    const std::string number = std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical("/sys/dev/block/" + number, error);
    return error ? std::string() : resolved.filename().string();
}

// `letter` bound to `device` when that is a removable SCSI disk: a whole one, not one of its
// partitions, which have no "removable" attribute. A fixed disk is never taken for a
// diskette drive, whatever the user named. A disk that speaks the SCSI transparent command
// set rather than UFI is read and written, never formatted.
std::optional<DriveBinding> UsbFloppyBinding(char letter, const std::string& device)
{
    if (!IsRemovableScsiDisk(DisketteDeviceSources{}.blockDevices, BlockDeviceName(device)))
        return std::nullopt;
    const auto number = static_cast<uint8_t>(NormalizeDriveLetter(letter) - 0x40);
    return DriveBinding{letter, SystemDriveType::Removable, device, [device, number] {
                            int error = 0;
                            std::unique_ptr<SgIoTransport> disk = SgIoTransport::Open(device, error);
                            // The drive's own open says why the device cannot be had.
                            if (!disk)
                                return UsbFloppyDrive::Open(device, number);
                            return UsbFloppyDrive::Attach(std::make_unique<TransparentScsiTransport>(std::move(disk)),
                                                          device, number);
                        }};
}

// Pseudo-terminal slaves have majors of their own and no place in sysfs.
constexpr unsigned kFirstPtyMajor = 136;
constexpr unsigned kLastPtyMajor = 143;

// Whether `device` is a terminal: a serial line such as a Greaseweazle's /dev/ttyACM0, or
// a pseudo-terminal. Other character devices (a SCSI generic node) are not.
bool IsTerminalDevice(const std::string& device)
{
    struct stat st {};
    if (stat(device.c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    if (major(st.st_rdev) >= kFirstPtyMajor && major(st.st_rdev) <= kLastPtyMajor)
        return true;
    const std::string number = std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
    std::error_code error;
    const std::filesystem::path subsystem =
        std::filesystem::canonical("/sys/dev/char/" + number + "/subsystem", error);
    return !error && subsystem.filename() == "tty";
}

}  // namespace

std::optional<DriveBinding> MachineDisketteDrive(char letter, const std::string& device, DriveKind kind)
{
    if (std::optional<DriveBinding> floppy = LinuxFloppyBinding(letter, device))
        return floppy;
    if (std::optional<DriveBinding> usb = UsbFloppyBinding(letter, device))
        return usb;
    // The device's open asks it what it is, and says so when it is no Greaseweazle.
    if (IsTerminalDevice(device))
        return GreaseweazleBinding(letter, device, kind);
    return std::nullopt;
}

std::vector<DriveBinding> MachineDisketteDrives()
{
    std::vector<DriveBinding> drives;
    std::vector<std::string> flux;
    for (const gw::GreaseweazlePort& port : gw::FindGreaseweazles())
        flux.push_back(port.device);
    for (const DisketteDevice& found : FindDisketteDevices({}, flux)) {
        switch (found.driver) {
        case DisketteDevice::Driver::KernelFloppy:
            if (std::optional<DriveBinding> binding = LinuxFloppyBinding(found.letter, found.device))
                drives.push_back(std::move(*binding));
            break;
        case DisketteDevice::Driver::UsbFloppy:
            if (std::optional<DriveBinding> binding = UsbFloppyBinding(found.letter, found.device))
                drives.push_back(std::move(*binding));
            break;
        case DisketteDevice::Driver::Greaseweazle:
            drives.push_back(GreaseweazleBinding(found.letter, found.device, DriveKind::Floppy35HD));
            break;
        }
    }
    return drives;
}

}  // namespace vokta
