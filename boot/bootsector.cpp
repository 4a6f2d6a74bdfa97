// SPDX-License-Identifier: GPL-3.0-or-later
// The boot-sector check: nine independent field tests, and the drive operation that
// reads sector 0 to run them.
#include "boot/bootsector.h"

#include <algorithm>
#include <array>
#include <bit>
#include <memory>
#include <new>

#include "drive/diskdrive.h"
#include "drive/fatlayout.h"
#include "drive/media.h"
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

struct FieldLine {
    BootFieldFindings bit;
    Str text;
};

constexpr std::array<FieldLine, 6> kFieldLines = {{
    {BootField::SectorsPerCluster, Str::BootBadSectorsPerCluster},
    {BootField::RootEntries, Str::BootBadRootEntries},
    {BootField::SectorsPerFat, Str::BootBadSectorsPerFat},
    {BootField::SectorsPerTrack, Str::BootBadSectorsPerTrack},
    {BootField::Heads, Str::BootBadHeads},
    {BootField::SystemArea, Str::BootBadSystemArea},
}};

constexpr uint32_t kEntriesPerSector = 16;
constexpr uint16_t kMostSectorsPerTrack = 63;
constexpr uint16_t kMostHeads = 255;
constexpr uint32_t kFat16Clusters = 4085;

// The diskette size whose total this is: its tracks and heads are the medium's.
std::optional<MediaGeometry> DisketteOfTotal(uint32_t total)
{
    for (int32_t type = kMedia720K; type <= kMedia172M; ++type)
        if (GeometryOf(type)->totalSectors == total)
            return GeometryOf(type);
    return std::nullopt;
}

// Sectors a FAT of `clusters` data clusters needs (entries 0 and 1 included).
uint32_t FatSectorsFor(uint32_t clusters)
{
    const unsigned bits = clusters < kFat16Clusters ? 12 : 16;
    return static_cast<uint32_t>(((uint64_t{clusters} + 2) * bits + 8 * kSectorSize - 1) / (8 * kSectorSize));
}

// The FAT size against the clusters: too few sectors to hold an entry for each, or more
// than the volume could use were every sector but the boot sector and root directory a
// cluster.
bool FatSizeFits(uint16_t sectorsPerFat, uint32_t clusters, uint32_t mostClusters)
{
    return sectorsPerFat >= FatSectorsFor(clusters) && sectorsPerFat <= FatSectorsFor(mostClusters);
}

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

BootFieldFindings WeighBootFields(std::span<const uint8_t> sector)
{
    BootSector s;
    std::copy_n(sector.begin(), std::min(sector.size(), BootSector::kSize), s.bytes.begin());
    using B = BootSector;
    if (s.u16(B::BytesPerSector) != kSectorSize)
        return 0;
    BootFieldFindings f = 0;
    const uint8_t perCluster = s.u8(B::SectorsPerCluster);
    const bool clusterSizeValid = std::has_single_bit(unsigned{perCluster});
    if (!clusterSizeValid)
        f |= BootField::SectorsPerCluster;
    const uint16_t rootEntries = s.u16(B::RootEntries);
    if (rootEntries == 0 || rootEntries % kEntriesPerSector != 0)
        f |= BootField::RootEntries;
    const uint16_t perFat = s.u16(B::SectorsPerFat);
    if (perFat == 0)
        f |= BootField::SectorsPerFat;
    const uint16_t perTrack = s.u16(B::SectorsPerTrack);
    if (perTrack == 0 || perTrack > kMostSectorsPerTrack)
        f |= BootField::SectorsPerTrack;
    const uint16_t heads = s.u16(B::Heads);
    if (heads == 0 || heads > kMostHeads)
        f |= BootField::Heads;

    const uint32_t total = s.u16(B::TotalSectors16) != 0 ? s.u16(B::TotalSectors16) : s.u32(B::TotalSectors32);
    if (total == 0)
        return f;
    // A diskette size's tracks hold no more sectors than its own, on its own heads: another
    // geometry sends every transfer past the first track to the wrong place.
    if (const std::optional<MediaGeometry> diskette = DisketteOfTotal(total)) {
        if (heads != diskette->heads)
            f |= BootField::Heads;
        if (perTrack > diskette->sectorsPerTrack)
            f |= BootField::SectorsPerTrack;
    }
    const uint32_t reserved = s.u16(B::ReservedSectors);
    const uint32_t rootSectors = (uint32_t{rootEntries} + kEntriesPerSector - 1) / kEntriesPerSector;
    const uint32_t systemArea = reserved + uint32_t{s.u8(B::FatCount)} * perFat + rootSectors;
    if (systemArea + (clusterSizeValid ? perCluster : 1) > total) {
        f |= BootField::SystemArea;
        return f;
    }
    if (clusterSizeValid && perFat != 0) {
        const uint32_t clusters = (total - systemArea) / perCluster;
        const uint32_t mostClusters = (total - std::min(total, reserved + rootSectors)) / perCluster;
        if (!FatSizeFits(perFat, clusters, mostClusters))
            f |= BootField::SectorsPerFat;
    }
    return f;
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
    if (spt == 0 || spt > kMostSectorsPerTrack || heads == 0 || heads > 2 || total % (uint32_t{spt} * heads) != 0)
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
    return BootCheckLines(BootCheckReport{r, 0});
}

std::vector<std::string> BootCheckLines(const BootCheckReport& report)
{
    switch (report.result) {
    case BootCheck::MediaUnknown: return {LoadString(Str::MediaUnknownOrNotReady)};
    case BootCheck::ReadError: return {LoadString(Str::ReadError)};
    case BootCheck::NoMemory: return {LoadString(Str::InsufficientMemory)};
    case BootCheck::Ok: return {LoadString(Str::Ok)};
    default: break;
    }
    std::vector<std::string> lines;
    for (const TestLine& t : kTestLines)
        if (report.result & t.bit)
            lines.push_back(LoadString(t.text));
    for (const FieldLine& f : kFieldLines)
        if (report.fields & f.bit)
            lines.push_back(LoadString(f.text));
    return lines;
}

BootCheckReport CheckBootSectorBytes(std::span<const uint8_t> sector)
{
    BootCheckReport report{ValidateBootSector(sector), WeighBootFields(sector)};
    if (report.fields != 0)
        report.result |= BootCheck::Implausible;
    return report;
}

BootCheckReport CheckBootSectorFully(DiskDrive& drive)
{
    if (!drive.RequireMedia())
        return {BootCheck::MediaUnknown};
    std::array<uint8_t, kSectorSize> sector{};
    if (!drive.ReadSectors(0, 1, sector)) {
        // The caller shows "Read error." from the result, not a disk error.
        drive.TakeError();
        return {BootCheck::ReadError};
    }
    return CheckBootSectorBytes(sector);
}

BootCheckResult CheckBootSector(DiskDrive& drive)
{
    return CheckBootSectorFully(drive).result;
}

}  // namespace vokta
