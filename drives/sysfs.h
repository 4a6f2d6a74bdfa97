// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

namespace vokta {

// The first line of a sysfs attribute ("1" for /sys/block/sdb/removable); "" when it cannot
// be read.
inline std::string SysfsAttribute(const std::filesystem::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

}  // namespace vokta
