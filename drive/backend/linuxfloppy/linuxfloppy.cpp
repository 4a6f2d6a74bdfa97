// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/backend/linuxfloppy/linuxfloppy.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/major.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

// The device-number macros would also rewrite every member function named minor().
namespace {
unsigned DeviceMajor(dev_t device) { return major(device); }
unsigned DeviceMinor(dev_t device) { return minor(device); }
}  // namespace
#undef major
#undef minor

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "drive/diskdrive.h"
#include "drive/media.h"
#include "res/strings.h"

namespace vokta {
namespace {

// O_NONBLOCK opens the drive without a diskette in it; O_DIRECT keeps every transfer
// between the caller and the driver, never in the page cache.
constexpr int kOpenFlags = O_RDWR | O_NONBLOCK | O_DIRECT | O_CLOEXEC;
constexpr size_t kDirectAlignment = 4096;

// 0 or the errno of the request.
int Ioctl(int fd, unsigned long request, void* argument)
{
    while (ioctl(fd, request, argument) != 0) {
        if (errno != EINTR)
            return errno;
    }
    return 0;
}

int IoctlValue(int fd, unsigned long request, long value)
{
    while (ioctl(fd, request, value) != 0) {
        if (errno != EINTR)
            return errno;
    }
    return 0;
}

bool SameGeometry(const floppy_struct& a, const floppy_struct& b)
{
    return a.size == b.size && a.sect == b.sect && a.head == b.head && a.track == b.track &&
           a.stretch == b.stretch && a.gap == b.gap && a.rate == b.rate && a.spec1 == b.spec1 &&
           a.fmt_gap == b.fmt_gap;
}

// A failed request that moves no data: the errno alone tells what went wrong.
DiskError ControlFailure(int error)
{
    DriverFailure failure;
    failure.op = FloppyOp::Control;
    failure.error = error;
    return DiskErrorOfDriverFailure(failure);
}

// The media whose geometry reads sector 0 at each data rate this drive offers, the
// drive's own density first.
std::vector<MediaType> BootProbesFor(uint8_t deviceType)
{
    switch (deviceType) {
    case DeviceType::Floppy12M: return {kMedia12M, kMedia720K};
    case DeviceType::Floppy720K:
    case DeviceType::Floppy360K: return {kMedia720K};
    default: return {kMedia144M, kMedia720K};
    }
}

}  // namespace

DiskError DeviceOpenError(int error)
{
    switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV: return Err::InvalidDrive;
    case EBUSY: return Err::DriveLocked;
    default: return Err::AccessDenied;
    }
}

std::string DeviceGroupOf(const std::string& device)
{
    struct stat st {};
    if (stat(device.c_str(), &st) != 0)
        return {};
    const struct group* g = getgrgid(st.st_gid);
    return g ? g->gr_name : "";
}

MediaType NativeMediaOfDeviceType(uint8_t deviceType)
{
    switch (deviceType) {
    case DeviceType::Floppy12M: return kMedia12M;
    case DeviceType::Floppy720K:
    case DeviceType::Floppy360K: return kMedia720K;
    default: return kMedia144M;
    }
}

bool DeviceHeldElsewhere(const std::string& device)
{
    const int probe = open(device.c_str(), O_RDONLY | O_NONBLOCK | O_EXCL | O_CLOEXEC);
    if (probe < 0)
        return errno == EBUSY;
    close(probe);
    return false;
}

LinuxFloppyDrive::LinuxFloppyDrive(std::string device, int fd, uint8_t driveNumber, uint8_t deviceType,
                                   uint8_t unit)
    : DosBlockDevice(driveNumber), device_(std::move(device)), fd_(fd), deviceType_(deviceType), unit_(unit),
      bounce_(nullptr, std::free)
{
}

