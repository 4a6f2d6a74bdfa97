#include "image/duplicate_common.h"

#include <algorithm>
#include <cctype>

namespace vokta::dup {

std::optional<Answer> ShowPendingError(DuplicateJob& job, DiskDrive& drive, Buttons buttons)
{
    const std::string text = drive.GetErrorText();
    if (text.empty())
        return std::nullopt;
    return job.host.MessageBox(text, LoadString(Text::DuplicateError), buttons, Icon::Error);
}

bool WaitForDiskette(DuplicateJob& job, DiskDrive& drive)
{
    while (!drive.IsDriveReady()) {
        const Answer a = Box(job, Text::InsertDisk, Text::Message, Buttons::OkCancel, Icon::Information);
        if (a != Answer::Ok || job.host.AbortRequested())
            return false;
    }
    return true;
}

std::string MediaLine(int32_t mediaType)
{
    return LoadString(Text::MediaTypeIs) + std::string(GetMediaTypeName(mediaType));
}

std::string OperationTitle(const std::string& operation, char letter, const std::string& label)
{
    return operation + " " + static_cast<char>(std::toupper(static_cast<unsigned char>(letter))) + ": " + label;
}

size_t CylinderBytes(const DeviceParams& params)
{
    return size_t{params.sectorsPerTrack()} * params.heads() * kSectorSize;
}

std::span<uint8_t> CylinderOf(std::span<uint8_t> data, uint16_t cylinder, size_t cylinderBytes)
{
    const size_t start = std::min(data.size(), size_t{cylinder} * cylinderBytes);
    return data.subspan(start, std::min(cylinderBytes, data.size() - start));
}

namespace {

// Moves cylinder c, head by head, between the drive and `buffer`, as far as the buffer
// reaches: the reported geometry of a diskette need not divide its total sectors.
template <typename Transfer>
bool TransferCylinder(DiskDrive& drive, uint16_t cylinder, size_t bufferBytes, Transfer transfer)
{
    const uint16_t spt = drive.params.sectorsPerTrack();
    const uint16_t heads = drive.params.heads();
    for (uint16_t h = 0; h < heads; ++h) {
        const size_t offset = size_t{h} * spt * kSectorSize;
        if (offset >= bufferBytes)
            break;
        const auto count = static_cast<uint16_t>(std::min<size_t>(spt, (bufferBytes - offset) / kSectorSize));
        if (!transfer((uint32_t{cylinder} * heads + h) * spt, count, offset))
            return false;
    }
    return true;
}

}  // namespace

bool ReadCylinder(DiskDrive& drive, uint16_t cylinder, std::span<uint8_t> buffer)
{
    return TransferCylinder(drive, cylinder, buffer.size(), [&](uint32_t first, uint16_t count, size_t offset) {
        return drive.ReadSectors(first, count, buffer.subspan(offset, size_t{count} * kSectorSize));
    });
}

bool WriteCylinder(DiskDrive& drive, uint16_t cylinder, std::span<const uint8_t> buffer)
{
    return TransferCylinder(drive, cylinder, buffer.size(), [&](uint32_t first, uint16_t count, size_t offset) {
        return drive.WriteSectors(first, count, buffer.subspan(offset, size_t{count} * kSectorSize));
    });
}

bool ReadMediaId(DiskDrive& drive, std::string& label, std::string& serial)
{
    MediaIdBlock block;
    if (!drive.GenericIoctl(Minor::GetMediaId, block.bytes)) {
        drive.lastError = Err::None;  // a diskette without identification is still read
        return false;
    }
    label = block.label();
    serial = SerialText(block.serial());
    return true;
}

}  // namespace vokta::dup
