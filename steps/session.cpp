// SPDX-License-Identifier: GPL-3.0-or-later
#include "steps/session.h"

#include <cctype>

#include "drive/diskdrive.h"
#include "res/strings.h"

namespace vokta {
namespace {

std::string WithReason(const std::string& text, const std::string& reason)
{
    return reason.empty() ? text : text + "\n\n" + reason;
}

}  // namespace

std::string TakeErrorWithReason(DiskDrive& drive, const std::string& reason)
{
    return WithReason(drive.ErrorText(drive.TakeError()), reason);
}

std::string ErrorWithReason(DiskError error, const std::string& reason)
{
    return WithReason(DiskErrorText(error), reason);
}

bool DriveOpened(DiskDrive& drive, MessageBoxHost& boxes, const std::string& caption)
{
    if (drive.PendingError() == Err::None)
        return true;
    boxes.MessageBox(TakeErrorWithReason(drive, drive.openFailureDetail), caption, Buttons::Ok, Icon::Error);
    return false;
}

bool WaitForDiskette(DiskDrive& drive, OperationHost& host)
{
    while (!drive.IsDriveReady()) {
        const Answer a = host.MessageBox(LoadString(Str::InsertDisk), LoadString(Str::Message), Buttons::OkCancel,
                                         Icon::Information);
        if (a != Answer::Ok || host.AbortRequested())
            return false;
    }
    return true;
}

bool DetectMedia(DiskDrive& drive, MessageBoxHost& boxes, const std::string& caption)
{
    if (drive.SelectMedia(kMediaUnknown, false))
        return true;
    ShowPendingError(drive, boxes, caption, Buttons::Ok);
    return false;
}

std::optional<Answer> ShowPendingError(DiskDrive& drive, MessageBoxHost& boxes, const std::string& caption,
                                       Buttons buttons, DiskError whenNonePending)
{
    const DiskError pending = drive.TakeError();
    const std::string text = drive.ErrorText(pending != Err::None ? pending : whenNonePending);
    if (text.empty())
        return std::nullopt;
    return boxes.MessageBox(text, caption, buttons, Icon::Error);
}

std::string MediaLine(int32_t mediaType)
{
    return LoadString(Str::MediaTypeIs) + std::string(GetMediaTypeName(mediaType));
}

std::string OperationTitle(const std::string& operation, char letter, const std::string& label)
{
    return operation + " " + static_cast<char>(std::toupper(static_cast<unsigned char>(letter))) + ": " + label;
}

OperationSession::OperationSession(OperationHost& host, std::string errorCaption)
    : host_(host), caption_(std::move(errorCaption))
{
}

OperationSession::~OperationSession()
{
    if (!closed_)
        host_.Close();
}

bool OperationSession::Commit()
{
    if (!drive_)
        return true;
    // An error the work left pending would refuse the commit's own writes.
    drive_->TakeError();
    if (drive_->Commit())
        return true;
    host_.MessageBox(TakeErrorWithReason(*drive_, drive_->commitFailureDetail), caption_, Buttons::Ok, Icon::Error);
    // Told once: the end of the operation does not try, and tell, again.
    drive_ = nullptr;
    return false;
}

OperationOutcome OperationSession::End(int result, FollowUp followUp)
{
    if (!Commit()) {
        result = kResultFailed;
        followUp = FollowUp::None;
    }
    drive_ = nullptr;
    if (!closed_) {
        closed_ = true;
        host_.Close();
    }
    return {.result = result, .followUp = followUp, .figures = figures_, .trackMap = trackMap_};
}

void OperationSession::BeginTrackMap(const DeviceParams& params)
{
    const TrackMapShape shape{params.cylinders(), static_cast<uint8_t>(params.heads()), params.sectorsPerTrack()};
    trackMap_ = TrackMap(shape);
    host_.BeginTrackMap(shape);
}

void OperationSession::ShowTrack(const TrackReport& report)
{
    trackMap_.Apply(report);
    host_.ShowTrack(report);
}

void OperationSession::ShowTrack(uint16_t cylinder, uint8_t head, TrackState state)
{
    ShowTrack(TrackReport{cylinder, head, state, {}});
}

}  // namespace vokta
