// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSettings>
#include <string>
#include <vector>

#include "drive/drivetable.h"
#include "drives/systemdrives.h"

namespace vokta {

// The letters the user bound to diskette files or floppy drives, kept beside the options:
// one value per letter, "A" = "/path/file.img,type=1.44m", as `--drive A:=...` reads it.
constexpr const char* kDrivesGroup = "Drives";

// The stored bindings in letter order; a value that is no binding is passed over.
std::vector<DriveOption> ReadDriveBindings(QSettings& store);

// Replaces the stored bindings with these; a letter given twice keeps the last.
void WriteDriveBindings(QSettings& store, const std::vector<DriveOption>& bindings);

// Fills the table anew: the machine's floppy drives, the stored bindings, then the command
// line's, which win over both for this run.
void BindDrives(DriveTable& table, const std::vector<DriveOption>& stored,
                const std::vector<DriveOption>& commandLine);

// Binds `option` into `bindings`, in place of an earlier binding of its letter.
void ReplaceBinding(std::vector<DriveOption>& bindings, const DriveOption& option);

// Whether a letter can be bound to a path as it is now.
enum class TargetState {
    Usable,   // a diskette file or one of the machine's floppy drives
    Missing,  // nothing there yet: it can be created as an empty diskette file
    Refused,  // a folder, a device that is no floppy drive, or no access
};

struct BindingTarget {
    TargetState state = TargetState::Usable;
    std::string reason;  // why it is refused, in words
};

BindingTarget CheckBindingTarget(const DriveOption& option);

// Creates an empty diskette file (an unformatted diskette); false with the reason in words.
bool CreateEmptyDisketteFile(const std::string& path, std::string& reason);

}  // namespace vokta