DriveOpenResult LinuxFloppyDrive::Open(const std::string& device, uint8_t driveNumber)
{
    const int fd = open(device.c_str(), kOpenFlags);
    if (fd < 0) {
        const int error = errno;
        return {nullptr, DeviceOpenError(error), FloppyOpenFailureDetail(device, error, DeviceGroupOf(device))};
    }
    floppy_drive_params drive{};
    struct stat st {};
    if (Ioctl(fd, FDGETDRVPRM, &drive) != 0 || fstat(fd, &st) != 0) {
        close(fd);
        return {nullptr, Err::InvalidDrive, device + ": " + LoadString(Str::NotAFloppyDrive)};
    }
    char nativeFormat[16] = {};
    if (Ioctl(fd, FDGETDRVTYP, nativeFormat) != 0)
        nativeFormat[0] = 0;
    nativeFormat[sizeof nativeFormat - 1] = 0;
    const uint8_t type = DeviceTypeOfFloppyDrive(drive.cmos, nativeFormat).value_or(DeviceType::Floppy144M);
    const auto unit = static_cast<uint8_t>(DeviceMinor(st.st_rdev) & 3);
    return {std::unique_ptr<DiskService>(new LinuxFloppyDrive(device, fd, driveNumber, type, unit)), Err::None, {}};
}

LinuxFloppyDrive::~LinuxFloppyDrive()
{
    if (fd_ >= 0)
        close(fd_);
}

bool LinuxFloppyDrive::IsDriveReady()
{
    int error = 0;
    const std::optional<DriveState> state = Refresh(error);
    return state && state->present;
}

bool LinuxFloppyDrive::InstallParameterTable(const DisketteParameterTable& table)
{
    table_ = table;
    int error = 0;
    return ApplyCurrentGeometry(error);
}

bool LinuxFloppyDrive::RestoreParameterTable()
{
    const bool had = table_.has_value();
    table_.reset();
    int error = 0;
    ApplyCurrentGeometry(error);
    return had;
}

std::optional<LinuxFloppyDrive::DriveState> LinuxFloppyDrive::Refresh(int& error)
{
    floppy_drive_struct state{};
    if ((error = Ioctl(fd_, FDPOLLDRVSTAT, &state)) != 0)
        return std::nullopt;
    if ((state.flags & FD_DISK_CHANGED) == 0 && state.generation == generation_)
        return DriveState{true, (state.flags & FD_DISK_WRITABLE) != 0};

    // A diskette change, or the first look at this one. The change line stays active
    // after the driver has revalidated the drive only when no diskette is in it.
    if ((error = Ioctl(fd_, FDFLUSH, nullptr)) != 0 || (error = Ioctl(fd_, FDPOLLDRVSTAT, &state)) != 0)
        return std::nullopt;
    if (state.flags & FD_DISK_CHANGED)
        return DriveState{false, false};
    generation_ = state.generation;
    applied_.reset();  // the driver forgets the geometry of a diskette that was taken out
    if (!ApplyCurrentGeometry(error))
        return std::nullopt;
    return DriveState{true, (state.flags & FD_DISK_WRITABLE) != 0};
}

DiskError LinuxFloppyDrive::PresentMedium(DriveState& state)
{
    int error = 0;
    const std::optional<DriveState> now = Refresh(error);
    if (!now)
        return ControlFailure(error);
    if (!now->present)
        return Err::NotReady;
    state = *now;
    return Err::None;
}

bool LinuxFloppyDrive::ApplyGeometry(const floppy_struct& geometry, int& error)
{
    if (applied_ && SameGeometry(*applied_, geometry))
        return true;
    floppy_struct copy = geometry;
    if ((error = Ioctl(fd_, FDSETPRM, &copy)) != 0)
        return false;
    applied_ = geometry;
    return true;
}

bool LinuxFloppyDrive::ApplyCurrentGeometry(int& error)
{
    if (!params_)
        return true;
    return ApplyGeometry(FloppyGeometryOf(*params_, deviceType_, table_ ? &*table_ : nullptr), error);
}

bool LinuxFloppyDrive::IsTrackOnMedium(uint16_t cylinder, uint16_t head) const
{
    return params_ && cylinder < params_->cylinders() && head < params_->heads();
}

