// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <linux/fd.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "drive/dosblockdevice.h"
#include "drive/drivetable.h"

namespace vokta {

// Places in the BIOS diskette parameter table.
namespace ParameterTable {
constexpr size_t Specify1 = 0;
constexpr size_t SectorsPerTrack = 4;
constexpr size_t Gap = 5;
constexpr size_t FormatGap = 7;
constexpr size_t Filler = 8;
}  // namespace ParameterTable

// The device-type byte of a drive from the kernel's CMOS drive type (1..6), or, when that
// is unknown, from the name of its native format ("d360", "h1200", "D720", "H1440",
// "E2880").
std::optional<uint8_t> DeviceTypeOfFloppyDrive(int cmosType, std::string_view nativeFormat);

// The driver's description of the medium (`FDSETPRM`) that `params` describe, in a drive of
// `deviceType`. While `dmfTable` is given, 21-sector media take its gaps and step rate.
floppy_struct FloppyGeometryOf(const DeviceParams& params, uint8_t deviceType,
                               const DisketteParameterTable* dmfTable);

// Status bytes of the controller after a command.
struct FdcStatus {
    uint8_t st0 = 0;
    uint8_t st1 = 0;
    uint8_t st2 = 0;
};

// The BIOS diskette status that a controller answer amounts to; 0 for success.
uint8_t BiosStatusOfFdc(const FdcStatus& status);

enum class FloppyOp : uint8_t { Read, Write, Verify, Format, Control };

// A failed request to the driver, and what the drive said right after it.
struct DriverFailure {
    FloppyOp op = FloppyOp::Read;
    int error = 0;  // errno of the failed call; 0 for a transfer that came up short
    bool diskPresent = true;
    bool writable = true;
    bool mediumChanged = false;
    std::optional<FdcStatus> fdc;  // the controller's own answer, where raw commands exist
};

DiskError DiskErrorOfDriverFailure(const DriverFailure& failure);

// The order in which the driver's own format request numbers the sectors of a track of
// the medium `geometry` describes.
DriverLayout KernelFormatLayout(const floppy_struct& geometry);

// Raw controller commands (`FDRAWCMD`). `unit` is the drive on its controller (0..3); the
// cylinder is the logical one, `doubleStep` moves the head two tracks per cylinder.
floppy_raw_cmd RawFormatCommand(uint8_t unit, uint8_t head, uint16_t cylinder, bool doubleStep,
                                std::span<uint8_t> addressFields, uint8_t sizeCode, uint8_t gap,
                                uint8_t filler, uint8_t rate);
floppy_raw_cmd RawReadCommand(uint8_t unit, uint8_t head, uint16_t cylinder, bool doubleStep,
                              uint8_t firstSector, uint8_t lastSector, uint8_t sizeCode,
                              uint8_t gap, uint8_t rate, std::span<uint8_t> buffer);

// The head to track 0, and to a cylinder: no data moves, the controller reports the end
// of the seek in ST0 and the cylinder reached.
floppy_raw_cmd RawRecalibrateCommand(uint8_t unit);
floppy_raw_cmd RawSeekCommand(uint8_t unit, uint8_t head, uint16_t cylinder, bool doubleStep);
enum class SeekEnd : uint8_t { Reached, ShortOfTrack0, Failed };
// How a recalibrate or seek ended, from the reply of the raw command: a recalibrate from
// further out than the controller steps in one command ends short of track 0.
SeekEnd SeekEndOf(const floppy_raw_cmd& command);

// Why the device could not be opened, in words for the user.
std::string FloppyOpenFailureDetail(const std::string& device, int error, const std::string& group);
// What failing to open a diskette device with `error` (errno) amounts to.
DiskError DeviceOpenError(int error);
// The group that owns the device node; empty when unknown.
std::string DeviceGroupOf(const std::string& device);
// Whether another program holds the device exclusively (a mounted file system, say).
bool DeviceHeldElsewhere(const std::string& device);
// The media a drive of this device type takes natively.
MediaType NativeMediaOfDeviceType(uint8_t deviceType);

// A real diskette drive, /dev/fdN, through the kernel floppy driver. It answers the block-
// device IOCTL and BIOS requests as the emulated drive does: geometry per medium with
// `FDSETPRM`, whole-track transfers through the block device with O_DIRECT, formats with
// `FDRAWCMD` where the kernel offers it and otherwise with the driver's own format request,
// and the volume lock as an exclusive open of the device.
class LinuxFloppyDrive final : public DosBlockDevice {
public:
    static DriveOpenResult Open(const std::string& device, uint8_t driveNumber);
    ~LinuxFloppyDrive() override;

