// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/backend/usbfloppy/ufi.h"

#include "res/strings.h"

namespace vokta::Ufi {
namespace {

void PutU16(Cdb& cdb, size_t at, uint16_t value)
{
    cdb[at] = static_cast<uint8_t>(value >> 8);
    cdb[at + 1] = static_cast<uint8_t>(value);
}

void PutU32(std::span<uint8_t> bytes, size_t at, uint32_t value)
{
    for (size_t i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

uint32_t GetU32(std::span<const uint8_t> bytes, size_t at)
{
    return uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 | uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
}

uint32_t GetU24(std::span<const uint8_t> bytes, size_t at)
{
    return uint32_t{bytes[at]} << 16 | uint32_t{bytes[at + 1]} << 8 | bytes[at + 2];
}

Cdb Transfer(uint8_t op, uint32_t lba, uint16_t blocks)
{
    Cdb cdb{op};
    PutU32(cdb, 2, lba);
    PutU16(cdb, 7, blocks);
    return cdb;
}

// Descriptors of READ FORMAT CAPACITIES: 4 bytes of blocks, a byte (the descriptor code in
// the current/maximum one), 3 bytes of block length.
constexpr size_t kListHeader = 4;
constexpr size_t kDescriptor = 8;

// Header byte 1 of the FORMAT UNIT parameter list.
constexpr uint8_t kFormatOptionsValid = 0x80;
constexpr uint8_t kDisableCertification = 0x20;
constexpr uint8_t kSingleTrack = 0x10;

struct KnownCapacity {
    Capacity capacity;
    CapacityGeometry geometry;
    MediaType media;
};

// The diskettes floppy drives format, with the media the program names them by.
constexpr KnownCapacity kKnownCapacities[] = {
    {{1440, 512}, {80, 2, 9}, kMedia720K},
    {{2400, 512}, {80, 2, 15}, kMedia12M},
    {{2880, 512}, {80, 2, 18}, kMedia144M},
    {{3360, 512}, {80, 2, 21}, kMedia168M},
    {{3444, 512}, {82, 2, 21}, kMedia172M},
    {{1232, 1024}, {77, 2, 8}, kMediaUnknown},  // the 1.2M of 1024-byte sectors (3-mode drives)
    {{720, 512}, {40, 2, 9}, kMediaUnknown},
};

struct SenseRow {
    uint8_t key;
    uint8_t asc;
    int ascq;  // -1: any
    DiskError error;
};

// What each condition a drive reports means to a DOS caller, as a diskette controller's
// status would: the most specific row first, then one row per sense key.
constexpr SenseRow kSenseTable[] = {
    {SenseKey::NotReady, 0x04, -1, Err::NotReady},          // logical drive not ready
    {SenseKey::NotReady, 0x06, 0x00, Err::EndOfDisk},       // no reference position found: a seek error
    {SenseKey::NotReady, 0x3A, 0x00, Err::NotReady},        // medium not present
    {SenseKey::MediumError, 0x02, 0x00, Err::EndOfDisk},    // no seek complete
    {SenseKey::MediumError, 0x03, 0x00, Err::WriteFault},   // write fault
    {SenseKey::MediumError, 0x10, 0x00, Err::BadCrc},       // ID CRC error
    {SenseKey::MediumError, 0x11, 0x00, Err::BadCrc},       // unrecovered read error
    {SenseKey::MediumError, 0x12, 0x00, Err::AddressMarkNotFound},  // no address mark for the ID field
    {SenseKey::MediumError, 0x13, 0x00, Err::AddressMarkNotFound},  // no address mark for the data field
    {SenseKey::MediumError, 0x14, 0x00, Err::SectorNotFound},       // recorded entity not found
    {SenseKey::MediumError, 0x30, 0x01, Err::UnrecognizedMedia},    // cannot read medium: unknown format
    {SenseKey::MediumError, 0x31, 0x01, Err::SectorNotFound},       // format command failed
    {SenseKey::IllegalRequest, 0x1A, 0x00, Err::InvalidFunction},   // parameter list length error
    {SenseKey::IllegalRequest, 0x20, 0x00, Err::InvalidFunction},   // invalid command operation code
    {SenseKey::IllegalRequest, 0x21, 0x00, Err::EndOfDisk},         // block address out of range
    {SenseKey::IllegalRequest, 0x24, 0x00, Err::InvalidFunction},   // invalid field in the command
    {SenseKey::IllegalRequest, 0x25, 0x00, Err::BadUnit},           // logical unit not supported
    {SenseKey::IllegalRequest, 0x26, -1, Err::UnrecognizedMedia},   // invalid field in the parameter list
    {SenseKey::UnitAttention, 0x28, 0x00, Err::InvalidDiskChange},  // not ready to ready: medium changed
    {SenseKey::UnitAttention, 0x29, 0x00, Err::InvalidDiskChange},  // power on or reset: any diskette may be in
    {SenseKey::DataProtect, 0x27, 0x00, Err::WriteProtect},         // write-protected medium
};

DiskError ErrorOfKey(uint8_t key)
{
    switch (key) {
    case SenseKey::NoSense:
    case SenseKey::RecoveredError: return Err::None;
    case SenseKey::NotReady:
    case SenseKey::HardwareError: return Err::NotReady;
    case SenseKey::IllegalRequest: return Err::InvalidFunction;
    case SenseKey::UnitAttention: return Err::InvalidDiskChange;
    case SenseKey::DataProtect: return Err::WriteProtect;
    default: return Err::UnknownError;
    }
}

}  // namespace

Cdb TestUnitReady()
{
    return Cdb{Op::TestUnitReady};
}

Cdb RequestSense(uint8_t allocation)
{
    Cdb cdb{Op::RequestSense};
    cdb[4] = allocation;
    return cdb;
}

Cdb Inquiry(uint8_t allocation)
{
    Cdb cdb{Op::Inquiry};
    cdb[4] = allocation;
    return cdb;
}

Cdb ReadFormatCapacities(uint16_t allocation)
{
    Cdb cdb{Op::ReadFormatCapacities};
    PutU16(cdb, 7, allocation);
    return cdb;
}

Cdb ModeSense10(uint16_t allocation, uint8_t pageCode)
{
    Cdb cdb{Op::ModeSense10};
    cdb[2] = static_cast<uint8_t>(pageCode & 0x3F);  // page control 0: current values
    PutU16(cdb, 7, allocation);
    return cdb;
}

Cdb Read10(uint32_t lba, uint16_t blocks)
{
    return Transfer(Op::Read10, lba, blocks);
}

Cdb Write10(uint32_t lba, uint16_t blocks)
{
    return Transfer(Op::Write10, lba, blocks);
}

Cdb Verify(uint32_t lba, uint16_t blocks)
{
    return Transfer(Op::Verify, lba, blocks);
}

Cdb RezeroUnit()
{
    return Cdb{Op::RezeroUnit};
}

Cdb Seek10(uint32_t lba)
{
    return Transfer(Op::Seek10, lba, 0);
}

Cdb FormatUnit(uint8_t track)
{
    Cdb cdb{Op::FormatUnit};
    cdb[1] = 0x17;  // format data follows, no complete list, defect list format 7
    cdb[2] = track;
    PutU16(cdb, 7, static_cast<uint16_t>(kFormatParameterLength));  // interleave (bytes 3-4) 0: the drive's own
    return cdb;
}

std::array<uint8_t, kFormatParameterLength> FormatParameters(uint8_t head, uint32_t blocks, uint32_t blockLength)
{
    std::array<uint8_t, kFormatParameterLength> list{};
    list[1] = static_cast<uint8_t>(kFormatOptionsValid | kDisableCertification | kSingleTrack | (head & 1));
    list[3] = kDescriptor;  // defect list length: the one format descriptor
    PutU32(list, 4, blocks);
    list[9] = static_cast<uint8_t>(blockLength >> 16);
    list[10] = static_cast<uint8_t>(blockLength >> 8);
    list[11] = static_cast<uint8_t>(blockLength);
    return list;
}

std::optional<CapacityGeometry> GeometryOfCapacity(const Capacity& capacity)
{
    for (const KnownCapacity& k : kKnownCapacities)
        if (k.capacity == capacity)
            return k.geometry;
    return std::nullopt;
}

Capacity CapacityOf(uint16_t cylinders, uint8_t heads, uint16_t sectorsPerTrack, uint16_t bytesPerSector)
{
    return {uint32_t{cylinders} * heads * sectorsPerTrack, bytesPerSector};
}

std::string CapacityName(const Capacity& capacity)
{
    for (const KnownCapacity& k : kKnownCapacities)
        if (k.capacity == capacity && k.media != kMediaUnknown)
            return std::string(GetMediaTypeName(k.media));
    return FormatString(Str::CapacityBlocks, static_cast<long>(capacity.blocks),
                        static_cast<long>(capacity.blockLength));
}

std::optional<CapacityList> ParseCapacityList(std::span<const uint8_t> data)
{
    if (data.size() < kListHeader + kDescriptor)
        return std::nullopt;
    const size_t length = data[3];
    if (length < kDescriptor || length % kDescriptor != 0)
        return std::nullopt;
    const uint8_t code = data[kListHeader + 4] & 0x03;
    if (code == 0)
        return std::nullopt;
    CapacityList list;
    list.current = static_cast<DescriptorType>(code);
    list.currentCapacity = {GetU32(data, kListHeader), GetU24(data, kListHeader + 5)};
    // A drive may say more than the allocation let through: what came is what counts.
    const size_t end = std::min(data.size(), kListHeader + length);
    for (size_t at = kListHeader + kDescriptor; at + kDescriptor <= end; at += kDescriptor)
        list.formattable.push_back({GetU32(data, at), GetU24(data, at + 5)});
    return list;
}

std::vector<uint8_t> EncodeCapacityList(const CapacityList& list)
{
    std::vector<uint8_t> data(kListHeader + kDescriptor * (1 + list.formattable.size()), 0);
    data[3] = static_cast<uint8_t>(data.size() - kListHeader);
    auto put = [&data](size_t at, const Capacity& c, uint8_t code) {
        PutU32(data, at, c.blocks);
        data[at + 4] = code;
        data[at + 5] = static_cast<uint8_t>(c.blockLength >> 16);
        data[at + 6] = static_cast<uint8_t>(c.blockLength >> 8);
        data[at + 7] = static_cast<uint8_t>(c.blockLength);
    };
    put(kListHeader, list.currentCapacity, static_cast<uint8_t>(list.current));
    size_t at = kListHeader + kDescriptor;
    for (const Capacity& c : list.formattable) {
        put(at, c, 0);
        at += kDescriptor;
    }
    return data;
}

std::optional<bool> WriteProtectedInModeHeader(std::span<const uint8_t> data)
{
    // Mode data length (2 bytes), medium type code, then the device-specific byte.
    if (data.size() < 4)
        return std::nullopt;
    return (data[3] & 0x80) != 0;
}

std::optional<Sense> ParseSense(std::span<const uint8_t> data)
{
    // Fixed format, current (70h) or deferred (71h) errors.
    if (data.size() < 14 || ((data[0] & 0x7F) != 0x70 && (data[0] & 0x7F) != 0x71))
        return std::nullopt;
    return Sense{static_cast<uint8_t>(data[2] & 0x0F), data[12], data[13]};
}

std::array<uint8_t, kSenseLength> EncodeSense(const Sense& sense)
{
    std::array<uint8_t, kSenseLength> data{};
    data[0] = 0x70;
    data[2] = sense.key;
    data[7] = kSenseLength - 8;  // additional sense length
    data[12] = sense.asc;
    data[13] = sense.ascq;
    return data;
}

DiskError DiskErrorOfSense(const Sense& sense)
{
    for (const SenseRow& row : kSenseTable)
        if (row.key == sense.key && row.asc == sense.asc && (row.ascq < 0 || row.ascq == sense.ascq))
            return row.error;
    return ErrorOfKey(sense.key);
}

}  // namespace vokta::Ufi
