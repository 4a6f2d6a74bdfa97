// The boot-sector check: nine independent field tests, and the drive operation that
// reads sector 0 to run them.
#include "boot/bootsector.h"

#include <algorithm>
#include <memory>
#include <new>

#include "drive/diskdrive.h"
#include "drive/fatlayout.h"
#include "res/strings.h"

namespace vokta {
namespace {

static_assert(BootSector::BytesPerSector == Bpb::kInBootSector + Bpb::BytesPerSector &&
                  BootSector::SectorsPerFat == Bpb::kInBootSector + Bpb::SectorsPerFat &&
                  BootSector::TotalSectors32 == Bpb::kInBootSector + Bpb::TotalSectors32,
              "the boot sector holds the BPB at its byte 11");

constexpr std::string_view kFat16 = "FAT16   ";
constexpr std::string_view kFat12 = "FAT12   ";

struct TestLine {
    BootCheckResult bit;
    Str text;
};

// Bit order is listing order.
constexpr std::array<TestLine, 9> kTestLines = {{
    {BootCheck::BadSignature, Str::BootBadSignature},
    {BootCheck::BadJump, Str::BootBadJump},
    {BootCheck::BadSectorLength, Str::BootBadSectorLength},
    {BootCheck::BadReservedSectors, Str::BootBadReservedSectors},
    {BootCheck::BadFatCount, Str::BootBadFatCount},
    {BootCheck::BadExtendedSignature, Str::BootBadExtendedSignature},
    {BootCheck::BadMedia, Str::BootBadMedia},
    {BootCheck::BadFileSystem, Str::BootBadFileSystem},
    {BootCheck::BadTotalSectors, Str::BootBadTotalSectors},
}};

}  // namespace

bool IsAcceptedMediaDescriptor(uint8_t media)
{
    return media == 0xF8 || media == 0xF9 || media == 0xF0;
}

void BootSector::setText(size_t at, size_t width, std::string_view value)
{
    for (size_t i = 0; i < width; ++i)
        bytes[at + i] = i < value.size() ? static_cast<uint8_t>(value[i]) : ' ';
}

std::string BootSector::text(size_t at, size_t width) const
{
    return std::string(bytes.begin() + at, bytes.begin() + at + width);
}

BootCheckResult ValidateBootSector(std::span<const uint8_t> sector)
{
    BootSector s;
    std::copy_n(sector.begin(), std::min(sector.size(), BootSector::kSize), s.bytes.begin());
    using B = BootSector;
    BootCheckResult r = BootCheck::Ok;
    if (s.u8(B::Signature) != B::kSignature0 || s.u8(B::Signature + 1) != B::kSignature1)
        r |= BootCheck::BadSignature;
    if (s.u8(B::Jump) != B::kShortJump || s.u8(B::Jump + 2) != B::kNop)
        r |= BootCheck::BadJump;
    if (s.u16(B::BytesPerSector) != 512)
        r |= BootCheck::BadSectorLength;
    if (s.u16(B::ReservedSectors) != 1)
        r |= BootCheck::BadReservedSectors;
    if (s.u8(B::FatCount) != 2)
        r |= BootCheck::BadFatCount;
    if (s.u8(B::ExtendedSignature) != B::kExtendedBootSignature)
        r |= BootCheck::BadExtendedSignature;
    if (!IsAcceptedMediaDescriptor(s.u8(B::MediaDescriptor)))
        r |= BootCheck::BadMedia;
    const std::string fileSystem = s.text(B::FileSystemType, B::kFileSystemTypeSize);
    if (fileSystem != kFat16 && fileSystem != kFat12)
        r |= BootCheck::BadFileSystem;
    if (s.u16(B::TotalSectors16) == 0 && s.u32(B::TotalSectors32) == 0)
        r |= BootCheck::BadTotalSectors;
    return r;
}

std::optional<DescribedLayout> LayoutOtherThanMedia(std::span<const uint8_t> sector, int32_t mediaType)
{
    if (mediaType == kMediaHardDisk || sector.size() < BootSector::kSize || (ValidateBootSector(sector) & BootCheck::NotAnImage))
        return std::nullopt;
    using B = BootSector;
    const uint16_t spt = GetU16(sector, B::SectorsPerTrack);
    const uint16_t heads = GetU16(sector, B::Heads);
    const uint32_t total = GetU16(sector, B::TotalSectors16) ? GetU16(sector, B::TotalSectors16)
                                                              : GetU32(sector, B::TotalSectors32);
    if (spt == 0 || spt > 63 || heads == 0 || heads > 2 || total % (uint32_t{spt} * heads) != 0)
        return std::nullopt;
    const uint32_t cylinders = total / (uint32_t{spt} * heads);
    if (cylinders < 40 || cylinders > 84)
        return std::nullopt;
    const std::optional<MediaGeometry> row = GeometryOf(mediaType);
    if (row && row->sectorsPerTrack == spt && row->heads == heads && row->cylinders == cylinders)
        return std::nullopt;
    return DescribedLayout{spt, heads, static_cast<uint16_t>(cylinders)};
}

std::vector<std::string> BootCheckLines(BootCheckResult r)
{
    switch (r) {
    case BootCheck::MediaUnknown: return {LoadString(Str::MediaUnknownOrNotReady)};
    case BootCheck::ReadError: return {LoadString(Str::ReadError)};
    case BootCheck::NoMemory: return {LoadString(Str::InsufficientMemory)};
    case BootCheck::Ok: return {LoadString(Str::Ok)};
    default: break;
    }
    std::vector<std::string> lines;
    for (const TestLine& t : kTestLines)
        if (r & t.bit)
            lines.push_back(LoadString(t.text));
    return lines;
}

BootCheckResult CheckBootSector(DiskDrive& drive)
{
    if (drive.mediaType == kMediaUnknown) {
        drive.lastError = Err::UnrecognizedMedia;
        return BootCheck::MediaUnknown;
    }
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kSectorSize]);
    if (!buffer) {
        drive.lastError = Err::InsufficientBuffer;
        return BootCheck::NoMemory;
    }
    const std::span<uint8_t> sector(buffer.get(), kSectorSize);
    if (!drive.ReadSectors(0, 1, sector)) {
        // The caller shows "Read error." from the result, not a disk error.
        drive.lastError = Err::None;
        return BootCheck::ReadError;
    }
    return ValidateBootSector(sector);
}

}  // namespace vokta
