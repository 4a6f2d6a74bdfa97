// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

namespace vokta {

// Result code of a disk request: the system's error numbers (below 32 also the DOS
// extended error codes), with the BIOS statuses and our own checks mapped into them. Any
// other code a service returns stays representable through static_cast.
enum class DiskError : uint32_t {
    None = 0,
    InvalidFunction = 1,
    FileNotFound = 2,
    AccessDenied = 5,
    InvalidData = 13,
    InvalidDrive = 15,
    WriteProtect = 19,
    BadUnit = 20,
    NotReady = 21,
    BadCrc = 23,
    EndOfDisk = 25,
    SectorNotFound = 27,
    WriteFault = 29,
    GeneralFailure = 31,
    HostDiskFull = 39,  // no room on the file system that holds a diskette file
    InvalidDiskChange = 107,
    DriveLocked = 108,
    DiskFull = 112,
    InsufficientBuffer = 122,
    AddressMarkNotFound = 1122,
    UnknownError = 1124,
    UnrecognizedMedia = 1785,
};

namespace Err {
using enum DiskError;
}  // namespace Err

// The number of a code, as the services and the numbered text carry it.
constexpr uint32_t CodeOf(DiskError error)
{
    return static_cast<uint32_t>(error);
}

// The outcome of one disk request: ok, or the one error it failed with. True when ok, so
// `if (!drive.ReadSectors(...))` reads as it says.
class [[nodiscard]] DiskStatus {
public:
    constexpr DiskStatus() = default;
    constexpr DiskStatus(DiskError error) : error_(error) {}
    constexpr explicit operator bool() const { return error_ == DiskError::None; }
    constexpr DiskError error() const { return error_; }
    friend constexpr bool operator==(DiskStatus, DiskStatus) = default;

private:
    DiskError error_ = DiskError::None;
};

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
