// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/recordingservice.h"

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

}  // namespace vokta::test
