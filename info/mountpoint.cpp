// SPDX-License-Identifier: GPL-3.0-or-later
#include "info/mountpoint.h"

#include <mntent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>
#include <memory>

namespace vokta {
namespace {

bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The file behind a loop device, as the kernel names it in sysfs.
std::optional<std::string> LoopBackingFile(const struct stat& device)
{
    if (!S_ISBLK(device.st_mode))
        return std::nullopt;
    const std::string name = "/sys/dev/block/" + std::to_string(major(device.st_rdev)) + ":" +
                             std::to_string(minor(device.st_rdev)) + "/loop/backing_file";
    std::ifstream in(name);
    std::string file;
    if (!std::getline(in, file) || file.empty())
        return std::nullopt;
    return file;
}

// Whether the mount source `source` is the volume on `target`.
bool SourceIs(const std::string& source, const struct stat& target)
{
    struct stat st{};
    if (stat(source.c_str(), &st) != 0)
        return false;
    if (S_ISBLK(target.st_mode))
        return S_ISBLK(st.st_mode) && st.st_rdev == target.st_rdev;
    if (SameFile(st, target))
        return true;
    const std::optional<std::string> backing = LoopBackingFile(st);
    struct stat file{};
    return backing && stat(backing->c_str(), &file) == 0 && SameFile(file, target);
}

}  // namespace

std::optional<std::string> MountPointOf(const std::string& path, const std::string& mountTable)
{
    struct stat target{};
    if (path.empty() || stat(path.c_str(), &target) != 0)
        return std::nullopt;
    const std::unique_ptr<FILE, int (*)(FILE*)> table(setmntent(mountTable.c_str(), "r"), endmntent);
    if (!table)
        return std::nullopt;
    while (const mntent* entry = getmntent(table.get()))
        if (SourceIs(entry->mnt_fsname, target))
            return std::string(entry->mnt_dir);
    return std::nullopt;
}

}  // namespace vokta
