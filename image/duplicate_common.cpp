#include "image/duplicate_common.h"

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

bool ReadCylinder(DiskDrive& drive, uint16_t cylinder, std::span<uint8_t> buffer)
{
    const uint16_t spt = drive.params.sectorsPerTrack();
    const uint16_t heads = drive.params.heads();
    for (uint16_t h = 0; h < heads; ++h) {
        const uint32_t first = (uint32_t{cylinder} * heads + h) * spt;
        if (!drive.ReadSectors(first, spt, buffer.subspan(size_t{h} * spt * kSectorSize, size_t{spt} * kSectorSize)))
            return false;
    }
    return true;
}

bool WriteCylinder(DiskDrive& drive, uint16_t cylinder, std::span<const uint8_t> buffer)
{
    const uint16_t spt = drive.params.sectorsPerTrack();
    const uint16_t heads = drive.params.heads();
    for (uint16_t h = 0; h < heads; ++h) {
        const uint32_t first = (uint32_t{cylinder} * heads + h) * spt;
        if (!drive.WriteSectors(first, spt, buffer.subspan(size_t{h} * spt * kSectorSize, size_t{spt} * kSectorSize)))
            return false;
    }
    return true;
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
