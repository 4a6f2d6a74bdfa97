#pragma once

#include <sys/types.h>

#include <string>

#include "drive/backend/emulateddrive.h"
#include "drive/drivetable.h"

namespace vokta {

enum class DisketteFileFormat : uint8_t { Raw, Imd };

// The emulated drive persisted in a diskette file: a raw image of one of the five
// standard sizes (an empty file is an unformatted diskette) or an ImageDisk file.
// No file = no diskette; a file we may not write = a write-protected diskette; an
// advisory lock on the file = the volume lock. Changes go to the file whenever the work
// pauses for the user (the drive is asked whether it is ready) and at the drive object's
// end at the latest, through a temporary file and a rename, so a crash never leaves a
// half-written diskette file. The temporary file is taken, with room for the whole
// diskette, before the first change: a folder that cannot take it refuses the write itself.
class VirtualDrive final : public EmulatedDrive {
public:
    static DriveOpenResult Open(const std::string& path, DriveKind kind, uint8_t driveNumber);
    ~VirtualDrive() override;

    // Writes the diskette back to its file if it changed; the reason in `error` on failure.
    bool Save(std::string& error);
    DisketteFileFormat format() const { return format_; }

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
    void UnlockFile();
    void RelockFile(bool wasLocked);
    void SaveOrComplain();
    // Writes the diskette's file contents into the temporary file.
    bool WriteContents(const EmulatedMedium& disk);

    std::string path_;
    DisketteFileFormat format_ = DisketteFileFormat::Raw;
    int fd_ = -1;
    bool locked_ = false;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    // The file the next save replaces (a link's target), and the new file it writes first.
    std::string target_;
    std::string tempPath_;
    int tempFd_ = -1;
    std::string imdComment_;
};

// The format a file of this name gets when it is still empty or absent: ImageDisk for
// ".imd", raw for anything else.
DisketteFileFormat FormatForName(const std::string& path);

// A drive letter bound to a diskette file.
DriveBinding VirtualDriveBinding(char letter, const std::string& path, DriveKind kind);

// The drive kind of a `type=` value ("720k", "1.2m", "1.44m").
std::optional<DriveKind> DriveKindOfTypeName(const std::string& name);

}  // namespace vokta
