// SPDX-License-Identifier: GPL-3.0-or-later
#include "fat/volumemap.h"

#include <algorithm>
#include <array>

#include "drive/bytes.h"
#include "drive/diskdrive.h"
#include "drive/drivetable.h"
#include "fat/direntry.h"
#include "fat/fatvolume.h"
#include "fat/fatentries.h"
#include "res/codepage.h"
#include "res/strings.h"

namespace vokta {
namespace {

// The sectors a message lists of one file or area; the count says how many there are.
constexpr size_t kSectorsListed = 8;

// "NAME.EXT" of an 8.3 entry; a first byte of 05h stands for E5h.
std::string ShortName(std::span<const uint8_t> entry)
{
    std::string name(entry.begin(), entry.begin() + 8);
    std::string ext(entry.begin() + 8, entry.begin() + 11);
    if (!name.empty() && static_cast<uint8_t>(name[0]) == 0x05)
        name[0] = static_cast<char>(0xE5);
    name.erase(name.find_last_not_of(' ') + 1);
    ext.erase(ext.find_last_not_of(' ') + 1);
    return Windows1252ToUtf8(ext.empty() ? name : name + "." + ext);
}

uint8_t ShortNameChecksum(std::span<const uint8_t> entry)
{
    uint8_t sum = 0;
    for (size_t i = 0; i < 11; ++i)
        sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + entry[i]);
    return sum;
}

// The pieces of a long name that precede an 8.3 entry, last piece first on the disk.
class LongName {
public:
    void Piece(std::span<const uint8_t> entry)
    {
        constexpr std::array<size_t, 13> kUnits = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
        const unsigned order = entry[0] & 0x1Fu;
        if ((entry[0] & 0x40) != 0) {
            units_.assign(size_t{order} * kUnits.size(), 0xFFFF);
            seen_.assign(order, false);
            checksum_ = entry[13];
        }
        if (order == 0 || order > seen_.size() || entry[13] != checksum_) {
            Reset();
            return;
        }
        seen_[order - 1] = true;
        for (size_t k = 0; k < kUnits.size(); ++k)
            units_[(order - 1) * kUnits.size() + k] = GetU16(entry, kUnits[k]);
    }

    // The long name of the 8.3 entry, when its pieces are whole and belong to it.
    std::string Of(std::span<const uint8_t> entry) const
    {
        if (seen_.empty() || !std::all_of(seen_.begin(), seen_.end(), [](bool s) { return s; }) ||
            checksum_ != ShortNameChecksum(entry))
            return {};
        std::string name;
        for (uint16_t unit : units_) {
            if (unit == 0 || unit == 0xFFFF)
                break;
            // A surrogate half names a character outside the basic plane, which a
            // diskette's long names hardly hold: it is shown as a replacement.
            AppendUtf8(name, unit >= 0xD800 && unit <= 0xDFFF ? char32_t{0xFFFD} : char32_t{unit});
        }
        return name;
    }

    void Reset()
    {
        units_.clear();
        seen_.clear();
    }

private:
    std::vector<uint16_t> units_;
    std::vector<bool> seen_;
    uint8_t checksum_ = 0;
};

}  // namespace

VolumeMap::VolumeMap(const FatLayout& layout, const SectorReader& read) : layout_(layout)
{
    std::vector<uint8_t> fat(size_t{layout.sectorsPerFat} * kSectorSize);
    for (uint32_t i = 0; i < layout.sectorsPerFat; ++i) {
        const std::span<uint8_t> slot = std::span(fat).subspan(size_t{i} * kSectorSize, kSectorSize);
        bool taken = false;
        for (unsigned copy = 0; copy < layout.fatCount && !taken; ++copy)
            taken = read(layout.FatSector(copy) + i, slot);
        if (!taken)
            return;
    }
    Walk(fat, read);
}

VolumeMap::VolumeMap(const FatLayout& layout, std::span<const uint8_t> fat, const SectorReader& read)
    : layout_(layout)
{
    Walk(fat, read);
}

