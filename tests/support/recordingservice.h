// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "drive/diskerror.h"
#include "drive/diskservice.h"

namespace vokta::test {

// A request as the service received it, and how it was answered.
struct LoggedRequest {
    uint32_t controlCode = 0;
    Registers in;
    Registers out;
    bool accepted = false;
    std::vector<uint8_t> block;  // the parameter block as sent
    size_t bufferSize = 0;

    uint8_t minor() const { return static_cast<uint8_t>(in.ecx); }
    uint8_t biosFunction() const { return static_cast<uint8_t>(in.eax >> 8); }
    bool isIoctl(uint8_t m) const { return controlCode == Control::DosIoctl && minor() == m; }
    bool isBios(uint8_t f) const { return controlCode == Control::Int13 && biosFunction() == f; }
};

// The error of an injected failure: a DOS code (a DiskError) for an IOCTL, a BIOS status
// for INT 13h.
struct FaultCode {
    constexpr FaultCode(uint32_t number) : code(number) {}
    constexpr FaultCode(DiskError error) : code(CodeOf(error)) {}
    uint32_t code;
};

// An injected answer: refuse the request outright, or fail it (carry set) with an error.
struct InjectedFault {
    bool refuse = false;
    FaultCode error = 0u;
};

// Sits in front of any disk service (the emulated drive, a diskette file, a real floppy
// drive), logs every request with its answer, and answers instead of the service when a
// test injects a fault.
class RecordingService final : public ForwardingService {
public:
    explicit RecordingService(std::unique_ptr<DiskService> service);

    // Consulted before each request; an answer replaces the service's own, which then
    // never sees the request.
    std::function<std::optional<InjectedFault>(const DiskRequest&)> faultHook;
    // Fails the next `times` requests for which `match` holds with `error`.
    void FailNext(std::function<bool(const DiskRequest&)> match, int times, FaultCode error);

    std::vector<LoggedRequest> log;
    // The logged IOCTL requests of one minor code.
    std::vector<LoggedRequest> Requests(uint8_t minor) const;

    bool DeviceIoControl(DiskRequest& request) override;
};

// The logical sectors a logged track read or write asked for, on a medium of this geometry.
std::vector<uint32_t> SectorsOfTrackRequest(const LoggedRequest& request, uint16_t sectorsPerTrack, uint16_t heads);

// How many sectors the track reads asked for again after an earlier one of them had
// delivered the sector, read well.
int RereadsOfSectorsReadWell(std::span<const LoggedRequest> reads, uint16_t sectorsPerTrack, uint16_t heads);

// The track reads after the first read of the boot sector alone: the check of its layout,
// the last read of the start every operation that reads a diskette makes (detection reads
// track 0 before it).
std::vector<LoggedRequest> ReadsAfterLayoutCheck(const RecordingService& requests, uint16_t sectorsPerTrack,
                                                 uint16_t heads);

}  // namespace vokta::test
