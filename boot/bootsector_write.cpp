// Writing a good boot sector and an empty system area through the drive.
#include <memory>
#include <new>

#include "boot/bootbuilder.h"
#include "drive/diskdrive.h"

namespace vokta {

bool DiskDrive::WriteBootSector(const std::string& label)
{
    if (mediaType == kMediaUnknown) {
        lastError = Err::UnrecognizedMedia;
        return false;
    }
    std::unique_ptr<BootSector> sector(new (std::nothrow) BootSector);
    if (!sector) {
        lastError = Err::InsufficientBuffer;
        return false;
    }
    *sector = BuildBootSector(params, mediaType, label, CurrentLocalTime());
    return WriteSectors(0, 1, sector->span());
}

bool DiskDrive::WriteSystemArea(const std::string& label)
{
    if (mediaType == kMediaUnknown) {
        lastError = Err::UnrecognizedMedia;
        return false;
    }
    const uint16_t count = SystemAreaSectors(params);
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[size_t{count} * kSectorSize]);
    if (!buffer) {
        lastError = Err::InsufficientBuffer;
        return false;
    }
    const std::span<uint8_t> area(buffer.get(), size_t{count} * kSectorSize);
    FillSystemArea(area, params, mediaType, label, CurrentLocalTime());
    return WriteSectors(1, count, area);
}

}  // namespace vokta
