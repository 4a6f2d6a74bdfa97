// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

#include "drive/drivetable.h"
#include "fat/fatvolume.h"

namespace vokta {

// The answer of a label change: done, or refused with the reason in words.
struct LabelChange {
    bool done = false;
    std::string reason;  // empty when done
};

// The label of a diskette, or the reason in words why it could not be read.
struct LabelReading {
    std::optional<std::string> label;
    std::string reason;  // empty when the label was read
};

// The label of the diskette in the drive of `letter`, as the system reports it: the text
// of the root directory's volume-label entry without its trailing blanks, "" when there
// is none; nullopt when the drive, its media or its FAT and root directory cannot be read.
std::optional<std::string> GetVolumeLabel(char letter, const DriveTable& drives);
// The same, with the reason when the label cannot be read.
LabelReading ReadVolumeLabel(char letter, const DriveTable& drives);
// The same through a volume over a drive object already open on the drive (a second one
// could not lock it) whose media has been determined; the drive's pending error is read
// and cleared when the label cannot be read.
LabelReading ReadVolumeLabel(FatVolume& volume);

// Writes `label` (UTF-8, at most 11 characters, each one a label may hold) as the
// volume label: the boot sector's label field (only where the boot sector has the
// extended fields, signature 29h) and the root directory's volume-label entry (replaced
// in place, else created in the first free slot, attribute 28h, today's time and date).
// An empty label removes the entry and puts "NO NAME    " in the boot sector. A refusal
// (not ready, write-protected, no FAT, root directory full, invalid label) changes
// nothing on the diskette and says why.
LabelChange SetVolumeLabel(char letter, const std::string& label, const DriveTable& drives);

}  // namespace vokta
