// SPDX-License-Identifier: GPL-3.0-or-later
// The machine's diskette drives on Linux: /dev/fd0 and /dev/fd1 of the kernel floppy driver,
// and USB floppy drives, which the kernel shows as SCSI disks.
#include "drives/systemdrives.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>

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

}  // namespace

std::optional<DriveBinding> MachineDisketteDrive(char letter, const std::string& device)
{
    if (std::optional<DriveBinding> floppy = LinuxFloppyBinding(letter, device))
        return floppy;
    return UsbFloppyBinding(letter, device);
}

std::vector<DriveBinding> MachineDisketteDrives()
{
    std::vector<DriveBinding> drives;
    for (const DisketteDevice& found : FindDisketteDevices({})) {
        std::optional<DriveBinding> binding = found.driver == DisketteDevice::Driver::KernelFloppy
                                                  ? LinuxFloppyBinding(found.letter, found.device)
                                                  : UsbFloppyBinding(found.letter, found.device);
        if (binding)
            drives.push_back(std::move(*binding));
    }
    return drives;
}

}  // namespace vokta
