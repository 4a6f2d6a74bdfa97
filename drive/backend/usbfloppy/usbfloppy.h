// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "drive/dosblockdevice.h"
#include "drive/backend/usbfloppy/ufi.h"
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
    SgIoTransport(std::string device, int fd, bool writable, bool generic)
        : device_(std::move(device)), fd_(fd), writable_(writable), generic_(generic)
    {
    }
    // Opens the device for reading and writing, or for reading alone while the disk driver
    // refuses writers (a write-protected diskette); 0 or errno.
    int Reopen(bool exclusive);

    std::string device_;
    int fd_ = -1;
    bool writable_ = true;
    bool generic_ = false;  // /dev/sgN rather than the disk's own node
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
    // The drive formats at the density of the capacity asked for; it has no parameter
    // table to patch.
    bool InstallParameterTable(const DisketteParameterTable& table) override;
    bool RestoreParameterTable() override;

    // The drive numbers the sectors of every track it formats itself.
    bool LayoutHonoured() const override { return !formatted_; }
    std::string MediaRefusal(const DeviceParams& params) override;
    bool Recalibrate() override;
    // To the track of the cylinder's first block; needs the parameters of the diskette.
    bool SeekHead(uint16_t cylinder) override;

    // What the drive formats with the diskette that was in it last.
    const std::vector<Ufi::Capacity>& Formattable() const { return formattable_; }

protected:
    uint8_t DeviceType() const override { return deviceType_; }
    MediaType NativeMedia() const override;
    // The capacities the drive lists decide, not its device type.
    std::optional<std::vector<MediaType>> KindFormats() const override { return std::nullopt; }
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
    struct Result {
        DiskError error = Err::None;
        std::optional<Ufi::Sense> sense;  // what the drive said about a failure, when it said anything
        size_t residual = 0;              // bytes of the data phase that did not move

        // The error of a transfer: fewer bytes than asked for, without a word why, leave
        // the sectors past them unmoved.
        DiskError Whole() const { return error != Err::None ? error : residual != 0 ? Err::SectorNotFound : Err::None; }
    };

    UsbFloppyDrive(std::unique_ptr<ScsiTransport> transport, uint8_t driveNumber, uint8_t deviceType);

    // Whether the device is a floppy drive; learns its device type on the way.
    bool Identify();
    // Runs one command; a failure comes back with the drive's sense data.
    Result Command(const Ufi::Cdb& cdb, ScsiDirection direction, std::span<uint8_t> data, unsigned timeoutMs);
    // The same, tried again while the drive reports a diskette change or a reset first.
    Result CommandPastAttention(const Ufi::Cdb& cdb, ScsiDirection direction, std::span<uint8_t> data,
                                unsigned timeoutMs);
    // Reads the capacities and the write-protect tab of the diskette in the drive.
    DiskError LearnMedium();
    // Why there is no diskette to work on, or 0. A diskette not known yet is learnt first;
    // with `relearn`, any diskette is. The disk driver's own polling may take
    // the drive's word of a diskette change before we see it, so the points where an
    // operation starts on a diskette do not rely on that word.
    DiskError PresentMedium(bool relearn = false);
    void ForgetMedium();
    // Why the track cannot be moved with the current parameters, or 0.
    DiskError TrackRefusal(uint16_t cylinder, uint8_t head) const;
    uint32_t FirstBlockOf(uint16_t cylinder, uint8_t head) const;
    DiskError VerifyByReading(uint32_t lba, uint16_t blocks);

    std::unique_ptr<ScsiTransport> transport_;
    uint8_t deviceType_;
    // The diskette in the drive, as the drive last described it.
    bool mediumKnown_ = false;
    bool writeProtected_ = false;
    std::optional<Ufi::Capacity> recorded_;  // the format on it; none while unformatted
    std::vector<Ufi::Capacity> formattable_;
    bool formatted_ = false;
    bool verifyByRead_ = false;
};

}  // namespace vokta
