// SPDX-License-Identifier: GPL-3.0-or-later
#include "fat/soundfat.h"

#include <algorithm>

#include "drive/volume.h"
#include "fat/direntry.h"
#include "fat/fatentries.h"

namespace vokta {
namespace {

// How well a copy begins: not as a FAT, as a FAT of another media byte, as this volume's.
enum class Start { Misplaced = 0, OtherMedia = 1, Sound = 2, Unread = 3 };

struct Copy {
    std::vector<uint8_t> bytes;
    std::vector<bool> unread;  // by FAT sector
    Start start = Start::Unread;
    bool Whole() const { return std::ranges::none_of(unread, [](bool u) { return u; }); }
};

size_t EntryOffset(unsigned fatBits, uint32_t cluster)
{
    return fatBits == 16 ? size_t{cluster} * 2 : size_t{cluster} * 3 / 2;
}

Start StartOf(std::span<const uint8_t> fat, unsigned fatBits, uint8_t mediaByte)
{
    if (BeginsLikeFat(fat, mediaByte, fatBits))
        return Start::Sound;
    return fat[0] >= 0xF0 && BeginsLikeFat(fat, fat[0], fatBits) ? Start::OtherMedia : Start::Misplaced;
}

bool IsLink(uint16_t value, const FatLayout& layout)
{
    return value == FatValue::Free || (value >= kFirstDataCluster && value <= layout.lastCluster) ||
           value == BadValue(layout.fatBits) || value >= EndOfChainValue(layout.fatBits);
}

bool IsEmpty(std::span<const uint8_t> bytes)
{
    return std::ranges::all_of(bytes, [](uint8_t b) { return b == 0; });
}

// Behind the last cluster's entry a FAT is empty: a sector there that is not belongs to
// something else, another copy or the root directory, and the layout is not this one.
bool SectorFitsTheLayout(std::span<const uint8_t> fat, uint32_t index, const FatLayout& layout)
{
    const size_t begin = size_t{index} * kSectorSize;
    const size_t used = EntryOffset(layout.fatBits, layout.lastCluster) + 2;
    return begin < used || IsEmpty(fat.subspan(begin, kSectorSize));
}

// Every entry wholly inside sector `index` is a link, a free or BAD mark or an end of chain.
bool LinksInRange(std::span<const uint8_t> fat, uint32_t index, const FatLayout& layout)
{
    const size_t begin = size_t{index} * kSectorSize;
    const uint32_t firstHere = std::max<uint32_t>(kFirstDataCluster, static_cast<uint32_t>(begin * 8 / layout.fatBits));
    for (uint32_t c = firstHere; c <= layout.lastCluster; ++c) {
        const size_t at = EntryOffset(layout.fatBits, c);
        if (at + 2 > begin + kSectorSize)
            break;
        if (at >= begin && !IsLink(ReadFatEntry(fat, layout.fatBits, c), layout))
            return false;
    }
    return true;
}

// One copy, in one request while it reads, else sector by sector.
// False when the diskette went away, which `result.gone` then tells.
bool ReadCopy(DiskDrive& drive, const FatLayout& layout, unsigned copy, Copy& into, SoundFat& result)
{
    into.bytes.assign(size_t{layout.sectorsPerFat} * kSectorSize, 0);
    into.unread.assign(layout.sectorsPerFat, false);
    const DiskStatus whole = drive.ReadSectors(layout.FatSector(copy), layout.sectorsPerFat, into.bytes);
    if (whole)
        return true;
    (void)drive.TakeError();
    if (DisketteGone(whole.error())) {
        result.gone = whole.error();
        return false;
    }
    if (result.readError == Err::None)
        result.readError = whole.error();
    for (uint32_t i : ReadSectorsOneByOne(drive, layout.FatSector(copy), into.bytes, &result.gone))
        into.unread[i] = true;
    return result.gone == Err::None;
}

}  // namespace

SoundFat ReadSoundFat(DiskDrive& drive, const FatLayout& layout, uint8_t mediaByte)
{
    SoundFat result;
    // A FAT too small for the volume's clusters is no FAT of this layout.
    if (layout.sectorsPerFat == 0 || HighestEntryIn(size_t{layout.sectorsPerFat} * kSectorSize, layout.fatBits) <
                                         layout.lastCluster)
        return result;
    std::vector<Copy> copies;
    for (unsigned k = 0; k < layout.fatCount && result.misplacedCopies <= 1; ++k) {
        Copy copy;
        if (!ReadCopy(drive, layout, k, copy, result))
            return result;
        if (!copy.unread[0])
            copy.start = StartOf(copy.bytes, layout.fatBits, mediaByte);
        if (copy.start == Start::Misplaced)
            ++result.misplacedCopies;
        result.fatFound = result.fatFound || copy.start == Start::Sound || copy.start == Start::OtherMedia;
        copies.push_back(std::move(copy));
    }
    if (result.misplacedCopies > 1)
        return result;

    // Copies that begin worse than the best one read are not taken; one whose start did
    // not read cannot be judged by it.
    Start best = Start::Misplaced;
    for (const Copy& c : copies)
        if (c.start != Start::Unread)
            best = std::max(best, c.start);
    if (best == Start::Misplaced)
        return result;
    auto eligible = [&](const Copy& c) { return c.start == Start::Unread || c.start == best; };

    result.bytes.assign(size_t{layout.sectorsPerFat} * kSectorSize, 0);
    result.sound = true;
    for (uint32_t i = 0; i < layout.sectorsPerFat; ++i) {
        const Copy* chosen = nullptr;
        int chosenRank = -1;
        for (const Copy& c : copies) {
            if (!eligible(c) || c.unread[i])
                continue;
            if (!SectorFitsTheLayout(c.bytes, i, layout))
                continue;
            const std::span<const uint8_t> sector = std::span(c.bytes).subspan(size_t{i} * kSectorSize, kSectorSize);
            const int rank =
                (LinksInRange(c.bytes, i, layout) ? 4 : 0) + (IsEmpty(sector) ? 0 : 2) + (c.Whole() ? 1 : 0);
            if (rank > chosenRank) {
                chosen = &c;
                chosenRank = rank;
            }
        }
        if (chosen == nullptr) {
            result.sound = false;
            result.unsoundSector = layout.FatSector(0) + i;
            return result;
        }
        const auto from = chosen->bytes.begin() + static_cast<std::ptrdiff_t>(size_t{i} * kSectorSize);
        std::copy_n(from, kSectorSize, result.bytes.begin() + static_cast<std::ptrdiff_t>(size_t{i} * kSectorSize));
        for (const Copy& c : copies)
            if (c.unread[i] || !std::equal(from, from + kSectorSize,
                                           c.bytes.begin() + static_cast<std::ptrdiff_t>(size_t{i} * kSectorSize)))
                result.copiesDiffer = true;
    }
    return result;
}

bool RootFitsFat(std::span<const uint8_t> root, uint32_t rootBytes, std::span<const uint8_t> fat,
                 const FatLayout& layout)
{
    const std::span<const uint8_t> entries = root.first(std::min<size_t>(rootBytes, root.size()));
    if (!LooksLikeDirectory(entries.first(std::min(entries.size(), kSectorSize))))
        return false;
    for (size_t at = 0; at + DirEntry::kSize <= entries.size(); at += DirEntry::kSize) {
        const std::span<const uint8_t> e = entries.subspan(at, DirEntry::kSize);
        if (DirEntry::EndsDirectory(e))
            break;
        if (DirEntry::IsSkipped(e) || (!DirEntry::IsFile(e) && !DirEntry::IsSubdirectory(e)))
            continue;
        const uint16_t start = DirEntry::StartCluster(e);
        if (start >= kFirstDataCluster && start <= layout.lastCluster &&
            ReadFatEntry(fat, layout.fatBits, start) != FatValue::Free)
            return true;
    }
    // Without an entry that starts one, no cluster may be in use: BAD marks are no use.
    for (uint32_t c = kFirstDataCluster; c <= layout.lastCluster; ++c) {
        const uint16_t v = ReadFatEntry(fat, layout.fatBits, c);
        if (v != FatValue::Free && v != BadValue(layout.fatBits))
            return false;
    }
    return true;
}

}  // namespace vokta
