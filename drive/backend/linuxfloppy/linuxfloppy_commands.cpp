// SPDX-License-Identifier: GPL-3.0-or-later
// What the Linux floppy backend says to the driver and the controller, and how it reads
// their answers: geometry, raw command bytes, status and errno mapping. No I/O here.
#include <linux/fdreg.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "drive/backend/emulated/emulatedmedium.h"
#include "drive/backend/linuxfloppy/linuxfloppy.h"
#include "drive/media.h"
#include "res/strings.h"

namespace vokta {
namespace {

// Gaps and step rate the driver's own table uses for each track density.
struct TrackTiming {
    uint16_t sectorsPerTrack;
    uint8_t gap;
    uint8_t spec1;
    uint8_t formatGap;
};

constexpr TrackTiming kTimings[] = {
    {9, 0x2A, 0xDF, 0x50},   // 720K, 360K
    {15, 0x1B, 0xDF, 0x54},  // 1.2M
    {18, 0x1B, 0xCF, 0x6C},  // 1.44M
    {21, 0x1C, 0xCF, 0x0C},  // 1.68M and 1.72M
    {36, 0x1B, 0xAF, 0x54},  // 2.88M
};

constexpr uint8_t kRate500 = 0;
constexpr uint8_t kRate300 = 1;
constexpr uint8_t kRate250 = 2;
constexpr uint8_t kRate1000 = 3;

const TrackTiming& TimingFor(uint16_t sectorsPerTrack)
{
    for (const TrackTiming& t : kTimings)
        if (sectorsPerTrack <= t.sectorsPerTrack)
            return t;
    return kTimings[std::size(kTimings) - 1];
}

uint8_t DriverRateOf(DataRate rate)
{
    switch (rate) {
    case DataRate::k500: return kRate500;
    case DataRate::k300: return kRate300;
    case DataRate::k250: return kRate250;
    case DataRate::k1000: return kRate1000 | FD_PERP;
    }
    return kRate500;
}

floppy_raw_cmd RawCommand(unsigned flags, std::span<uint8_t> data, uint8_t rate, uint16_t cylinder, bool doubleStep,
                          std::span<const uint8_t> bytes)
{
    floppy_raw_cmd c{};
    c.flags = flags | FD_RAW_INTR | FD_RAW_SPIN | FD_RAW_NEED_DISK | FD_RAW_NEED_SEEK;
    c.data = data.data();
    c.length = static_cast<long>(data.size());
    c.rate = rate;
    c.track = doubleStep ? cylinder * 2 : cylinder;
    c.cmd_count = static_cast<unsigned char>(bytes.size());
    std::memcpy(c.cmd, bytes.data(), bytes.size());
    return c;
}

}  // namespace

std::optional<uint8_t> DeviceTypeOfFloppyDrive(int cmosType, std::string_view nativeFormat)
{
    switch (cmosType) {
    case 1: return DeviceType::Floppy360K;
    case 2: return DeviceType::Floppy12M;
    case 3: return DeviceType::Floppy720K;
    case 4: return DeviceType::Floppy144M;
    case 5:
    case 6: return DeviceType::Floppy288M;
    default: break;
    }
    if (nativeFormat.empty())
        return std::nullopt;
    // The driver's format names: d = 5¼" DD, h = high density (5¼" 1.2M when lower case),
    // D = 3½" DD, H = 3½" HD, E = 3½" ED.
    switch (nativeFormat[0]) {
    case 'd': return DeviceType::Floppy360K;
    case 'h': return DeviceType::Floppy12M;
    case 'D': return DeviceType::Floppy720K;
    case 'H': return DeviceType::Floppy144M;
    case 'E': return DeviceType::Floppy288M;
    default: return std::nullopt;
    }
}

floppy_struct FloppyGeometryOf(const DeviceParams& params, uint8_t deviceType,
                               const DisketteParameterTable* dmfTable)
{
    const uint16_t spt = params.sectorsPerTrack();
    const uint16_t heads = params.heads();
    uint32_t cylinders = params.cylinders();
    if (cylinders == 0 && spt != 0 && heads != 0)
        cylinders = (params.totalSectors() + uint32_t{spt} * heads - 1) / (uint32_t{spt} * heads);

    floppy_struct g{};
    g.size = cylinders * heads * spt;
    g.sect = spt;
    g.head = heads;
    g.track = cylinders;
    // A 40-cylinder diskette in an 80-track 5¼" drive is read with double steps.
    g.stretch = deviceType == DeviceType::Floppy12M && cylinders <= 42 ? FD_STRETCH : 0;

    const DataRate rate = RateForSectorsPerTrack(spt, deviceType == DeviceType::Floppy12M);
    const uint8_t sizeCode = SectorSizeCode(params.bytesPerSector());
    g.rate = static_cast<unsigned char>(DriverRateOf(rate) | (((sizeCode + 6) % 8) << 3));

    const TrackTiming& timing = TimingFor(spt);
    g.gap = timing.gap;
    g.spec1 = timing.spec1;
    g.fmt_gap = timing.formatGap;
    if (dmfTable && spt == (*dmfTable)[ParameterTable::SectorsPerTrack]) {
        g.gap = (*dmfTable)[ParameterTable::Gap];
        g.spec1 = (*dmfTable)[ParameterTable::Specify1];
        g.fmt_gap = (*dmfTable)[ParameterTable::FormatGap];
    }
    g.name = nullptr;
    return g;
}

uint8_t BiosStatusOfFdc(const FdcStatus& s)
{
    const uint8_t interrupt = s.st0 & ST0_INTR;
    if (interrupt == 0x00)
        return 0;
    if (interrupt == 0x80)
        return BiosStatus::BadCommand;
    if (interrupt == 0xC0 || (s.st0 & ST0_NR))
        return BiosStatus::Timeout;
    if (s.st0 & ST0_ECE)
        return BiosStatus::SeekFailed;
    if (s.st1 & ST1_WP)
        return BiosStatus::WriteProtected;
    if ((s.st1 & ST1_CRC) || (s.st2 & ST2_CRC))
        return BiosStatus::Crc;
    if (s.st1 & ST1_OR)
        return BiosStatus::DmaOverrun;
    if ((s.st1 & ST1_MAM) || (s.st2 & ST2_MAM))
        return BiosStatus::AddressMark;
    if ((s.st1 & (ST1_ND | ST1_EOC)) || (s.st2 & (ST2_WC | ST2_BC | ST2_CM)))
        return BiosStatus::SectorNotFound;
    return BiosStatus::ControllerFailure;
}

DiskError DiskErrorOfDriverFailure(const DriverFailure& f)
{
    if (f.fdc) {
        if (const uint8_t status = BiosStatusOfFdc(*f.fdc))
            return DiskErrorFromBiosStatus(status);
    }
    if (!f.diskPresent)
        return Err::NotReady;
    if (f.mediumChanged)
        return Err::InvalidDiskChange;
    const bool writes = f.op == FloppyOp::Write || f.op == FloppyOp::Format;
    switch (f.error) {
    case 0: return Err::EndOfDisk;  // the driver ended the transfer early: past the medium
    case EROFS: return Err::WriteProtect;
    case EBUSY: return Err::DriveLocked;
    case EACCES:
    case EPERM: return Err::AccessDenied;
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM:
    case ETIMEDOUT: return Err::NotReady;
    case ENOSPC:
    case EFBIG: return Err::EndOfDisk;
    case ENOMEM: return Err::InsufficientBuffer;
    case EINVAL:
    case ENOTTY:
    case EOPNOTSUPP: return Err::InvalidFunction;
    case EIO:
        // The driver says no more than "I/O error": a write that the tab refused, else
        // the likeliest cause of each kind of request.
        if (writes && !f.writable)
            return Err::WriteProtect;
        if (f.op == FloppyOp::Read || f.op == FloppyOp::Verify)
            return Err::BadCrc;
        if (writes)
            return Err::SectorNotFound;
        return Err::UnknownError;
    default: return Err::UnknownError;
    }
}

// The driver leaves room for about 30 ms of transfer between one head's sector 1 and the
// other's, and a little stepping time more between cylinders; tight format gaps (the
// 21-sector media) get every second sector.
DriverLayout KernelFormatLayout(const floppy_struct& geometry)
{
    const int headShift = (static_cast<int>(geometry.sect) + 5) / 6;
    return {geometry.fmt_gap < 0x22 ? 2 : 1, 2 * headShift + 3, headShift};
}

floppy_raw_cmd RawFormatCommand(uint8_t unit, uint8_t head, uint16_t cylinder, bool doubleStep,
                                std::span<uint8_t> addressFields, uint8_t sizeCode, uint8_t gap,
                                uint8_t filler, uint8_t rate)
{
    const uint8_t bytes[] = {FD_FORMAT, static_cast<uint8_t>((head << 2) | (unit & 3)), sizeCode,
                             static_cast<uint8_t>(addressFields.size() / 4), gap, filler};
    return RawCommand(FD_RAW_WRITE, addressFields, rate, cylinder, doubleStep, bytes);
}

floppy_raw_cmd RawReadCommand(uint8_t unit, uint8_t head, uint16_t cylinder, bool doubleStep,
                              uint8_t firstSector, uint8_t lastSector, uint8_t sizeCode,
                              uint8_t gap, uint8_t rate, std::span<uint8_t> buffer)
{
    // The data length byte only counts for 128-byte sectors; FFh otherwise.
    const uint8_t bytes[] = {FD_READ, static_cast<uint8_t>((head << 2) | (unit & 3)),
                             static_cast<uint8_t>(cylinder), head, firstSector, sizeCode,
                             lastSector, gap, 0xFF};
    return RawCommand(FD_RAW_READ, buffer, rate, cylinder, doubleStep, bytes);
}

floppy_raw_cmd RawRecalibrateCommand(uint8_t unit)
{
    floppy_raw_cmd c{};
    // The driver senses the interrupt that ends the command: ST0 and the cylinder.
    c.flags = FD_RAW_INTR | FD_RAW_SPIN;
    c.cmd_count = 2;
    c.cmd[0] = FD_RECALIBRATE;
    c.cmd[1] = unit & 3;
    return c;
}

floppy_raw_cmd RawSeekCommand(uint8_t unit, uint8_t head, uint16_t cylinder, bool doubleStep)
{
    floppy_raw_cmd c{};
    c.flags = FD_RAW_INTR | FD_RAW_SPIN;
    c.cmd_count = 3;
    c.cmd[0] = FD_SEEK;
    c.cmd[1] = static_cast<uint8_t>((head << 2) | (unit & 3));
    c.cmd[2] = static_cast<uint8_t>(doubleStep ? cylinder * 2 : cylinder);
    return c;
}

SeekEnd SeekEndOf(const floppy_raw_cmd& command)
{
    constexpr uint8_t kInterruptCode = 0xC0;
    constexpr uint8_t kSeekEnd = 0x20;
    constexpr uint8_t kEquipmentCheck = 0x10;
    if ((command.flags & FD_RAW_HARDFAILURE) || command.reply_count < 1)
        return SeekEnd::Failed;
    const uint8_t st0 = command.reply[0];
    if ((st0 & kSeekEnd) == 0)
        return SeekEnd::Failed;
    // An abnormal end with equipment check: the track 0 sensor never came on.
    if ((st0 & kInterruptCode) != 0)
        return (st0 & kEquipmentCheck) != 0 && command.cmd[0] == FD_RECALIBRATE ? SeekEnd::ShortOfTrack0
                                                                                 : SeekEnd::Failed;
    return SeekEnd::Reached;
}

std::string FloppyOpenFailureDetail(const std::string& device, int error, const std::string& group)
{
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
        return device + ": " +
               (group.empty() ? LoadString(Str::FloppyPermissionDenied)
                              : FormatString(Str::FloppyPermissionDeniedGroup, group));
    case ENOENT: return device + ": " + LoadString(Str::NoSuchDevice);
    case ENXIO:
    case ENODEV: return device + ": " + LoadString(Str::NoFloppyAtUnit);
    case EBUSY: return device + ": " + LoadString(Str::DeviceInUse);
    default: return device + ": " + std::strerror(error);
    }
}

}  // namespace vokta
