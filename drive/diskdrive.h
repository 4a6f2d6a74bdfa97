// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "drive/deviceparams.h"
#include "drive/diskerror.h"
#include "drive/diskservice.h"
#include "drive/media.h"
#include "res/codepage.h"

namespace vokta {

class DriveTable;

// Parameter block of the track read/write requests: 15 bytes.
struct TrackIoBlock {
    static constexpr size_t kSize = 15;
    std::array<uint8_t, kSize> bytes{};
    TrackIoBlock(uint16_t head, uint16_t cylinder, uint16_t firstSector, uint16_t count);
    static uint16_t Head(std::span<const uint8_t> b) { return GetU16(b, 1); }
    static uint16_t Cylinder(std::span<const uint8_t> b) { return GetU16(b, 3); }
    static uint16_t FirstSector(std::span<const uint8_t> b) { return GetU16(b, 5); }
    static uint16_t Count(std::span<const uint8_t> b) { return GetU16(b, 7); }
};

// Parameter block of the track verify and format requests: 7 bytes.
struct TrackBlock {
    static constexpr size_t kSize = 7;
    std::array<uint8_t, kSize> bytes{};
    TrackBlock(uint16_t head, uint16_t cylinder);
    static uint16_t Head(std::span<const uint8_t> b) { return GetU16(b, 1); }
    static uint16_t Cylinder(std::span<const uint8_t> b) { return GetU16(b, 3); }
    static uint16_t Tracks(std::span<const uint8_t> b) { return GetU16(b, 5); }
};

// Answer block of get-media-ID: level, serial, label, file-system type. 25 bytes.
struct MediaIdBlock {
    static constexpr size_t kSize = 25;
    std::array<uint8_t, kSize> bytes{};
    uint32_t serial() const { return GetU32(bytes, 2); }
    // The diskette holds the label in code page 1252; the program's text is UTF-8.
    std::string label() const { return Windows1252ToUtf8(std::string(bytes.begin() + 6, bytes.begin() + 17)); }
    std::string fileSystem() const { return std::string(bytes.begin() + 17, bytes.end()); }
};

// Volume lock states: (permissions << 8) | lock level.
namespace LockState {
constexpr uint16_t Unlocked = 0xFFFF;
constexpr uint16_t Level0 = 0x0000;
constexpr uint16_t Format = 0x0400;
constexpr uint16_t QueryOnly = 0x5555;
}  // namespace LockState

constexpr uint16_t kStandardLayout = 0xFFFF;
constexpr size_t kSectorSize = 512;

class DiskDrive;

// Writes the boot sector that a format leaves on the diskette. Boot sectors are built
// above the drive, so whoever formats hands the writer down to EndFormat.
using BootSectorWriter = std::function<DiskStatus(DiskDrive&)>;

// The object through which every disk request for one drive passes. It lives for one
// operation: construction takes a level-0 lock on the volume, destruction releases it.
// Every transfer returns its outcome; a failure is also latched, and the latched error
// blocks further transfers until it is taken (TakeError, GetErrorText).
class DiskDrive {
public:
    DiskDrive(char letter, const DriveTable& table);
    ~DiskDrive();

    DiskDrive(const DiskDrive&) = delete;
    DiskDrive& operator=(const DiskDrive&) = delete;

    // Request layer.
    DiskStatus GenericIoctl(uint8_t minor, std::span<uint8_t> block, std::span<uint8_t> buffer = {});
    DiskStatus GenericIoctl(uint8_t minor, uint16_t permission);  // lock and unlock requests
    DiskStatus Int13(uint8_t function, uint8_t head, uint8_t cylinder, uint8_t sector, uint8_t count);
    DiskStatus SetLockState(uint16_t wanted);
    static int QueryDeviceType(const std::string& root, const DriveTable& table);
    bool IsDriveReady();
    void BeginFormat();
    // Leaves format mode and writes the boot sector with `writeBootSector`; the writer's
    // outcome. Nothing is latched afterwards either way.
    DiskStatus EndFormat(const BootSectorWriter& writeBootSector);

    // Sector and track I/O.
    DiskStatus ReadSectors(uint32_t first, uint16_t count, std::span<uint8_t> buffer);
    DiskStatus WriteSectors(uint32_t first, uint16_t count, std::span<const uint8_t> buffer);
    DiskStatus VerifyTrack(uint16_t cylinder, uint16_t head);
    DiskStatus FormatTrack(uint16_t cylinder, uint16_t head, bool optimized);
    DiskStatus SetTrackLayout(uint16_t cylinder, uint16_t head);
    bool IsWriteProtected();
    // Fails, latched, with unrecognized media while no media is selected.
    DiskStatus RequireMedia();

    // The latched error, left latched.
    DiskError PendingError() const { return lastError; }
    // The latched error, taken: the latch is clear afterwards.
    DiskError TakeError();
    // The text of the latched error, taken ("" when none is latched).
    std::string GetErrorText();
    // The text of an error of this drive: for a full host file system, with the path of
    // the diskette file on it beneath, so that the user knows where room is wanted.
    std::string ErrorText(DiskError code) const;

