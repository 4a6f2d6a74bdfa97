#include "drive/backend/emulateddrive.h"

#include <algorithm>

#include "drive/diskdrive.h"
#include "drive/diskerror.h"
#include "drive/media.h"

namespace vokta {
namespace {

constexpr uint8_t kDefaultFiller = 0xF6;
constexpr size_t kFillerInTable = 8;

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

EmulatedDrive::EmulatedDrive(DriveKind kind, uint8_t driveNumber) : DosBlockDevice(driveNumber), kind_(kind) {}

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
    switch (kind_) {
    case DriveKind::Floppy35DD: return kMedia720K;
    case DriveKind::Floppy525HD: return kMedia12M;
    default: return kMedia144M;
    }
}

DiskError EmulatedDrive::ReadBootSector(std::vector<uint8_t>& sector)
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
    return Err::None;
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
    if (!Readable(medium_->track(cylinder, head)))
        return Err::SectorNotFound;

    const uint16_t bytesPerSector = params_ ? params_->bytesPerSector() : kSectorSize;
    for (uint16_t i = 0; i < count; ++i) {
        const auto number = static_cast<uint8_t>(first + i + 1);
        SectorRecord* s = medium_->Find(cylinder, head, number);
        if (!s || s->size() != bytesPerSector)
            return Err::SectorNotFound;
        std::span<uint8_t> data = buffer.subspan(size_t{i} * bytesPerSector, bytesPerSector);
        if (write) {
            // Rewriting a sector with its own bytes (the write-protect probe does) changes nothing.
            if (s->dataError || !std::equal(data.begin(), data.end(), s->data.begin(), s->data.end())) {
                if (const DiskError refused = PrepareToModify())
                    return refused;
                s->data.assign(data.begin(), data.end());
                s->dataError = false;
                modified = true;
            }
        } else {
            if (s->dataError || medium_->IsDefective(cylinder, head, number))
                return Err::BadCrc;
            std::copy_n(s->data.begin(), std::min(s->data.size(), data.size()), data.begin());
        }
    }
    return Err::None;
}

DiskError EmulatedDrive::VerifyTrack(uint16_t cylinder, uint8_t head)
{
    if (!medium_)
        return Err::NotReady;
    if (!params_)
        return Err::InvalidFunction;
    if (!medium_->HasTrack(cylinder, head))
        return Err::EndOfDisk;
    if (!Readable(medium_->track(cylinder, head)))
        return Err::SectorNotFound;
    for (uint16_t r = 1; r <= params_->sectorsPerTrack(); ++r) {
        const SectorRecord* s = medium_->Find(cylinder, head, static_cast<uint8_t>(r));
        if (!s || s->size() != params_->bytesPerSector())
            return Err::SectorNotFound;
        if (s->dataError || medium_->IsDefective(cylinder, head, static_cast<uint8_t>(r)))
            return Err::BadCrc;
    }
    return Err::None;
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
    if (!DriveSupports(rate) || !medium_->Supports(rate) || medium_->IsUnformattable(cylinder, head))
        return Err::SectorNotFound;

    if (const DiskError refused = PrepareToModify())
        return refused;
    const uint8_t filler = bios && table_ ? (*table_)[kFillerInTable] : kDefaultFiller;
    Track& track = medium_->track(cylinder, head);
    track.rate = rate;
    track.sectors.clear();
    for (size_t i = 0; i < sectors; ++i) {
        SectorRecord s;
        s.cylinder = addressFields[4 * i];
        s.head = addressFields[4 * i + 1];
        s.number = addressFields[4 * i + 2];
        s.sizeCode = addressFields[4 * i + 3];
        s.data.assign(s.size(), filler);
        track.sectors.push_back(std::move(s));
    }
    modified = true;
    return Err::None;
}

}  // namespace vokta
