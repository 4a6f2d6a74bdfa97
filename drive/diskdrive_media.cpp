// Media selection and detection.
#include <algorithm>
#include <array>

#include "drive/diskdrive.h"
#include "drive/fatlayout.h"

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

// A diskette of a known size is that size's medium, whatever its boot sector says of
// tracks and heads: another geometry would send every transfer past the first track to
// the wrong place. The volume's layout stays the boot sector's while it describes one;
// otherwise it is the media table's.
void TakeMediumGeometry(DeviceParams& params, const MediaGeometry& medium)
{
    const DeviceParams row = medium.ToParams();
    params.setU16(DeviceParams::Cylinders, medium.cylinders);
    params.setU16(DeviceParams::SectorsPerTrack, medium.sectorsPerTrack);
    params.setU16(DeviceParams::Heads, medium.heads);
    if (!FatLayout::FromParams(params))
        std::copy_n(row.bytes.begin() + DeviceParams::kBpbOffset, DeviceParams::kBpbSize,
                    params.bytes.begin() + DeviceParams::kBpbOffset);
}

}  // namespace

bool DiskDrive::SelectMedia(int32_t type, bool allowTestFormat)
{
    mediaType = kMediaUnknown;
    lastError = Err::None;
    if (type == kMediaUnknown)
        return Detect(allowTestFormat);
    if (!GeometryOf(type)) {
        lastError = Err::UnrecognizedMedia;
        return false;
    }
    return SelectExplicit(type);
}

bool DiskDrive::SelectExplicit(int32_t type)
{
    params = GeometryOf(type)->ToParams();
    if (type == kMediaHardDisk) {
        AskForCurrentMedium(params);
        if (!GenericIoctl(Minor::GetDeviceParams, params.span()))
            return false;
    }
    SetTrackLayout(kStandardLayout, 0);
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
            SetTrackLayout(kStandardLayout, 0);
            mediaType = kMediaHardDisk;
            return true;
        }
        for (int32_t row = kMedia720K; row <= kMedia172M; ++row) {
            const MediaGeometry g = *GeometryOf(row);
            if (g.deviceType == params.deviceType() && g.totalSectors == params.totalSectors16()) {
                TakeMediumGeometry(params, g);
                SetTrackLayout(kStandardLayout, 0);
                mediaType = row;
                return true;
            }
        }
        for (int32_t candidate : kProbeOrder) {
            lastError = Err::None;
            if (!SelectExplicit(candidate))
                return false;
            if (VerifyTrack(0, 0))
                return true;
            lastError = Err::None;
        }
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
        SetLockState(LockState::Format);
        formatMode = true;
        const bool formatted = FormatTrack(kTestFormatCylinder, 0, false);
        formatMode = false;
        SetLockState(LockState::Level0);
        if (formatted)
            return true;
        lastError = Err::None;
    }
    mediaType = kMediaUnknown;
    return false;
}

}  // namespace vokta
