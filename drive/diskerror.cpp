#include "drive/diskerror.h"

#include "res/strings.h"

namespace vokta {
namespace {

struct ErrorString {
    DiskError code;
    uint32_t stringId;
};

constexpr ErrorString kErrorStrings[] = {
    {Err::InvalidFunction, 1053},     {Err::FileNotFound, 179},       {Err::AccessDenied, 180},
    {Err::InvalidData, 149},          {Err::InvalidDrive, 150},       {Err::WriteProtect, 138},
    {Err::NotReady, 151},             {Err::BadCrc, 156},             {Err::EndOfDisk, 181},
    {Err::SectorNotFound, 153},       {Err::InvalidDiskChange, 157},  {Err::DriveLocked, 159},
    {Err::DiskFull, 1009},            {Err::InsufficientBuffer, 158}, {Err::AddressMarkNotFound, 154},
    {Err::UnknownError, 155},         {Err::UnrecognizedMedia, 129},  {Err::WriteFault, 2201},
};

constexpr uint32_t kNumberedErrorString = 1010;

}  // namespace

std::string DiskErrorText(DiskError code)
{
    if (code == Err::None)
        return {};
    for (const ErrorString& e : kErrorStrings)
        if (e.code == code)
            return LoadString(e.stringId);
    return FormatString(kNumberedErrorString, static_cast<long>(static_cast<int32_t>(code)));
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
