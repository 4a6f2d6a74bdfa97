// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "drive/diskerror.h"
#include "drive/diskservice.h"

namespace vokta {

// The system's drive types, as the drive list filters them.
enum class SystemDriveType : int {
    Unknown = 0, NoRoot = 1, Removable = 2, Fixed = 3, Remote = 4, CdRom = 5, RamDisk = 6,
};

// Opening a drive's service: the service, or the reason it could not be had.
struct DriveOpenResult {
    std::unique_ptr<DiskService> service;
    DiskError error = Err::None;
    std::string detail;  // the cause in words, for the user (e.g. "permission denied")
};

struct DriveBinding {
    char letter = 'A';
    SystemDriveType type = SystemDriveType::Removable;
    std::string path;  // the device or diskette file behind the letter; empty when emulated
    std::function<DriveOpenResult()> open;
};

// Which letters exist and what each one drives.
class DriveTable {
public:
    // Binds a letter, replacing an earlier binding of the same letter.
    void Bind(DriveBinding binding);
    void Unbind(char letter);
    const DriveBinding* Find(char letter) const;
    // In letter order, A: first.
    const std::vector<DriveBinding>& Drives() const { return drives_; }

    // The process-wide table: floppy drives, diskette files bound by settings or the
    // command line, and the default virtual A: on a machine without a floppy drive.
    static DriveTable& System();

private:
    std::vector<DriveBinding> drives_;
};

char NormalizeDriveLetter(char letter);

}  // namespace vokta
