// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "drive/deviceparams.h"
#include "drive/diskerror.h"
#include "drive/diskservice.h"
#include "drive/media.h"

namespace vokta {

// The address fields (cylinder, head, sector number, size code; 4 bytes a sector) of a
// track formatted under the track layout of `params`: sectors 1..n where it has no entry.
std::vector<uint8_t> LayoutAddressFields(const DeviceParams& params, uint16_t cylinder, uint8_t head);

// The size code of an address field: bytes = 128 << code.
uint8_t SectorSizeCode(uint16_t bytes);

// A drive that answers the DOS block-device IOCTL and the BIOS diskette requests. The
// requests are decoded here, once for every kind of drive: the register images, the
// parameter blocks, the volume-lock stack, the device parameters and media identification
// taken from the diskette's boot sector. Each kind of drive says how its tracks are read,
// written, verified and formatted, and what holding the volume means for it.
class DosBlockDevice : public DiskService {
public:
    bool DeviceIoControl(DiskRequest& request) override;
    std::string MediaRefusal(const DeviceParams& params) override;

    // (permissions << 8) | level, as get-lock-state reports it.
    uint16_t lockState() const;
    const std::optional<DeviceParams>& currentParams() const { return params_; }

protected:
    explicit DosBlockDevice(uint8_t driveNumber) : driveNumber_(driveNumber) {}

    struct Answer {
        bool accepted = true;
        uint32_t error = 0;       // DOS error (IOCTL) or BIOS status (INT 13h); 0 = success
        bool forceCarry = false;  // a failure even with code 0
    };
    Answer Serve(DiskRequest& request);
    // Writes an answer into the request's registers.
    static void PutAnswer(DiskRequest& request, const Answer& answer);

    bool VolumeLocked() const { return !lockPermissions_.empty(); }
    // The diskette of these tracks when a drive of this kind cannot format it at all.
    std::optional<MediaType> MediumBeyondKind(uint16_t sectorsPerTrack, uint16_t cylinders) const;
    // The diskettes a drive of this kind formats; nothing where the drive itself tells which
    // (a USB floppy drive lists its capacities) or no diskette is judged.
    virtual std::optional<std::vector<MediaType>> KindFormats() const { return FormattableMedia(DeviceType()); }

    // What the drive is.
    virtual uint8_t DeviceType() const = 0;
    virtual uint16_t DeviceAttributes() const { return 2; }  // removable, with a change line
    virtual MediaType NativeMedia() const = 0;
    // A fixed disk reports its medium's parameters even when the default ones are asked.
    virtual bool DefaultParamsFromMedium() const { return false; }
    virtual bool HasBios() const { return true; }

    // What it does. Errors are DOS codes; 0 is success.
    virtual DiskError ReadBootSector(std::vector<uint8_t>& sector) = 0;
    virtual DiskError SetParams(const DeviceParams& params);
    virtual DiskError TransferTrack(uint16_t cylinder, uint8_t head, uint16_t first, uint16_t count,
                                    std::span<uint8_t> buffer, bool write) = 0;
    virtual DiskError VerifyTrack(uint16_t cylinder, uint8_t head) = 0;
    // `addressFields` come from the track layout (IOCTL) or from the caller (BIOS).
    virtual DiskError FormatTrack(uint16_t cylinder, uint8_t head, std::span<const uint8_t> addressFields,
                                  bool bios) = 0;
    virtual DiskError ResetController() { return Err::None; }

    // The volume: taken with the first lock, given back with the last unlock.
    virtual DiskError TakeVolume() { return Err::None; }
    virtual DiskError ReleaseVolume() { return Err::None; }
    virtual bool VolumeHeldElsewhere() const { return false; }

    uint8_t driveNumber_;
    std::optional<DeviceParams> params_;
    std::vector<uint16_t> lockPermissions_;  // one entry per lock taken

private:
    Answer ServeIoctl(DiskRequest& request);
    Answer ServeBios(DiskRequest& request);
    Answer GetLockState(Registers& regs);
    Answer Lock(const Registers& regs);
    Answer Unlock();
    Answer GetDeviceParams(std::span<uint8_t> block);
    Answer GetMediaId(std::span<uint8_t> block);
    Answer ReadWriteTrack(std::span<const uint8_t> block, std::span<uint8_t> buffer, bool write);
    Answer VerifyTracks(std::span<const uint8_t> block);
    Answer FormatLaidOutTrack(std::span<const uint8_t> block);
    Answer BiosFormat(const Registers& regs, std::span<const uint8_t> addressFields);
};

}  // namespace vokta
