#include "drive/backend/emulateddrive.h"

#include <algorithm>

#include "drive/diskdrive.h"
#include "drive/diskerror.h"
#include "drive/media.h"

namespace vokta {
namespace {

// BIOS statuses the drive answers with.
constexpr uint32_t kBiosBadCommand = 0x01;
constexpr uint32_t kBiosWriteProtected = 0x03;
constexpr uint32_t kBiosSectorNotFound = 0x04;
constexpr uint32_t kBiosSeekFailed = 0x40;
constexpr uint32_t kBiosNotReady = 0x80;
constexpr uint8_t kDefaultFiller = 0xF6;
constexpr size_t kBootBpbOffset = 11;

uint8_t SizeCodeOf(uint16_t bytes)
{
    uint8_t code = 0;
    while (code < 7 && (size_t{128} << code) < bytes)
        ++code;
    return code;
}

}  // namespace

uint8_t DeviceTypeOf(DriveKind kind)
{
    switch (kind) {
    case DriveKind::Floppy525HD: return DeviceType::Floppy12M;
    case DriveKind::Floppy35DD: return DeviceType::Floppy720K;
    case DriveKind::Floppy35HD: return DeviceType::Floppy144M;
    case DriveKind::Floppy35ED: return DeviceType::Floppy288M;
    case DriveKind::FixedDisk: return DeviceType::FixedDisk;
    }
    return DeviceType::Floppy144M;
}

EmulatedDrive::EmulatedDrive(DriveKind kind, uint8_t driveNumber)
    : kind_(kind), driveNumber_(driveNumber)
{
}

void EmulatedDrive::Insert(EmulatedMedium medium)
{
    medium_ = std::move(medium);
    params_.reset();
}

std::optional<EmulatedMedium> EmulatedDrive::Eject()
{
    std::optional<EmulatedMedium> out = std::move(medium_);
    medium_.reset();
    params_.reset();
    return out;
}

void EmulatedDrive::FailNext(std::function<bool(const DiskRequest&)> match, int times, uint32_t error)
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

std::vector<LoggedRequest> EmulatedDrive::Requests(uint8_t minor) const
{
    std::vector<LoggedRequest> out;
    for (const LoggedRequest& r : log)
        if (r.isIoctl(minor))
            out.push_back(r);
    return out;
}

uint16_t EmulatedDrive::lockState() const
{
    if (lockPermissions_.empty())
        return LockState::Unlocked;
    return static_cast<uint16_t>(lockPermissions_.back() << 8);
}

bool EmulatedDrive::IsDriveReady()
{
    return medium_.has_value();
}

bool EmulatedDrive::InstallParameterTable(const DisketteParameterTable& table)
{
    table_ = table;
    return true;
}

bool EmulatedDrive::RestoreParameterTable()
{
    const bool had = table_.has_value();
    table_.reset();
    return had;
}

bool EmulatedDrive::DeviceIoControl(DiskRequest& request)
{
    LoggedRequest entry;
    entry.controlCode = request.controlCode;
    entry.in = request.regs;
    entry.block.assign(request.block.begin(), request.block.end());
    entry.bufferSize = request.buffer.size();

    Answer answer;
    std::optional<InjectedFault> fault = faultHook ? faultHook(request) : std::nullopt;
    if (fault)
        answer = Answer{!fault->refuse, fault->error, true};
    else
        answer = Serve(request);

    if (answer.accepted) {
        if (answer.error != 0 || answer.forceCarry) {
            request.regs.flags |= 1u;
            request.regs.eax = request.controlCode == Control::Int13 ? (answer.error << 8) : answer.error;
        } else {
            request.regs.flags &= ~1u;
            if (request.controlCode == Control::Int13)
                request.regs.eax &= 0xFFu;  // AH = 0: success
        }
    }
    entry.out = request.regs;
    entry.accepted = answer.accepted;
    log.push_back(std::move(entry));
    return answer.accepted;
}

EmulatedDrive::Answer EmulatedDrive::Serve(DiskRequest& request)
{
    if (request.controlCode == Control::DosIoctl)
        return ServeIoctl(request);
    if (request.controlCode == Control::Int13)
        return ServeBios(request);
    return Answer{false, 0};
}

EmulatedDrive::Answer EmulatedDrive::ServeIoctl(DiskRequest& request)
{
    const Registers& r = request.regs;
    if ((r.eax & 0xFFFF) != 0x440D || (r.ecx & 0xFF00) != 0x0800)
        return Answer{true, Err::InvalidFunction};
    const uint8_t minor = request.minor();
    const bool physical = minor == Minor::LockPhysical || minor == Minor::UnlockPhysical;
    const uint8_t expectedUnit = physical ? static_cast<uint8_t>(driveNumber_ - 1) : driveNumber_;
    if ((r.ebx & 0xFF) != expectedUnit)
        return Answer{true, Err::InvalidDrive};

    switch (minor) {
    case Minor::GetLockState:
        if (lockedElsewhere)
            return Answer{true, Err::AccessDenied};
        request.regs.eax = lockPermissions_.empty() ? 0xFFFF : 0x0000;
        request.regs.ecx = lockPermissions_.empty() ? 0 : lockPermissions_.back();
        return {};
    case Minor::LockLogical:
    case Minor::LockPhysical:
        return Lock(r, physical);
    case Minor::UnlockLogical:
    case Minor::UnlockPhysical:
        return Unlock(r, physical);
    default:
        break;
    }

    const bool needsBlock = minor != Minor::GetLockState;
    if (needsBlock && request.block.empty())
        return Answer{false, 0};

    switch (minor) {
    case Minor::SetDeviceParams:
        if (request.block.size() < DeviceParams::kSize)
            return Answer{false, 0};
        params_.emplace();
        std::copy_n(request.block.begin(), DeviceParams::kSize, params_->bytes.begin());
        return {};
    case Minor::GetDeviceParams: return GetDeviceParams(request.block);
    case Minor::ReadTrack: return ReadWriteTrack(request.block, request.buffer, false);
    case Minor::WriteTrack: return ReadWriteTrack(request.block, request.buffer, true);
    case Minor::VerifyTrack: return VerifyTrack(request.block);
    case Minor::FormatTrack: return FormatTrack(request.block);
    case Minor::GetMediaId: return GetMediaId(request.block);
    default: return Answer{true, Err::InvalidFunction};
    }
}

EmulatedDrive::Answer EmulatedDrive::Lock(const Registers& r, bool /*physical*/)
{
    if (lockedElsewhere)
        return Answer{true, Err::AccessDenied};
    if (((r.ebx >> 8) & 0xFF) != 0)
        return Answer{true, Err::InvalidFunction};  // only level 0 is used
    lockPermissions_.push_back(static_cast<uint16_t>(r.edx & 0xFFFF));
    return {};
}

EmulatedDrive::Answer EmulatedDrive::Unlock(const Registers&, bool /*physical*/)
{
    if (lockPermissions_.empty())
        return Answer{true, Err::InvalidFunction};
    lockPermissions_.pop_back();
    return {};
}

uint32_t EmulatedDrive::ReadBootSector(std::vector<uint8_t>& sector) const
{
    if (!medium_)
        return Err::NotReady;
    const SectorRecord* boot = medium_->Find(0, 0, 1);
    if (!boot || (kind_ != DriveKind::FixedDisk && !DriveSupports(medium_->track(0, 0).rate)))
        return Err::SectorNotFound;
    if (boot->dataError || medium_->IsDefective(0, 0, 1))
        return Err::BadCrc;
    sector = boot->data;
    sector.resize(std::max<size_t>(sector.size(), kSectorSize), 0);
    return 0;
}

EmulatedDrive::Answer EmulatedDrive::GetDeviceParams(std::span<uint8_t> block)
{
    if (block.size() < DeviceParams::kSize)
        return Answer{false, 0};
    DeviceParams p;
    std::copy_n(block.begin(), DeviceParams::kSize, p.bytes.begin());
    const bool currentMedium = (p.u8(DeviceParams::SpecialFunctions) & DeviceParams::kCurrentMedium) != 0;

    if (currentMedium || kind_ == DriveKind::FixedDisk) {
        std::vector<uint8_t> boot;
        if (uint32_t error = ReadBootSector(boot))
            return Answer{true, error};
        std::copy_n(boot.begin() + kBootBpbOffset, DeviceParams::kBpbSize,
                    p.bytes.begin() + DeviceParams::kBpbOffset);
    } else {
        MediaType native = kMedia144M;
        if (kind_ == DriveKind::Floppy35DD)
            native = kMedia720K;
        else if (kind_ == DriveKind::Floppy525HD)
            native = kMedia12M;
        const DeviceParams row = GeometryOf(native)->ToParams();
        std::copy_n(row.bytes.begin() + DeviceParams::kBpbOffset, DeviceParams::kBpbSize,
                    p.bytes.begin() + DeviceParams::kBpbOffset);
    }
    p.setU8(DeviceParams::DeviceType, DeviceTypeOf(kind_));
    p.setU16(DeviceParams::DeviceAttributes, kind_ == DriveKind::FixedDisk ? 1 : 2);
    p.setU8(DeviceParams::MediaTypeByte, 0);
    const uint32_t perCylinder = uint32_t{p.sectorsPerTrack()} * p.heads();
    uint32_t cylinders = 80;
    if (perCylinder != 0)
        cylinders = (p.totalSectors() + perCylinder - 1) / perCylinder;
    p.setU16(DeviceParams::Cylinders, static_cast<uint16_t>(std::min<uint32_t>(cylinders, 0xFFFF)));
    std::copy(p.bytes.begin(), p.bytes.end(), block.begin());
    return {};
}

DataRate EmulatedDrive::RateFor(uint16_t sectorsPerTrack) const
{
    return RateForSectorsPerTrack(sectorsPerTrack, kind_ == DriveKind::Floppy525HD);
}

bool EmulatedDrive::DriveSupports(DataRate rate) const
{
    switch (kind_) {
    case DriveKind::Floppy35DD: return rate == DataRate::k250;
    case DriveKind::Floppy35HD: return rate == DataRate::k250 || rate == DataRate::k500;
    case DriveKind::Floppy35ED: return rate != DataRate::k300;
    case DriveKind::Floppy525HD: return rate == DataRate::k300 || rate == DataRate::k500;
    case DriveKind::FixedDisk: return true;
    }
    return false;
}

bool EmulatedDrive::Readable(const Track& track) const
{
    if (kind_ == DriveKind::FixedDisk)
        return true;
    // Until parameters are set the drive reads at whatever rate the track was written.
    if (!params_)
        return DriveSupports(track.rate);
    const DataRate rate = RateFor(params_->sectorsPerTrack());
    return DriveSupports(rate) && track.rate == rate;
}

EmulatedDrive::Answer EmulatedDrive::ReadWriteTrack(std::span<const uint8_t> block,
                                                    std::span<uint8_t> buffer, bool write)
{
    if (block.size() < TrackIoBlock::kSize)
        return Answer{false, 0};
    if (!medium_)
        return Answer{true, Err::NotReady};
    const uint16_t head = TrackIoBlock::Head(block);
    const uint16_t cylinder = TrackIoBlock::Cylinder(block);
    const uint16_t first = TrackIoBlock::FirstSector(block);
    const uint16_t count = TrackIoBlock::Count(block);
    const uint16_t bytesPerSector = params_ ? params_->bytesPerSector() : 512;
    if (buffer.size() < size_t{count} * bytesPerSector)
        return Answer{false, 0};
    if (write && medium_->writeProtected)
        return Answer{true, Err::WriteProtect};
    if (write && lockPermissions_.empty())
        return Answer{true, Err::AccessDenied};
    if (!medium_->HasTrack(cylinder, static_cast<uint8_t>(head)))
        return Answer{true, Err::EndOfDisk};

    const Track& track = medium_->track(cylinder, static_cast<uint8_t>(head));
    if (!Readable(track))
        return Answer{true, Err::SectorNotFound};

    for (uint16_t i = 0; i < count; ++i) {
        const auto number = static_cast<uint8_t>(first + i + 1);
        SectorRecord* s = medium_->Find(cylinder, static_cast<uint8_t>(head), number);
        if (!s || s->size() != bytesPerSector)
            return Answer{true, Err::SectorNotFound};
        std::span<uint8_t> data = buffer.subspan(size_t{i} * bytesPerSector, bytesPerSector);
        if (write) {
            // Rewriting a sector with its own bytes (the write-protect probe does) changes nothing.
            if (s->dataError || !std::equal(data.begin(), data.end(), s->data.begin(), s->data.end())) {
                s->data.assign(data.begin(), data.end());
                s->dataError = false;
                modified = true;
            }
        } else {
            if (s->dataError || medium_->IsDefective(cylinder, static_cast<uint8_t>(head), number))
                return Answer{true, Err::BadCrc};
            std::copy_n(s->data.begin(), std::min(s->data.size(), data.size()), data.begin());
        }
    }
    return {};
}

EmulatedDrive::Answer EmulatedDrive::VerifyTrack(std::span<const uint8_t> block)
{
    if (block.size() < TrackBlock::kSize)
        return Answer{false, 0};
    if (!medium_)
        return Answer{true, Err::NotReady};
    if (!params_)
        return Answer{true, Err::InvalidFunction};
    const auto head = static_cast<uint8_t>(TrackBlock::Head(block));
    const uint16_t cylinder = TrackBlock::Cylinder(block);
    const uint16_t tracks = std::max<uint16_t>(TrackBlock::Tracks(block), 1);
    const uint16_t spt = params_->sectorsPerTrack();
    for (uint16_t t = 0; t < tracks; ++t) {
        const auto c = static_cast<uint16_t>(cylinder + t);
        if (!medium_->HasTrack(c, head))
            return Answer{true, Err::EndOfDisk};
        if (!Readable(medium_->track(c, head)))
            return Answer{true, Err::SectorNotFound};
        for (uint16_t r = 1; r <= spt; ++r) {
            const SectorRecord* s = medium_->Find(c, head, static_cast<uint8_t>(r));
            if (!s || s->size() != params_->bytesPerSector())
                return Answer{true, Err::SectorNotFound};
            if (s->dataError || medium_->IsDefective(c, head, static_cast<uint8_t>(r)))
                return Answer{true, Err::BadCrc};
        }
    }
    return {};
}

uint32_t EmulatedDrive::FormatRefusal(uint16_t cylinder, uint8_t head, DataRate rate) const
{
    if (!medium_->HasTrack(cylinder, head))
        return Err::EndOfDisk;
    if (medium_->writeProtected)
        return Err::WriteProtect;
    if (!DriveSupports(rate) || !medium_->Supports(rate) || medium_->IsUnformattable(cylinder, head))
        return Err::SectorNotFound;
    return 0;
}

bool EmulatedDrive::WriteFormattedTrack(uint16_t cylinder, uint8_t head, DataRate rate,
                                        const std::vector<SectorRecord>& headers, uint8_t filler)
{
    Track& track = medium_->track(cylinder, head);
    track.rate = rate;
    track.sectors = headers;
    for (SectorRecord& s : track.sectors)
        s.data.assign(s.size(), filler);
    modified = true;
    return true;
}

EmulatedDrive::Answer EmulatedDrive::FormatTrack(std::span<const uint8_t> block)
{
    if (block.size() < TrackBlock::kSize)
        return Answer{false, 0};
    if (!medium_)
        return Answer{true, Err::NotReady};
    if (!params_)
        return Answer{true, Err::InvalidFunction};
    if (lockPermissions_.empty())
        return Answer{true, Err::AccessDenied};
    const auto head = static_cast<uint8_t>(TrackBlock::Head(block));
    const uint16_t cylinder = TrackBlock::Cylinder(block);
    const uint16_t spt = params_->sectorsPerTrack();
    const DataRate rate = RateFor(spt);
    if (uint32_t refusal = FormatRefusal(cylinder, head, rate))
        return Answer{true, refusal};

    std::vector<SectorRecord> headers;
    const uint16_t entries = params_->layoutCount();
    for (uint16_t i = 0; i < spt; ++i) {
        SectorRecord s;
        s.cylinder = static_cast<uint8_t>(cylinder);
        s.head = head;
        s.number = static_cast<uint8_t>(i < entries ? params_->layoutSector(i) : i + 1);
        s.sizeCode = SizeCodeOf(i < entries ? params_->layoutSize(i) : params_->bytesPerSector());
        headers.push_back(s);
    }
    WriteFormattedTrack(cylinder, head, rate, headers, kDefaultFiller);
    return {};
}

EmulatedDrive::Answer EmulatedDrive::GetMediaId(std::span<uint8_t> block)
{
    if (block.size() < MediaIdBlock::kSize)
        return Answer{false, 0};
    std::vector<uint8_t> boot;
    if (uint32_t error = ReadBootSector(boot))
        return Answer{true, error};
    if (boot[38] != 0x29)
        return Answer{true, Err::InvalidData};
    PutU16(block, 0, 0);
    std::copy_n(boot.begin() + 39, 4 + 11 + 8, block.begin() + 2);
    return {};
}

EmulatedDrive::Answer EmulatedDrive::ServeBios(DiskRequest& request)
{
    const Registers& r = request.regs;
    if ((r.edx & 0xFF) != static_cast<uint32_t>(driveNumber_ - 1) || kind_ == DriveKind::FixedDisk)
        return Answer{true, kBiosBadCommand};
    switch (request.biosFunction()) {
    case Bios::Reset: return {};
    case Bios::FormatTrack: return BiosFormat(r, request.block);
    default: return Answer{true, kBiosBadCommand};
    }
}

EmulatedDrive::Answer EmulatedDrive::BiosFormat(const Registers& r, std::span<const uint8_t> idList)
{
    if (!medium_)
        return Answer{true, kBiosNotReady};
    if (lockPermissions_.empty())
        return Answer{true, kBiosBadCommand};
    const auto count = static_cast<uint8_t>(r.eax & 0xFF);
    const auto cylinder = static_cast<uint16_t>((r.ecx >> 8) & 0xFF);
    const auto head = static_cast<uint8_t>((r.edx >> 8) & 0xFF);
    if (idList.size() < size_t{count} * 4)
        return Answer{false, 0};
    switch (FormatRefusal(cylinder, head, RateFor(count))) {
    case 0: break;
    case Err::EndOfDisk: return Answer{true, kBiosSeekFailed};
    case Err::WriteProtect: return Answer{true, kBiosWriteProtected};
    default: return Answer{true, kBiosSectorNotFound};
    }
    std::vector<SectorRecord> headers;
    for (uint8_t i = 0; i < count; ++i) {
        SectorRecord s;
        s.cylinder = idList[4 * i];
        s.head = idList[4 * i + 1];
        s.number = idList[4 * i + 2];
        s.sizeCode = idList[4 * i + 3];
        headers.push_back(s);
    }
    const uint8_t filler = table_ ? (*table_)[8] : kDefaultFiller;
    WriteFormattedTrack(cylinder, head, RateFor(count), headers, filler);
    return {};
}

}  // namespace vokta
