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

namespace {

TrackReport WholeTrack(uint16_t cylinder, uint16_t head, size_t sectors, TrackState state)
{
    return {cylinder, static_cast<uint8_t>(head), state, std::vector<TrackState>(sectors, state)};
}

// A track salvaged sector by sector: the sectors that failed are lost; when none did, the
// whole track was read only after its first read failed.
TrackReport SalvagedTrack(uint16_t cylinder, uint16_t head, size_t sectors, const std::vector<uint32_t>& failed)
{
    if (failed.empty())
        return WholeTrack(cylinder, head, sectors, TrackState::Recovered);
    TrackReport report = WholeTrack(cylinder, head, sectors, TrackState::Good);
    for (uint32_t s : failed)
        if (s < sectors)
            report.sectors[s] = TrackState::Lost;
    report.state = TrackState::Lost;
    return report;
}

}  // namespace

bool ReadCylinderTracks(DiskDrive& drive, OperationSession& session, uint16_t cylinder, std::span<uint8_t> buffer,
                        const std::function<TrackFailure()>& decide, std::vector<size_t>& unread,
                        std::vector<TrackReport>& found)
{
    unread.clear();
    found.clear();
    const size_t trackBytes = size_t{drive.params.sectorsPerTrack()} * kSectorSize;
    // A track read whole after a retry of its cylinder counts as recovered.
    std::vector<bool> failedBefore(drive.params.heads(), false);
    uint16_t h = 0;
    while (h < drive.params.heads()) {
        const std::span<uint8_t> track = TrackOf(buffer, h, drive.params);
        if (track.empty())
            break;
        const size_t sectors = track.size() / kSectorSize;
        session.ShowTrack(cylinder, static_cast<uint8_t>(h), TrackState::InProgress);
        if (ReadTrack(drive, cylinder, h, track)) {
            found.push_back(
                WholeTrack(cylinder, h, sectors, failedBefore[h] ? TrackState::Recovered : TrackState::Good));
            ++h;
            continue;
        }
        failedBefore[h] = true;
        switch (decide()) {
        case TrackFailure::Retry:
            unread.clear();
            found.clear();
            h = 0;
            break;
        case TrackFailure::Salvage: {
            // Only the sectors that really fail are lost.
            const std::vector<uint32_t> failed =
                ReadSectorsOneByOne(drive, FirstSectorOfTrack(drive.params, cylinder, h), track);
            for (uint32_t s : failed)
                unread.push_back(h * trackBytes + size_t{s} * kSectorSize);
            found.push_back(SalvagedTrack(cylinder, h, sectors, failed));
            ++h;
            break;
        }
        case TrackFailure::PassOver:
            found.push_back(WholeTrack(cylinder, h, sectors, TrackState::SkippedBad));
            ++h;
            break;
        case TrackFailure::Stop:
            found.push_back(WholeTrack(cylinder, h, sectors, TrackState::Lost));
            return false;
        }
    }
    return true;
}

void ShowTracks(OperationSession& session, const std::vector<TrackReport>& reports)
{
    for (const TrackReport& report : reports)
        session.ShowTrack(report);
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

std::optional<int> StartReading(OperationSession& session, DiskDrive& drive)
{
    OperationHost& host = session.host();
    if (!Opened(session, drive))
        return kResultFailed;
    host.SetLowerLine("");
    host.SetUpperLine(LoadString(Str::CheckingMedia));
    if (!WaitForDiskette(drive, host))
        return kResultAborted;
    if (!DetectMedia(drive, host, session.errorCaption()) || !LayoutFitsMedia(drive, host, session.errorCaption()))
        return kResultFailed;
    host.SetUpperLine(MediaLine(drive.mediaType));
    return std::nullopt;
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