void VolumeMap::Walk(std::span<const uint8_t> fat, const SectorReader& read)
{
    const FatLayout& layout = *layout_;
    lastCluster_ = std::min(layout.lastCluster, HighestEntryIn(fat.size(), layout.fatBits));
    const auto clusters = size_t{lastCluster_} + 1;
    state_.assign(clusters, ClusterState::Free);
    owner_.assign(clusters, kNone);
    const uint16_t bad = BadValue(layout.fatBits);
    for (uint32_t c = kFirstDataCluster; c <= lastCluster_; ++c) {
        const uint16_t entry = ReadFatEntry(fat, layout.fatBits, c);
        state_[c] = entry == FatValue::Free ? ClusterState::Free : entry == bad ? ClusterState::Bad : ClusterState::Used;
    }
    namesFiles_ = true;

    // Claims the chain from `start` for owner `index`; stops at a link outside the clusters
    // or after as many links as there are clusters, which only a loop makes. The clusters
    // claimed, in chain order.
    auto claim = [&](uint32_t start, int32_t index) {
        std::vector<uint32_t> chain;
        uint32_t c = start;
        for (uint32_t links = 0; links < lastCluster_ && c >= kFirstDataCluster && c <= lastCluster_; ++links) {
            if (owner_[c] == kNone)
                owner_[c] = index;
            chain.push_back(c);
            const uint16_t next = ReadFatEntry(fat, layout.fatBits, c);
            if (next >= EndOfChainValue(layout.fatBits))
                break;
            c = next;
        }
        return chain;
    };

    struct Pending {
        uint32_t firstCluster;  // 0: the root directory
        int32_t owner;          // kNone for the root directory
        unsigned depth;
    };
    std::vector<Pending> pending{{0, kNone, 0}};
    std::vector<bool> listed(clusters);  // a directory cluster already scanned
    std::vector<uint8_t> sector(kSectorSize);
    while (!pending.empty()) {
        const Pending dir = pending.back();
        pending.pop_back();
        const std::string parent = dir.owner == kNone ? "" : owners_[static_cast<size_t>(dir.owner)].path;
        // The directory's sectors, in order, and how many of its entries count.
        std::vector<uint32_t> sectors;
        size_t entriesLeft = SIZE_MAX;
        if (dir.firstCluster == 0) {
            for (uint32_t s = 0; s < layout.rootSectors; ++s)
                sectors.push_back(layout.rootFirstSector + s);
            entriesLeft = layout.rootEntries;
        } else {
            for (uint32_t c : claim(dir.firstCluster, dir.owner)) {
                if (listed[c])
                    break;
                listed[c] = true;
                for (uint32_t s = 0; s < layout.sectorsPerCluster; ++s)
                    sectors.push_back(layout.firstDataSector + (c - kFirstDataCluster) * layout.sectorsPerCluster + s);
            }
        }
        LongName longName;
        bool ended = false;
        for (uint32_t s : sectors) {
            if (ended || entriesLeft == 0)
                break;
            // What cannot be read hides its own entries only.
            if (!read(s, sector)) {
                longName.Reset();
                entriesLeft -= std::min(entriesLeft, kSectorSize / DirEntry::kSize);
                continue;
            }
            for (size_t offset = 0; offset < kSectorSize && entriesLeft > 0; offset += DirEntry::kSize, --entriesLeft) {
                const std::span<const uint8_t> entry = std::span<const uint8_t>(sector).subspan(offset, DirEntry::kSize);
                if (DirEntry::EndsDirectory(entry)) {
                    ended = true;
                    break;
                }
                if (DirEntry::Attribute(entry) == DirEntry::kAttrLongName && entry[0] != DirEntry::kDeletedMark) {
                    longName.Piece(entry);
                    continue;
                }
                if (DirEntry::IsSkipped(entry) || !(DirEntry::IsFile(entry) || DirEntry::IsSubdirectory(entry))) {
                    longName.Reset();
                    continue;
                }
                const std::string shortName = ShortName(entry);
                std::string full = longName.Of(entry);
                longName.Reset();
                if (full == shortName)
                    full.clear();
                const bool isDirectory = DirEntry::IsSubdirectory(entry);
                owners_.push_back({parent + "\\" + shortName, full, isDirectory});
                const auto index = static_cast<int32_t>(owners_.size() - 1);
                const uint16_t start = DirEntry::StartCluster(entry);
                if (!isDirectory)
                    claim(start, index);
                else if (start >= kFirstDataCluster && start <= lastCluster_ && !listed[start] &&
                         dir.depth < kMaxDirectoryDepth)
                    pending.push_back({start, index, dir.depth + 1});
            }
        }
    }
}

VolumeMap VolumeMap::OfImage(const std::optional<FatLayout>& layout, std::span<const uint8_t> image,
                             const std::set<uint32_t>& unread)
{
    if (!layout)
        return {};
    return VolumeMap(*layout, [&](uint32_t first, std::span<uint8_t> buffer) {
        const size_t offset = size_t{first} * kSectorSize;
        if (offset > image.size() || image.size() - offset < buffer.size())
            return false;
        const uint32_t end = first + static_cast<uint32_t>(buffer.size() / kSectorSize);
        const auto hole = unread.lower_bound(first);
        if (hole != unread.end() && *hole < end)
            return false;
        std::copy_n(image.begin() + static_cast<ptrdiff_t>(offset), buffer.size(), buffer.begin());
        return true;
    });
}

