// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

#include "drive/backend/emulated/emulateddrive.h"
#include "drive/drivetable.h"
#include "drive/replacementfile.h"
#include "res/stringids.h"

namespace vokta {

enum class DisketteFileFormat : uint8_t { Raw, Imd, Scp, Hfe };

// The emulated drive persisted in a diskette file: a raw image of one of the five
// standard sizes (an empty file is an unformatted diskette), an ImageDisk file, or a flux
// file (SCP, HFE) whose tracks are decoded on loading and encoded again on saving.
// No file = no diskette; a file we may not write, or one nobody may (root included), or
// one on a read-only file system = a write-protected diskette; an advisory lock on the
// file = the volume lock. Changes go to the file when the work asks for it (Flush),
// whenever the work pauses for the user (the drive is asked whether it is ready), and at
// the drive object's end at the latest, through a new file beside it that is synced,
// renamed over it, and made lasting by syncing the folder: neither a crash nor a killed
// process leaves a half-written diskette file. The new file is taken, with room for
// the whole diskette, before the first change (a folder that cannot take it refuses the
// write itself), and has no name until its rename, so a killed process leaves none behind.
class VirtualDrive final : public EmulatedDrive {
public:
    static DriveOpenResult Open(const std::string& path, DriveKind kind, uint8_t driveNumber);
    ~VirtualDrive() override;

    DisketteFileFormat format() const { return format_; }

    // Saves the diskette into its file if it changed. On failure the reason in words, and
    // the changes (and the temporary file) stay for another try. Also false when changes
    // were lost since the last Flush: the diskette file was taken away or replaced while
    // they could not be saved.
    bool Flush(std::string& reason) override;

    // The file taken away is a diskette taken out; another file in its place, a new diskette.
    bool IsDriveReady() override;

protected:
    DiskError TakeVolume() override;
    DiskError ReleaseVolume() override;
    bool VolumeHeldElsewhere() const override;
    DiskError PrepareToModify() override;

private:
    VirtualDrive(std::string path, DriveKind kind, uint8_t driveNumber);
    // Reads the diskette file in (no file: no diskette); the cause in `detail` when the
    // file is no diskette.
    DiskError Load(std::string& detail);
    void CloseFile();
    void DiscardTemporary();
    // Creates the temporary file with room for the diskette; 0 or the errno of the failure.
    int ReserveTemporary();
    void UnlockFile();
    void RelockFile(bool wasLocked);
    // Writes the diskette back to its file if it changed; the reason in words on failure.
    bool Save(std::string& reason);
    // The last save, when nothing is left to fail with it: what it cannot keep is recorded
    // as lost work, once.
    void SaveAtEnd();
    // The diskette goes (its file taken away or replaced) with changes no save could keep.
    void LoseChanges(const std::string& reason);
    std::string LostWorkText(const std::string& reason) const;
    // Writes the diskette's file contents into the temporary file; the reason in words on failure.
    bool WriteContents(const EmulatedMedium& disk, std::string& reason);

    std::string path_;
    DisketteFileFormat format_ = DisketteFileFormat::Raw;
    int fd_ = -1;
    bool locked_ = false;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    // The file the next save replaces (a link's target), and the new file it writes first.
    std::string target_;
    ReplacementFile temp_;
    std::string imdComment_;
    // Why changes went with a diskette that could not be saved; told by the next Flush,
    // else recorded at the end.
    std::string lostReason_;
};

// The format a file of this name gets when it is still empty or absent: ImageDisk for
// ".imd", SCP for ".scp", HFE for ".hfe", raw for anything else.
DisketteFileFormat FormatForName(const std::string& path);

// A drive letter bound to a diskette file.
DriveBinding VirtualDriveBinding(char letter, const std::string& path, DriveKind kind);

// The drive kind of a `type=` value ("720k", "1.2m", "1.44m").
std::optional<DriveKind> DriveKindOfTypeName(const std::string& name);
// The `type=` value of a drive kind; empty for a kind no diskette file stands for.
std::string TypeNameOfDriveKind(DriveKind kind);

// Why a file that is neither a regular file nor a folder is no diskette file; nothing for
// those two.
std::optional<Str> NotADisketteFile(mode_t mode);

}  // namespace vokta
