// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "drive/diskerror.h"
#include "ops/operation.h"

namespace vokta {

class DiskDrive;
class DeviceParams;

// The start every disk operation shares. Each step tells a failure in a box under the
// operation's caption and answers whether the operation may go on.

// The drive object as its construction left it: a volume held by another program, a
// device the user may not open, a file that is no diskette or a device that is no drive
// is told with its reason, and the operation ends as failed.
bool DriveOpened(DiskDrive& drive, MessageBoxHost& boxes, const std::string& caption);

// Asks for a diskette until the drive is ready; false when the user gives up (Cancel,
// or Abort pressed meanwhile).
bool WaitForDiskette(DiskDrive& drive, OperationHost& host);

// Detects the diskette's media; a failure is told with the detection's error text.
bool DetectMedia(DiskDrive& drive, MessageBoxHost& boxes, const std::string& caption);

// The drive's pending error text (taken, so cleared) with the cause in words beneath it,
// where there is one.
std::string TakeErrorWithReason(DiskDrive& drive, const std::string& reason);
// An error's text with the cause in words beneath it, where there is one.
std::string ErrorWithReason(DiskError error, const std::string& reason);

// Shows the drive's pending error (and clears it), or `whenNonePending` (a failure found
// above the drive) when none is pending, unless the text is empty: the answer, or nullopt
// when there was nothing to show.
std::optional<Answer> ShowPendingError(DiskDrive& drive, MessageBoxHost& boxes, const std::string& caption,
                                       Buttons buttons, DiskError whenNonePending = Err::None);

// The drive letter of a drive selector's entry: its first character.
inline char DriveLetterOf(const std::string& driveText)
{
    return driveText.empty() ? '?' : driveText[0];
}

// "Media Type = " and the media's name: the upper line while an operation works.
std::string MediaLine(int32_t mediaType);

// "<operation> A: <label>": the progress dialog's title.
std::string OperationTitle(const std::string& operation, char letter, const std::string& label);

// One run of an operation on its host. It closes the progress dialog exactly once, on
// every path: End does, and the destructor does for a path that forgot. Before closing,
// End makes the attached drive's changes last (a diskette file saved, FAT copies
// written); a failure there is the operation's failure, told in a box.
class OperationSession {
public:
    OperationSession(OperationHost& host, std::string errorCaption);
    ~OperationSession();
    OperationSession(const OperationSession&) = delete;
    OperationSession& operator=(const OperationSession&) = delete;

    OperationHost& host() { return host_; }
    const std::string& errorCaption() const { return caption_; }

    // The drive whose changes End commits. It must outlive the call of End.
    void Attach(DiskDrive& drive) { drive_ = &drive; }

    // Makes the attached drive's changes last now (before a run of several diskettes asks
    // for the next one); a failure is told in a box, once: End then leaves the drive alone.
    // True when there was nothing to do.
    bool Commit();

    // The operation's transfers, counted as they happen; End hands them back.
    OperationFigures& figures() { return figures_; }

    // The track map of the medium these parameters describe, every track not yet done.
    void BeginTrackMap(const DeviceParams& params);
    // A track's news: kept in the map End hands back, and shown on the host.
    void ShowTrack(const TrackReport& report);
    // The track, every sector of it, in `state`.
    void ShowTrack(uint16_t cylinder, uint8_t head, TrackState state);
    const TrackMap& trackMap() const { return trackMap_; }

    // Commits, closes the dialog and hands back the outcome.
    OperationOutcome End(int result, FollowUp followUp = FollowUp::None);

private:
    OperationHost& host_;
    std::string caption_;
    DiskDrive* drive_ = nullptr;
    bool closed_ = false;
    OperationFigures figures_;
    TrackMap trackMap_;
};

}  // namespace vokta
