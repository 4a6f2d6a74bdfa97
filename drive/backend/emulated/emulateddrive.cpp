// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/backend/emulated/emulateddrive.h"

#include <algorithm>

#include "drive/diskdrive.h"
#include "drive/diskerror.h"
#include "drive/media.h"

namespace vokta {
namespace {

constexpr uint8_t kDefaultFiller = 0xF6;
constexpr size_t kGapInTable = 7;
constexpr size_t kFillerInTable = 8;

// Fills `shape` in place: its storage outlives the request, as every transfer is charged.
void ShapeOf(const Track& track, TrackShape& shape)
{
    const auto sectors = static_cast<uint16_t>(track.sectors.size());
    shape.order.resize(sectors);
    std::ranges::transform(track.sectors, shape.order.begin(), &SectorRecord::number);
    shape.gap = track.gap ? track.gap : StandardFormatGap(sectors);
    shape.sectorBytes = track.sectors.empty() ? 512 : static_cast<uint16_t>(track.sectors.front().size());
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

bool DriveKindSupports(DriveKind kind, DataRate rate)
{
    switch (kind) {
    case DriveKind::Floppy35DD: return rate == DataRate::k250;
    case DriveKind::Floppy35HD: return rate == DataRate::k250 || rate == DataRate::k500;
    case DriveKind::Floppy35ED: return rate != DataRate::k300;
    case DriveKind::Floppy525HD: return rate == DataRate::k300 || rate == DataRate::k500;
    case DriveKind::FixedDisk: return true;
    }
    return false;
}

MediaType NativeMediaOf(DriveKind kind)
{
    switch (kind) {
    case DriveKind::Floppy35DD: return kMedia720K;
    case DriveKind::Floppy525HD: return kMedia12M;
    default: return kMedia144M;
    }
}

Track FormattedTrack(std::span<const uint8_t> addressFields, DataRate rate,
                     const std::optional<DisketteParameterTable>& table, bool bios)
{
    const auto sectors = static_cast<uint16_t>(addressFields.size() / 4);
    const uint8_t filler = bios && table ? (*table)[kFillerInTable] : kDefaultFiller;
    Track track;
    track.rate = rate;
    track.gap = bios && table ? (*table)[kGapInTable] : StandardFormatGap(sectors);
    for (size_t i = 0; i < sectors; ++i) {
        SectorRecord s;
        s.cylinder = addressFields[4 * i];
        s.head = addressFields[4 * i + 1];
        s.number = addressFields[4 * i + 2];
        s.sizeCode = addressFields[4 * i + 3];
        s.data.assign(s.size(), filler);
        track.sectors.push_back(std::move(s));
    }
    return track;
}

EmulatedDrive::EmulatedDrive(DriveKind kind, uint8_t driveNumber) : DosBlockDevice(driveNumber), kind_(kind)
{
    // A 5¼" high-density drive turns at 360 rpm whatever the diskette.
    clock.m.rpm = kind == DriveKind::Floppy525HD ? 360 : 300;
}

void EmulatedDrive::SetClockRate(DataRate rate)
{
    clock.m.dataRateKbit = KbitOf(rate);
    clock.m.specifyByte = table_ ? (*table_)[0] : DriveMechanics{}.specifyByte;
}

void EmulatedDrive::Charge(uint16_t cylinder, const Track& track, uint16_t first, uint16_t count, uint16_t failing)
{
    SetClockRate(track.rate);
    // A track the drive cannot read at its rate shows no address field at all.
    if (Readable(track))
        ShapeOf(track, shape_);
    else
        shape_ = TrackShape{};
    clock.Transfer(cylinder, shape_, static_cast<uint16_t>(first + 1), count, failing);
}

// The device parameters belong to the drive: they outlive the diskettes put in and out.
void EmulatedDrive::Insert(EmulatedMedium medium)
{
    medium_ = std::move(medium);
}

std::optional<EmulatedMedium> EmulatedDrive::Eject()
{
    std::optional<EmulatedMedium> out = std::move(medium_);
    medium_.reset();
    return out;
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

MediaType EmulatedDrive::NativeMedia() const
{
    return NativeMediaOf(kind_);
}

DiskError EmulatedDrive::ReadBootSector(std::vector<uint8_t>& sector)
{
    if (!medium_)
        return Err::NotReady;
    const SectorRecord* boot = medium_->Find(0, 0, 1);
    const bool unreadable = !boot || (kind_ != DriveKind::FixedDisk && !DriveSupports(medium_->track(0, 0).rate));
    const bool bad = !unreadable && !ReadsWell(*boot, {0, 0, 1});
    Charge(0, medium_->track(0, 0), 0, 1, bad ? 1 : 0);
    if (unreadable)
        return Err::SectorNotFound;
    if (bad)
        return Err::BadCrc;
    sector = boot->data;
    sector.resize(std::max<size_t>(sector.size(), kSectorSize), 0);
    return Err::None;
}

DataRate EmulatedDrive::RateFor(uint16_t sectorsPerTrack) const
{
    return RateForSectorsPerTrack(sectorsPerTrack, kind_ == DriveKind::Floppy525HD);
}

bool EmulatedDrive::DriveSupports(DataRate rate) const
{
    return DriveKindSupports(kind_, rate);
}

bool EmulatedDrive::ReadsWell(const SectorRecord& sector, PhysicalSector at)
{
    ++sectorReads[at];
    return !medium_->ReadFails(at) && !sector.dataError;
}

bool EmulatedDrive::Recalibrate()
{
    if (kind_ == DriveKind::FixedDisk)
        return false;
    clock.Recalibrate();
    return true;
}

bool EmulatedDrive::SeekHead(uint16_t cylinder)
{
    if (kind_ == DriveKind::FixedDisk || cylinder >= EmulatedMedium::kDisketteTracks)
        return false;
    clock.Seek(cylinder);
    return true;
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

DiskError EmulatedDrive::TransferTrack(uint16_t cylinder, uint8_t head, uint16_t first, uint16_t count,
                                       std::span<uint8_t> buffer, bool write)
{
    if (!medium_)
        return Err::NotReady;
    if (write && medium_->writeProtected)
        return Err::WriteProtect;
    if (write && !VolumeLocked())
        return Err::AccessDenied;
    if (!medium_->HasTrack(cylinder, head))
        return Err::EndOfDisk;
    if (!Readable(medium_->track(cylinder, head))) {
        Charge(cylinder, medium_->track(cylinder, head), first, count, 0);
        return Err::SectorNotFound;
    }

    const uint16_t bytesPerSector = params_ ? params_->bytesPerSector() : kSectorSize;
    DiskError result = Err::None;
    uint16_t failing = 0;
    for (uint16_t i = 0; i < count && result == Err::None; ++i) {
        const auto number = static_cast<uint8_t>(first + i + 1);
        SectorRecord* s = medium_->Find(cylinder, head, number);
        std::span<uint8_t> data = buffer.subspan(size_t{i} * bytesPerSector, bytesPerSector);
        if (!s || s->size() != bytesPerSector) {
            result = Err::SectorNotFound;
            failing = number;
        } else if (write) {
            // Rewriting a sector with its own bytes (the write-protect probe does) changes nothing.
            if (s->dataError || !std::equal(data.begin(), data.end(), s->data.begin(), s->data.end())) {
                if ((result = PrepareToModify()) != Err::None)
                    break;
                s->data.assign(data.begin(), data.end());
                s->dataError = false;
                modified = true;
            }
        } else if (!ReadsWell(*s, {cylinder, head, number})) {
            result = Err::BadCrc;
            failing = number;
        } else {
            std::copy_n(s->data.begin(), std::min(s->data.size(), data.size()), data.begin());
        }
    }
    Charge(cylinder, medium_->track(cylinder, head), first, count, failing);
    return result;
}

DiskError EmulatedDrive::VerifyTrack(uint16_t cylinder, uint8_t head)
{
    if (!medium_)
        return Err::NotReady;
    if (!params_)
        return Err::InvalidFunction;
    if (!medium_->HasTrack(cylinder, head))
        return Err::EndOfDisk;
    const Track& track = medium_->track(cylinder, head);
    const uint16_t sectors = params_->sectorsPerTrack();
    DiskError result = Readable(track) ? Err::None : Err::SectorNotFound;
    uint16_t failing = 0;
    for (uint16_t r = 1; r <= sectors && result == Err::None; ++r) {
        const SectorRecord* s = medium_->Find(cylinder, head, static_cast<uint8_t>(r));
        if (!s || s->size() != params_->bytesPerSector())
            result = Err::SectorNotFound;
        else if (!ReadsWell(*s, {cylinder, head, static_cast<uint8_t>(r)}))
            result = Err::BadCrc;
        if (result != Err::None)
            failing = r;
    }
    Charge(cylinder, track, 0, sectors, failing);
    return result;
}

DiskError EmulatedDrive::FormatTrack(uint16_t cylinder, uint8_t head, std::span<const uint8_t> addressFields,
                                     bool bios)
{
    if (!medium_)
        return Err::NotReady;
    const auto sectors = static_cast<uint16_t>(addressFields.size() / 4);
    const DataRate rate = RateFor(sectors);
    if (!medium_->HasTrack(cylinder, head))
        return Err::EndOfDisk;
    if (medium_->writeProtected)
        return Err::WriteProtect;
    // A double-density coating will not take a high-density track, nor a drive a rate it lacks.
    SetClockRate(rate);
    clock.Format(cylinder);
    if (!DriveSupports(rate) || !medium_->Supports(rate) || medium_->IsUnformattable(cylinder, head))
        return Err::SectorNotFound;

    if (const DiskError refused = PrepareToModify(); refused != Err::None)
        return refused;
    medium_->track(cylinder, head) = FormattedTrack(addressFields, rate, table_, bios);
    modified = true;
    return Err::None;
}

}  // namespace vokta
