// SPDX-License-Identifier: GPL-3.0-or-later
#include "fat/fatvolume.h"

#include <algorithm>
#include <new>
#include <optional>
#include <utility>

#include "drive/lostwork.h"
#include "drive/volume.h"
#include "fat/direntry.h"
#include "fat/soundfat.h"
#include "res/strings.h"

namespace vokta {

FatVolume::FatVolume(DiskDrive& drive) : drive_(drive)
{
    drive_.HoldChanges([this](std::string& why) { return CommitTables(why); });
}

// The last resort for changes the operation did not commit: one more try, and what cannot
// be written is recorded for the user rather than dropped.
FatVolume::~FatVolume()
{
    drive_.HoldChanges({});
    const Unwritten left = WriteBack();
    if (left.Nothing())
        return;
    const std::string drive{static_cast<char>('A' + drive_.driveNumber - 1), ':'};
    RecordLostWork(FormatString(Str::ChangesLost, drive, drive_.ErrorText(left.error)));
}

DiskError FatVolume::CommitTables(std::string& why)
{
    const Unwritten left = WriteBack();
    if (left.Nothing())
        return Err::None;
    why = LoadString(Str::TablesNotWritten);
    return left.error;
}

DiskError FatVolume::Failure(DiskError otherwise) const
{
    return drive_.PendingError() != Err::None ? drive_.PendingError() : otherwise;
}

// Beside a usable layout, the fields the operations keep it in, and the tracks they mark,
// must hold it.
bool FatVolume::FitsTheFields(const FatLayout& found) const
{
    return found.firstDataSector <= 0xFFFF && found.rootBytes <= 0xFFFF && drive_.params.sectorsPerTrack() != 0 &&
           drive_.params.heads() != 0;
}

// A volume of another size than the medium in the drive, or one whose FAT cannot describe
// its clusters, is not the diskette's.
bool FatVolume::FitsTheMedium(const FatLayout& found) const
{
    const std::optional<MediaGeometry> row = GeometryOf(drive_.mediaType);
    return LayoutFitsMedium(found, row && drive_.mediaType != kMediaHardDisk ? row->totalSectors
                                                                            : drive_.params.totalSectors());
}

bool FatVolume::TakeBuffer(std::vector<uint8_t>& buffer, size_t bytes)
{
    try {
        buffer.assign(bytes, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// Changes to tables that are gone have nothing left to be written from.
void FatVolume::ReleaseTables()
{
    fat_ = {};
    rootDir_ = {};
    fatDirty_ = false;
    rootDirty_ = false;
    rootWritten_ = false;
}

DiskStatus FatVolume::Load()
{
    if (const DiskStatus loaded = LoadFatOnly(); !loaded)
        return loaded;
    // The root directory is read and written in whole sectors; its entries end at
    // `rootDirBytes_`.
    rootDirBytes_ = static_cast<uint16_t>(layout_.rootBytes);
    if (!TakeBuffer(rootDir_, size_t{layout_.rootSectors} * kSectorSize)) {
        ReleaseTables();
        return Err::InsufficientBuffer;
    }
    if (const DiskStatus read = drive_.ReadSectors(FirstRootSector(), static_cast<uint16_t>(layout_.rootSectors), rootDir_);
        !read) {
        ReleaseTables();
        return read;
    }
    return Err::None;
}

DiskStatus FatVolume::LoadFatOnly()
{
    if (drive_.PendingError() != Err::None)
        return drive_.PendingError();
    if (drive_.mediaType == kMediaUnknown)
        return Err::UnrecognizedMedia;
    ReleaseTables();
    trust_ = Trust::Trusted;
    copiesDiffer_ = false;
    const std::optional<FatLayout> found = FatLayout::FromParams(drive_.params);
    if (!found || !FitsTheFields(*found))
        return Err::UnrecognizedMedia;
    if (!FitsTheMedium(*found)) {
        trust_ = Trust::Misplaced;
        return Err::UnrecognizedMedia;
    }
    layout_ = *found;
    sectorsPerCluster_ = layout_.sectorsPerCluster;
    firstDataSector_ = static_cast<uint16_t>(layout_.firstDataSector);
    fatBits_ = static_cast<uint16_t>(layout_.fatBits);

    // Marking over a FAT that was never read, or over one made up of zeros, and writing it
    // back, would destroy the diskette's allocation: the FAT is what its sound copies say,
    // and without one for every sector there is none.
    SoundFat read;
    try {
        read = ReadSoundFat(drive_, layout_, drive_.params.u8(DeviceParams::MediaDescriptor));
    } catch (const std::bad_alloc&) {
        return Err::InsufficientBuffer;
    }
    if (read.gone != Err::None)
        return read.gone;
    if (!read.Confirmed()) {
        trust_ = !read.fatFound                ? Trust::NoFat
                 : read.misplacedCopies > 1 ? Trust::Misplaced
                                            : Trust::Unsound;
        // A sector that no copy gave is told by the read that failed.
        return read.readError != Err::None ? read.readError : Err::UnrecognizedMedia;
    }
    fat_ = std::move(read.bytes);
    copiesDiffer_ = read.copiesDiffer;
    // Clusters beyond what the FAT can describe do not exist.
    lastCluster_ = static_cast<uint16_t>(std::min(layout_.lastCluster, HighestEntryIn(fat_.size(), fatBits_)));
    return Err::None;
}

bool FatVolume::RootConfirmsLayout() const
{
    return HasFat() && RootFitsFat(rootDir_, rootDirBytes_, fat_, layout_);
}

void FatVolume::MendCopies()
{
    if (HasFat() && copiesDiffer_)
        fatDirty_ = true;
}

size_t FatVolume::RootEntryCount() const
{
    return std::min<size_t>(rootDirBytes_, rootDir_.size()) / DirEntry::kSize;
}

std::span<const uint8_t> FatVolume::RootEntry(size_t index) const
{
    return std::span(rootDir_).subspan(index * DirEntry::kSize, DirEntry::kSize);
}

bool FatVolume::SetRootEntry(size_t index, std::span<const uint8_t> entry)
{
    if (index >= RootEntryCount() || entry.size() != DirEntry::kSize)
        return false;
    std::ranges::copy(entry, rootDir_.begin() + static_cast<ptrdiff_t>(index * DirEntry::kSize));
    rootDirty_ = true;
    return true;
}

void FatVolume::RestoreRoot(std::span<const uint8_t> saved)
{
    if (saved.size() != rootDir_.size())
        return;
    std::ranges::copy(saved, rootDir_.begin());
    rootDirty_ = rootWritten_;
}

uint16_t FatVolume::GetFatEntry(uint16_t cluster) const
{
    if (!HasFat() || cluster > lastCluster_)
        return FatValue::NoEntry;
    return ReadFatEntry(fat_, fatBits_, cluster);
}

bool FatVolume::SetFatEntry(uint16_t cluster, uint16_t value)
{
    if (!HasFat() || drive_.PendingError() != Err::None || cluster > lastCluster_)
        return false;
    if (!WriteFatEntry(fat_, fatBits_, cluster, value))
        return false;
    fatDirty_ = true;
    return true;
}

uint32_t FatVolume::SectorOfCluster(uint16_t cluster) const
{
    return (uint32_t{std::max(cluster, kFirstDataCluster)} - kFirstDataCluster) * sectorsPerCluster_ +
           firstDataSector_;
}

uint16_t FatVolume::ClusterOfSector(uint32_t sector) const
{
    if (sectorsPerCluster_ == 0 || sector < firstDataSector_)
        return 0;
    // Far beyond the medium the number saturates rather than wrapping onto a real cluster.
    return static_cast<uint16_t>(
        std::min<uint32_t>((sector - firstDataSector_) / sectorsPerCluster_ + kFirstDataCluster, 0xFFFF));
}

uint16_t FatVolume::FindFreeCluster(uint16_t start) const
{
    if (!HasFat())
        return FatValue::NoEntry;
    // Entries 0 and 1 hold the media byte; they are never a cluster to hand out.
    for (uint32_t c = std::max(start, kFirstDataCluster); c <= lastCluster_; ++c)
        if (ReadFatEntry(fat_, fatBits_, c) == FatValue::Free)
            return static_cast<uint16_t>(c);
    return FatValue::NoEntry;
}

std::vector<uint32_t> FatVolume::TakeSectorsLostInMoves()
{
    return std::exchange(sectorsLostInMoves_, {});
}

// A failed write ends the write-back: what would follow it belongs with the table that
// the disk did not take.
Unwritten FatVolume::WriteBack()
{
    if (!HasUnwrittenChanges())
        return {};
    (void)drive_.TakeError();
    if (fatDirty_) {
        for (unsigned copy = 0; copy < layout_.fatCount; ++copy)
            if (const DiskStatus written = drive_.WriteSectors(layout_.FatSector(copy), layout_.sectorsPerFat, fat_);
                !written) {
                (void)drive_.TakeError();
                return {true, rootDirty_, written.error()};
            }
        fatDirty_ = false;
    }
    if (rootDirty_) {
        if (const DiskStatus written =
                drive_.WriteSectors(FirstRootSector(), static_cast<uint16_t>(layout_.rootSectors), rootDir_);
            !written) {
            (void)drive_.TakeError();
            return {false, true, written.error()};
        }
        rootDirty_ = false;
        rootWritten_ = true;
    }
    return {};
}

}  // namespace vokta
