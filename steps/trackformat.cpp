// SPDX-License-Identifier: GPL-3.0-or-later
#include "steps/trackformat.h"

#include "drive/diskdrive.h"
#include "steps/session.h"

namespace vokta {
namespace {

constexpr uint64_t kRemovalSoundInterval = 5000;
constexpr uint64_t kInsertionPollInterval = 2000;
constexpr int kPollRest = 50;

bool FormatCylinder(DiskDrive& drive, OperationSession& session, uint16_t cylinder, bool optimized)
{
    for (uint16_t h = 0; h < drive.params.heads(); ++h) {
        const auto head = static_cast<uint8_t>(h);
        session.ShowTrack(cylinder, head, TrackState::InProgress);
        const bool formatted = static_cast<bool>(drive.FormatTrack(cylinder, h, optimized));
        session.ShowTrack(cylinder, head, formatted ? TrackState::Formatted : TrackState::Lost);
        if (!formatted)
            return false;
    }
    return true;
}

}  // namespace

FormatLoopEnd FormatCylinders(DiskDrive& drive, OperationSession& session, const TrackFormatting& formatting)
{
    OperationHost& host = session.host();
    const uint16_t cylinders = drive.params.cylinders();
    for (uint16_t c = 0; c < cylinders; ++c) {
        if (host.AbortRequested())
            return FormatLoopEnd::Stopped;
        if (formatting.announce)
            formatting.announce(c, cylinders);
        while (!FormatCylinder(drive, session, c, formatting.optimized)) {
            const Answer answer = formatting.onFailure(drive);
            drive.TakeError();
            if (answer == Answer::Ignore)
                break;
            if (answer != Answer::Retry)
                return FormatLoopEnd::Refused;
        }
        host.SetProgressPos(c + 1);
    }
    return FormatLoopEnd::Done;
}

bool WaitForNextDiskette(DiskDrive& drive, OperationHost& host, const NextDisketteTexts& texts,
                         const std::string& jobCompletedSound)
{
    host.SetLowerLine(texts.remove);
    host.SetAbortCaption(AbortButton::Finish);
    uint64_t due = host.TickCount();
    while (drive.IsDriveReady()) {
        if (host.TickCount() >= due) {
            host.PlaySound(jobCompletedSound);
            due = host.TickCount() + kRemovalSoundInterval;
        }
        if (host.AbortRequested())
            return false;
        host.Rest(kPollRest);
    }
    drive.TakeError();
    host.SetLowerLine(texts.insert);
    for (bool ready = false; !ready;) {
        if (host.TickCount() >= due) {
            host.PlaySound(jobCompletedSound);
            ready = drive.IsDriveReady();
            due = host.TickCount() + kInsertionPollInterval;
        }
        if (host.AbortRequested())
            return false;
        if (!ready)
            host.Rest(kPollRest);
    }
    drive.TakeError();
    host.SetAbortCaption(AbortButton::Abort);
    return true;
}

}  // namespace vokta
