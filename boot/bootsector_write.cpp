// Placeholder until the boot-sector builder lands.
#include "drive/diskdrive.h"

namespace vokta {

bool DiskDrive::WriteBootSector(const std::string&)
{
    lastError = Err::InvalidFunction;
    return false;
}

}  // namespace vokta