SectorOwner VolumeMap::OwnerOf(uint32_t sector) const
{
    if (!layout_)
        return {SectorUse::Outside, {}};
    const FatLayout& layout = *layout_;
    if (sector < layout.firstFatSector)
        return {SectorUse::Reserved, {}};
    if (sector < layout.rootFirstSector)
        return {SectorUse::Fat, {}};
    if (sector < layout.firstDataSector)
        return {SectorUse::RootDirectory, {}};
    if (layout.sectorsPerCluster == 0 || sector >= layout.totalSectors)
        return {SectorUse::Outside, {}};
    const uint32_t cluster = (sector - layout.firstDataSector) / layout.sectorsPerCluster + kFirstDataCluster;
    if (cluster > layout.lastCluster)
        return {SectorUse::Outside, {}};
    if (!namesFiles_)
        return {SectorUse::Unnamed, {}};
    if (cluster >= state_.size())
        return {SectorUse::Outside, {}};
    if (owner_[cluster] != kNone) {
        const Owner& owner = owners_[static_cast<size_t>(owner_[cluster])];
        return {owner.directory ? SectorUse::Directory : SectorUse::File,
                owner.longName.empty() ? owner.path : owner.path + " (" + owner.longName + ")"};
    }
    switch (state_[cluster]) {
    case ClusterState::Free: return {SectorUse::Free, {}};
    case ClusterState::Bad: return {SectorUse::Bad, {}};
    case ClusterState::Used: break;
    }
    return {SectorUse::Unlisted, {}};
}

void LostSectors::Add(uint32_t sector, const SectorOwner& owner)
{
    if (!sectors_.insert(sector).second)
        return;
    const auto group = std::find_if(groups_.begin(), groups_.end(), [&](const auto& g) { return g.first == owner; });
    if (group == groups_.end())
        groups_.push_back({owner, {sector}});
    else
        group->second.push_back(sector);
}

bool LostSectors::DataLost() const
{
    return std::any_of(groups_.begin(), groups_.end(), [](const auto& g) {
        return g.first.use != SectorUse::Free && g.first.use != SectorUse::Bad;
    });
}

namespace {

std::string LineOf(const SectorOwner& owner, const std::string& count, const std::string& drive)
{
    switch (owner.use) {
    case SectorUse::Reserved: return FormatString(Str::LostInReserved, count);
    case SectorUse::Fat: return FormatString(Str::LostInFat, count);
    case SectorUse::RootDirectory: return FormatString(Str::LostInRoot, count);
    case SectorUse::Directory: return FormatString(Str::LostInDirectory, count, drive + owner.path);
    case SectorUse::File: return FormatString(Str::LostInFile, count, drive + owner.path);
    case SectorUse::Free: return FormatString(Str::LostInFree, count);
    case SectorUse::Bad: return FormatString(Str::LostInBad, count);
    case SectorUse::Unnamed: return FormatString(Str::LostUnnamed, count);
    case SectorUse::Unlisted: return FormatString(Str::LostUnlisted, count);
    case SectorUse::Outside: break;
    }
    return FormatString(Str::LostOutside, count);
}

std::string NumbersOf(const std::vector<uint32_t>& sectors)
{
    std::string list;
    for (size_t i = 0; i < sectors.size() && i < kSectorsListed; ++i)
        list.append(i == 0 ? "" : ", ").append(std::to_string(sectors[i]));
    if (sectors.size() > kSectorsListed)
        list.append(", ...");
    return list;
}

}  // namespace

std::vector<std::string> LostSectors::Entries(const std::string& drive) const
{
    std::vector<std::string> entries;
    for (const auto& [owner, sectors] : groups_)
        entries.push_back(LineOf(owner, std::to_string(sectors.size()), drive) + " " +
                          FormatString(Str::LostSectorNumbers, NumbersOf(sectors)));
    return entries;
}

std::string LostSectors::Lines(const std::string& drive) const
{
    std::string text;
    for (const std::string& entry : Entries(drive))
        text.append("\n  ").append(entry);
    return text;
}

std::string LostSectors::DriveName(char letter)
{
    return std::string(1, NormalizeDriveLetter(letter)) + ":";
}

std::string LostSectors::Message(const std::string& drive) const
{
    return Empty() ? std::string() : LoadString(Str::LostSectorsHeader) + Lines(drive);
}

bool LostSectors::Tell(MessageBoxHost& host, char letter) const
{
    if (Empty())
        return false;
    host.MessageBox(Message(DriveName(letter)), LoadString(Str::Warning), Buttons::Ok, Icon::Warning);
    return DataLost();
}

}  // namespace vokta
