#pragma once

#include <cstdint>
#include <string>

namespace vokta {

// Result code of a disk request: the system's error numbers (below 32 also the DOS
// extended error codes), with the BIOS statuses and our own checks mapped into them.
using DiskError = uint32_t;

namespace Err {
constexpr DiskError None = 0;
constexpr DiskError InvalidFunction = 1;
constexpr DiskError FileNotFound = 2;
constexpr DiskError AccessDenied = 5;
constexpr DiskError InvalidData = 13;
constexpr DiskError InvalidDrive = 15;
constexpr DiskError WriteProtect = 19;
constexpr DiskError BadUnit = 20;
constexpr DiskError NotReady = 21;
constexpr DiskError BadCrc = 23;
constexpr DiskError EndOfDisk = 25;
constexpr DiskError SectorNotFound = 27;
constexpr DiskError WriteFault = 29;
constexpr DiskError GeneralFailure = 31;
constexpr DiskError InvalidDiskChange = 107;
constexpr DiskError DriveLocked = 108;
constexpr DiskError DiskFull = 112;
constexpr DiskError InsufficientBuffer = 122;
constexpr DiskError AddressMarkNotFound = 1122;
constexpr DiskError UnknownError = 1124;
constexpr DiskError UnrecognizedMedia = 1785;
}  // namespace Err

// BIOS diskette statuses (AH after INT 13h with carry set).
namespace BiosStatus {
constexpr uint8_t BadCommand = 0x01;
constexpr uint8_t AddressMark = 0x02;
constexpr uint8_t WriteProtected = 0x03;
constexpr uint8_t SectorNotFound = 0x04;
constexpr uint8_t MediaChanged = 0x06;
constexpr uint8_t DmaOverrun = 0x08;
constexpr uint8_t MediaTypeNotFound = 0x0C;
constexpr uint8_t Crc = 0x10;
constexpr uint8_t ControllerFailure = 0x20;
constexpr uint8_t SeekFailed = 0x40;
constexpr uint8_t Timeout = 0x80;
}  // namespace BiosStatus

// Whether the error says the diskette is gone (taken out, or another one put in) rather
// than that the sectors asked for are bad: the diskette then tells nothing about them.
inline bool DisketteGone(DiskError code)
{
    return code == Err::NotReady || code == Err::InvalidDiskChange;
}

// The one-line message of a code in the current language ("" for 0).
std::string DiskErrorText(DiskError code);

// The DiskError of a BIOS diskette status (AH after INT 13h with carry set).
DiskError DiskErrorFromBiosStatus(uint8_t status);

// The BIOS diskette status that reports this error to a BIOS caller; 0 for none.
uint8_t BiosStatusOfDiskError(DiskError error);

}  // namespace vokta
