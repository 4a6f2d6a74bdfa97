// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/dosblockdevice.h"

#include <algorithm>

#include "drive/diskdrive.h"
#include "res/strings.h"

namespace vokta {
namespace {

constexpr size_t kBootBpbOffset = 11;
constexpr size_t kExtendedSignatureOffset = 38;
constexpr uint8_t kExtendedBootSignature = 0x29;
constexpr uint32_t kIoctlFunction = 0x440D;
constexpr uint32_t kCategoryDisk = 0x0800;

DeviceParams ParamsFrom(std::span<const uint8_t> block)
{
    DeviceParams p;
    std::copy_n(block.begin(), DeviceParams::kSize, p.bytes.begin());
    return p;
}

}  // namespace

uint8_t SectorSizeCode(uint16_t bytes)
{
    uint8_t code = 0;
    while (code < 7 && (size_t{128} << code) < bytes)
        ++code;
    return code;
}

std::vector<uint8_t> LayoutAddressFields(const DeviceParams& params, uint16_t cylinder, uint8_t head)
{
    const uint16_t spt = params.sectorsPerTrack();
    const uint16_t entries = params.layoutCount();
    std::vector<uint8_t> fields;
    fields.reserve(size_t{spt} * 4);
    for (uint16_t i = 0; i < spt; ++i) {
        fields.push_back(static_cast<uint8_t>(cylinder));
        fields.push_back(head);
        fields.push_back(static_cast<uint8_t>(i < entries ? params.layoutSector(i) : i + 1));
        fields.push_back(SectorSizeCode(i < entries ? params.layoutSize(i) : params.bytesPerSector()));
    }
    return fields;
}

std::optional<MediaType> DosBlockDevice::MediumBeyondKind(uint16_t sectorsPerTrack, uint16_t cylinders) const
{
    const std::optional<std::vector<MediaType>> formattable = KindFormats();
    const std::optional<MediaType> medium = MediaOfTracks(sectorsPerTrack, cylinders);
    if (!formattable || !medium || std::find(formattable->begin(), formattable->end(), *medium) != formattable->end())
        return std::nullopt;
    return medium;
}

std::string DosBlockDevice::MediaRefusal(const DeviceParams& params)
{
    const std::optional<MediaType> refused = MediumBeyondKind(params.sectorsPerTrack(), params.cylinders());
    if (!refused)
        return {};
    const std::vector<MediaType> kinds = KindFormats().value_or(std::vector<MediaType>{});
    std::string formattable;
    for (MediaType t : kinds)
        formattable += (formattable.empty() ? "" : ", ") + std::string(GetMediaTypeName(t));
    const std::string name(GetMediaTypeName(*refused));
    return formattable.empty() ? FormatString(Str::DriveKindFormatsNone, name)
                               : FormatString(Str::DriveKindCannotFormat, name, formattable);
}

uint16_t DosBlockDevice::lockState() const
{
    if (lockPermissions_.empty())
        return LockState::Unlocked;
    return static_cast<uint16_t>(lockPermissions_.back() << 8);
}

bool DosBlockDevice::DeviceIoControl(DiskRequest& request)
{
    const Answer answer = Serve(request);
    PutAnswer(request, answer);
    return answer.accepted;
}

void DosBlockDevice::PutAnswer(DiskRequest& request, const Answer& answer)
{
    if (!answer.accepted)
        return;
    const bool bios = request.controlCode == Control::Int13;
    if (answer.error != 0 || answer.forceCarry) {
        request.regs.flags |= 1u;
        request.regs.eax = bios ? (answer.error << 8) : answer.error;
    } else {
        request.regs.flags &= ~1u;
        if (bios)
            request.regs.eax &= 0xFFu;  // AH = 0: success
    }
}

DosBlockDevice::Answer DosBlockDevice::Serve(DiskRequest& request)
{
    if (request.controlCode == Control::DosIoctl)
        return ServeIoctl(request);
    if (request.controlCode == Control::Int13)
        return ServeBios(request);
    return Answer{false};
}

DosBlockDevice::Answer DosBlockDevice::ServeIoctl(DiskRequest& request)
{
    Registers& r = request.regs;
    if ((r.eax & 0xFFFF) != kIoctlFunction || (r.ecx & 0xFF00) != kCategoryDisk)
        return Answer{true, CodeOf(Err::InvalidFunction)};
    const uint8_t minor = request.minor();
    const bool physical = minor == Minor::LockPhysical || minor == Minor::UnlockPhysical;
    const uint8_t expectedUnit = physical ? static_cast<uint8_t>(driveNumber_ - 1) : driveNumber_;
    if ((r.ebx & 0xFF) != expectedUnit)
        return Answer{true, CodeOf(Err::InvalidDrive)};

    switch (minor) {
    case Minor::GetLockState: return GetLockState(r);
    case Minor::LockLogical:
    case Minor::LockPhysical: return Lock(r);
    case Minor::UnlockLogical:
    case Minor::UnlockPhysical: return Unlock();
    default: break;
    }
    if (request.block.empty())
        return Answer{false};
    switch (minor) {
    case Minor::SetDeviceParams:
        if (request.block.size() < DeviceParams::kSize)
            return Answer{false};
        return Answer{true, CodeOf(SetParams(ParamsFrom(request.block)))};
    case Minor::GetDeviceParams: return GetDeviceParams(request.block);
    case Minor::ReadTrack: return ReadWriteTrack(request.block, request.buffer, false);
    case Minor::WriteTrack: return ReadWriteTrack(request.block, request.buffer, true);
    case Minor::VerifyTrack: return VerifyTracks(request.block);
    case Minor::FormatTrack: return FormatLaidOutTrack(request.block);
    case Minor::GetMediaId: return GetMediaId(request.block);
    default: return Answer{true, CodeOf(Err::InvalidFunction)};
    }
}

DiskError DosBlockDevice::SetParams(const DeviceParams& params)
{
    params_ = params;
    return Err::None;
}

DosBlockDevice::Answer DosBlockDevice::GetLockState(Registers& regs)
{
    if (lockPermissions_.empty() && VolumeHeldElsewhere())
        return Answer{true, CodeOf(Err::AccessDenied)};
    regs.eax = lockPermissions_.empty() ? 0xFFFF : 0x0000;
    regs.ecx = lockPermissions_.empty() ? 0 : lockPermissions_.back();
    return {};
}

DosBlockDevice::Answer DosBlockDevice::Lock(const Registers& regs)
{
    if (((regs.ebx >> 8) & 0xFF) != 0)
        return Answer{true, CodeOf(Err::InvalidFunction)};  // only level 0 is used
    if (lockPermissions_.empty()) {
        if (const DiskError refused = TakeVolume(); refused != Err::None)
            return Answer{true, CodeOf(refused)};
    }
    lockPermissions_.push_back(static_cast<uint16_t>(regs.edx & 0xFFFF));
    return {};
}

DosBlockDevice::Answer DosBlockDevice::Unlock()
{
    if (lockPermissions_.empty())
        return Answer{true, CodeOf(Err::InvalidFunction)};
    lockPermissions_.pop_back();
    if (lockPermissions_.empty())
        return Answer{true, CodeOf(ReleaseVolume())};
    return {};
}

DosBlockDevice::Answer DosBlockDevice::GetDeviceParams(std::span<uint8_t> block)
{
    if (block.size() < DeviceParams::kSize)
        return Answer{false};
    DeviceParams p = ParamsFrom(block);
    const bool currentMedium = (p.u8(DeviceParams::SpecialFunctions) & DeviceParams::kCurrentMedium) != 0;
    if (currentMedium || DefaultParamsFromMedium()) {
        std::vector<uint8_t> boot;
        if (const DiskError failed = ReadBootSector(boot); failed != Err::None)
            return Answer{true, CodeOf(failed)};
        std::copy_n(boot.begin() + kBootBpbOffset, DeviceParams::kBpbSize, p.bytes.begin() + DeviceParams::kBpbOffset);
    } else {
        const DeviceParams row = GeometryOf(NativeMedia())->ToParams();
        std::copy_n(row.bytes.begin() + DeviceParams::kBpbOffset, DeviceParams::kBpbSize,
                    p.bytes.begin() + DeviceParams::kBpbOffset);
    }
    p.setU8(DeviceParams::DeviceType, DeviceType());
    p.setU16(DeviceParams::DeviceAttributes, DeviceAttributes());
    p.setU8(DeviceParams::MediaTypeByte, 0);
    const uint32_t perCylinder = uint32_t{p.sectorsPerTrack()} * p.heads();
    uint32_t cylinders = 80;
    if (perCylinder != 0)
        cylinders = (p.totalSectors() + perCylinder - 1) / perCylinder;
    p.setU16(DeviceParams::Cylinders, static_cast<uint16_t>(std::min<uint32_t>(cylinders, 0xFFFF)));
    std::copy(p.bytes.begin(), p.bytes.end(), block.begin());
    return {};
}

DosBlockDevice::Answer DosBlockDevice::GetMediaId(std::span<uint8_t> block)
{
    if (block.size() < MediaIdBlock::kSize)
        return Answer{false};
    std::vector<uint8_t> boot;
    if (const DiskError failed = ReadBootSector(boot); failed != Err::None)
        return Answer{true, CodeOf(failed)};
    if (boot[kExtendedSignatureOffset] != kExtendedBootSignature)
        return Answer{true, CodeOf(Err::InvalidData)};
    PutU16(block, 0, 0);
    std::copy_n(boot.begin() + kExtendedSignatureOffset + 1, 4 + 11 + 8, block.begin() + 2);
    return {};
}

DosBlockDevice::Answer DosBlockDevice::ReadWriteTrack(std::span<const uint8_t> block, std::span<uint8_t> buffer,
                                                      bool write)
{
    if (block.size() < TrackIoBlock::kSize)
        return Answer{false};
    const uint16_t count = TrackIoBlock::Count(block);
    const uint16_t bytesPerSector = params_ ? params_->bytesPerSector() : kSectorSize;
    if (buffer.size() < size_t{count} * bytesPerSector)
        return Answer{false};
    return Answer{true, CodeOf(TransferTrack(TrackIoBlock::Cylinder(block), static_cast<uint8_t>(TrackIoBlock::Head(block)),
                                      TrackIoBlock::FirstSector(block), count, buffer, write))};
}

DosBlockDevice::Answer DosBlockDevice::VerifyTracks(std::span<const uint8_t> block)
{
    if (block.size() < TrackBlock::kSize)
        return Answer{false};
    const auto head = static_cast<uint8_t>(TrackBlock::Head(block));
    const uint16_t cylinder = TrackBlock::Cylinder(block);
    const uint16_t tracks = std::max<uint16_t>(TrackBlock::Tracks(block), 1);
    for (uint16_t t = 0; t < tracks; ++t) {
        if (const DiskError failed = VerifyTrack(static_cast<uint16_t>(cylinder + t), head); failed != Err::None)
            return Answer{true, CodeOf(failed)};
    }
    return {};
}

DosBlockDevice::Answer DosBlockDevice::FormatLaidOutTrack(std::span<const uint8_t> block)
{
    if (block.size() < TrackBlock::kSize)
        return Answer{false};
    if (!params_)
        return Answer{true, CodeOf(Err::InvalidFunction)};
    if (!VolumeLocked())
        return Answer{true, CodeOf(Err::AccessDenied)};
    // Whatever asks, a drive never lays down tracks of a diskette its kind cannot take.
    if (MediumBeyondKind(params_->sectorsPerTrack(), params_->cylinders()))
        return Answer{true, CodeOf(Err::UnrecognizedMedia)};
    const auto head = static_cast<uint8_t>(TrackBlock::Head(block));
    const uint16_t cylinder = TrackBlock::Cylinder(block);
    return Answer{true, CodeOf(FormatTrack(cylinder, head, LayoutAddressFields(*params_, cylinder, head), false))};
}

DosBlockDevice::Answer DosBlockDevice::ServeBios(DiskRequest& request)
{
    const Registers& r = request.regs;
    if ((r.edx & 0xFF) != static_cast<uint32_t>(driveNumber_ - 1) || !HasBios())
        return Answer{true, BiosStatus::BadCommand};
    switch (request.biosFunction()) {
    case Bios::Reset: return Answer{true, BiosStatusOfDiskError(ResetController())};
    case Bios::FormatTrack: return BiosFormat(r, request.block);
    default: return Answer{true, BiosStatus::BadCommand};
    }
}

DosBlockDevice::Answer DosBlockDevice::BiosFormat(const Registers& r, std::span<const uint8_t> addressFields)
{
    const auto count = static_cast<uint8_t>(r.eax & 0xFF);
    const auto cylinder = static_cast<uint16_t>((r.ecx >> 8) & 0xFF);
    const auto head = static_cast<uint8_t>((r.edx >> 8) & 0xFF);
    if (addressFields.size() < size_t{count} * 4)
        return Answer{false};
    if (!VolumeLocked())
        return Answer{true, BiosStatus::BadCommand};
    if (MediumBeyondKind(count, params_ ? params_->cylinders() : 80))
        return Answer{true, BiosStatusOfDiskError(Err::UnrecognizedMedia)};
    const DiskError failed = FormatTrack(cylinder, head, addressFields.first(size_t{count} * 4), true);
    return Answer{true, BiosStatusOfDiskError(failed)};
}

}  // namespace vokta
