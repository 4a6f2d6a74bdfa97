// SPDX-License-Identifier: GPL-3.0-or-later
#include "fat/volumelabel.h"

#include <algorithm>
#include <array>
#include <span>
#include <vector>

#include "boot/bootbuilder.h"
#include "boot/bootsector.h"
#include "boot/localclock.h"
#include "fat/direntry.h"
#include "fat/fatvolume.h"
#include "fat/labelcheck.h"
#include "res/codepage.h"
#include "res/strings.h"

namespace vokta {
namespace {

// Why the FAT could not be trusted, in words.
std::string UntrustedFatText(FatVolume::Trust trust)
{
    switch (trust) {
    case FatVolume::Trust::NoFat: return LoadString(Str::NoFatOnDiskette);
    case FatVolume::Trust::Unsound: return LoadString(Str::NoSoundFat);
    case FatVolume::Trust::Misplaced: return LoadString(Str::LayoutNotConfirmed);
    case FatVolume::Trust::Trusted: break;
    }
    return {};
}

// Loads the FAT and root directory of a diskette whose media is known; false with the
// reason in words.
bool LoadFileSystem(FatVolume& volume, std::string& reason)
{
    const DiskStatus loaded = volume.Load();
    if (loaded)
        return true;
    (void)volume.drive().TakeError();
    reason = volume.trust() != FatVolume::Trust::Trusted ? UntrustedFatText(volume.trust())
                                                         : volume.drive().ErrorText(loaded.error());
    return false;
}

// Establishes the media, then opens the diskette's FAT and root directory.
bool OpenFileSystem(FatVolume& volume, std::string& reason)
{
    return DetectMediaSayingWhy(volume.drive(), reason) && LoadFileSystem(volume, reason);
}

// The label entries of the root directory in order, up to its end mark or its last
// entry when a damaged one has none.
std::vector<size_t> LabelEntries(const FatVolume& volume)
{
    std::vector<size_t> found;
    for (size_t i = 0; i < volume.RootEntryCount(); ++i) {
        const std::span<const uint8_t> e = volume.RootEntry(i);
        if (DirEntry::EndsDirectory(e))
            break;
        if (IsVolumeLabelEntry(e))
            found.push_back(i);
    }
    return found;
}

std::optional<size_t> FirstFreeEntry(const FatVolume& volume)
{
    for (size_t i = 0; i < volume.RootEntryCount(); ++i) {
        const uint8_t first = volume.RootEntry(i)[0];
        if (first == DirEntry::kEndMark || first == DirEntry::kDeletedMark)
            return i;
    }
    return std::nullopt;
}

// Entry `index` with its first byte replaced by `mark`.
void MarkEntry(FatVolume& volume, size_t index, uint8_t mark)
{
    std::array<uint8_t, DirEntry::kSize> entry;
    std::ranges::copy(volume.RootEntry(index), entry.begin());
    entry[0] = mark;
    volume.SetRootEntry(index, entry);
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
bool PutLabelInRoot(FatVolume& volume, const std::string& field, bool removal)
{
    const std::vector<size_t> labels = LabelEntries(volume);
    size_t deleteFrom = 0;
    if (!removal) {
        std::optional<size_t> slot = labels.empty() ? FirstFreeEntry(volume) : std::optional(labels.front());
        if (!slot)
            return false;
        // Taking the end mark's slot moves the end of the directory to the next entry.
        if (DirEntry::EndsDirectory(volume.RootEntry(*slot)) && *slot + 1 < volume.RootEntryCount())
            MarkEntry(volume, *slot + 1, DirEntry::kEndMark);
        std::array<uint8_t, DirEntry::kSize> entry;
        std::ranges::copy(volume.RootEntry(*slot), entry.begin());
        PutVolumeLabelEntry(entry, field, CurrentLocalTime());
        volume.SetRootEntry(*slot, entry);
        deleteFrom = 1;
    }
    for (size_t k = deleteFrom; k < labels.size(); ++k)
        MarkEntry(volume, labels[k], DirEntry::kDeletedMark);
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
    bool bootWritten = false;
};

void PutBack(FatVolume& volume, const Before& before)
{
    volume.RestoreRoot(before.root);
    DiskDrive& drive = volume.drive();
    // Each step is tried whatever the one before did: what can be put back is.
    GoOnAfterFailure steps(drive);
    if (before.bootWritten)
        steps(drive.WriteSectors(0, 1, before.boot.span()));
    if (volume.HasUnwrittenChanges() || before.bootWritten)
        steps(drive.Commit());
}

}  // namespace

LabelReading ReadVolumeLabel(char letter, const DriveTable& drives)
{
    DiskDrive drive(letter, drives);
    LabelReading reading;
    if (!DetectMediaSayingWhy(drive, reading.reason))
        return reading;
    FatVolume volume(drive);
    return ReadVolumeLabel(volume);
}

LabelReading ReadVolumeLabel(FatVolume& volume)
{
    LabelReading reading;
    if (!LoadFileSystem(volume, reading.reason))
        return reading;
    const std::vector<size_t> labels = LabelEntries(volume);
    reading.label = labels.empty() ? std::string() : LabelText(volume.RootEntry(labels.front()));
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

    DiskDrive drive(letter, drives);
    FatVolume volume(drive);
    std::string reason;
    if (!OpenFileSystem(volume, reason))
        return Refused(reason);
    Before before;
    if (!drive.ReadSectors(0, 1, before.boot.span()))
        return Refused(TakeFailureText(drive));
    before.root.assign(volume.rootDir().begin(), volume.rootDir().end());

    // A root directory that is not this volume's may be a FAT copy or files' data.
    const bool placed = PutLabelInRoot(volume, field, removal);
    if (!placed || !volume.RootConfirmsLayout()) {
        volume.RestoreRoot(before.root);
        return Refused(LoadString(placed ? Str::LayoutNotConfirmed : Str::RootDirectoryFull));
    }

    BootSector boot = before.boot;
    if (boot.u8(BootSector::ExtendedSignature) == BootSector::kExtendedBootSignature)
        boot.setText(BootSector::VolumeLabel, BootSector::kLabelSize, field);
    if (boot != before.boot) {
        if (!drive.WriteSectors(0, 1, boot.span())) {
            reason = TakeFailureText(drive);
            PutBack(volume, before);
            return Refused(reason);
        }
        before.bootWritten = true;
    }
    if (!drive.Commit()) {
        reason = TakeFailureText(drive);
        if (!drive.commitFailureDetail.empty())
            reason += "\n" + drive.commitFailureDetail;
        PutBack(volume, before);
        return Refused(reason);
    }
    return {true, {}};
}

}  // namespace vokta
