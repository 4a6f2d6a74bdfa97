// SPDX-License-Identifier: GPL-3.0-or-later
#include "image/duplicate_common.h"

#include <algorithm>
#include <array>

#include "boot/bootsector.h"

namespace vokta::dup {

char DriveLetter(const DuplicateJob& job)
{
    return DriveLetterOf(job.driveText);
}

bool Opened(OperationSession& session, DiskDrive& drive)
{
    session.Attach(drive);
    return DriveOpened(drive, session.host(), session.errorCaption());
}

size_t CylinderBytes(const DeviceParams& params)
{
    return size_t{params.sectorsPerTrack()} * params.heads() * kSectorSize;
}

namespace {

uint32_t FirstSectorOfTrack(const DeviceParams& params, uint16_t cylinder, uint16_t head)
{
    return (uint32_t{cylinder} * params.heads() + head) * params.sectorsPerTrack();
}

uint16_t SectorsIn(std::span<const uint8_t> track)
{
    return static_cast<uint16_t>(track.size() / kSectorSize);
}

}  // namespace

bool ReadTrack(DiskDrive& drive, uint16_t cylinder, uint16_t head, std::span<uint8_t> track)
{
    return static_cast<bool>(drive.ReadSectors(FirstSectorOfTrack(drive.params, cylinder, head), SectorsIn(track), track));
}

bool ReadCylinderTracks(DiskDrive& drive, uint16_t cylinder, std::span<uint8_t> buffer,
                        const std::function<TrackFailure()>& decide, std::vector<size_t>& unread)
{
    unread.clear();
    const size_t trackBytes = size_t{drive.params.sectorsPerTrack()} * kSectorSize;
    uint16_t h = 0;
    while (h < drive.params.heads()) {
        const std::span<uint8_t> track = TrackOf(buffer, h, drive.params);
        if (track.empty())
            break;
        if (ReadTrack(drive, cylinder, h, track)) {
            ++h;
            continue;
        }
        switch (decide()) {
        case TrackFailure::Retry:
            unread.clear();
            h = 0;
            break;
        case TrackFailure::Salvage:
            // Only the sectors that really fail are lost.
            for (uint32_t s : ReadSectorsOneByOne(drive, FirstSectorOfTrack(drive.params, cylinder, h), track))
                unread.push_back(h * trackBytes + size_t{s} * kSectorSize);
            ++h;
            break;
        case TrackFailure::PassOver: ++h; break;
        case TrackFailure::Stop: return false;
        }
    }
    return true;
}

bool ReadCylinder(DiskDrive& drive, uint16_t cylinder, std::span<uint8_t> buffer)
{
    for (uint16_t h = 0; h < drive.params.heads(); ++h) {
        const std::span<uint8_t> track = TrackOf(buffer, h, drive.params);
        if (track.empty())
            break;
        if (!ReadTrack(drive, cylinder, h, track))
            return false;
    }
    return true;
}

bool WriteCylinder(DiskDrive& drive, uint16_t cylinder, std::span<const uint8_t> buffer)
{
    for (uint16_t h = 0; h < drive.params.heads(); ++h) {
        const std::span<const uint8_t> track = TrackOf(buffer, h, drive.params);
        if (track.empty())
            break;
        if (!drive.WriteSectors(FirstSectorOfTrack(drive.params, cylinder, h), SectorsIn(track), track))
            return false;
    }
    return true;
}

bool LayoutFitsMedia(DiskDrive& drive, OperationHost& host, const std::string& caption)
{
    std::array<uint8_t, kSectorSize> boot{};
    if (!drive.ReadSectors(0, 1, boot)) {
        drive.TakeError();  // an unreadable boot sector describes nothing: the read will tell
        return true;
    }
    const std::optional<DescribedLayout> layout = LayoutOtherThanMedia(boot, drive.mediaType);
    if (!layout)
        return true;
    host.MessageBox(FormatString(Str::LayoutNoImageHolds, std::string(GetMediaTypeName(drive.mediaType)),
                                 long{layout->sectorsPerTrack}, long{layout->heads}, long{layout->cylinders}),
                    caption, Buttons::Ok, Icon::Error);
    return false;
}

bool ReadMediaId(DiskDrive& drive, std::string& label, std::string& serial)
{
    MediaIdBlock block;
    if (!drive.GenericIoctl(Minor::GetMediaId, block.bytes)) {
        drive.TakeError();  // a diskette without identification is still read
        return false;
    }
    label = block.label();
    serial = SerialText(block.serial());
    return true;
}

}  // namespace vokta::dup
