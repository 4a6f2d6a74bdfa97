#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "drive/backend/dosblockdevice.h"
#include "drive/backend/ufi.h"
#include "drive/drivetable.h"

namespace vokta {

// The device type a USB floppy drive reports, from the largest capacity it can format.
uint8_t DeviceTypeOfCapacities(const std::vector<Ufi::Capacity>& capacities);

// The SCSI generic path to /dev/sdX or /dev/sgN (`SG_IO`).
class SgIoTransport final : public ScsiTransport {
public:
    // nullptr with errno in `error` when the device cannot be opened.
    static std::unique_ptr<SgIoTransport> Open(const std::string& device, int& error);
    ~SgIoTransport() override;
    SgIoTransport(const SgIoTransport&) = delete;
    SgIoTransport& operator=(const SgIoTransport&) = delete;

    ScsiOutcome Run(std::span<const uint8_t> cdb, ScsiDirection direction, std::span<uint8_t> data,
                    unsigned timeoutMs) override;
    int Hold(bool exclusive) override;
    bool HeldElsewhere() const override;

private:
    SgIoTransport(std::string device, int fd) : device_(std::move(device)), fd_(fd) {}
    std::string device_;
    int fd_ = -1;
    bool exclusive_ = false;
};

// A USB floppy drive, talked to with the UFI command set. It reads and writes a track per
// command; formats one track per FORMAT UNIT, the drive laying the sectors out itself; and
// takes only the capacities it lists as formattable.
class UsbFloppyDrive final : public DosBlockDevice {
public:
    // `device` is /dev/sdX or /dev/sgN.
    static DriveOpenResult Open(const std::string& device, uint8_t driveNumber);
    // The drive behind any transport; `device` names it in messages.
    static DriveOpenResult Attach(std::unique_ptr<ScsiTransport> transport, const std::string& device,
                                  uint8_t driveNumber);

    bool IsDriveReady() override;
    bool InstallParameterTable(const DisketteParameterTable& table) override;
    bool RestoreParameterTable() override;

    // The drive numbers the sectors of every track it formats itself.
    bool LayoutHonoured() const override { return !formatted_; }
    std::optional<DriverLayout> LayoutChosenByDriver() const override;

    const std::vector<Ufi::Capacity>& Capacities() const { return capacities_; }

protected:
    uint8_t DeviceType() const override { return deviceType_; }
    MediaType NativeMedia() const override;
    DiskError ReadBootSector(std::vector<uint8_t>& sector) override;
    DiskError SetParams(const DeviceParams& params) override;
    DiskError TransferTrack(uint16_t cylinder, uint8_t head, uint16_t first, uint16_t count,
                            std::span<uint8_t> buffer, bool write) override;
    DiskError VerifyTrack(uint16_t cylinder, uint8_t head) override;
    DiskError FormatTrack(uint16_t cylinder, uint8_t head, std::span<const uint8_t> addressFields,
                          bool bios) override;
    DiskError TakeVolume() override;
    DiskError ReleaseVolume() override;
    bool VolumeHeldElsewhere() const override;

private:
    UsbFloppyDrive(std::unique_ptr<ScsiTransport> transport, std::string device, uint8_t driveNumber,
                   std::vector<Ufi::Capacity> capacities);

    std::unique_ptr<ScsiTransport> transport_;
    std::string device_;
    std::vector<Ufi::Capacity> capacities_;
    uint8_t deviceType_;
    bool formatted_ = false;
};

}  // namespace vokta
