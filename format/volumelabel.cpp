#include "format/volumelabel.h"

#include <algorithm>
#include <span>
#include <vector>

#include "boot/bootbuilder.h"
#include "boot/bootsector.h"
#include "boot/localclock.h"
#include "fat/direntry.h"
#include "fat/fatdrive.h"
#include "format/labelcheck.h"
#include "res/codepage.h"
#include "res/strings.h"

namespace vokta {
namespace {

// Why the FAT could not be trusted, in words.
std::string UntrustedFatText(FatDrive::FatTrust trust)
{
    switch (trust) {
    case FatDrive::FatTrust::NoFat: return LoadString(Str::NoFatOnDiskette);
    case FatDrive::FatTrust::Unsound: return LoadString(Str::NoSoundFat);
    case FatDrive::FatTrust::Misplaced: return LoadString(Str::LayoutNotConfirmed);
    case FatDrive::FatTrust::Trusted: break;
    }
    return {};
}

// Loads the FAT and root directory of a diskette whose media is known; false with the
// reason in words.
bool LoadFileSystem(FatDrive& drive, std::string& reason)
{
    if (drive.LoadFat())
        return true;
    if (drive.fatTrust != FatDrive::FatTrust::Trusted) {
        drive.LatchOfFatLayer() = Err::None;
        reason = UntrustedFatText(drive.fatTrust);
    } else {
        reason = TakeFailureText(drive);
    }
    return false;
}

// Establishes the media, then opens the diskette's FAT and root directory.
bool OpenFileSystem(FatDrive& drive, std::string& reason)
{
    return DetectMediaSayingWhy(drive, reason) && LoadFileSystem(drive, reason);
}

size_t EntryCount(const FatDrive& drive)
{
    return drive.rootDirBytes / DirEntry::kSize;
}

std::span<uint8_t> Entry(FatDrive& drive, size_t index)
{
    return std::span(drive.rootDir).subspan(index * DirEntry::kSize, DirEntry::kSize);
}

// The label entries of the root directory in order, up to its end mark or its last
// entry when a damaged one has none.
std::vector<size_t> LabelEntries(FatDrive& drive)
{
    std::vector<size_t> found;
    for (size_t i = 0; i < EntryCount(drive); ++i) {
        const std::span<uint8_t> e = Entry(drive, i);
        if (DirEntry::EndsDirectory(e))
            break;
        if (IsVolumeLabelEntry(e))
            found.push_back(i);
    }
    return found;
}

std::optional<size_t> FirstFreeEntry(FatDrive& drive)
{
    for (size_t i = 0; i < EntryCount(drive); ++i) {
        const uint8_t first = Entry(drive, i)[0];
        if (first == DirEntry::kEndMark || first == DirEntry::kDeletedMark)
            return i;
    }
    return std::nullopt;
}

// The entry's name as text: trailing blanks (and the zeros some writers pad with) dropped,
// and a byte that no printable character stands for shown as U+FFFD, never passed on to
// a terminal.
std::string LabelText(std::span<const uint8_t> e)
{
    std::string bytes(e.begin(), e.begin() + BootSector::kLabelSize);
    if (static_cast<uint8_t>(bytes[0]) == kEscapedDeletedMark)
        bytes[0] = static_cast<char>(DirEntry::kDeletedMark);
    bytes.erase(bytes.find_last_not_of(std::string_view(" \0", 2)) + 1);
    std::string text;
    for (const char c : bytes) {
        const auto code = static_cast<uint8_t>(c);
        text += code < 0x20 || code == 0x7F ? "\uFFFD" : Windows1252ToUtf8(std::string_view(&c, 1));
    }
    return text;
}

// Puts the label into the root directory in memory: the first label entry replaced, any
// later one (only a damaged directory has them) deleted, so that one label is left; with
// no label entry, one in the first free slot. A removal deletes them all. False when
// there is no free slot.
bool PutLabelInRoot(FatDrive& drive, const std::string& field, bool removal)
{
    const std::vector<size_t> labels = LabelEntries(drive);
    size_t deleteFrom = 0;
    if (!removal) {
        std::optional<size_t> slot = labels.empty() ? FirstFreeEntry(drive) : std::optional(labels.front());
        if (!slot)
            return false;
        const std::span<uint8_t> e = Entry(drive, *slot);
        // Taking the end mark's slot moves the end of the directory to the next entry.
        if (DirEntry::EndsDirectory(e) && *slot + 1 < EntryCount(drive))
            Entry(drive, *slot + 1)[0] = DirEntry::kEndMark;
        PutVolumeLabelEntry(e, field, CurrentLocalTime());
        deleteFrom = 1;
        drive.rootDirDirty = true;
    }
    for (size_t k = deleteFrom; k < labels.size(); ++k) {
        Entry(drive, labels[k])[0] = DirEntry::kDeletedMark;
        drive.rootDirDirty = true;
    }
    return true;
}

LabelChange Refused(std::string reason)
{
    return {false, std::move(reason)};
}

// What the diskette held before the change, to put back where a write of it got through
// before the change was refused.
struct Before {
    BootSector boot;
    std::vector<uint8_t> root;
    bool rootChanged = false;
    bool bootWritten = false;
};

void PutBack(FatDrive& drive, const Before& before)
{
    // The write-back clears the dirty flag once the root directory is on the disk.
    const bool rootWritten = before.rootChanged && !drive.rootDirDirty;
    drive.rootDir = before.root;
    drive.rootDirDirty = rootWritten;
    drive.LatchOfFatLayer() = Err::None;
    if (before.bootWritten)
        (void)drive.WriteSectors(0, 1, before.boot.span());
    if (rootWritten || before.bootWritten)
        (void)drive.Commit();
}

}  // namespace

LabelReading ReadVolumeLabel(char letter, const DriveTable& drives)
{
    FatDrive drive(letter, drives);
    LabelReading reading;
    if (!DetectMediaSayingWhy(drive, reading.reason))
        return reading;
    return ReadVolumeLabel(drive);
}

LabelReading ReadVolumeLabel(FatDrive& drive)
{
    LabelReading reading;
    if (!LoadFileSystem(drive, reading.reason))
        return reading;
    const std::vector<size_t> labels = LabelEntries(drive);
    reading.label = labels.empty() ? std::string() : LabelText(Entry(drive, labels.front()));
    return reading;
}

std::optional<std::string> GetVolumeLabel(char letter, const DriveTable& drives)
{
    return ReadVolumeLabel(letter, drives).label;
}

LabelChange SetVolumeLabel(char letter, const std::string& label, const DriveTable& drives)
{
    if (const std::optional<Str> problem = LabelProblem(label))
        return Refused(LoadString(*problem));
    // Blanks alone make no name: the entry would read as no label at all.
    const bool removal = label.find_first_not_of(' ') == std::string::npos;
    const std::string field = VolumeLabelField(removal ? std::string() : label);

    FatDrive drive(letter, drives);
    std::string reason;
    if (!OpenFileSystem(drive, reason))
        return Refused(reason);
    Before before;
    if (!drive.ReadSectors(0, 1, before.boot.span()))
        return Refused(TakeFailureText(drive));
    before.root = drive.rootDir;

    // A root directory that is not this volume's may be a FAT copy or files' data.
    const bool placed = PutLabelInRoot(drive, field, removal);
    if (!placed || !drive.RootConfirmsLayout()) {
        drive.rootDir = before.root;
        drive.rootDirDirty = false;
        return Refused(LoadString(placed ? Str::LayoutNotConfirmed : Str::RootDirectoryFull));
    }
    before.rootChanged = drive.rootDirDirty;

    BootSector boot = before.boot;
    if (boot.u8(BootSector::ExtendedSignature) == BootSector::kExtendedBootSignature)
        boot.setText(BootSector::VolumeLabel, BootSector::kLabelSize, field);
    if (boot != before.boot) {
        if (!drive.WriteSectors(0, 1, boot.span())) {
            reason = TakeFailureText(drive);
            PutBack(drive, before);
            return Refused(reason);
        }
        before.bootWritten = true;
    }
    if (!drive.Commit()) {
        reason = TakeFailureText(drive);
        if (!drive.commitFailureDetail.empty())
            reason += "\n" + drive.commitFailureDetail;
        PutBack(drive, before);
        return Refused(reason);
    }
    return {true, {}};
}

}  // namespace vokta
