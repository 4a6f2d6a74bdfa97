#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "drive/backend/dosblockdevice.h"
#include "drive/backend/emulatedmedium.h"

namespace vokta {

enum class DriveKind : uint8_t {
    Floppy525HD,  // 5¼" 1.2M drive (device type 1)
    Floppy35DD,   // 3½" 720K drive (device type 2)
    Floppy35HD,   // 3½" 1.44M drive (device type 7)
    Floppy35ED,   // 3½" 2.88M drive (device type 9)
    FixedDisk,    // device type 5
};

uint8_t DeviceTypeOf(DriveKind kind);

// A request as the drive received it, and how it was answered.
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

// An injected answer: refuse the request outright, or fail it (carry set) with an error,
// a DOS code for an IOCTL, a BIOS status for INT 13h.
struct InjectedFault {
    bool refuse = false;
    uint32_t error = 0;
};

// An in-memory diskette drive that answers like a real one under DOS, with the diskette
// in it. Every request is logged; tests can inject faults.
class EmulatedDrive : public DosBlockDevice {
public:
    EmulatedDrive(DriveKind kind, uint8_t driveNumber);

    void Insert(EmulatedMedium medium);
    std::optional<EmulatedMedium> Eject();
    EmulatedMedium* medium() { return medium_ ? &*medium_ : nullptr; }
    const EmulatedMedium* medium() const { return medium_ ? &*medium_ : nullptr; }
    DriveKind kind() const { return kind_; }
    uint8_t driveNumber() const { return driveNumber_; }

    // Consulted before each request; an answer replaces the drive's own.
    std::function<std::optional<InjectedFault>(const DiskRequest&)> faultHook;
    // Fails the next `times` requests for which `match` holds with `error`.
    void FailNext(std::function<bool(const DiskRequest&)> match, int times, uint32_t error);
    // Another program holds the volume lock.
    bool lockedElsewhere = false;

    std::vector<LoggedRequest> log;
    std::vector<LoggedRequest> Requests(uint8_t minor) const;

    const std::optional<DisketteParameterTable>& installedTable() const { return table_; }
    // True once a write or format changed the medium.
    bool modified = false;

    bool DeviceIoControl(DiskRequest& request) override;
    bool IsDriveReady() override;
    bool InstallParameterTable(const DisketteParameterTable& table) override;
    bool RestoreParameterTable() override;

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

    DriveKind kind_;
    std::optional<EmulatedMedium> medium_;
    std::optional<DisketteParameterTable> table_;
};

}  // namespace vokta
