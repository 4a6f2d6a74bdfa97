// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "drive/diskerror.h"
#include "drive/media.h"

namespace vokta {

// Commands of a USB floppy drive (the UFI command set). Every command block is 12 bytes.
namespace Ufi {
constexpr size_t kCdbSize = 12;
using Cdb = std::array<uint8_t, kCdbSize>;

namespace Op {
constexpr uint8_t TestUnitReady = 0x00;
constexpr uint8_t RezeroUnit = 0x01;
constexpr uint8_t RequestSense = 0x03;
constexpr uint8_t FormatUnit = 0x04;
constexpr uint8_t Inquiry = 0x12;
constexpr uint8_t ReadFormatCapacities = 0x23;
constexpr uint8_t ReadCapacity = 0x25;
constexpr uint8_t Read10 = 0x28;
constexpr uint8_t Write10 = 0x2A;
constexpr uint8_t Seek10 = 0x2B;
constexpr uint8_t Verify = 0x2F;
constexpr uint8_t ModeSense10 = 0x5A;
}  // namespace Op

constexpr uint8_t kInquiryLength = 36;
constexpr uint8_t kSenseLength = 18;
// The capacity list header and up to 31 descriptors of 8 bytes fit in 252 bytes.
constexpr uint16_t kCapacityListLength = 252;
constexpr uint16_t kModeSenseLength = 192;
// The header of the format parameter list and its one descriptor.
constexpr size_t kFormatParameterLength = 12;

Cdb TestUnitReady();
Cdb RequestSense(uint8_t allocation = kSenseLength);
Cdb Inquiry(uint8_t allocation = kInquiryLength);
Cdb ReadFormatCapacities(uint16_t allocation = kCapacityListLength);
// The mode parameter header and every page the drive has (page code 3Fh, current values).
Cdb ModeSense10(uint16_t allocation = kModeSenseLength, uint8_t pageCode = 0x3F);
Cdb Read10(uint32_t lba, uint16_t blocks);
Cdb Write10(uint32_t lba, uint16_t blocks);
Cdb Verify(uint32_t lba, uint16_t blocks);
// The head to track 0 (REZERO UNIT), and over the track of a logical block (SEEK(10)).
Cdb RezeroUnit();
Cdb Seek10(uint32_t lba);
// FORMAT UNIT of one track: format data follows, defect-list format 7, the track in byte 2,
// and a parameter list of kFormatParameterLength bytes.
Cdb FormatUnit(uint8_t track);

// The list sent with FORMAT UNIT: the single-track bit and the head in its header, then
// the format descriptor (the number of blocks and their length).
std::array<uint8_t, kFormatParameterLength> FormatParameters(uint8_t head, uint32_t blocks, uint32_t blockLength);

enum class DescriptorType : uint8_t { Unformatted = 1, Formatted = 2, NoMedium = 3 };

struct Capacity {
    uint32_t blocks = 0;
    uint32_t blockLength = 0;
    bool operator==(const Capacity&) const = default;
    uint64_t bytes() const { return uint64_t{blocks} * blockLength; }
};

// What READ FORMAT CAPACITIES says: the medium in the drive (its own capacity, or the
// drive's largest while it is unformatted or absent) and the capacities it can format.
struct CapacityList {
    DescriptorType current = DescriptorType::NoMedium;
    Capacity currentCapacity;
    std::vector<Capacity> formattable;
};

// The tracks a capacity is laid out in: the diskette kinds a floppy drive formats.
struct CapacityGeometry {
    uint16_t cylinders = 80;
    uint8_t heads = 2;
    uint16_t sectorsPerTrack = 18;
};
std::optional<CapacityGeometry> GeometryOfCapacity(const Capacity& capacity);
// The capacity that holds a medium of this geometry.
Capacity CapacityOf(uint16_t cylinders, uint8_t heads, uint16_t sectorsPerTrack, uint16_t bytesPerSector);
// "1.44M (DS HD)" for the media the program knows, else "N blocks of M bytes".
std::string CapacityName(const Capacity& capacity);

// nullopt when the data is not a capacity list.
std::optional<CapacityList> ParseCapacityList(std::span<const uint8_t> data);
std::vector<uint8_t> EncodeCapacityList(const CapacityList& list);

// The write-protect bit of a MODE SENSE(10) parameter header.
std::optional<bool> WriteProtectedInModeHeader(std::span<const uint8_t> data);

struct Sense {
    uint8_t key = 0;
    uint8_t asc = 0;
    uint8_t ascq = 0;
    bool operator==(const Sense&) const = default;
};

namespace SenseKey {
constexpr uint8_t NoSense = 0x0;
constexpr uint8_t RecoveredError = 0x1;
constexpr uint8_t NotReady = 0x2;
constexpr uint8_t MediumError = 0x3;
constexpr uint8_t HardwareError = 0x4;
constexpr uint8_t IllegalRequest = 0x5;
constexpr uint8_t UnitAttention = 0x6;
constexpr uint8_t DataProtect = 0x7;
constexpr uint8_t AbortedCommand = 0xB;
}  // namespace SenseKey

// Key, ASC and ASCQ of fixed-format sense data; nullopt when there is none.
std::optional<Sense> ParseSense(std::span<const uint8_t> data);
std::array<uint8_t, kSenseLength> EncodeSense(const Sense& sense);

// The DOS error a drive's sense data amounts to (Err::None for no sense or a recovered
// error).
DiskError DiskErrorOfSense(const Sense& sense);

}  // namespace Ufi

enum class ScsiDirection : uint8_t { None, In, Out };

// What became of one command block.
struct ScsiOutcome {
    int error = 0;       // errno when the command never reached the drive (then nothing else holds)
    uint8_t status = 0;  // SCSI status: 0 good, 02h check condition
    std::vector<uint8_t> sense;  // the sense data fetched with a check condition, if any
    size_t residual = 0;         // bytes of the data phase that did not move

    bool good() const { return error == 0 && status == 0; }
};

constexpr uint8_t kScsiGood = 0x00;
constexpr uint8_t kScsiCheckCondition = 0x02;

// The path to one SCSI device: runs a command block with its data phase.
class ScsiTransport {
public:
    virtual ~ScsiTransport() = default;
    virtual ScsiOutcome Run(std::span<const uint8_t> cdb, ScsiDirection direction, std::span<uint8_t> data,
                            unsigned timeoutMs) = 0;

    // The volume lock: the device held for this program alone (0) or shared again; errno
    // otherwise (EBUSY while someone else has it, a mounted file system for one).
    virtual int Hold(bool exclusive) = 0;
    virtual bool HeldElsewhere() const = 0;
};

}  // namespace vokta
