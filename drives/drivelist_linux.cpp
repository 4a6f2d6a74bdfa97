// SPDX-License-Identifier: GPL-3.0-or-later
#include <mntent.h>
// The machine's drives on Linux: whole block devices from sysfs, labels from udev's
// by-label links, network file systems from the mount table.
#include "drives/drivelist.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <memory>

#include "drives/sysfs.h"

namespace vokta {

namespace {

namespace fs = std::filesystem;

// The drive type of a block device, or nullopt for one the drive list leaves out:
// diskette drives (the drive table has them), removable media, and devices without media.
std::optional<SystemDriveType> BlockDeviceType(const fs::path& device, bool loopDevices)
{
    const std::string name = device.filename().string();
    if (name.starts_with("fd"))
        return std::nullopt;
    if (name.starts_with("sr"))
        return SystemDriveType::CdRom;
    if (name.starts_with("ram") || name.starts_with("zram"))
        return SystemDriveType::RamDisk;
    if (name.starts_with("loop") && !loopDevices)
        return std::nullopt;
    // An unattached loop device, an empty card reader: no sectors, nothing to list.
    const std::string sectors = SysfsAttribute(device / "size");
    if (SysfsAttribute(device / "removable") == "1" || sectors.empty() || sectors == "0")
        return std::nullopt;
    return SystemDriveType::Fixed;
}

// udev writes a blank and other unsafe characters of a label as "\xHH".
std::string UnescapedLabel(const std::string& link)
{
    std::string label;
    for (size_t i = 0; i < link.size(); ++i) {
        if (link.compare(i, 2, "\\x") == 0 && i + 4 <= link.size()
            && std::isxdigit(static_cast<unsigned char>(link[i + 2])) && std::isxdigit(static_cast<unsigned char>(link[i + 3]))) {
            label += static_cast<char>(std::stoi(link.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            label += link[i];
        }
    }
    return label;
}

// The label of each device whose own file system carries one, by device name.
std::map<std::string, std::string> LabelsByDevice(const fs::path& labels)
{
    std::map<std::string, std::string> byDevice;
    std::error_code error;
    for (const fs::directory_entry& link : fs::directory_iterator(labels, error)) {
        const fs::path target = fs::read_symlink(link.path(), error);
        if (!error)
            byDevice.emplace(target.filename().string(), UnescapedLabel(link.path().filename().string()));
    }
    return byDevice;
}

bool IsNetworkFileSystem(const std::string& type)
{
    static const char* const kNetwork[] = {"nfs", "nfs4", "cifs", "smb3", "smbfs", "ncpfs", "afs", "9p",
                                           "fuse.sshfs", "sshfs", "fuse.davfs", "davfs", "fuse.rclone"};
    return std::find(std::begin(kNetwork), std::end(kNetwork), type) != std::end(kNetwork);
}

// The C library reads the mount table, unescaping the blanks and tabs of its fields.
std::vector<MachineDrive> NetworkMounts(const std::string& mounts)
{
    std::vector<MachineDrive> drives;
    const std::unique_ptr<FILE, int (*)(FILE*)> table(setmntent(mounts.c_str(), "r"), endmntent);
    if (!table)
        return drives;
    while (const mntent* entry = getmntent(table.get()))
        if (IsNetworkFileSystem(entry->mnt_type))
            drives.push_back({SystemDriveType::Remote, entry->mnt_dir, std::nullopt, entry->mnt_fsname});
    return drives;
}

}  // namespace

std::vector<MachineDrive> MachineDrives(const MachineDriveSources& sources)
{
    const std::map<std::string, std::string> labels = LabelsByDevice(sources.labels);
    std::vector<MachineDrive> drives;
    std::error_code error;
    for (const fs::directory_entry& device : fs::directory_iterator(sources.blockDevices, error)) {
        const std::optional<SystemDriveType> type = BlockDeviceType(device.path(), sources.loopDevices);
        if (!type)
            continue;
        MachineDrive drive{*type, device.path().filename().string()};
        if (*type == SystemDriveType::Fixed)
            if (auto label = labels.find(drive.name); label != labels.end())
                drive.label = label->second;
        drives.push_back(std::move(drive));
    }
    std::sort(drives.begin(), drives.end(), [](const MachineDrive& a, const MachineDrive& b) {
        return std::pair(static_cast<int>(a.type), a.name) < std::pair(static_cast<int>(b.type), b.name);
    });
    for (MachineDrive& mount : NetworkMounts(sources.mounts))
        drives.push_back(std::move(mount));
    return drives;
}

}  // namespace vokta
