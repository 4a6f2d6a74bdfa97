// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>

namespace vokta {

class DiskDrive;

struct FreeSpace {
    uint32_t freeClusters = 0;
    uint32_t totalClusters = 0;
    uint32_t bytesPerCluster = 0;
};

// The free and total clusters, and their size, of the FAT volume on the diskette, counted in
// the FAT that its sound copies give. Nullopt when the boot sector cannot be read or makes
// no sense, or no sound FAT can be had; the drive's pending error is then cleared.
std::optional<FreeSpace> CountFreeSpace(DiskDrive& drive);

}  // namespace vokta
