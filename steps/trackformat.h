// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>

#include "ops/operation.h"

namespace vokta {

class DiskDrive;
class OperationSession;

// How the track-format loop of Write Disk and of Format goes about its work.
struct TrackFormatting {
    bool optimized = true;
    // Called at the start of every cylinder (the lower line of Format); may be empty.
    std::function<void(uint16_t cylinder, uint16_t cylinders)> announce;
    // Called when a head of the cylinder failed, with its error pending: Retry formats the
    // cylinder again from head 0, Ignore goes on with the next one, anything else stops.
    std::function<Answer(DiskDrive&)> onFailure;
};

enum class FormatLoopEnd {
    Done,       // every cylinder formatted or ignored
    Stopped,    // Abort was pressed before a cylinder
    Refused,    // the failure's answer stopped it (Cancel or Abort)
};

// Formats every cylinder of the selected media, head by head, moving the bar to c + 1
// after cylinder c, and each track on the session's map: in progress, then formatted, or
// lost while it fails. It neither begins nor ends format mode: the caller brackets it.
FormatLoopEnd FormatCylinders(DiskDrive& drive, OperationSession& session, const TrackFormatting& formatting);

// The texts of the wait between two diskettes of a run of several.
struct NextDisketteTexts {
    std::string remove;  // while the finished diskette is still in the drive
    std::string insert;  // while the drive is empty
};

// Waits for the finished diskette to go and a new one to come, with the job-completed
// sound every 5 s while it stays and every 2 s while the drive is empty. The Abort button
// reads "&Finish" meanwhile. False when the user pressed it.
bool WaitForNextDiskette(DiskDrive& drive, OperationHost& host, const NextDisketteTexts& texts,
                         const std::string& jobCompletedSound);

}  // namespace vokta
