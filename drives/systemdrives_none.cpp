// SPDX-License-Identifier: GPL-3.0-or-later
// A platform without a diskette-drive backend: every drive letter is a diskette file.
#include "drives/systemdrives.h"

namespace vokta {

std::optional<DriveBinding> MachineDisketteDrive(char, const std::string&, DriveKind)
{
    return std::nullopt;
}

std::vector<DriveBinding> MachineDisketteDrives()
{
    return {};
}

}  // namespace vokta
