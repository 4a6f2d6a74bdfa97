// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "drive/drivetable.h"

namespace vokta {

// How a run of the system's disk checker went.
struct DiskCheckerRun {
    bool started = false;  // false: the checker did not run, and `reason` says why
    // The checker's own exit status once it has ended (fsck.fat: 0 nothing found, 1 errors
    // found); 128 + the signal's number when a signal ended it.
    int exitStatus = -1;
    std::string reason;
    // Sectors that could not be read into the raw copy checked in place of an ImageDisk
    // file: the checker saw zeros there. They are told before the checker's report.
    size_t unreadSectors = 0;
};

// Hands the diskette in `letter` to the system's FAT checker in check-only mode
// ("fsck.fat -n -v", found on PATH) and returns when it has ended. Everything the checker
// writes, on stdout and stderr alike, reaches `output` as it comes. It checks the device
// or raw diskette file behind the letter; an ImageDisk file, which it cannot read, is
// checked through a raw copy of the diskette read through the drive into a private
// temporary file that is gone again when this returns. The sectors the copy could not
// take, and what they hold, are told first; the report names the drive and its file
// wherever the checker names the copy.
DiskCheckerRun RunDiskChecker(char letter, const DriveTable& drives,
                              const std::function<void(std::string_view)>& output);

}  // namespace vokta
