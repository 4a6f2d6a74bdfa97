// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/diskdrive.h"

#include <algorithm>
#include <cctype>
#include <new>
#include <utility>
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
    if (const DriveBinding* binding = table.Find(letter))
        boundPath = binding->path;
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
    // A refused level-0 lock is latched: the first transfer reports it.
    (void)SetLockState(LockState::Level0);
    mediaType = kMediaUnknown;
}

DiskStatus DiskDrive::Commit()
{
    commitFailureDetail.clear();
    if (heldChanges_) {
        if (const DiskError held = heldChanges_(commitFailureDetail); held != Err::None)
            return Fail(held);
    }
    if (!device || device->Flush(commitFailureDetail))
        return {};
    return Fail(Err::WriteFault);
}

DiskStatus DiskDrive::Fail(DiskError error)
{
    lastError = error;
    return error;
}

DiskStatus DiskDrive::Outcome(bool succeeded) const
{
    if (succeeded)
        return {};
    return lastError != Err::None ? lastError : Err::UnrecognizedMedia;
}

DiskError DiskDrive::TakeError()
{
    return std::exchange(lastError, Err::None);
}

bool GoOnAfterFailure::operator()(DiskStatus step)
{
    Note(drive_.TakeError());
    Note(step.error());
    return static_cast<bool>(step);
}

void GoOnAfterFailure::Note(DiskError error)
{
    if (first_ == Err::None)
        first_ = error;
}

DiskDrive::~DiskDrive()
{
    if (device) {
        if (parameterTableInstalled_)
            RestoreParameterTable();
        (void)SetLockState(LockState::Unlocked);
    }
}

DiskStatus DiskDrive::SendIoctl(uint8_t minor, uint32_t edx, std::span<uint8_t> block,
                                std::span<uint8_t> buffer)
{
    DiskRequest request;
    request.controlCode = Control::DosIoctl;
    request.regs.ebx = driveNumber;
    if (IsSpecialLockMinor(minor)) {
        if (!IsPhysicalDrive())
            return Fail(Err::InvalidDrive);
        request.regs.ebx = static_cast<uint32_t>(driveNumber - 1);
    }
    request.regs.ecx = kCategoryDisk | minor;
    request.regs.eax = kIoctlFunction;
    request.regs.edx = edx;
    request.regs.flags = 1;
    request.block = block;
    request.buffer = buffer;
    if (!device || !device->DeviceIoControl(request))
        return Fail(Err::InvalidFunction);
    if (request.regs.carry())
        lastError = static_cast<DiskError>(request.regs.eax);
    return lastError;
}

DiskStatus DiskDrive::GenericIoctl(uint8_t minor, std::span<uint8_t> block, std::span<uint8_t> buffer)
{
    return SendIoctl(minor, 0, block, buffer);
}

DiskStatus DiskDrive::GenericIoctl(uint8_t minor, uint16_t permission)
{
    return SendIoctl(minor, permission, {}, {});
}

DiskStatus DiskDrive::Int13(uint8_t function, uint8_t head, uint8_t cylinder, uint8_t sector,
                            uint8_t count)
{
    if (!IsPhysicalDrive())
        return Fail(Err::InvalidDrive);
    lastSector = sector;
    DiskRequest request;
    request.controlCode = Control::Int13;
    request.regs.edx = (uint32_t{head} << 8) | static_cast<uint32_t>(driveNumber - 1);
    request.regs.ecx = (uint32_t{cylinder} << 8) | sector;
    request.regs.eax = (uint32_t{function} << 8) | count;
    request.regs.flags = 1;
    request.block = formatIdList;
    if (!device || !device->DeviceIoControl(request))
        return Fail(Err::InvalidFunction);
    if (request.regs.carry())
        lastError = DiskErrorFromBiosStatus(static_cast<uint8_t>(request.regs.eax >> 8));
    return lastError;
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
        lastError = static_cast<DiskError>(request.regs.eax);
        return LockQuery::Failed;
    }
    state = static_cast<uint16_t>((request.regs.cx() << 8) | request.regs.ax());
    return LockQuery::Answered;
}

DiskStatus DiskDrive::SetLockState(uint16_t wanted)
{
    uint16_t current = 0;
    if (QueryLockState(current) != LockQuery::Answered)
        return Outcome(false);
    if (current == wanted || wanted == LockState::QueryOnly)
        return {};

    const uint8_t lock = IsPhysicalDrive() ? Minor::LockPhysical : Minor::LockLogical;
    const uint8_t unlock = IsPhysicalDrive() ? Minor::UnlockPhysical : Minor::UnlockLogical;
    using namespace LockState;
    if (current == Level0 && wanted == Unlocked) {
        (void)GenericIoctl(unlock, 0);
    } else if (current == Level0 && wanted == Format) {
        (void)GenericIoctl(lock, 4);
    } else if (current == Format && wanted == Unlocked) {
        (void)GenericIoctl(unlock, 0);
        (void)GenericIoctl(unlock, 0);
    } else if (current == Format && wanted == Level0) {
        (void)GenericIoctl(unlock, 0);
    } else if (current == Unlocked && wanted == Level0) {
        (void)GenericIoctl(lock, 0);
    } else if (current == Unlocked && wanted == Format) {
        (void)GenericIoctl(lock, 0);
        (void)GenericIoctl(lock, 4);
    }
    // A failed step, or a failed final query, is left latched; the answer is a success
    // unless the device refused the query.
    return Outcome(QueryLockState(current) != LockQuery::Refused);
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
    (void)SetLockState(LockState::Format);
    formatMode = true;
    // Whatever diskette is in the drive now is formatted as the new one.
    firstSectorSeen_.clear();
    emptiedSince_ = false;
    if (HasDmfGeometry()) {
        // The driver learns the medium from a 1.44M track 0 before the 21-sector tracks.
        const int32_t remembered = mediaType;
        (void)SelectMedia(kMedia144M, false);
        (void)FormatTrack(0, 0, true);
        (void)SelectMedia(remembered, false);
        InstallParameterTable();
    }
    // Format mode starts with nothing latched, whatever the steps above met.
    lastError = Err::None;
}

DiskStatus DiskDrive::EndFormat(const BootSectorWriter& writeBootSector)
{
    if (HasDmfGeometry())
        RestoreParameterTable();
    formatMode = false;
    (void)SetLockState(LockState::Level0);
    (void)SetTrackLayout(kStandardLayout, 0);
    lastError = Err::None;
    const DiskStatus written = writeBootSector(*this);
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