int LinuxFloppyDrive::Transfer(uint32_t lba, size_t count, std::span<uint8_t> data, bool write)
{
    const size_t bytes = count * kSectorSize;
    if (bytes > bounceSize_) {
        const size_t size = (bytes + kDirectAlignment - 1) / kDirectAlignment * kDirectAlignment;
        bounce_.reset(static_cast<uint8_t*>(std::aligned_alloc(kDirectAlignment, size)));
        bounceSize_ = bounce_ ? size : 0;
        if (!bounce_)
            return ENOMEM;
    }
    uint8_t* bounce = bounce_.get();
    if (write)
        std::copy_n(data.begin(), bytes, bounce);
    size_t done = 0;
    while (done < bytes) {
        const auto at = static_cast<off_t>(uint64_t{lba} * kSectorSize + done);
        const ssize_t n = write ? pwrite(fd_, bounce + done, bytes - done, at)
                                : pread(fd_, bounce + done, bytes - done, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return -1;
        done += static_cast<size_t>(n);
    }
    if (!write)
        std::copy_n(bounce, bytes, data.begin());
    return 0;
}

int LinuxFloppyDrive::RunRawCommand(floppy_raw_cmd& command)
{
    if (!rawCommands_)
        return ENOTTY;
    const int error = Ioctl(fd_, FDRAWCMD, &command);
    // Kernels built without raw commands refuse the request itself.
    if (error == ENOTTY || error == EOPNOTSUPP || error == ENOSYS)
        rawCommands_ = false;
    return error;
}

bool LinuxFloppyDrive::PreciseStatus(floppy_raw_cmd command, FdcStatus& status)
{
    if (RunRawCommand(command) != 0 || command.reply_count < 3)
        return false;
    status = FdcStatus{command.reply[0], command.reply[1], command.reply[2]};
    return true;
}

DiskError LinuxFloppyDrive::Classify(FloppyOp op, int error, uint16_t cylinder, uint8_t head,
                                     uint8_t firstSector, uint8_t lastSector)
{
    // The driver's track buffer may hold what the diskette refused to take; a later
    // read must not be served from there.
    if (op == FloppyOp::Write || op == FloppyOp::Format)
        Ioctl(fd_, FDFLUSH, nullptr);
    DriverFailure failure;
    failure.op = op;
    failure.error = error < 0 ? 0 : error;
    floppy_drive_struct state{};
    if (Ioctl(fd_, FDPOLLDRVSTAT, &state) == 0) {
        failure.writable = (state.flags & FD_DISK_WRITABLE) != 0;
        if ((state.flags & FD_DISK_CHANGED) || state.generation != generation_) {
            int refreshError = 0;
            const std::optional<DriveState> now = Refresh(refreshError);
            failure.diskPresent = now && now->present;
            failure.mediumChanged = failure.diskPresent;
        }
    }
    // The controller's status bytes name the fault exactly, where the kernel lets us ask.
    if (error == EIO && rawCommands_ && failure.diskPresent && !failure.mediumChanged && applied_ &&
        op != FloppyOp::Format) {
        std::vector<uint8_t> scratch(size_t{lastSector - firstSector + 1u} * kSectorSize);
        FdcStatus status;
        if (PreciseStatus(RawReadCommand(unit_, head, cylinder, applied_->stretch & FD_STRETCH, firstSector,
                                         lastSector, static_cast<uint8_t>(FD_SIZECODE(&*applied_)), applied_->gap,
                                         applied_->rate & 0x43, scratch),
                          status))
            failure.fdc = status;
    }
    return DiskErrorOfDriverFailure(failure);
}

DiskError LinuxFloppyDrive::FormatTrackWith(uint16_t cylinder, uint8_t head, std::span<uint8_t> addressFields,
                                            uint8_t gap, uint8_t filler)
{
    const uint8_t sizeCode = addressFields.size() >= 4 ? addressFields[3] : 2;
    floppy_raw_cmd command = RawFormatCommand(unit_, head, cylinder, applied_->stretch & FD_STRETCH, addressFields,
                                              sizeCode, gap, filler, applied_->rate & 0x43);
    int error = RunRawCommand(command);
    if (error == 0) {
        if (command.flags & FD_RAW_HARDFAILURE)
            return Err::NotReady;
        if (command.reply_count < 3)
            return Err::None;
        const uint8_t status = BiosStatusOfFdc(FdcStatus{command.reply[0], command.reply[1], command.reply[2]});
        return status == 0 ? Err::None : DiskErrorFromBiosStatus(status);
    }
    if (rawCommands_)
        return Classify(FloppyOp::Format, error, cylinder, head, 1, 1);

    // The driver's own format request numbers the sectors itself.
    format_descr track{unit_, head, cylinder};
    Ioctl(fd_, FDFMTBEG, nullptr);
    error = Ioctl(fd_, FDFMTTRK, &track);
    // The driver may still hold the old contents of this track in its buffer.
    Ioctl(fd_, FDFMTEND, nullptr);
    if (error != 0)
        return Classify(FloppyOp::Format, error, cylinder, head, 1, 1);
    driverLayout_ = KernelFormatLayout(*applied_);
    return Err::None;
}

MediaType LinuxFloppyDrive::NativeMedia() const
{
    return NativeMediaOfDeviceType(deviceType_);
}

DiskError LinuxFloppyDrive::SetParams(const DeviceParams& params)
{
    if (params.sectorsPerTrack() == 0 || params.heads() == 0)
        return Err::UnrecognizedMedia;
    params_ = params;
    int error = 0;
    if (!ApplyCurrentGeometry(error))
        return ControlFailure(error);
    return Err::None;
}

DiskError LinuxFloppyDrive::ReadBootSector(std::vector<uint8_t>& sector)
{
    DriveState state;
    if (const DiskError absent = PresentMedium(state); absent != Err::None)
        return absent;
    const std::optional<floppy_struct> previous = applied_;
    sector.assign(kSectorSize, 0);
    DiskError result = Err::UnrecognizedMedia;
    for (MediaType probe : BootProbesFor(deviceType_)) {
        int error = 0;
        if (!ApplyGeometry(FloppyGeometryOf(GeometryOf(probe)->ToParams(), deviceType_, nullptr), error)) {
            result = ControlFailure(error);
            continue;
        }
        error = Transfer(0, 1, sector, false);
        if (error == 0) {
            result = Err::None;
            break;
        }
        result = Classify(FloppyOp::Read, error, 0, 0, 1, 1);
        if (result == Err::NotReady)
            break;
    }
    int error = 0;
    if (previous)
        ApplyGeometry(*previous, error);
    return result;
}

DiskError LinuxFloppyDrive::TransferTrack(uint16_t cylinder, uint8_t head, uint16_t first, uint16_t count,
                                          std::span<uint8_t> buffer, bool write)
{
    if (!params_)
        return Err::InvalidFunction;
    DriveState state;
    if (const DiskError absent = PresentMedium(state); absent != Err::None)
        return absent;
    if (write && !VolumeLocked())
        return Err::AccessDenied;
    if (write && !state.writable)
        return Err::WriteProtect;
    if (!IsTrackOnMedium(cylinder, head))
        return Err::EndOfDisk;
    const uint16_t spt = params_->sectorsPerTrack();
    if (params_->bytesPerSector() != kSectorSize || first + count > spt)
        return Err::SectorNotFound;
    if (count == 0)
        return Err::None;

    const uint32_t lba = (uint32_t{cylinder} * params_->heads() + head) * spt + first;
    const int error = Transfer(lba, count, buffer, write);
    if (error != 0)
        return Classify(write ? FloppyOp::Write : FloppyOp::Read, error, cylinder, head,
                        static_cast<uint8_t>(first + 1), static_cast<uint8_t>(first + count));
    return Err::None;
}

DiskError LinuxFloppyDrive::VerifyTrack(uint16_t cylinder, uint8_t head)
{
    if (!params_)
        return Err::InvalidFunction;
    DriveState state;
    if (const DiskError absent = PresentMedium(state); absent != Err::None)
        return absent;
    if (!IsTrackOnMedium(cylinder, head))
        return Err::EndOfDisk;
    const uint16_t spt = params_->sectorsPerTrack();
    std::vector<uint8_t> scratch(size_t{spt} * kSectorSize);
    // The driver keeps the track it moved last, written ones too: a verify served from
    // there would pass a write the diskette never took.
    Ioctl(fd_, FDFLUSH, nullptr);
    const int error = Transfer((uint32_t{cylinder} * params_->heads() + head) * spt, spt, scratch, false);
    if (error != 0)
        return Classify(FloppyOp::Verify, error, cylinder, head, 1, static_cast<uint8_t>(spt));
    return Err::None;
}

DiskError LinuxFloppyDrive::FormatTrack(uint16_t cylinder, uint8_t head, std::span<const uint8_t> addressFields,
                                        bool bios)
{
    if (bios && (!params_ || size_t{params_->sectorsPerTrack()} * 4 != addressFields.size()))
        return Err::UnrecognizedMedia;
    if (const DiskError refused = FormatRefusal(cylinder, head); refused != Err::None)
        return refused;
    std::vector<uint8_t> fields(addressFields.begin(), addressFields.end());
    // The BIOS path formats with the installed diskette parameter table's gap and filler.
    const bool fromTable = bios && table_;
    const uint8_t gap = fromTable ? (*table_)[ParameterTable::FormatGap] : applied_->fmt_gap;
    const uint8_t filler = fromTable ? (*table_)[ParameterTable::Filler] : FD_FILL_BYTE;
    return FormatTrackWith(cylinder, head, fields, gap, filler);
}

DiskError LinuxFloppyDrive::FormatRefusal(uint16_t cylinder, uint8_t head)
{
    DriveState state;
    if (const DiskError absent = PresentMedium(state); absent != Err::None)
        return absent;
    if (!state.writable)
        return Err::WriteProtect;
    if (!IsTrackOnMedium(cylinder, head))
        return Err::EndOfDisk;
    if (!applied_)
        return Err::UnrecognizedMedia;
    return Err::None;
}

bool LinuxFloppyDrive::VolumeHeldElsewhere() const
{
    return !exclusive_ && DeviceHeldElsewhere(device_);
}

bool LinuxFloppyDrive::Reopen(bool exclusive, int& error)
{
    const int fd = open(device_.c_str(), kOpenFlags | (exclusive ? O_EXCL : 0));
    if (fd < 0) {
        error = errno;
        return false;
    }
    // The new handle is open before the old one closes, so the driver keeps its state.
    close(fd_);
    fd_ = fd;
    exclusive_ = exclusive;
    return true;
}

DiskError LinuxFloppyDrive::TakeVolume()
{
    int error = 0;
    if (!Reopen(true, error))
        return error == EBUSY ? Err::AccessDenied : DeviceOpenError(error);
    return Err::None;
}

DiskError LinuxFloppyDrive::ReleaseVolume()
{
    int error = 0;
    if (!Reopen(false, error))
        return DeviceOpenError(error);
    return Err::None;
}

bool LinuxFloppyDrive::Recalibrate()
{
    // A head further out than one command steps takes a second one.
    for (int attempt = 0; attempt < 2; ++attempt) {
        floppy_raw_cmd command = RawRecalibrateCommand(unit_);
        if (RunRawCommand(command) != 0)
            break;
        const SeekEnd end = SeekEndOf(command);
        if (end != SeekEnd::ShortOfTrack0)
            return end == SeekEnd::Reached;
    }
    if (rawCommands_)
        return false;
    return ResetController() == Err::None;
}

bool LinuxFloppyDrive::SeekHead(uint16_t cylinder)
{
    if (applied_ && cylinder >= applied_->track)
        return false;
    floppy_raw_cmd command = RawSeekCommand(unit_, 0, cylinder, applied_ && (applied_->stretch & FD_STRETCH));
    return RunRawCommand(command) == 0 && SeekEndOf(command) == SeekEnd::Reached;
}

DiskError LinuxFloppyDrive::ResetController()
{
    const int error = IoctlValue(fd_, FDRESET, FD_RESET_ALWAYS);
    return error == 0 ? Err::None : ControlFailure(error);
}

std::optional<DriveBinding> LinuxFloppyBinding(char letter, const std::string& device)
{
    struct stat st {};
    if (stat(device.c_str(), &st) != 0 || !S_ISBLK(st.st_mode) || DeviceMajor(st.st_rdev) != FLOPPY_MAJOR)
        return std::nullopt;
    const auto number = static_cast<uint8_t>(NormalizeDriveLetter(letter) - 0x40);
    return DriveBinding{letter, SystemDriveType::Removable, device,
                        [device, number] { return LinuxFloppyDrive::Open(device, number); }};
}

}  // namespace vokta
