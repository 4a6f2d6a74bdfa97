// SPDX-License-Identifier: GPL-3.0-or-later
// Media selection and detection.
#include <array>
#include <bit>

#include "drive/diskdrive.h"

namespace vokta {
namespace {

// The probes try the densest geometry first; the 1.68M format is only ever recognized
// from the parameters the device reports.
constexpr std::array<int32_t, 4> kProbeOrder = {kMedia172M, kMedia144M, kMedia12M, kMedia720K};
constexpr uint16_t kTestFormatCylinder = 2;

void AskForCurrentMedium(DeviceParams& params)
{
    params.setU8(DeviceParams::SpecialFunctions, DeviceParams::kCurrentMedium);
    params.setU16(DeviceParams::LayoutCount, 0);
}

constexpr uint16_t kMostSectorsPerTrack = 63;
constexpr uint16_t kMostHeads = 255;

// The sector lengths a floppy controller can format: 128 to 1024 bytes.
bool IsSectorLength(uint16_t bytes)
{
    return std::has_single_bit(bytes) && bytes >= 128 && bytes <= 1024;
}

// Whether the tracks, heads and sector length that the diskette's boot sector states are
// the medium's: they are the media table's, or the first and the last track they give
// verify. A diskette formatted with other tracks keeps them; a boot sector that only says
// so (damaged, or written for another drive) does not send the transfers astray.
bool StatedGeometryHolds(DiskDrive& drive, const MediaGeometry& medium)
{
    const DeviceParams& p = drive.params;
    const uint16_t spt = p.sectorsPerTrack();
    const uint16_t heads = p.heads();
    if (spt == medium.sectorsPerTrack && heads == medium.heads && p.cylinders() == medium.cylinders &&
        p.bytesPerSector() == medium.bytesPerSector)
        return true;
    if (spt == 0 || heads == 0 || spt > kMostSectorsPerTrack || heads > kMostHeads ||
        !IsSectorLength(p.bytesPerSector()))
        return false;
    const uint32_t last = p.totalSectors() - 1;
    const uint32_t perCylinder = uint32_t{spt} * heads;
    const auto cylinder = static_cast<uint16_t>(last / perCylinder);
    const auto head = static_cast<uint16_t>(last % perCylinder / spt);
    GoOnAfterFailure goOn(drive);
    return goOn(drive.VerifyTrack(0, 0)) && goOn(drive.VerifyTrack(cylinder, head));
}

void TakeMediumGeometry(DeviceParams& params, const MediaGeometry& medium)
{
    params.setU16(DeviceParams::Cylinders, medium.cylinders);
    params.setU16(DeviceParams::SectorsPerTrack, medium.sectorsPerTrack);
    params.setU16(DeviceParams::Heads, medium.heads);
}

}  // namespace

DiskStatus DiskDrive::SelectMedia(int32_t type, bool allowTestFormat)
{
    mediaType = kMediaUnknown;
    lastError = Err::None;
    if (type == kMediaUnknown)
        return Outcome(Detect(allowTestFormat));
    if (!GeometryOf(type))
        return Fail(Err::UnrecognizedMedia);
    return Outcome(SelectExplicit(type));
}

bool DiskDrive::SelectExplicit(int32_t type)
{
    params = GeometryOf(type)->ToParams();
    if (type == kMediaHardDisk) {
        AskForCurrentMedium(params);
        if (!GenericIoctl(Minor::GetDeviceParams, params.span()))
            return false;
    }
    (void)SetTrackLayout(kStandardLayout, 0);
    mediaType = type;
    return true;
}

bool DiskDrive::Detect(bool allowTestFormat)
{
    if (!IsDriveReady()) {
        lastError = Err::NotReady;
        return false;
    }

    AskForCurrentMedium(params);
    if (GenericIoctl(Minor::GetDeviceParams, params.span())) {
        if (params.deviceType() == DeviceType::FixedDisk) {
            (void)SetTrackLayout(kStandardLayout, 0);
            mediaType = kMediaHardDisk;
            return true;
        }
        for (int32_t row = kMedia720K; row <= kMedia172M; ++row) {
            const MediaGeometry g = *GeometryOf(row);
            if (g.deviceType == params.deviceType() && g.totalSectors == params.totalSectors16()) {
                // The layout stays the boot sector's; the tracks are the medium's.
                (void)SetTrackLayout(kStandardLayout, 0);
                mediaType = row;
                if (!StatedGeometryHolds(*this, g)) {
                    // Its total counts sectors of a length the medium does not have: the
                    // row it matched says nothing of the medium, which the probes find.
                    if (params.bytesPerSector() != g.bytesPerSector)
                        break;
                    TakeMediumGeometry(params, g);
                    (void)SetTrackLayout(kStandardLayout, 0);
                }
                return true;
            }
        }
        for (int32_t candidate : kProbeOrder) {
            lastError = Err::None;
            if (!SelectExplicit(candidate))
                return false;
            if (VerifyTrack(0, 0))
                return true;
            // A drive that went away is no medium of another kind.
            if (lastError == Err::NotReady)
                return false;
            lastError = Err::None;
        }
    } else if (lastError == Err::NotReady) {
        return false;
    }

    if (!allowTestFormat) {
        lastError = Err::UnrecognizedMedia;
        return false;
    }
    for (int32_t candidate : kProbeOrder) {
        lastError = Err::None;
        if (!SelectExplicit(candidate)) {
            lastError = Err::UnrecognizedMedia;
            return false;
        }
        (void)SetLockState(LockState::Format);
        formatMode = true;
        const bool formatted = static_cast<bool>(FormatTrack(kTestFormatCylinder, 0, false));
        formatMode = false;
        (void)SetLockState(LockState::Level0);
        if (formatted)
            return true;
        lastError = Err::None;
    }
    mediaType = kMediaUnknown;
    return false;
}

}  // namespace vokta
