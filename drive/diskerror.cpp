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
    {Err::UnknownError, 155},         {Err::UnrecognizedMedia, 129},
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
    case 0x02: case 0x0F: return Err::AddressMarkNotFound;
    case 0x03: return Err::WriteProtect;
    case 0x04: case 0x0A: case 0x0B: case 0x0D: return Err::SectorNotFound;
    case 0x06: return Err::InvalidDiskChange;
    case 0x08: case 0x09: return Err::AccessDenied;
    case 0x0C: return Err::UnrecognizedMedia;
    case 0x10: case 0x11: return Err::BadCrc;
    case 0x20: case 0x80: return Err::NotReady;
    case 0x40: return Err::EndOfDisk;
    default: return Err::UnknownError;
    }
}

}  // namespace vokta
