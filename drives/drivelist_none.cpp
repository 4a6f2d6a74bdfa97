// SPDX-License-Identifier: GPL-3.0-or-later
// A platform without a scan of its disks: the drive list holds the drive table's drives.
#include "drives/drivelist.h"

namespace vokta {

std::vector<MachineDrive> MachineDrives(const MachineDriveSources&)
{
    return {};
}

}  // namespace vokta
