// The machine's diskette drives on Linux: /dev/fd0 and /dev/fd1 of the kernel floppy driver.
#include "drive/systemdrives.h"

#include "drive/backend/linuxfloppy.h"

namespace vokta {

std::optional<DriveBinding> MachineDisketteDrive(char letter, const std::string& device)
{
    return LinuxFloppyBinding(letter, device);
}

std::vector<DriveBinding> MachineDisketteDrives()
{
    std::vector<DriveBinding> drives;
    for (char letter : {'A', 'B'}) {
        const std::string device = std::string("/dev/fd") + static_cast<char>('0' + (letter - 'A'));
        if (std::optional<DriveBinding> floppy = LinuxFloppyBinding(letter, device))
            drives.push_back(std::move(*floppy));
    }
    return drives;
}

}  // namespace vokta
