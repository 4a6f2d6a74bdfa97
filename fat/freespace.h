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

// The free and total clusters, and their size, of the FAT volume on the diskette, counted from its first
// FAT. Nullopt when the boot sector or the FAT cannot be read or make no sense; the
// drive's pending error is then cleared.
std::optional<FreeSpace> CountFreeSpace(DiskDrive& drive);

}  // namespace vokta
