// Writing a good boot sector and an empty system area through the drive.
#include <memory>
#include <new>
#include <optional>

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
    // The system area of the good boot sector, so that the two always agree.
    const LocalTime now = CurrentLocalTime();
    const BootSector boot = BuildBootSector(params, mediaType, label, now);
    const std::optional<FatLayout> layout = FatLayout::FromBootSector(boot.span());
    if (!layout || SystemAreaSectors(*layout) > 0xFFFF) {
        lastError = Err::UnrecognizedMedia;
        return false;
    }
    const auto count = static_cast<uint16_t>(SystemAreaSectors(*layout));
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[size_t{count} * kSectorSize]);
    if (!buffer) {
        lastError = Err::InsufficientBuffer;
        return false;
    }
    const std::span<uint8_t> area(buffer.get(), size_t{count} * kSectorSize);
    FillSystemArea(area, *layout, boot.u8(BootSector::MediaDescriptor), label, now);
    return WriteSectors(layout->firstFatSector, count, area);
}

}  // namespace vokta
