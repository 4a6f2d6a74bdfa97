// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/backend/greaseweazle/greaseweazle.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <limits>

#include "drive/backend/linuxfloppy/linuxfloppy.h"
#include "res/strings.h"

namespace vokta::gw {
namespace {

using Kind = GwStatus::Kind;

// Every way a request fails, as the system's disk error code and its words. A refusal
// matches its ACK code; the other kinds match whatever `ack` holds.
struct FailureEntry {
    Kind kind;
    uint8_t ack;
    DiskError error;
    Str text;
};
constexpr FailureEntry kFailures[] = {
    {Kind::Refused, Ack::BadCommand, Err::InvalidFunction, Str::GwAckBadCommand},
    {Kind::Refused, Ack::NoIndex, Err::NotReady, Str::GwAckNoIndex},
    {Kind::Refused, Ack::NoTrack0, Err::NotReady, Str::GwAckNoTrack0},
    // The BIOS reports a DMA overrun as 5 too: the transfer, not the diskette, failed.
    {Kind::Refused, Ack::FluxOverflow, Err::AccessDenied, Str::GwAckFluxOverflow},
    {Kind::Refused, Ack::FluxUnderflow, Err::AccessDenied, Str::GwAckFluxUnderflow},
    {Kind::Refused, Ack::WriteProtected, Err::WriteProtect, Str::GwAckWriteProtected},
    {Kind::Refused, Ack::NoUnit, Err::InvalidDrive, Str::GwAckNoUnit},
    {Kind::Refused, Ack::NoBus, Err::InvalidDrive, Str::GwAckNoBus},
    {Kind::Refused, Ack::BadUnit, Err::InvalidDrive, Str::GwAckBadUnit},
    {Kind::Refused, Ack::BadPin, Err::InvalidFunction, Str::GwAckBadPin},
    {Kind::Refused, Ack::BadCylinder, Err::EndOfDisk, Str::GwAckBadCylinder},
    {Kind::Refused, Ack::OutOfSram, Err::InsufficientBuffer, Str::GwAckOutOfMemory},
    {Kind::Refused, Ack::OutOfFlash, Err::InsufficientBuffer, Str::GwAckOutOfMemory},
    {Kind::TimedOut, 0, Err::NotReady, Str::GwTimedOut},
    {Kind::Gone, 0, Err::NotReady, Str::GwGone},
    {Kind::Garbled, 0, Err::UnknownError, Str::GwGarbled},
};

const FailureEntry* FailureOf(Kind kind, uint8_t ack)
{
    for (const FailureEntry& entry : kFailures)
        if (entry.kind == kind && (kind != Kind::Refused || entry.ack == ack))
            return &entry;
    return nullptr;
}

void PutU16(std::vector<uint8_t>& out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void PutU32(std::vector<uint8_t>& out, uint32_t value)
{
    PutU16(out, static_cast<uint16_t>(value));
    PutU16(out, static_cast<uint16_t>(value >> 16));
}

uint32_t TicksOf(uint32_t sampleHz, uint32_t nanoseconds)
{
    return static_cast<uint32_t>((uint64_t{sampleHz} * nanoseconds + 500'000'000) / 1'000'000'000);
}

}  // namespace

DiskError GwStatus::error() const
{
    if (kind_ == Kind::Ok)
        return Err::None;
    const FailureEntry* entry = FailureOf(kind_, ack_);
    return entry ? entry->error : Err::UnknownError;
}

std::string GwStatus::Text() const
{
    if (kind_ == Kind::Ok)
        return {};
    if (kind_ == Kind::Gone && goneError_ != 0)
        return FormatString(Str::GwGoneBecause, std::string(std::strerror(goneError_)));
    const FailureEntry* entry = FailureOf(kind_, ack_);
    return entry ? LoadString(entry->text) : FormatString(Str::GwAckUnknown, long{ack_});
}

FirmwareInfo FirmwareInfo::Parse(std::span<const uint8_t, kInfoSize> block)
{
    FirmwareInfo info;
    info.major = block[0];
    info.minor = block[1];
    info.mainFirmware = block[2] != 0;
    info.maxCommand = block[3];
    info.sampleHz = LittleEndian32(block, 4);
    info.model = block[8];
    info.submodel = block[9];
    info.usbSpeed = block[10];
    // Firmware older than the model field ran on the F1 alone.
    if (info.model == 0)
        info.model = 1;
    return info;
}

std::string ModelName(const FirmwareInfo& info)
{
    switch (info.model) {
    case 1: return "Greaseweazle F1";
    case 4: return "Greaseweazle V4";
    case 7: return "Greaseweazle F7";
    default: return "Greaseweazle " + std::to_string(info.model) + "." + std::to_string(info.submodel);
    }
}

GreaseweazleDevice::Opened GreaseweazleDevice::Open(const std::string& path, Options options)
{
    int error = 0;
    std::unique_ptr<SerialLine> line = SerialLine::Open(path, error);
    if (!line) {
        // A file that is no tty at all is no device of this kind.
        const DiskError code = error == ENOTTY ? Err::InvalidDrive : DeviceOpenError(error);
        return {nullptr, code, GreaseweazleOpenFailure(path, error, DeviceGroupOf(path))};
    }
    std::unique_ptr<GreaseweazleDevice> device(new GreaseweazleDevice(std::move(line), options));
    // Whatever an earlier program left half done goes first.
    device->unsettled_ = true;
    std::array<uint8_t, kInfoSize> block{};
    const GwStatus status = device->Command({Cmd::GetInfo, 0, kInfoFirmware}, block);
    if (status.kind() == Kind::Gone)
        return {nullptr, status.error(), path + ": " + status.Text()};
    if (!status)
        return {nullptr, Err::InvalidDrive, path + ": " + LoadString(Str::GwNotAGreaseweazle)};
    device->info_ = FirmwareInfo::Parse(block);
    if (!device->info_.mainFirmware)
        return {nullptr, Err::NotReady, path + ": " + LoadString(Str::GwUpdateMode)};
    if (device->info_.sampleHz == 0)
        return {nullptr, Err::InvalidDrive, path + ": " + LoadString(Str::GwNotAGreaseweazle)};
    return {std::move(device), Err::None, {}};
}

GwStatus GreaseweazleDevice::LineFailure(LineResult result)
{
    if (result == LineResult::TimedOut) {
        unsettled_ = true;
        return GwStatus::Of(Kind::TimedOut);
    }
    return GwStatus::Of(Kind::Gone, line_->goneError());
}

GwStatus GreaseweazleDevice::Command(std::vector<uint8_t> command, std::span<uint8_t> reply)
{
    if (unsettled_) {
        if (const LineResult r = line_->ClearComms(); r != LineResult::Ok)
            return LineFailure(r);
        unsettled_ = false;
    }
    command[1] = static_cast<uint8_t>(command.size());
    if (const LineResult r = line_->Write(command, options_.timeoutMs); r != LineResult::Ok)
        return LineFailure(r);
    std::array<uint8_t, 2> answer{};
    if (const LineResult r = line_->Read(answer, options_.timeoutMs); r != LineResult::Ok)
        return LineFailure(r);
    if (answer[0] != command[0]) {
        unsettled_ = true;
        return GwStatus::Of(Kind::Garbled);
    }
    if (answer[1] != Ack::Okay)
        return GwStatus::Refusal(answer[1]);
    if (const LineResult r = line_->Read(reply, options_.timeoutMs); r != LineResult::Ok)
        return LineFailure(r);
    return {};
}

GwStatus GreaseweazleDevice::SetBusType(BusType bus)
{
    return Command({Cmd::SetBusType, 0, static_cast<uint8_t>(bus)});
}

GwStatus GreaseweazleDevice::Select(uint8_t unit)
{
    return Command({Cmd::Select, 0, unit});
}

GwStatus GreaseweazleDevice::Deselect()
{
    return Command({Cmd::Deselect, 0});
}

GwStatus GreaseweazleDevice::Motor(uint8_t unit, bool on)
{
    return Command({Cmd::Motor, 0, unit, static_cast<uint8_t>(on)});
}

GwStatus GreaseweazleDevice::Seek(int cylinder)
{
    // The command carries a signed byte.
    if (cylinder < std::numeric_limits<int8_t>::min() || cylinder > std::numeric_limits<int8_t>::max())
        return GwStatus::Refusal(Ack::BadCylinder);
    return Command({Cmd::Seek, 0, static_cast<uint8_t>(static_cast<int8_t>(cylinder))});
}

GwStatus GreaseweazleDevice::Head(uint8_t head)
{
    return Command({Cmd::Head, 0, head});
}

GwStatus GreaseweazleDevice::FluxStatus()
{
    return Command({Cmd::GetFluxStatus, 0});
}

GwStatus GreaseweazleDevice::ReadFluxOnce(const ReadRequest& request, FluxRead& flux)
{
    std::vector<uint8_t> command{Cmd::ReadFlux, 0};
    PutU32(command, request.ticks);
    // The read starts anywhere on the track: a whole turn needs the pulse before it too.
    const uint32_t pulses = request.revolutions == 0 ? 0u : request.revolutions + 1u;
    PutU16(command, static_cast<uint16_t>(std::min<uint32_t>(pulses, std::numeric_limits<uint16_t>::max())));
    if (GwStatus status = Command(std::move(command)); !status)
        return status;
    std::vector<uint8_t> stream;
    if (const LineResult r = line_->ReadThrough(kStreamEnd, stream, options_.timeoutMs); r != LineResult::Ok)
        return LineFailure(r);
    if (GwStatus status = FluxStatus(); !status)
        return status;
    DecodedRead decoded = DecodeReadStream(stream);
    if (decoded.fault != StreamFault::None)
        return GwStatus::Of(Kind::Garbled);
    flux = std::move(decoded.flux);
    return {};
}

GwStatus GreaseweazleDevice::ReadFlux(const ReadRequest& request, FluxRead& flux)
{
    // The device would read on for ever, its stream never pausing long enough to time out.
    if (request.revolutions == 0 && request.ticks == 0)
        return GwStatus::Refusal(Ack::BadCommand);
    for (int attempt = 0;; ++attempt) {
        const GwStatus status = ReadFluxOnce(request, flux);
        if (!status.Refused(Ack::FluxOverflow) || attempt >= options_.retries)
            return status;
    }
}

WriteEncoding GreaseweazleDevice::Encoding() const
{
    return {TicksOf(info_.sampleHz, 150'000), std::max<uint32_t>(TicksOf(info_.sampleHz, 1'250), 1),
            TicksOf(info_.sampleHz, 100'000)};
}

GwStatus GreaseweazleDevice::FinishFluxCommand()
{
    std::array<uint8_t, 1> done{};
    if (const LineResult r = line_->Read(done, options_.timeoutMs); r != LineResult::Ok)
        return LineFailure(r);
    return FluxStatus();
}

GwStatus GreaseweazleDevice::WriteFluxOnce(std::span<const uint8_t> stream, const WriteOptions& options)
{
    if (GwStatus status = Command({Cmd::WriteFlux, 0, static_cast<uint8_t>(options.cueAtIndex),
                                   static_cast<uint8_t>(options.terminateAtIndex)});
        !status)
        return status;
    if (const LineResult r = line_->Write(stream, options_.timeoutMs); r != LineResult::Ok)
        return LineFailure(r);
    return FinishFluxCommand();
}

GwStatus GreaseweazleDevice::WriteFlux(std::span<const uint32_t> intervals, const WriteOptions& options)
{
    const std::vector<uint8_t> stream = EncodeWriteStream(intervals, Encoding());
    for (int attempt = 0;; ++attempt) {
        const GwStatus status = WriteFluxOnce(stream, options);
        if (!status.Refused(Ack::FluxUnderflow) || attempt >= options_.retries)
            return status;
    }
}

GwStatus GreaseweazleDevice::Erase(uint32_t ticks)
{
    std::vector<uint8_t> command{Cmd::EraseFlux, 0};
    PutU32(command, ticks);
    if (GwStatus status = Command(std::move(command)); !status)
        return status;
    return FinishFluxCommand();
}

GwStatus GreaseweazleDevice::GetPin(uint8_t pin, bool& high)
{
    std::array<uint8_t, 1> level{};
    GwStatus status = Command({Cmd::GetPin, 0, pin}, level);
    if (status)
        high = level[0] != 0;
    return status;
}

GwStatus GreaseweazleDevice::WriteProtected(bool& prot)
{
    bool high = true;
    GwStatus status = GetPin(Pin::WriteProtect, high);
    if (status)
        prot = !high;
    return status;
}

GwStatus GreaseweazleDevice::DiskChanged(std::optional<bool>& changed)
{
    bool high = true;
    const GwStatus status = GetPin(Pin::DiskChange, high);
    if (status.Refused(Ack::BadPin)) {
        changed.reset();
        return {};
    }
    if (status)
        changed = !high;
    return status;
}

GwStatus GreaseweazleDevice::Reset()
{
    return Command({Cmd::Reset, 0});
}

}  // namespace vokta::gw
