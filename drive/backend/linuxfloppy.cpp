#include "drive/backend/linuxfloppy.h"

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

namespace vokta {
namespace {

// O_NONBLOCK opens the drive without a diskette in it; O_DIRECT keeps every transfer
// between the caller and the driver, never in the page cache.
constexpr int kOpenFlags = O_RDWR | O_NONBLOCK | O_DIRECT | O_CLOEXEC;
constexpr size_t kDirectAlignment = 4096;
constexpr size_t kBootBpbOffset = 11;
constexpr size_t kBootSignatureOffset = 38;
constexpr uint8_t kExtendedBootSignature = 0x29;
constexpr uint32_t kBiosBadCommand = 0x01;
constexpr uint32_t kBiosMediaTypeNotFound = 0x0C;

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

DiskError OpenError(int error)
{
    switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV: return Err::InvalidDrive;
    case EBUSY: return Err::DriveLocked;
    default: return Err::AccessDenied;
    }
}

// A failed request that moves no data: the errno alone tells what went wrong.
DiskError ControlFailure(int error)
{
    DriverFailure failure;
    failure.op = FloppyOp::Control;
    failure.error = error;
    return DiskErrorOfDriverFailure(failure);
}

std::string GroupOf(const std::string& device)
{
    struct stat st {};
    if (stat(device.c_str(), &st) != 0)
        return {};
    const struct group* g = getgrgid(st.st_gid);
    return g ? g->gr_name : "";
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

MediaType NativeMediaOf(uint8_t deviceType)
{
    switch (deviceType) {
    case DeviceType::Floppy12M: return kMedia12M;
    case DeviceType::Floppy720K:
    case DeviceType::Floppy360K: return kMedia720K;
    default: return kMedia144M;
    }
}

}  // namespace

LinuxFloppyDrive::LinuxFloppyDrive(std::string device, int fd, uint8_t driveNumber, uint8_t deviceType,
                                   uint8_t unit)
    : device_(std::move(device)), fd_(fd), driveNumber_(driveNumber), deviceType_(deviceType), unit_(unit),
      bounce_(nullptr, std::free)
{
}

DriveOpenResult LinuxFloppyDrive::Open(const std::string& device, uint8_t driveNumber)
{
    const int fd = open(device.c_str(), kOpenFlags);
    if (fd < 0) {
        const int error = errno;
        return {nullptr, OpenError(error), FloppyOpenFailureDetail(device, error, GroupOf(device))};
    }
    floppy_drive_params drive{};
    struct stat st {};
    if (Ioctl(fd, FDGETDRVPRM, &drive) != 0 || fstat(fd, &st) != 0) {
        close(fd);
        return {nullptr, Err::InvalidDrive, device + ": not a floppy drive"};
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

bool LinuxFloppyDrive::DeviceIoControl(DiskRequest& request)
{
    Answer answer{false, 0};
    if (request.controlCode == Control::DosIoctl)
        answer = ServeIoctl(request);
    else if (request.controlCode == Control::Int13)
        answer = ServeBios(request);
    if (!answer.accepted)
        return false;
    if (answer.error != 0) {
        request.regs.flags |= 1u;
        request.regs.eax = request.controlCode == Control::Int13 ? (answer.error << 8) : answer.error;
    } else {
        request.regs.flags &= ~1u;
        if (request.controlCode == Control::Int13)
            request.regs.eax &= 0xFFu;
    }
    return true;
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
    layoutHonoured_ = false;
    return Err::None;
}

LinuxFloppyDrive::Answer LinuxFloppyDrive::ServeIoctl(DiskRequest& request)
{
    Registers& r = request.regs;
    if ((r.eax & 0xFFFF) != 0x440D || (r.ecx & 0xFF00) != 0x0800)
        return Answer{true, Err::InvalidFunction};
    const uint8_t minor = request.minor();
    const bool physical = minor == Minor::LockPhysical || minor == Minor::UnlockPhysical;
    const uint8_t expectedUnit = physical ? static_cast<uint8_t>(driveNumber_ - 1) : driveNumber_;
    if ((r.ebx & 0xFF) != expectedUnit)
        return Answer{true, Err::InvalidDrive};

    switch (minor) {
    case Minor::GetLockState: return GetLockState(r);
    case Minor::LockLogical:
    case Minor::LockPhysical: return Lock(r);
    case Minor::UnlockLogical:
    case Minor::UnlockPhysical: return Unlock();
    default: break;
    }
    if (request.block.empty())
        return Answer{false, 0};
    switch (minor) {
    case Minor::SetDeviceParams: return SetDeviceParams(request.block);
    case Minor::GetDeviceParams: return GetDeviceParams(request.block);
    case Minor::ReadTrack: return ReadWriteTrack(request.block, request.buffer, false);
    case Minor::WriteTrack: return ReadWriteTrack(request.block, request.buffer, true);
    case Minor::VerifyTrack: return VerifyTrack(request.block);
    case Minor::FormatTrack: return FormatTrack(request.block);
    case Minor::GetMediaId: return GetMediaId(request.block);
    default: return Answer{true, Err::InvalidFunction};
    }
}

LinuxFloppyDrive::Answer LinuxFloppyDrive::SetDeviceParams(std::span<const uint8_t> block)
{
    if (block.size() < DeviceParams::kSize)
        return Answer{false, 0};
    DeviceParams p;
    std::copy_n(block.begin(), DeviceParams::kSize, p.bytes.begin());
    if (p.sectorsPerTrack() == 0 || p.heads() == 0)
        return Answer{true, Err::UnrecognizedMedia};
    params_ = p;
    int error = 0;
    if (!ApplyCurrentGeometry(error))
        return Answer{true, ControlFailure(error)};
    return {};
}

DiskError LinuxFloppyDrive::ReadBootSector(std::vector<uint8_t>& sector)
{
    DriveState state;
    if (const DiskError absent = PresentMedium(state))
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

LinuxFloppyDrive::Answer LinuxFloppyDrive::GetDeviceParams(std::span<uint8_t> block)
{
    if (block.size() < DeviceParams::kSize)
        return Answer{false, 0};
    DeviceParams p;
    std::copy_n(block.begin(), DeviceParams::kSize, p.bytes.begin());
    const bool currentMedium = (p.u8(DeviceParams::SpecialFunctions) & DeviceParams::kCurrentMedium) != 0;

    if (currentMedium) {
        std::vector<uint8_t> boot;
        if (const DiskError failed = ReadBootSector(boot))
            return Answer{true, failed};
        std::copy_n(boot.begin() + kBootBpbOffset, DeviceParams::kBpbSize, p.bytes.begin() + DeviceParams::kBpbOffset);
    } else {
        const DeviceParams row = GeometryOf(NativeMediaOf(deviceType_))->ToParams();
        std::copy_n(row.bytes.begin() + DeviceParams::kBpbOffset, DeviceParams::kBpbSize,
                    p.bytes.begin() + DeviceParams::kBpbOffset);
    }
    p.setU8(DeviceParams::DeviceType, deviceType_);
    p.setU16(DeviceParams::DeviceAttributes, 2);  // removable, with a change line
    p.setU8(DeviceParams::MediaTypeByte, 0);
    const uint32_t perCylinder = uint32_t{p.sectorsPerTrack()} * p.heads();
    uint32_t cylinders = 80;
    if (perCylinder != 0)
        cylinders = (p.totalSectors() + perCylinder - 1) / perCylinder;
    p.setU16(DeviceParams::Cylinders, static_cast<uint16_t>(std::min<uint32_t>(cylinders, 0xFFFF)));
    std::copy(p.bytes.begin(), p.bytes.end(), block.begin());
    return {};
}

LinuxFloppyDrive::Answer LinuxFloppyDrive::ReadWriteTrack(std::span<const uint8_t> block, std::span<uint8_t> buffer,
                                                          bool write)
{
    if (block.size() < TrackIoBlock::kSize)
        return Answer{false, 0};
    const uint16_t head = TrackIoBlock::Head(block);
    const uint16_t cylinder = TrackIoBlock::Cylinder(block);
    const uint16_t first = TrackIoBlock::FirstSector(block);
    const uint16_t count = TrackIoBlock::Count(block);
    if (buffer.size() < size_t{count} * kSectorSize)
        return Answer{false, 0};
    if (!params_)
        return Answer{true, Err::InvalidFunction};
    DriveState state;
    if (const DiskError absent = PresentMedium(state))
        return Answer{true, absent};
    if (write && lockPermissions_.empty())
        return Answer{true, Err::AccessDenied};
    if (write && !state.writable)
        return Answer{true, Err::WriteProtect};
    if (!IsTrackOnMedium(cylinder, head))
        return Answer{true, Err::EndOfDisk};
    const uint16_t spt = params_->sectorsPerTrack();
    if (params_->bytesPerSector() != kSectorSize || first + count > spt)
        return Answer{true, Err::SectorNotFound};
    if (count == 0)
        return {};

    const uint32_t lba = (uint32_t{cylinder} * params_->heads() + head) * spt + first;
    const int error = Transfer(lba, count, buffer, write);
    if (error != 0)
        return Answer{true, Classify(write ? FloppyOp::Write : FloppyOp::Read, error, cylinder,
                                     static_cast<uint8_t>(head), static_cast<uint8_t>(first + 1),
                                     static_cast<uint8_t>(first + count))};
    return {};
}

LinuxFloppyDrive::Answer LinuxFloppyDrive::VerifyTrack(std::span<const uint8_t> block)
{
    if (block.size() < TrackBlock::kSize)
        return Answer{false, 0};
    if (!params_)
        return Answer{true, Err::InvalidFunction};
    DriveState state;
    if (const DiskError absent = PresentMedium(state))
        return Answer{true, absent};
    const auto head = static_cast<uint8_t>(TrackBlock::Head(block));
    const uint16_t cylinder = TrackBlock::Cylinder(block);
    const uint16_t tracks = std::max<uint16_t>(TrackBlock::Tracks(block), 1);
    const uint16_t spt = params_->sectorsPerTrack();
    std::vector<uint8_t> scratch(size_t{spt} * kSectorSize);
    for (uint16_t t = 0; t < tracks; ++t) {
        const auto c = static_cast<uint16_t>(cylinder + t);
        if (!IsTrackOnMedium(c, head))
            return Answer{true, Err::EndOfDisk};
        // The driver keeps the track it moved last, written ones too: a verify served
        // from there would pass a write the diskette never took.
        Ioctl(fd_, FDFLUSH, nullptr);
        const int error = Transfer((uint32_t{c} * params_->heads() + head) * spt, spt, scratch, false);
        if (error != 0)
            return Answer{true, Classify(FloppyOp::Verify, error, c, head, 1, static_cast<uint8_t>(spt))};
    }
    return {};
}

std::vector<uint8_t> LinuxFloppyDrive::AddressFields(uint16_t cylinder, uint8_t head) const
{
    const uint16_t spt = params_->sectorsPerTrack();
    const uint16_t entries = params_->layoutCount();
    std::vector<uint8_t> fields;
    for (uint16_t i = 0; i < spt; ++i) {
        fields.push_back(static_cast<uint8_t>(cylinder));
        fields.push_back(head);
        fields.push_back(static_cast<uint8_t>(i < entries ? params_->layoutSector(i) : i + 1));
        fields.push_back(SectorSizeCode(i < entries ? params_->layoutSize(i) : params_->bytesPerSector()));
    }
    return fields;
}

LinuxFloppyDrive::Answer LinuxFloppyDrive::FormatTrack(std::span<const uint8_t> block)
{
    if (block.size() < TrackBlock::kSize)
        return Answer{false, 0};
    if (!params_)
        return Answer{true, Err::InvalidFunction};
    if (lockPermissions_.empty())
        return Answer{true, Err::AccessDenied};
    const auto head = static_cast<uint8_t>(TrackBlock::Head(block));
    const uint16_t cylinder = TrackBlock::Cylinder(block);
    if (const DiskError refused = FormatRefusal(cylinder, head))
        return Answer{true, refused};
    std::vector<uint8_t> fields = AddressFields(cylinder, head);
    return Answer{true, FormatTrackWith(cylinder, head, fields, applied_->fmt_gap, FD_FILL_BYTE)};
}

DiskError LinuxFloppyDrive::FormatRefusal(uint16_t cylinder, uint8_t head)
{
    DriveState state;
    if (const DiskError absent = PresentMedium(state))
        return absent;
    if (!state.writable)
        return Err::WriteProtect;
    if (!IsTrackOnMedium(cylinder, head))
        return Err::EndOfDisk;
    if (!applied_)
        return Err::UnrecognizedMedia;
    return Err::None;
}

LinuxFloppyDrive::Answer LinuxFloppyDrive::GetMediaId(std::span<uint8_t> block)
{
    if (block.size() < MediaIdBlock::kSize)
        return Answer{false, 0};
    std::vector<uint8_t> boot;
    if (const DiskError failed = ReadBootSector(boot))
        return Answer{true, failed};
    if (boot[kBootSignatureOffset] != kExtendedBootSignature)
        return Answer{true, Err::InvalidData};
    PutU16(block, 0, 0);
    std::copy_n(boot.begin() + kBootSignatureOffset + 1, 4 + 11 + 8, block.begin() + 2);
    return {};
}

bool LinuxFloppyDrive::LockedElsewhere() const
{
    if (exclusive_)
        return false;
    const int probe = open(device_.c_str(), O_RDONLY | O_NONBLOCK | O_EXCL | O_CLOEXEC);
    if (probe < 0)
        return errno == EBUSY;
    close(probe);
    return false;
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

LinuxFloppyDrive::Answer LinuxFloppyDrive::GetLockState(Registers& regs)
{
    if (lockPermissions_.empty() && LockedElsewhere())
        return Answer{true, Err::AccessDenied};
    regs.eax = lockPermissions_.empty() ? 0xFFFF : 0x0000;
    regs.ecx = lockPermissions_.empty() ? 0 : lockPermissions_.back();
    return {};
}

LinuxFloppyDrive::Answer LinuxFloppyDrive::Lock(const Registers& regs)
{
    if (((regs.ebx >> 8) & 0xFF) != 0)
        return Answer{true, Err::InvalidFunction};  // only level 0 is used
    int error = 0;
    if (lockPermissions_.empty() && !Reopen(true, error))
        return Answer{true, error == EBUSY ? Err::AccessDenied : OpenError(error)};
    lockPermissions_.push_back(static_cast<uint16_t>(regs.edx & 0xFFFF));
    return {};
}

LinuxFloppyDrive::Answer LinuxFloppyDrive::Unlock()
{
    if (lockPermissions_.empty())
        return Answer{true, Err::InvalidFunction};
    lockPermissions_.pop_back();
    int error = 0;
    if (lockPermissions_.empty() && !Reopen(false, error))
        return Answer{true, OpenError(error)};
    return {};
}

LinuxFloppyDrive::Answer LinuxFloppyDrive::ServeBios(DiskRequest& request)
{
    const Registers& r = request.regs;
    if ((r.edx & 0xFF) != static_cast<uint32_t>(driveNumber_ - 1))
        return Answer{true, kBiosBadCommand};
    switch (request.biosFunction()) {
    case Bios::Reset: {
        const int error = IoctlValue(fd_, FDRESET, FD_RESET_ALWAYS);
        return Answer{true, error == 0 ? 0u : BiosStatusOfDiskError(
                                                  ControlFailure(error))};
    }
    case Bios::FormatTrack: return BiosFormat(r, request.block);
    default: return Answer{true, kBiosBadCommand};
    }
}

LinuxFloppyDrive::Answer LinuxFloppyDrive::BiosFormat(const Registers& r, std::span<const uint8_t> idList)
{
    const auto count = static_cast<uint8_t>(r.eax & 0xFF);
    const auto cylinder = static_cast<uint16_t>((r.ecx >> 8) & 0xFF);
    const auto head = static_cast<uint8_t>((r.edx >> 8) & 0xFF);
    if (idList.size() < size_t{count} * 4)
        return Answer{false, 0};
    if (lockPermissions_.empty())
        return Answer{true, kBiosBadCommand};
    if (!params_ || params_->sectorsPerTrack() != count)
        return Answer{true, kBiosMediaTypeNotFound};
    if (const DiskError refused = FormatRefusal(cylinder, head))
        return Answer{true, BiosStatusOfDiskError(refused)};
    std::vector<uint8_t> fields(idList.begin(), idList.begin() + size_t{count} * 4);
    const uint8_t gap = table_ ? (*table_)[ParameterTable::FormatGap] : applied_->fmt_gap;
    const uint8_t filler = table_ ? (*table_)[ParameterTable::Filler] : FD_FILL_BYTE;
    return Answer{true, BiosStatusOfDiskError(FormatTrackWith(cylinder, head, fields, gap, filler))};
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
