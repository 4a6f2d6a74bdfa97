#include "drive/diskdrive.h"

#include <algorithm>
#include <cctype>
#include <new>
#include <vector>

#include "drive/drivetable.h"
#include "drive/tracklayout.h"

namespace vokta {
namespace {

constexpr uint32_t kIoctlFunction = 0x440D;
constexpr uint32_t kCategoryDisk = 0x0800;

uint8_t DriveNumberOf(char letter)
{
    return static_cast<uint8_t>(NormalizeDriveLetter(letter) - 0x40);
}

DriveOpenResult OpenDrive(char letter, const DriveTable& table)
{
    const DriveBinding* binding = table.Find(letter);
    if (!binding)
        return {nullptr, Err::InvalidDrive, {}};
    DriveOpenResult opened = binding->open ? binding->open() : DriveOpenResult{};
    if (!opened.service && opened.error == Err::None)
        opened.error = Err::AccessDenied;
    return opened;
}

bool IsSpecialLockMinor(uint8_t minor)
{
    return minor == Minor::LockPhysical || minor == Minor::UnlockPhysical;
}

}  // namespace

TrackIoBlock::TrackIoBlock(uint16_t head, uint16_t cylinder, uint16_t firstSector, uint16_t count)
{
    PutU16(bytes, 1, head);
    PutU16(bytes, 3, cylinder);
    PutU16(bytes, 5, firstSector);
    PutU16(bytes, 7, count);
    // Offsets 9..14 hold the buffer's address and data selector on the original device;
    // here the buffer travels beside the block, so they stay 0.
}

TrackBlock::TrackBlock(uint16_t head, uint16_t cylinder)
{
    PutU16(bytes, 1, head);
    PutU16(bytes, 3, cylinder);
}

DiskDrive::DiskDrive(char letter, const DriveTable& table)
{
    driveNumber = DriveNumberOf(letter);
    DriveOpenResult opened = OpenDrive(letter, table);
    if (!opened.service) {
        lastError = opened.error;
        openFailureDetail = std::move(opened.detail);
        return;
    }
    device = std::move(opened.service);
    if (!SetLockState(LockState::Unlocked)) {
        lastError = Err::DriveLocked;
        return;
    }
    SetLockState(LockState::Level0);
    mediaType = kMediaUnknown;
}

bool DiskDrive::Commit()
{
    commitFailureDetail.clear();
    if (!device || device->Flush(commitFailureDetail))
        return true;
    lastError = Err::WriteFault;
    return false;
}

DiskDrive::~DiskDrive()
{
    if (device) {
        if (parameterTableInstalled_)
            RestoreParameterTable();
        SetLockState(LockState::Unlocked);
    }
}

bool DiskDrive::SendIoctl(uint8_t minor, uint32_t edx, std::span<uint8_t> block,
                          std::span<uint8_t> buffer)
{
    DiskRequest request;
    request.controlCode = Control::DosIoctl;
    request.regs.ebx = driveNumber;
    if (IsSpecialLockMinor(minor)) {
        if (!IsPhysicalDrive()) {
            lastError = Err::InvalidDrive;
            return false;
        }
        request.regs.ebx = static_cast<uint32_t>(driveNumber - 1);
    }
    request.regs.ecx = kCategoryDisk | minor;
    request.regs.eax = kIoctlFunction;
    request.regs.edx = edx;
    request.regs.flags = 1;
    request.block = block;
    request.buffer = buffer;
    if (!device || !device->DeviceIoControl(request)) {
        lastError = Err::InvalidFunction;
        return false;
    }
    if (request.regs.carry())
        lastError = request.regs.eax;
    return lastError == Err::None;
}

bool DiskDrive::GenericIoctl(uint8_t minor, std::span<uint8_t> block, std::span<uint8_t> buffer)
{
    return SendIoctl(minor, 0, block, buffer);
}

bool DiskDrive::GenericIoctl(uint8_t minor, uint16_t permission)
{
    return SendIoctl(minor, permission, {}, {});
}

bool DiskDrive::Int13(uint8_t function, uint8_t head, uint8_t cylinder, uint8_t sector,
                      uint8_t count)
{
    if (!IsPhysicalDrive()) {
        lastError = Err::InvalidDrive;
        return false;
    }
    lastSector = sector;
    DiskRequest request;
    request.controlCode = Control::Int13;
    request.regs.edx = (uint32_t{head} << 8) | static_cast<uint32_t>(driveNumber - 1);
    request.regs.ecx = (uint32_t{cylinder} << 8) | sector;
    request.regs.eax = (uint32_t{function} << 8) | count;
    request.regs.flags = 1;
    request.block = formatIdList;
    if (!device || !device->DeviceIoControl(request)) {
        lastError = Err::InvalidFunction;
        return false;
    }
    if (request.regs.carry())
        lastError = DiskErrorFromBiosStatus(static_cast<uint8_t>(request.regs.eax >> 8));
    return lastError == Err::None;
}

DiskDrive::LockQuery DiskDrive::QueryLockState(uint16_t& state)
{
    DiskRequest request;
    request.controlCode = Control::DosIoctl;
    request.regs.ebx = driveNumber;
    request.regs.ecx = kCategoryDisk | Minor::GetLockState;
    request.regs.eax = kIoctlFunction;
    request.regs.flags = 1;
    if (!device || !device->DeviceIoControl(request)) {
        lastError = Err::InvalidFunction;
        return LockQuery::Refused;
    }
    if (request.regs.carry()) {
        lastError = request.regs.eax;
        return LockQuery::Failed;
    }
    state = static_cast<uint16_t>((request.regs.cx() << 8) | request.regs.ax());
    return LockQuery::Answered;
}

bool DiskDrive::SetLockState(uint16_t wanted)
{
    uint16_t current = 0;
    if (QueryLockState(current) != LockQuery::Answered)
        return false;
    if (current == wanted || wanted == LockState::QueryOnly)
        return true;

    const uint8_t lock = IsPhysicalDrive() ? Minor::LockPhysical : Minor::LockLogical;
    const uint8_t unlock = IsPhysicalDrive() ? Minor::UnlockPhysical : Minor::UnlockLogical;
    using namespace LockState;
    if (current == Level0 && wanted == Unlocked) {
        GenericIoctl(unlock, 0);
    } else if (current == Level0 && wanted == Format) {
        GenericIoctl(lock, 4);
    } else if (current == Format && wanted == Unlocked) {
        GenericIoctl(unlock, 0);
        GenericIoctl(unlock, 0);
    } else if (current == Format && wanted == Level0) {
        GenericIoctl(unlock, 0);
    } else if (current == Unlocked && wanted == Level0) {
        GenericIoctl(lock, 0);
    } else if (current == Unlocked && wanted == Format) {
        GenericIoctl(lock, 0);
        GenericIoctl(lock, 4);
    }
    // A failed step, or a failed final query, is left in lastError; the answer is true
    // unless the device refused the query.
    return QueryLockState(current) != LockQuery::Refused;
}

int DiskDrive::QueryDeviceType(const std::string& root, const DriveTable& table)
{
    if (root.empty())
        return -1;
    DriveOpenResult opened = OpenDrive(root[0], table);
    if (!opened.service)
        return -1;
    DeviceParams block;  // special functions 0, no layout: the drive's default parameters
    DiskRequest request;
    request.controlCode = Control::DosIoctl;
    request.regs.ebx = DriveNumberOf(root[0]);
    request.regs.ecx = kCategoryDisk | Minor::GetDeviceParams;
    request.regs.eax = kIoctlFunction;
    request.regs.flags = 1;
    request.block = block.span();
    if (!opened.service->DeviceIoControl(request) || request.regs.carry())
        return -1;
    return block.deviceType();
}

bool DiskDrive::IsDriveReady()
{
    return device && device->IsDriveReady();
}

void DiskDrive::BeginFormat()
{
    SetLockState(LockState::Format);
    formatMode = true;
    // Whatever diskette is in the drive now is formatted as the new one.
    firstSectorSeen_.clear();
    emptiedSince_ = false;
    if (HasDmfGeometry()) {
        // The driver learns the medium from a 1.44M track 0 before the 21-sector tracks.
        const int32_t remembered = mediaType;
        SelectMedia(kMedia144M, false);
        FormatTrack(0, 0, true);
        SelectMedia(remembered, false);
        InstallParameterTable();
    }
    lastError = Err::None;
}

bool DiskDrive::EndFormat(const BootSectorWriter& writeBootSector)
{
    if (HasDmfGeometry())
        RestoreParameterTable();
    formatMode = false;
    SetLockState(LockState::Level0);
    SetTrackLayout(kStandardLayout, 0);
    lastError = Err::None;
    const bool written = writeBootSector(*this);
    lastError = Err::None;
    return written;
}

bool DiskDrive::InstallParameterTable()
{
    if (parameterTableInstalled_)
        return true;
    if (!device || !device->InstallParameterTable(kDmfParameterTable))
        return false;
    parameterTableInstalled_ = true;
    return true;
}

bool DiskDrive::RestoreParameterTable()
{
    if (!parameterTableInstalled_)
        return false;
    parameterTableInstalled_ = false;
    return device && device->RestoreParameterTable();
}

}  // namespace vokta
