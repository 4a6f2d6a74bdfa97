// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

namespace vokta {

// Where the volume on `path` (a block device, or a diskette file mounted through a loop
// device or directly) is mounted, looked up in the mount table `mountTable`; nullopt when
// it is not mounted or `path` does not exist.
std::optional<std::string> MountPointOf(const std::string& path,
                                        const std::string& mountTable = "/proc/self/mounts");

}  // namespace vokta