    LinuxFloppyDrive(const LinuxFloppyDrive&) = delete;
    LinuxFloppyDrive& operator=(const LinuxFloppyDrive&) = delete;

    bool IsDriveReady() override;
    bool InstallParameterTable(const DisketteParameterTable& table) override;
    bool RestoreParameterTable() override;

    // False once a track was formatted by the driver's own format request (no raw
    // commands in this kernel): the driver then numbers the sectors in an order of its
    // own, so neither the standard nor the optimized layout asked for is on the diskette.
    bool LayoutHonoured() const override { return !driverLayout_; }
    std::optional<DriverLayout> LayoutChosenByDriver() const override { return driverLayout_; }
    bool RawCommandsAvailable() const { return rawCommands_; }
    // With raw commands the controller's own recalibrate and seek. Without them the
    // driver recalibrates before its next access once the controller was reset, and
    // offers no seek that reads nothing.
    bool Recalibrate() override;
    bool SeekHead(uint16_t cylinder) override;

protected:
    uint8_t DeviceType() const override { return deviceType_; }
    MediaType NativeMedia() const override;
    // Reads the boot sector of the diskette in the drive at each data rate the drive
    // offers until one answers.
    DiskError ReadBootSector(std::vector<uint8_t>& sector) override;
    DiskError SetParams(const DeviceParams& params) override;
    DiskError TransferTrack(uint16_t cylinder, uint8_t head, uint16_t first, uint16_t count,
                            std::span<uint8_t> buffer, bool write) override;
    DiskError VerifyTrack(uint16_t cylinder, uint8_t head) override;
    DiskError FormatTrack(uint16_t cylinder, uint8_t head, std::span<const uint8_t> addressFields,
                          bool bios) override;
    DiskError ResetController() override;
    // The volume lock is an exclusive open of the device.
    DiskError TakeVolume() override;
    DiskError ReleaseVolume() override;
    bool VolumeHeldElsewhere() const override;

private:
    struct DriveState {
        bool present = false;
        bool writable = false;
    };

    LinuxFloppyDrive(std::string device, int fd, uint8_t driveNumber, uint8_t deviceType, uint8_t unit);

    // The medium as the driver sees it now. After a diskette change every buffered copy
    // of the old diskette is dropped and the new one gets the geometry last set.
    std::optional<DriveState> Refresh(int& error);
    // A DOS error for a request that failed with `error` (errno, 0 = short transfer).
    DiskError Classify(FloppyOp op, int error, uint16_t cylinder, uint8_t head, uint8_t firstSector,
                       uint8_t lastSector);
    bool ApplyGeometry(const floppy_struct& geometry, int& error);
    bool ApplyCurrentGeometry(int& error);
    // Why there is no diskette to work on, or 0 with the drive's state.
    DiskError PresentMedium(DriveState& state);
    // Why a track cannot be formatted now, or 0.
    DiskError FormatRefusal(uint16_t cylinder, uint8_t head);
    DiskError FormatTrackWith(uint16_t cylinder, uint8_t head, std::span<uint8_t> addressFields, uint8_t gap,
                              uint8_t filler);
    int RunRawCommand(floppy_raw_cmd& command);
    bool PreciseStatus(floppy_raw_cmd command, FdcStatus& status);
    // Moves `count` sectors from/to the diskette at absolute sector `lba`; errno or -1 for
    // a transfer that came up short.
    int Transfer(uint32_t lba, size_t count, std::span<uint8_t> data, bool write);
    bool Reopen(bool exclusive, int& error);
    bool IsTrackOnMedium(uint16_t cylinder, uint16_t head) const;

    std::string device_;
    int fd_ = -1;
    bool exclusive_ = false;
    uint8_t deviceType_;
    uint8_t unit_;
    int generation_ = -1;
    std::optional<floppy_struct> applied_;
    std::optional<DisketteParameterTable> table_;
    bool rawCommands_ = true;
    // Set once the driver formatted a track in an order of its own.
    std::optional<DriverLayout> driverLayout_;
    std::unique_ptr<uint8_t, void (*)(void*)> bounce_;
    size_t bounceSize_ = 0;
};

// A drive letter bound to a floppy device, or nothing when the device is not a floppy drive.
std::optional<DriveBinding> LinuxFloppyBinding(char letter, const std::string& device);

}  // namespace vokta
