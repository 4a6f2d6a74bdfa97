// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "drive/deviceparams.h"

namespace vokta {

// The register image of one request: EBX, EDX, ECX, EAX, EDI, ESI, Flags. It is the
// input and the output of the request.
struct Registers {
    uint32_t ebx = 0;
    uint32_t edx = 0;
    uint32_t ecx = 0;
    uint32_t eax = 0;
    uint32_t edi = 0;
    uint32_t esi = 0;
    uint32_t flags = 0;

    bool carry() const { return (flags & 1u) != 0; }
    uint16_t ax() const { return static_cast<uint16_t>(eax); }
    uint16_t cx() const { return static_cast<uint16_t>(ecx); }
};

// Device control codes.
namespace Control {
constexpr uint32_t DosIoctl = 1;  // INT 21h AX=440Dh, CH=08h, CL=minor
constexpr uint32_t Int13 = 4;     // BIOS diskette service
}  // namespace Control

// Block-device IOCTL minor codes (category 08h).
namespace Minor {
constexpr uint8_t SetDeviceParams = 0x40;
constexpr uint8_t WriteTrack = 0x41;
constexpr uint8_t FormatTrack = 0x42;
constexpr uint8_t LockLogical = 0x4A;
constexpr uint8_t LockPhysical = 0x4B;
constexpr uint8_t GetDeviceParams = 0x60;
constexpr uint8_t ReadTrack = 0x61;
constexpr uint8_t VerifyTrack = 0x62;
constexpr uint8_t GetMediaId = 0x66;
constexpr uint8_t UnlockLogical = 0x6A;
constexpr uint8_t UnlockPhysical = 0x6B;
constexpr uint8_t GetLockState = 0x70;
}  // namespace Minor

// BIOS diskette functions (AH).
namespace Bios {
constexpr uint8_t Reset = 0x00;
constexpr uint8_t FormatTrack = 0x05;
}  // namespace Bios

// One request to the disk service. Where the register image carries an address on the
// original device (EDX of an IOCTL, EBX of INT 13h), the pointed-to parameter block
// travels as `block`; the data of a track read or write travels as `buffer`.
struct DiskRequest {
    uint32_t controlCode = 0;
    Registers regs;
    std::span<uint8_t> block;
    std::span<uint8_t> buffer;

    uint8_t minor() const { return static_cast<uint8_t>(regs.ecx); }
    uint8_t biosFunction() const { return static_cast<uint8_t>(regs.eax >> 8); }
};

// The 13-byte diskette parameter table used while 21-sector tracks are formatted:
// specify bytes, motor-off delay, size code 2, 21 sectors, r/w gap 1Bh, data length,
// format gap 13h, filler F6h, head settle, motor start, two zero bytes.
using DisketteParameterTable = std::array<uint8_t, 13>;
constexpr DisketteParameterTable kDmfParameterTable = {
    0xDF, 0x02, 0x25, 0x02, 0x15, 0x1B, 0xFF, 0x13, 0xF6, 0x0F, 0x08, 0x00, 0x00};

// A track's sector order as a drive that numbers the sectors itself gives it: sector 1
// sits `cylinderShift` places further on from one cylinder to the next and `headShift`
// from one head to the other, and the following sectors come every `interleave` places.
struct DriverLayout {
    int interleave = 1;
    int cylinderShift = 0;
    int headShift = 0;
};

// What answers the drive's requests as the DOS block-device IOCTL and the BIOS diskette
// service would: a real floppy drive, a diskette file, or the in-memory emulated drive.
class DiskService {
public:
    virtual ~DiskService() = default;

    // Serves one request. False when the device refuses it outright; otherwise the
    // registers hold the answer: carry (Flags bit 0) set means failure, with the DOS
    // error code in EAX (IOCTL) or the BIOS status in AH (INT 13h).
    virtual bool DeviceIoControl(DiskRequest& request) = 0;

    // False when the drive has no readable medium (not ready, or no such unit).
    virtual bool IsDriveReady() = 0;

    // Makes 21-sector BIOS formats use this table's sector count, gaps and filler, until
    // RestoreParameterTable. False when the platform has no means to do so.
    virtual bool InstallParameterTable(const DisketteParameterTable& table) = 0;
    virtual bool RestoreParameterTable() = 0;

    // False once a track was formatted with a sector order the drive chose itself, not the
    // layout asked for: the user is to be told, not left to believe the layout is there.
    virtual bool LayoutHonoured() const { return true; }
    // The order the drive gave the sectors instead, when it is known.
    virtual std::optional<DriverLayout> LayoutChosenByDriver() const { return std::nullopt; }

    // Why the drive cannot take a medium of these parameters at all, in words for the user;
    // empty when it can, or cannot tell. Asked before a format writes anything.
    virtual std::string MediaRefusal(const DeviceParams& /*params*/) { return {}; }

    // The moves a rescue makes between retries of a sector that will not read: the head
    // back to track 0 the controller's way (recalibrate), and to a cylinder without
    // reading, so that the next read approaches its track from that side. False where
    // there is no head to move (a diskette file) or the drive cannot be told.
    virtual bool Recalibrate() { return false; }
    virtual bool SeekHead(uint16_t /*cylinder*/) { return false; }
    // How many revolutions a drive that reads the flux takes over a sector that read
    // badly, from now on; 0 gives back its own number. Other drives read as they read.
    virtual void SetRetryRevolutions(unsigned /*revolutions*/) {}

    // Makes the changes the service still holds back (a diskette file's new contents) last.
    // False with the cause in words in `reason`; the changes are then not where they last.
    virtual bool Flush(std::string& reason)
    {
        reason.clear();
        return true;
    }
};

// A service in front of another, to which it passes everything on: the base of the
// wrappers that sit on any backend, each overriding what it adds.
class ForwardingService : public DiskService {
public:
    explicit ForwardingService(std::shared_ptr<DiskService> service) : service_(std::move(service)) {}
    bool DeviceIoControl(DiskRequest& request) override { return service_->DeviceIoControl(request); }
    bool IsDriveReady() override { return service_->IsDriveReady(); }
    bool InstallParameterTable(const DisketteParameterTable& table) override
    {
        return service_->InstallParameterTable(table);
    }
    bool RestoreParameterTable() override { return service_->RestoreParameterTable(); }
    bool LayoutHonoured() const override { return service_->LayoutHonoured(); }
    std::optional<DriverLayout> LayoutChosenByDriver() const override { return service_->LayoutChosenByDriver(); }
    std::string MediaRefusal(const DeviceParams& params) override { return service_->MediaRefusal(params); }
    bool Flush(std::string& reason) override { return service_->Flush(reason); }
    bool Recalibrate() override { return service_->Recalibrate(); }
    bool SeekHead(uint16_t cylinder) override { return service_->SeekHead(cylinder); }
    void SetRetryRevolutions(unsigned revolutions) override { service_->SetRetryRevolutions(revolutions); }

private:
    std::shared_ptr<DiskService> service_;
};

// A service that forwards to one shared by several drive objects (the emulated drive
// outlives the DiskDrive objects that use it, as a real drive does).
std::unique_ptr<DiskService> ShareService(std::shared_ptr<DiskService> service);

}  // namespace vokta
