// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <optional>
#include <span>
#include <vector>

#include "drive/dosblockdevice.h"
#include "drive/backend/emulated/driveclock.h"
#include "drive/backend/emulated/emulatedmedium.h"

namespace vokta {

enum class DriveKind : uint8_t {
    Floppy525HD,  // 5¼" 1.2M drive (device type 1)
    Floppy35DD,   // 3½" 720K drive (device type 2)
    Floppy35HD,   // 3½" 1.44M drive (device type 7)
    Floppy35ED,   // 3½" 2.88M drive (device type 9)
    FixedDisk,    // device type 5
};

uint8_t DeviceTypeOf(DriveKind kind);
// Whether a drive of this kind reads and writes tracks of this rate.
bool DriveKindSupports(DriveKind kind, DataRate rate);
// The diskette a drive of this kind takes when nothing says otherwise.
MediaType NativeMediaOf(DriveKind kind);
// A track as a format leaves it: a sector for each address field (4 bytes each), filled
// with the filler, with the gap 3 and filler of `table` on the BIOS path and the standard
// ones otherwise.
Track FormattedTrack(std::span<const uint8_t> addressFields, DataRate rate,
                     const std::optional<DisketteParameterTable>& table, bool bios);

// An in-memory diskette drive that answers like a real one under DOS, with the diskette
// in it: its defects, its write-protect tab, its unformatted tracks, and another program
// that may hold the volume.
class EmulatedDrive : public DosBlockDevice {
public:
    EmulatedDrive(DriveKind kind, uint8_t driveNumber);

    void Insert(EmulatedMedium medium);
    std::optional<EmulatedMedium> Eject();
    EmulatedMedium* medium() { return medium_ ? &*medium_ : nullptr; }
    const EmulatedMedium* medium() const { return medium_ ? &*medium_ : nullptr; }
    DriveKind kind() const { return kind_; }
    uint8_t driveNumber() const { return driveNumber_; }

    // Another program holds the volume lock.
    bool lockedElsewhere = false;

    const std::optional<DisketteParameterTable>& installedTable() const { return table_; }
    // True once a write or format changed the medium.
    bool modified = false;
    // What each request would have taken on a real drive: every request is charged to it.
    DriveClock clock;
    // How often the drive read each sector's data field, well or badly (reads and verifies).
    std::map<PhysicalSector, unsigned> sectorReads;

    bool IsDriveReady() override;
    bool InstallParameterTable(const DisketteParameterTable& table) override;
    bool RestoreParameterTable() override;
    bool Recalibrate() override;
    bool SeekHead(uint16_t cylinder) override;

protected:
    uint8_t DeviceType() const override { return DeviceTypeOf(kind_); }
    uint16_t DeviceAttributes() const override { return kind_ == DriveKind::FixedDisk ? 1 : 2; }
    MediaType NativeMedia() const override;
    bool DefaultParamsFromMedium() const override { return kind_ == DriveKind::FixedDisk; }
    bool HasBios() const override { return kind_ != DriveKind::FixedDisk; }
    DiskError ReadBootSector(std::vector<uint8_t>& sector) override;
    DiskError TransferTrack(uint16_t cylinder, uint8_t head, uint16_t first, uint16_t count,
                            std::span<uint8_t> buffer, bool write) override;
    DiskError VerifyTrack(uint16_t cylinder, uint8_t head) override;
    DiskError FormatTrack(uint16_t cylinder, uint8_t head, std::span<const uint8_t> addressFields,
                          bool bios) override;
    DiskError TakeVolume() override { return lockedElsewhere ? Err::AccessDenied : Err::None; }
    // Called before a write or format changes the medium; an error refuses the request.
    virtual DiskError PrepareToModify() { return Err::None; }
    bool VolumeHeldElsewhere() const override { return lockedElsewhere; }

private:
    DataRate RateFor(uint16_t sectorsPerTrack) const;
    // Whether the drive, set to the current parameters, can read this track at all.
    bool Readable(const Track& track) const;
    bool DriveSupports(DataRate rate) const;
    // Reads the data field of `sector`, found at `at`: false when it reads badly.
    bool ReadsWell(const SectorRecord& sector, PhysicalSector at);
    // Charges a transfer or verify of sectors first + 1 .. first + count of the track to the
    // clock; `failing` is the sector number the request stopped at with an error, 0 for none.
    void Charge(uint16_t cylinder, const Track& track, uint16_t first, uint16_t count, uint16_t failing);
    void SetClockRate(DataRate rate);

    DriveKind kind_;
    std::optional<EmulatedMedium> medium_;
    std::optional<DisketteParameterTable> table_;
    TrackShape shape_;  // the shape last charged, kept for its storage
};

}  // namespace vokta
