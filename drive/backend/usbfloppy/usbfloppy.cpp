// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/backend/usbfloppy/usbfloppy.h"

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "drive/backend/linuxfloppy/linuxfloppy.h"
#include "drive/diskdrive.h"
#include "res/strings.h"

namespace vokta {
namespace {

// O_NONBLOCK opens the drive without a diskette in it.
constexpr int kOpenFlags = O_RDWR | O_NONBLOCK | O_CLOEXEC;
constexpr unsigned kCommandTimeoutMs = 20'000;
// A track format takes a few revolutions, but a drive may first spin up and recalibrate.
constexpr unsigned kFormatTimeoutMs = 60'000;
// How often a command meets a diskette change or a reset before the drive is taken as failing.
constexpr int kAttentionTries = 4;
constexpr uint8_t kScsiBusy = 0x08;

bool IsAttention(const std::optional<Ufi::Sense>& sense)
{
    return sense && sense->key == Ufi::SenseKey::UnitAttention;
}

bool IsNoMedium(const std::optional<Ufi::Sense>& sense)
{
    return sense && sense->key == Ufi::SenseKey::NotReady && sense->asc == 0x3A;
}

DiskError ErrorOfTransport(int error)
{
    switch (error) {
    case ENOMEDIUM:
    case ENODEV:
    case ENXIO:
    case ETIMEDOUT:
    case EIO: return Err::NotReady;
    case EACCES:
    case EPERM: return Err::AccessDenied;
    case ENOMEM: return Err::InsufficientBuffer;
    case EBUSY: return Err::DriveLocked;
    default: return Err::UnknownError;
    }
}

std::string CapacityNames(const std::vector<Ufi::Capacity>& capacities)
{
    std::string names;
    for (const Ufi::Capacity& c : capacities)
        names += (names.empty() ? "" : ", ") + Ufi::CapacityName(c);
    return names;
}

// A descriptor on the device for reading and writing, or for reading alone when the disk
// driver refuses writers because the diskette in the drive is write-protected.
int OpenDevice(const std::string& device, bool exclusive, bool& writable)
{
    const int flags = kOpenFlags | (exclusive ? O_EXCL : 0);
    int fd = open(device.c_str(), flags);
    writable = fd >= 0;
    if (fd < 0 && errno == EROFS)
        fd = open(device.c_str(), (flags & ~O_RDWR) | O_RDONLY);
    return fd;
}

}  // namespace

uint8_t DeviceTypeOfCapacities(const std::vector<Ufi::Capacity>& capacities)
{
    uint64_t largest = 0;
    for (const Ufi::Capacity& c : capacities)
        if (Ufi::GeometryOfCapacity(c))
            largest = std::max(largest, c.bytes());
    if (largest == 0 || largest >= ImageSizeOf(kMedia144M))
        return DeviceType::Floppy144M;
    if (largest >= ImageSizeOf(kMedia12M))
        return DeviceType::Floppy12M;
    return DeviceType::Floppy720K;
}

// The SCSI generic path.

std::unique_ptr<SgIoTransport> SgIoTransport::Open(const std::string& device, int& error)
{
    bool writable = false;
    const int fd = OpenDevice(device, false, writable);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    int version = 0;
    // Only a SCSI device (a disk, or its generic node) answers SG_IO.
    if (ioctl(fd, SG_GET_VERSION_NUM, &version) != 0 || version < 30000) {
        close(fd);
        error = ENOTTY;
        return nullptr;
    }
    struct stat st {};
    const bool generic = fstat(fd, &st) == 0 && S_ISCHR(st.st_mode);
    return std::unique_ptr<SgIoTransport>(new SgIoTransport(device, fd, writable, generic));
}

SgIoTransport::~SgIoTransport()
{
    if (fd_ >= 0)
        close(fd_);
}

ScsiOutcome SgIoTransport::Run(std::span<const uint8_t> cdb, ScsiDirection direction, std::span<uint8_t> data,
                               unsigned timeoutMs)
{
    std::array<uint8_t, 32> sense{};
    sg_io_hdr_t io{};
    io.interface_id = 'S';
    io.cmd_len = static_cast<unsigned char>(cdb.size());
    io.cmdp = const_cast<unsigned char*>(cdb.data());
    io.dxfer_direction = direction == ScsiDirection::In    ? SG_DXFER_FROM_DEV
                         : direction == ScsiDirection::Out ? SG_DXFER_TO_DEV
                                                           : SG_DXFER_NONE;
    io.dxfer_len = direction == ScsiDirection::None ? 0 : static_cast<unsigned>(data.size());
    io.dxferp = direction == ScsiDirection::None ? nullptr : data.data();
    io.mx_sb_len = static_cast<unsigned char>(sense.size());
    io.sbp = sense.data();
    io.timeout = timeoutMs;

    ScsiOutcome outcome;
    bool reopened = false;
    while (ioctl(fd_, SG_IO, &io) != 0) {
        const int error = errno;
        if (error == EINTR)
            continue;
        // Commands that write are refused on a descriptor opened for reading alone: the
        // diskette that was protected may have been changed for one that is not.
        if ((error == EPERM || error == EACCES) && !writable_ && !reopened) {
            reopened = true;
            if (Reopen(exclusive_) == 0 && writable_)
                continue;
        }
        outcome.error = error;
        return outcome;
    }
    // The command never got an answer from the drive: a reset, a time-out, a drive pulled out.
    constexpr unsigned kDidTimeOut = 0x03;
    if (io.host_status != 0) {
        outcome.error = io.host_status == kDidTimeOut ? ETIMEDOUT : EIO;
        return outcome;
    }
    outcome.status = io.status;
    outcome.sense.assign(sense.begin(), sense.begin() + io.sb_len_wr);
    outcome.residual = io.resid > 0 ? static_cast<size_t>(io.resid) : 0;
    // A status of its own says more than the driver's summary of it.
    if (io.status == kScsiGood && (io.driver_status & 0x07) != 0)
        outcome.error = EIO;
    return outcome;
}

int SgIoTransport::Reopen(bool exclusive)
{
    // The generic node counts our own handle against an exclusive open, where the disk
    // node does not; there the old handle is open until the new one is, so the disk driver
    // keeps its state of the drive.
    if (generic_) {
        close(fd_);
        fd_ = -1;
    }
    bool writable = false;
    const int fd = OpenDevice(device_, exclusive, writable);
    if (fd < 0) {
        const int error = errno;
        if (generic_)
            fd_ = OpenDevice(device_, exclusive_, writable_);
        return error;
    }
    if (fd_ >= 0)
        close(fd_);
    fd_ = fd;
    writable_ = writable;
    exclusive_ = exclusive;
    return 0;
}

int SgIoTransport::Hold(bool exclusive)
{
    return Reopen(exclusive);
}

bool SgIoTransport::HeldElsewhere() const
{
    return !exclusive_ && DeviceHeldElsewhere(device_);
}

// The drive.

UsbFloppyDrive::UsbFloppyDrive(std::unique_ptr<ScsiTransport> transport, uint8_t driveNumber, uint8_t deviceType)
    : DosBlockDevice(driveNumber), transport_(std::move(transport)), deviceType_(deviceType)
{
}

DriveOpenResult UsbFloppyDrive::Open(const std::string& device, uint8_t driveNumber)
{
    int error = 0;
    std::unique_ptr<SgIoTransport> transport = SgIoTransport::Open(device, error);
    if (!transport) {
        if (error == ENOTTY)
            return {nullptr, Err::InvalidDrive, device + ": " + LoadString(Str::NotAFloppyDrive)};
        return {nullptr, DeviceOpenError(error), FloppyOpenFailureDetail(device, error, DeviceGroupOf(device))};
    }
    return Attach(std::move(transport), device, driveNumber);
}

DriveOpenResult UsbFloppyDrive::Attach(std::unique_ptr<ScsiTransport> transport, const std::string& device,
                                       uint8_t driveNumber)
{
    std::unique_ptr<UsbFloppyDrive> drive(new UsbFloppyDrive(std::move(transport), driveNumber, 0));
    if (!drive->Identify())
        return {nullptr, Err::InvalidDrive, device + ": " + LoadString(Str::NotAFloppyDrive)};
    return {std::move(drive), Err::None, {}};
}

bool UsbFloppyDrive::Identify()
{
    // A direct-access device with removable media, that lists diskette capacities.
    std::array<uint8_t, Ufi::kInquiryLength> inquiry{};
    if (CommandPastAttention(Ufi::Inquiry(), ScsiDirection::In, inquiry, kCommandTimeoutMs).error != Err::None ||
        (inquiry[0] & 0x1F) != 0 || (inquiry[1] & 0x80) == 0)
        return false;
    std::array<uint8_t, Ufi::kCapacityListLength> data{};
    if (CommandPastAttention(Ufi::ReadFormatCapacities(), ScsiDirection::In, data, kCommandTimeoutMs).error != Err::None)
        return false;
    const std::optional<Ufi::CapacityList> list = Ufi::ParseCapacityList(data);
    if (!list)
        return false;
    std::vector<Ufi::Capacity> all = list->formattable;
    all.push_back(list->currentCapacity);
    if (std::none_of(all.begin(), all.end(), [](const Ufi::Capacity& c) { return Ufi::GeometryOfCapacity(c); }))
        return false;
    deviceType_ = DeviceTypeOfCapacities(all);
    formattable_ = list->formattable;
    return true;
}

UsbFloppyDrive::Result UsbFloppyDrive::Command(const Ufi::Cdb& cdb, ScsiDirection direction,
                                               std::span<uint8_t> data, unsigned timeoutMs)
{
    const ScsiOutcome outcome = transport_->Run(cdb, direction, data, timeoutMs);
    if (outcome.error)
        return {ErrorOfTransport(outcome.error), std::nullopt};
    if (outcome.status == kScsiBusy)
        return {Err::NotReady, std::nullopt};
    if (outcome.status != kScsiCheckCondition) {
        if (outcome.status != kScsiGood)
            return {Err::UnknownError, std::nullopt};
        return {Err::None, std::nullopt, outcome.residual};
    }
    std::optional<Ufi::Sense> sense = Ufi::ParseSense(outcome.sense);
    if (!sense) {
        // The path did not fetch the sense data with the failure: the drive keeps it until asked.
        std::array<uint8_t, Ufi::kSenseLength> fetched{};
        if (transport_->Run(Ufi::RequestSense(), ScsiDirection::In, fetched, kCommandTimeoutMs).good())
            sense = Ufi::ParseSense(fetched);
    }
    if (IsAttention(sense) || IsNoMedium(sense))
        ForgetMedium();
    const DiskError error = sense ? Ufi::DiskErrorOfSense(*sense) : Err::UnknownError;
    // A command that failed is never a success, whatever the sense data says.
    return {error != Err::None ? error : Err::UnknownError, sense, outcome.residual};
}

UsbFloppyDrive::Result UsbFloppyDrive::CommandPastAttention(const Ufi::Cdb& cdb, ScsiDirection direction,
                                                            std::span<uint8_t> data, unsigned timeoutMs)
{
    Result result;
    for (int attempt = 0; attempt < kAttentionTries; ++attempt) {
        result = Command(cdb, direction, data, timeoutMs);
        if (!IsAttention(result.sense))
            break;
    }
    return result;
}

void UsbFloppyDrive::ForgetMedium()
{
    mediumKnown_ = false;
    recorded_.reset();
}

DiskError UsbFloppyDrive::LearnMedium()
{
    std::array<uint8_t, Ufi::kCapacityListLength> data{};
    if (const Result r = CommandPastAttention(Ufi::ReadFormatCapacities(), ScsiDirection::In, data, kCommandTimeoutMs);
        r.error != Err::None)
        return r.error;
    const std::optional<Ufi::CapacityList> list = Ufi::ParseCapacityList(data);
    if (!list)
        return Err::UnknownError;
    if (list->current == Ufi::DescriptorType::NoMedium)
        return Err::NotReady;
    std::array<uint8_t, Ufi::kModeSenseLength> mode{};
    const Result sensed = CommandPastAttention(Ufi::ModeSense10(), ScsiDirection::In, mode, kCommandTimeoutMs);
    // A drive without the mode pages still refuses the writes a protected diskette does not take.
    if (sensed.error != Err::None && sensed.error != Err::InvalidFunction)
        return sensed.error;
    writeProtected_ = sensed.error == Err::None && Ufi::WriteProtectedInModeHeader(mode).value_or(false);
    formattable_ = list->formattable;
    recorded_.reset();
    if (list->current == Ufi::DescriptorType::Formatted)
        recorded_ = list->currentCapacity;
    mediumKnown_ = true;
    return Err::None;
}

DiskError UsbFloppyDrive::PresentMedium(bool relearn)
{
    // A diskette taken out or changed since is reported by the next command itself, which
    // then forgets it: while it is known, asking the drive first would only double the commands.
    if (mediumKnown_ && !relearn)
        return Err::None;
    const Result ready = CommandPastAttention(Ufi::TestUnitReady(), ScsiDirection::None, {}, kCommandTimeoutMs);
    if (ready.error != Err::None) {
        // An unformatted diskette is there all the same; the drive says so only in the sense.
        const bool unformatted = ready.sense && ready.sense->key == Ufi::SenseKey::MediumError;
        if (!unformatted) {
            ForgetMedium();
            return ready.error;
        }
    }
    return LearnMedium();
}

bool UsbFloppyDrive::IsDriveReady()
{
    // Asked when a diskette is awaited: the one now in the drive is learnt afresh.
    return PresentMedium(true) == Err::None;
}

bool UsbFloppyDrive::InstallParameterTable(const DisketteParameterTable& /*table*/)
{
    return false;
}

bool UsbFloppyDrive::RestoreParameterTable()
{
    return false;
}

MediaType UsbFloppyDrive::NativeMedia() const
{
    return NativeMediaOfDeviceType(deviceType_);
}

DiskError UsbFloppyDrive::SetParams(const DeviceParams& params)
{
    if (params.sectorsPerTrack() == 0 || params.heads() == 0)
        return Err::UnrecognizedMedia;
    params_ = params;
    return Err::None;
}

uint32_t UsbFloppyDrive::FirstBlockOf(uint16_t cylinder, uint8_t head) const
{
    return (uint32_t{cylinder} * params_->heads() + head) * params_->sectorsPerTrack();
}

DiskError UsbFloppyDrive::TrackRefusal(uint16_t cylinder, uint8_t head) const
{
    if (cylinder >= params_->cylinders() || head >= params_->heads())
        return Err::EndOfDisk;
    // The drive addresses blocks, not sectors of a track: under any other geometry than the
    // diskette's own, a block number would land on another track than the one asked for.
    const Ufi::Capacity asked =
        Ufi::CapacityOf(params_->cylinders(), static_cast<uint8_t>(params_->heads()), params_->sectorsPerTrack(),
                        params_->bytesPerSector());
    if (!recorded_ || *recorded_ != asked)
        return Err::SectorNotFound;
    return Err::None;
}

DiskError UsbFloppyDrive::ReadBootSector(std::vector<uint8_t>& sector)
{
    if (const DiskError absent = PresentMedium(true); absent != Err::None)
        return absent;
    if (!recorded_)
        return Err::SectorNotFound;
    sector.assign(recorded_->blockLength, 0);
    const Result read = CommandPastAttention(Ufi::Read10(0, 1), ScsiDirection::In, sector, kCommandTimeoutMs);
    sector.resize(std::max<size_t>(sector.size(), kSectorSize), 0);
    return read.Whole();
}

DiskError UsbFloppyDrive::TransferTrack(uint16_t cylinder, uint8_t head, uint16_t first, uint16_t count,
                                        std::span<uint8_t> buffer, bool write)
{
    if (!params_)
        return Err::InvalidFunction;
    if (const DiskError absent = PresentMedium(); absent != Err::None)
        return absent;
    if (write && !VolumeLocked())
        return Err::AccessDenied;
    if (write && writeProtected_)
        return Err::WriteProtect;
    if (const DiskError refused = TrackRefusal(cylinder, head); refused != Err::None)
        return refused;
    if (params_->bytesPerSector() != kSectorSize || first + count > params_->sectorsPerTrack())
        return Err::SectorNotFound;
    if (count == 0)
        return Err::None;
    const uint32_t lba = FirstBlockOf(cylinder, head) + first;
    const std::span<uint8_t> data = buffer.first(size_t{count} * kSectorSize);
    const Ufi::Cdb cdb = write ? Ufi::Write10(lba, count) : Ufi::Read10(lba, count);
    return Command(cdb, write ? ScsiDirection::Out : ScsiDirection::In, data, kCommandTimeoutMs).Whole();
}

bool UsbFloppyDrive::Recalibrate()
{
    return CommandPastAttention(Ufi::RezeroUnit(), ScsiDirection::None, {}, kCommandTimeoutMs).error == Err::None;
}

bool UsbFloppyDrive::SeekHead(uint16_t cylinder)
{
    if (!params_ || cylinder >= params_->cylinders())
        return false;
    const Ufi::Cdb seek = Ufi::Seek10(FirstBlockOf(cylinder, 0));
    return CommandPastAttention(seek, ScsiDirection::None, {}, kCommandTimeoutMs).error == Err::None;
}

DiskError UsbFloppyDrive::VerifyByReading(uint32_t lba, uint16_t blocks)
{
    std::vector<uint8_t> scratch(size_t{blocks} * params_->bytesPerSector());
    const Result read = Command(Ufi::Read10(lba, blocks), ScsiDirection::In, scratch, kCommandTimeoutMs);
    return read.Whole();
}

DiskError UsbFloppyDrive::VerifyTrack(uint16_t cylinder, uint8_t head)
{
    if (!params_)
        return Err::InvalidFunction;
    if (const DiskError absent = PresentMedium(); absent != Err::None)
        return absent;
    if (const DiskError refused = TrackRefusal(cylinder, head); refused != Err::None)
        return refused;
    const uint32_t lba = FirstBlockOf(cylinder, head);
    const uint16_t blocks = params_->sectorsPerTrack();
    if (verifyByRead_)
        return VerifyByReading(lba, blocks);
    const Result verified = Command(Ufi::Verify(lba, blocks), ScsiDirection::None, {}, kCommandTimeoutMs);
    // Some drives lack VERIFY, and say so or say nothing: reading the track checks it as well.
    const bool lacking = verified.error != Err::None && (!verified.sense || (verified.sense->key == Ufi::SenseKey::IllegalRequest &&
                                                                verified.sense->asc == 0x20));
    if (!lacking)
        return verified.error;
    verifyByRead_ = true;
    return VerifyByReading(lba, blocks);
}

DiskError UsbFloppyDrive::FormatTrack(uint16_t cylinder, uint8_t head, std::span<const uint8_t> addressFields,
                                      bool bios)
{
    // Size codes above 7 name no sector a diskette holds (and would overflow the length).
    if (!params_ || addressFields.size() < 4 || addressFields[3] > 7 ||
        (bios && size_t{params_->sectorsPerTrack()} * 4 != addressFields.size()))
        return Err::UnrecognizedMedia;
    if (const DiskError absent = PresentMedium(); absent != Err::None)
        return absent;
    if (writeProtected_)
        return Err::WriteProtect;
    if (cylinder >= params_->cylinders() || head >= params_->heads() || cylinder > 0xFF)
        return Err::EndOfDisk;
    // The drive is told the capacity, never the sectors: it lays the track out itself.
    const Ufi::Capacity capacity =
        Ufi::CapacityOf(params_->cylinders(), static_cast<uint8_t>(params_->heads()),
                        static_cast<uint16_t>(addressFields.size() / 4), static_cast<uint16_t>(128u << addressFields[3]));
    if (std::find(formattable_.begin(), formattable_.end(), capacity) == formattable_.end())
        return Err::UnrecognizedMedia;
    std::array<uint8_t, Ufi::kFormatParameterLength> list =
        Ufi::FormatParameters(head, capacity.blocks, capacity.blockLength);
    if (const DiskError error =
            Command(Ufi::FormatUnit(static_cast<uint8_t>(cylinder)), ScsiDirection::Out, list, kFormatTimeoutMs).error;
        error != Err::None)
        return error;
    formatted_ = true;
    // From now on the drive reads and writes the diskette at the new capacity.
    recorded_ = capacity;
    return Err::None;
}

std::string UsbFloppyDrive::MediaRefusal(const DeviceParams& params)
{
    if (PresentMedium() != Err::None || params.heads() == 0)
        return {};
    const Ufi::Capacity asked = Ufi::CapacityOf(params.cylinders(), static_cast<uint8_t>(params.heads()),
                                                params.sectorsPerTrack(), params.bytesPerSector());
    if (std::find(formattable_.begin(), formattable_.end(), asked) != formattable_.end())
        return {};
    if (formattable_.empty())
        return LoadString(Str::DriveFormatsNoDiskette);
    return FormatString(Str::DriveCannotFormatMedia, Ufi::CapacityName(asked), CapacityNames(formattable_));
}

DiskError UsbFloppyDrive::TakeVolume()
{
    const int error = transport_->Hold(true);
    if (error != 0)
        return error == EBUSY ? Err::AccessDenied : DeviceOpenError(error);
    return Err::None;
}

DiskError UsbFloppyDrive::ReleaseVolume()
{
    const int error = transport_->Hold(false);
    return error == 0 ? Err::None : DeviceOpenError(error);
}

bool UsbFloppyDrive::VolumeHeldElsewhere() const
{
    return transport_->HeldElsewhere();
}

}  // namespace vokta
