#include "fat/fatdrive.h"

#include <algorithm>
#include <new>
#include <optional>

#include "drive/lostwork.h"
#include "drive/volume.h"
#include "fat/soundfat.h"
#include "res/strings.h"

namespace vokta {

FatDrive::FatDrive(char letter, const DriveTable& table) : DiskDrive(letter, table)
{
    errorText.clear();
}

// The last resort for changes the operation did not commit: one more try, and what cannot
// be written is recorded for the user rather than dropped.
FatDrive::~FatDrive()
{
    if (!WriteBack())
        RecordUnwrittenChanges();
}

bool FatDrive::NoFat()
{
    if (HasFat())
        return false;
    lastError = Err::UnrecognizedMedia;
    return true;
}

// Beside a usable layout, the fields the operations keep it in, and the tracks they mark,
// must hold it.
bool FatDrive::FitsTheFields(const FatLayout& found) const
{
    return found.firstDataSector <= 0xFFFF && found.rootBytes <= 0xFFFF && params.sectorsPerTrack() != 0 &&
           params.heads() != 0;
}

// A volume of another size than the medium in the drive, or one whose FAT cannot describe
// its clusters, is not the diskette's.
bool FatDrive::FitsTheMedium(const FatLayout& found) const
{
    const std::optional<MediaGeometry> row = GeometryOf(mediaType);
    return LayoutFitsMedium(found, row && mediaType != kMediaHardDisk ? row->totalSectors : params.totalSectors());
}

bool FatDrive::TakeBuffer(std::vector<uint8_t>& buffer, size_t bytes)
{
    try {
        buffer.assign(bytes, 0);
    } catch (const std::bad_alloc&) {
        lastError = Err::InsufficientBuffer;
        return false;
    }
    return true;
}

// Changes to tables that are gone have nothing left to be written from.
void FatDrive::ReleaseTables()
{
    fat = {};
    rootDir = {};
    fatDirty = false;
    rootDirDirty = false;
}

bool FatDrive::LoadFat()
{
    if (!LoadFatOnly())
        return false;
    // The root directory is read and written in whole sectors; its entries end at
    // `rootDirBytes`.
    rootDirBytes = static_cast<uint16_t>(layout_.rootBytes);
    if (!TakeBuffer(rootDir, size_t{layout_.rootSectors} * kSectorSize)) {
        ReleaseTables();
        return false;
    }
    if (!ReadSectors(FirstRootSector(), static_cast<uint16_t>(layout_.rootSectors), rootDir)) {
        ReleaseTables();
        return false;
    }
    return true;
}

bool FatDrive::LoadFatOnly()
{
    if (mediaType == kMediaUnknown || lastError != Err::None)
        return false;
    ReleaseTables();
    fatTrust = FatTrust::Trusted;
    fatCopiesDiffer = false;
    const std::optional<FatLayout> found = FatLayout::FromParams(params);
    if (!found || !FitsTheFields(*found)) {
        lastError = Err::UnrecognizedMedia;
        return false;
    }
    if (!FitsTheMedium(*found)) {
        fatTrust = FatTrust::Misplaced;
        lastError = Err::UnrecognizedMedia;
        return false;
    }
    layout_ = *found;
    sectorsPerCluster = layout_.sectorsPerCluster;
    firstDataSector = static_cast<uint16_t>(layout_.firstDataSector);
    fatBits = static_cast<uint16_t>(layout_.fatBits);

    // Marking over a FAT that was never read, or over one made up of zeros, and writing it
    // back, would destroy the diskette's allocation: the FAT is what its sound copies say,
    // and without one for every sector there is none.
    SoundFat read;
    try {
        read = ReadSoundFat(*this, layout_, params.u8(DeviceParams::MediaDescriptor));
    } catch (const std::bad_alloc&) {
        lastError = Err::InsufficientBuffer;
        return false;
    }
    if (lastError != Err::None)
        return false;
    if (!read.Confirmed()) {
        fatTrust = !read.fatFound                ? FatTrust::NoFat
                   : read.misplacedCopies > 1 ? FatTrust::Misplaced
                                              : FatTrust::Unsound;
        // A sector that no copy gave is told by the read that failed.
        lastError = read.readError != Err::None ? read.readError : Err::UnrecognizedMedia;
        return false;
    }
    fat = std::move(read.bytes);
    fatCopiesDiffer = read.copiesDiffer;
    // Clusters beyond what the FAT can describe do not exist.
    lastCluster = static_cast<uint16_t>(std::min(layout_.lastCluster, HighestEntryIn(fat.size(), fatBits)));
    return true;
}

bool FatDrive::RootConfirmsLayout() const
{
    return HasFat() && RootFitsFat(rootDir, rootDirBytes, fat, layout_);
}

uint16_t FatDrive::GetFatEntry(uint16_t cluster)
{
    if (NoFat())
        return FatValue::NoEntry;
    if (cluster > lastCluster)
        return FatValue::NoEntry;
    return ReadFatEntry(fat, fatBits, cluster);
}

bool FatDrive::SetFatEntry(uint16_t cluster, uint16_t value)
{
    if (NoFat() || lastError != Err::None || cluster > lastCluster)
        return false;
    if (!WriteFatEntry(fat, fatBits, cluster, value))
        return false;
    fatDirty = true;
    return true;
}

uint32_t FatDrive::SectorOfCluster(uint16_t cluster)
{
    if (cluster < kFirstDataCluster) {
        lastError = Err::EndOfDisk;
        cluster = kFirstDataCluster;
    }
    return (uint32_t{cluster} - kFirstDataCluster) * sectorsPerCluster + firstDataSector;
}

uint16_t FatDrive::ClusterOfSector(uint32_t sector)
{
    if (sectorsPerCluster == 0) {
        lastError = Err::UnrecognizedMedia;
        return 0;
    }
    if (sector < firstDataSector) {
        lastError = Err::EndOfDisk;
        return 0;
    }
    // Far beyond the medium the number saturates rather than wrapping onto a real cluster.
    return static_cast<uint16_t>(
        std::min<uint32_t>((sector - firstDataSector) / sectorsPerCluster + kFirstDataCluster, 0xFFFF));
}

uint16_t FatDrive::FindFreeCluster(uint16_t start)
{
    if (NoFat())
        return FatValue::NoEntry;
    // Entries 0 and 1 hold the media byte; they are never a cluster to hand out.
    for (uint32_t c = std::max(start, kFirstDataCluster); c <= lastCluster; ++c)
        if (ReadFatEntry(fat, fatBits, c) == FatValue::Free)
            return static_cast<uint16_t>(c);
    return FatValue::NoEntry;
}

bool FatDrive::Commit()
{
    if (!WriteBack()) {
        commitFailureDetail = LoadString(Str::TablesNotWritten);
        return false;
    }
    return DiskDrive::Commit();
}

// A failed write ends the write-back: what would follow it belongs with the table that
// the disk did not take. What is left unwritten stays dirty, so that a retry writes it.
// An error the operation left pending must not keep the changes from the disk.
bool FatDrive::WriteBack()
{
    if (!fatDirty && !rootDirDirty)
        return true;
    lastError = Err::None;
    if (fatDirty) {
        for (unsigned copy = 0; copy < layout_.fatCount; ++copy)
            if (!WriteSectors(layout_.FatSector(copy), layout_.sectorsPerFat, fat))
                return false;
        fatDirty = false;
    }
    if (rootDirDirty) {
        if (!WriteSectors(FirstRootSector(), static_cast<uint16_t>(layout_.rootSectors), rootDir))
            return false;
        rootDirDirty = false;
    }
    return true;
}

void FatDrive::RecordUnwrittenChanges()
{
    const std::string drive{static_cast<char>('A' + driveNumber - 1), ':'};
    RecordLostWork(FormatString(Str::ChangesLost, drive, DiskErrorText(lastError)));
}

}  // namespace vokta
