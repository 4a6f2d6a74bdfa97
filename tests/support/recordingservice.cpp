// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/recordingservice.h"

#include <algorithm>
#include <set>

#include "drive/diskdrive.h"

namespace vokta::test {
namespace {

// Carry set, with the error where the service would put it: EAX for an IOCTL, AH for INT 13h.
void PutFailure(DiskRequest& request, FaultCode error)
{
    request.regs.flags |= 1u;
    request.regs.eax = request.controlCode == Control::Int13 ? (error.code << 8) : error.code;
}

}  // namespace

RecordingService::RecordingService(std::unique_ptr<DiskService> service) : ForwardingService(std::move(service)) {}

void RecordingService::FailNext(std::function<bool(const DiskRequest&)> match, int times, FaultCode error)
{
    auto previous = std::move(faultHook);
    faultHook = [match = std::move(match), times, error,
                 previous = std::move(previous)](const DiskRequest& r) mutable -> std::optional<InjectedFault> {
        if (times > 0 && match(r)) {
            --times;
            return InjectedFault{false, error};
        }
        return previous ? previous(r) : std::nullopt;
    };
}

std::vector<LoggedRequest> RecordingService::Requests(uint8_t minor) const
{
    std::vector<LoggedRequest> out;
    for (const LoggedRequest& r : log)
        if (r.isIoctl(minor))
            out.push_back(r);
    return out;
}

bool RecordingService::DeviceIoControl(DiskRequest& request)
{
    LoggedRequest entry;
    entry.controlCode = request.controlCode;
    entry.in = request.regs;
    entry.block.assign(request.block.begin(), request.block.end());
    entry.bufferSize = request.buffer.size();

    bool accepted = true;
    if (const std::optional<InjectedFault> fault = faultHook ? faultHook(request) : std::nullopt) {
        accepted = !fault->refuse;
        if (accepted)
            PutFailure(request, fault->error);
    } else {
        accepted = ForwardingService::DeviceIoControl(request);
    }
    entry.out = request.regs;
    entry.accepted = accepted;
    log.push_back(std::move(entry));
    return accepted;
}

std::vector<uint32_t> SectorsOfTrackRequest(const LoggedRequest& request, uint16_t sectorsPerTrack, uint16_t heads)
{
    const uint32_t first = (uint32_t{TrackIoBlock::Cylinder(request.block)} * heads + TrackIoBlock::Head(request.block)) *
                               sectorsPerTrack +
                           TrackIoBlock::FirstSector(request.block);
    std::vector<uint32_t> sectors;
    for (uint32_t s = first; s < first + TrackIoBlock::Count(request.block); ++s)
        sectors.push_back(s);
    return sectors;
}

int RereadsOfSectorsReadWell(std::span<const LoggedRequest> reads, uint16_t sectorsPerTrack, uint16_t heads)
{
    std::set<uint32_t> delivered;
    int rereads = 0;
    for (const LoggedRequest& r : reads) {
        const std::vector<uint32_t> sectors = SectorsOfTrackRequest(r, sectorsPerTrack, heads);
        for (uint32_t s : sectors)
            rereads += delivered.contains(s) ? 1 : 0;
        if (!r.out.carry())
            delivered.insert(sectors.begin(), sectors.end());
    }
    return rereads;
}

std::vector<LoggedRequest> ReadsAfterLayoutCheck(const RecordingService& requests, uint16_t sectorsPerTrack,
                                                 uint16_t heads)
{
    const std::vector<LoggedRequest> reads = requests.Requests(Minor::ReadTrack);
    const auto check = std::ranges::find_if(reads, [&](const LoggedRequest& r) {
        return SectorsOfTrackRequest(r, sectorsPerTrack, heads) == std::vector<uint32_t>{0};
    });
    return {check == reads.end() ? reads.begin() : check + 1, reads.end()};
}

}  // namespace vokta::test
