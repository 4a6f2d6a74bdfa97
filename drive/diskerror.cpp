// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/diskerror.h"

#include "res/strings.h"

namespace vokta {
namespace {

struct ErrorString {
    DiskError code;
    Str text;
};

constexpr ErrorString kErrorStrings[] = {
    {Err::InvalidFunction, Str::InvalidFunction},
    {Err::FileNotFound, Str::FileNotFound},
    {Err::AccessDenied, Str::AccessDenied},
    {Err::InvalidData, Str::InvalidData},
    {Err::InvalidDrive, Str::InvalidDrive},
    {Err::WriteProtect, Str::WriteProtect},
    {Err::NotReady, Str::DriveNotReady},
    {Err::BadCrc, Str::BadCrc},
    {Err::EndOfDisk, Str::EndOfDisk},
    {Err::SectorNotFound, Str::SectorNotFound},
    {Err::InvalidDiskChange, Str::InvalidDiskChange},
    {Err::DriveLocked, Str::DriveLocked},
    {Err::DiskFull, Str::DiskFull},
    {Err::HostDiskFull, Str::HostDiskFull},
    {Err::InsufficientBuffer, Str::InsufficientBuffer},
    {Err::AddressMarkNotFound, Str::AddressMarkNotFound},
    {Err::UnknownError, Str::UnknownError},
    {Err::UnrecognizedMedia, Str::UnrecognizedMedia},
    {Err::WriteFault, Str::WriteFault},
};

}  // namespace

std::string DiskErrorText(DiskError code)
{
    if (code == Err::None)
        return {};
    for (const ErrorString& e : kErrorStrings)
        if (e.code == code)
            return LoadString(e.text);
    return FormatString(Str::ErrorNumber, static_cast<long>(static_cast<int32_t>(code)));
}

DiskError DiskErrorFromBiosStatus(uint8_t status)
{
    switch (status) {
    case BiosStatus::AddressMark: case 0x0F: return Err::AddressMarkNotFound;
    case BiosStatus::WriteProtected: return Err::WriteProtect;
    case BiosStatus::SectorNotFound: case 0x0A: case 0x0B: case 0x0D: return Err::SectorNotFound;
    case BiosStatus::MediaChanged: return Err::InvalidDiskChange;
    case BiosStatus::DmaOverrun: case 0x09: return Err::AccessDenied;
    case BiosStatus::MediaTypeNotFound: return Err::UnrecognizedMedia;
    case BiosStatus::Crc: case 0x11: return Err::BadCrc;
    case BiosStatus::ControllerFailure: case BiosStatus::Timeout: return Err::NotReady;
    case BiosStatus::SeekFailed: return Err::EndOfDisk;
    default: return Err::UnknownError;
    }
}

uint8_t BiosStatusOfDiskError(DiskError error)
{
    switch (error) {
    case Err::None: return 0;
    case Err::AddressMarkNotFound: return BiosStatus::AddressMark;
    case Err::WriteProtect: return BiosStatus::WriteProtected;
    case Err::SectorNotFound: return BiosStatus::SectorNotFound;
    case Err::InvalidDiskChange: return BiosStatus::MediaChanged;
    case Err::AccessDenied: return BiosStatus::DmaOverrun;
    case Err::UnrecognizedMedia: return BiosStatus::MediaTypeNotFound;
    case Err::BadCrc: return BiosStatus::Crc;
    case Err::NotReady: return BiosStatus::Timeout;
    case Err::EndOfDisk: return BiosStatus::SeekFailed;
    default: return BiosStatus::BadCommand;
    }
}

}  // namespace vokta