    // Makes every change of the operation last (a diskette file saved, FAT copies written):
    // an explicit step whose failure is the operation's. A failure is latched, with the
    // cause in words in `commitFailureDetail`.
    DiskStatus Commit();
    // Changes held above the drive (a FAT volume's tables), which Commit writes before the
    // drive's own. Their holder sets the writer for its lifetime and an empty one at its end;
    // the writer answers the error that kept them off the disk, and the cause in words.
    using HeldChangesWriter = std::function<DiskError(std::string& why)>;
    void HoldChanges(HeldChangesWriter writer) { heldChanges_ = std::move(writer); }

    // Media selection and detection (type 6 detects).
    DiskStatus SelectMedia(int32_t type, bool allowTestFormat);

    DiskService* Service() { return device.get(); }

    DeviceParams params;
    int32_t mediaType = kMediaUnknown;
    uint32_t lastSector = 0;
    uint8_t driveNumber = 0;
    bool formatMode = false;
    std::unique_ptr<DiskService> device;
    std::array<uint8_t, 64 * 4> formatIdList{};
    std::string errorText;
    // What the drive table said when the device could not be opened.
    std::string openFailureDetail;
    // Why the last Commit failed, in words.
    std::string commitFailureDetail;
    // The device or diskette file behind the drive letter, as the drive table binds it.
    std::string boundPath;

private:
    friend std::vector<uint32_t> ReadSectorsLatchingGone(DiskDrive& drive, uint32_t first, std::span<uint8_t> buffer);

    // Latches `error`; the failed outcome that reports it.
    DiskStatus Fail(DiskError error);
    // The outcome of a request that answered `succeeded`: a failure reports the latched
    // error, or unrecognized media when it latched none.
    DiskStatus Outcome(bool succeeded) const;
    DiskStatus SendIoctl(uint8_t minor, uint32_t edx, std::span<uint8_t> block, std::span<uint8_t> buffer);
    enum class LockQuery { Answered, Refused, Failed };
    LockQuery QueryLockState(uint16_t& state);
    DiskStatus TransferSectors(uint8_t minor, uint32_t first, uint16_t count, std::span<uint8_t> buffer);
    bool SelectExplicit(int32_t type);
    bool Detect(bool allowTestFormat);
    bool InstallParameterTable();
    bool RestoreParameterTable();
    uint32_t FirstSectorOfTrack(uint16_t cylinder, uint16_t head) const;
    bool IsPhysicalDrive() const { return driveNumber == 1 || driveNumber == 2; }
    bool HasDmfGeometry() const { return params.sectorsPerTrack() == 21; }
    // Whether the diskette in the drive is the one whose first sector was last seen; fails,
    // latched, when it is another one, or still none.
    DiskStatus SameDisketteBack();
    // The sticky error: a failure latched here blocks further transfers until it is taken.
    DiskError lastError = Err::None;
    bool parameterTableInstalled_ = false;
    HeldChangesWriter heldChanges_;
    // The first sector as last read or written, and whether the drive was found empty since:
    // a diskette put back must be the same one before anything more goes to or from it.
    std::vector<uint8_t> firstSectorSeen_;
    bool emptiedSince_ = false;
};

// Runs steps that may each fail without stopping the ones after: each step's latched
// error is taken once the step is done, so it does not block the next, and whatever is
// still latched when the scope ends is taken then. `error()` is the first failure.
class GoOnAfterFailure {
public:
    explicit GoOnAfterFailure(DiskDrive& drive) : drive_(drive) {}
    ~GoOnAfterFailure() { Note(drive_.TakeError()); }
    GoOnAfterFailure(const GoOnAfterFailure&) = delete;
    GoOnAfterFailure& operator=(const GoOnAfterFailure&) = delete;

    // Whether `step` succeeded; what it latched is taken.
    bool operator()(DiskStatus step);
    DiskError error() const { return first_ != Err::None ? first_ : drive_.PendingError(); }

private:
    void Note(DiskError error);
    DiskDrive& drive_;
    DiskError first_ = Err::None;
};

// The failure of a drive in words: the pending error's text (taken, so cleared; a failure
// without a code of its own reads as unrecognized media), with what the drive table said
// when the device could not be opened.
std::string TakeFailureText(DiskDrive& drive);

// Detects the diskette's media without a test format; false with the failure in words,
// also when the selection left an error pending.
bool DetectMediaSayingWhy(DiskDrive& drive, std::string& reason);

// Reads `buffer.size() / 512` sectors from `first` one at a time, so that only the sectors
// that really fail are lost: they are left zero. Nothing is latched afterwards. The
// positions (from 0) of the sectors that could not be read. `goneWith`, when given, receives
// the error that stopped the reads because the diskette was no longer there (else Err::None).
std::vector<uint32_t> ReadSectorsOneByOne(DiskDrive& drive, uint32_t first, std::span<uint8_t> buffer,
                                          DiskError* goneWith = nullptr);
// As ReadSectorsOneByOne, but the error of a diskette found gone stays latched, for the
// caller to tell; any other failure is taken.
std::vector<uint32_t> ReadSectorsLatchingGone(DiskDrive& drive, uint32_t first, std::span<uint8_t> buffer);

}  // namespace vokta
