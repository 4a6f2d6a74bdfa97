// SPDX-License-Identifier: GPL-3.0-or-later
// Format: one diskette, or several in a row, track by track or the system area only.
#include "boot/bootbuilder.h"
#include "fat/fatvolume.h"
#include "format/format.h"
#include "steps/session.h"
#include "steps/trackformat.h"
#include "res/strings.h"

namespace vokta {
namespace {

// How a stage of a pass ended.
enum class Stage { Done, Aborted, Failed, FallBackToFull };

int ResultOf(Stage stage)
{
    return stage == Stage::Aborted ? kResultAborted : stage == Stage::Failed ? kResultFailed : kResultDone;
}

class Formatter {
public:
    Formatter(FormatJob job, OperationSession& session, FatVolume& volume)
        : job_(std::move(job)), inputs_(*job_.inputs), media_(inputs_.media), optimized_(inputs_.optimized),
          session_(session), host_(session.host()), drive_(volume.drive()), volume_(volume),
          letter_(DriveLetterOf(inputs_.driveText))
    {
    }

    // One diskette, from the media check to its verification.
    Stage Pass();

private:
    std::string Title(Str operation) const { return OperationTitle(LoadString(operation), letter_, inputs_.label); }
    Answer Ask(Str text, Buttons buttons) const
    {
        return host_.MessageBox(LoadString(text), LoadString(Str::Message), buttons, Icon::Error);
    }
    std::optional<Answer> ShowError(Buttons buttons, DiskError whenNonePending = Err::None)
    {
        return ShowPendingError(drive_, host_, session_.errorCaption(), buttons, whenNonePending);
    }

    Stage QuickFormat();
    bool FormattedAsChosen();
    Stage FullFormat();
    Stage Verify();
    // Cylinder 0 of a 21-sector medium, before its system area is written.
    void FormatFirstCylinder();
    // Boot sector (again, when the one after the tracks did not take) and system area.
    DiskStatus WriteSystem();
    // Says, once per operation, that the drive numbered the sectors itself.
    void TellLayoutChosenByDriver();
    // The tracks that hold the boot sector, the FAT copies and the root directory, in `state`.
    void ShowSystemTracks(TrackState state);

    FormatJob job_;
    FormatInputs& inputs_;
    const int32_t media_;
    const bool optimized_;
    OperationSession& session_;
    OperationHost& host_;
    DiskDrive& drive_;
    FatVolume& volume_;
    const char letter_;
    bool bootSectorWritten_ = false;
    bool layoutTold_ = false;
};

Stage Formatter::Pass()
{
    host_.SetLowerLine("");
    host_.SetUpperLine(LoadString(Str::CheckingMedia));
    if (drive_.PendingError() == Err::DriveLocked || !drive_.SelectMedia(media_, true)) {
        ShowError(Buttons::Ok);
        return Stage::Failed;
    }
    // A drive that cannot take this media at all is told before anything is written.
    if (DiskService* service = drive_.Service()) {
        if (const std::string refusal = service->MediaRefusal(drive_.params); !refusal.empty()) {
            drive_.TakeError();
            host_.MessageBox(ErrorWithReason(Err::UnrecognizedMedia, refusal), session_.errorCaption(), Buttons::Ok,
                             Icon::Error);
            return Stage::Failed;
        }
    }
    if (drive_.mediaType == kMediaHardDisk && Ask(Str::HardDiskFormatWarning, Buttons::YesNo) != Answer::Yes)
        return Stage::Aborted;
    host_.SetTitle(Title(Str::Formatting));
    host_.SetBarColours(BarColour::Red, BarColour::White);
    host_.SetUpperLine(MediaLine(drive_.mediaType));
    if (host_.AbortRequested())
        return Stage::Aborted;

    session_.BeginTrackMap(drive_.params);
    Stage formatted = inputs_.full ? Stage::FallBackToFull : QuickFormat();
    if (formatted == Stage::FallBackToFull)
        formatted = FullFormat();
    if (formatted != Stage::Done)
        return formatted;
    TellLayoutChosenByDriver();
    if (inputs_.verify) {
        if (const Stage verified = Verify(); verified != Stage::Done)
            return verified;
    }
    return Stage::Done;
}

void Formatter::FormatFirstCylinder()
{
    host_.SetProgressPos(1);
    drive_.BeginFormat();
    host_.SetProgressPos(2);
    {
        GoOnAfterFailure goOn(drive_);
        for (uint16_t h = 0; h < drive_.params.heads(); ++h) {
            const auto head = static_cast<uint8_t>(h);
            session_.ShowTrack(0, head, TrackState::InProgress);
            const bool formatted = goOn(drive_.FormatTrack(0, h, optimized_));
            session_.ShowTrack(0, head, formatted ? TrackState::Formatted : TrackState::Lost);
            if (!formatted)
                break;
        }
    }
    host_.SetProgressPos(3);
    (void)drive_.EndFormat(WriteUnlabelledBootSector);
}

Stage Formatter::QuickFormat()
{
    host_.SetLowerLine(LoadString(Str::QuickFormatting));
    host_.SetRange(5);
    if (!FormattedAsChosen()) {
        drive_.TakeError();
        host_.MessageBox(FormatString(Str::QuickFormatOfUnformatted, std::string(GetMediaTypeName(drive_.mediaType))),
                         session_.errorCaption(), Buttons::Ok, Icon::Error);
    } else {
        if (drive_.params.sectorsPerTrack() == 21)
            FormatFirstCylinder();
        host_.SetProgressPos(4);
        bootSectorWritten_ = static_cast<bool>(WriteBootSector(drive_, inputs_.label));
        host_.SetProgressPos(5);
        ShowSystemTracks(TrackState::InProgress);
        const DiskStatus system = WriteSystem();
        ShowSystemTracks(system ? TrackState::Written : TrackState::Lost);
        if (system)
            return Stage::Done;
        ShowError(Buttons::Ok, system.error());
    }
    if (Ask(Str::AskFullFormat, Buttons::YesNo) != Answer::Yes)
        return Stage::Aborted;
    // The page shows Full from now on, and the next diskette of the run gets it too.
    inputs_.full = true;
    return Stage::FallBackToFull;
}

// A quick format keeps the tracks as they are: they must be there already, in the chosen
// geometry, up to the last one, or the boot sector would describe tracks the diskette lacks.
bool Formatter::FormattedAsChosen()
{
    if (drive_.mediaType == kMediaHardDisk)
        return true;
    const uint16_t cylinders = drive_.params.cylinders();
    const uint16_t heads = drive_.params.heads();
    return cylinders == 0 || heads == 0 ||
           drive_.VerifyTrack(static_cast<uint16_t>(cylinders - 1), static_cast<uint16_t>(heads - 1));
}

DiskStatus Formatter::WriteSystem()
{
    // A boot sector that did not take would leave a diskette that no system reads, behind a
    // system area that did: it is written again with the system area.
    if (!bootSectorWritten_) {
        drive_.TakeError();
        const DiskStatus boot = WriteBootSector(drive_, inputs_.label);
        bootSectorWritten_ = static_cast<bool>(boot);
        if (!boot)
            return boot;
    }
    return WriteSystemArea(drive_, inputs_.label);
}

Stage Formatter::FullFormat()
{
    const uint16_t cylinders = drive_.params.cylinders();
    host_.SetRange(cylinders);
    host_.SetProgressPos(0);
    drive_.BeginFormat();
    TrackFormatting formatting;
    formatting.optimized = optimized_;
    formatting.announce = [this](uint16_t c, uint16_t total) {
        host_.SetLowerLine(FormatString(Str::FormattingTrack, long{c}, long{total}));
    };
    formatting.onFailure = [this](DiskDrive&) {
        // A failure without a code of its own is still told, so that the user decides
        // whether it is tried again, never the loop by itself.
        return ShowError(Buttons::AbortRetryIgnore, Err::UnknownError).value_or(Answer::Retry);
    };
    const FormatLoopEnd end = FormatCylinders(drive_, session_, formatting);
    if (end == FormatLoopEnd::Refused) {
        (void)drive_.EndFormat(WriteUnlabelledBootSector);
        return Stage::Aborted;
    }
    // Even a format stopped by Abort leaves a labelled boot sector.
    host_.SetLowerLine(LoadString(Str::WritingBootSector));
    (void)drive_.EndFormat(WriteUnlabelledBootSector);
    bootSectorWritten_ = static_cast<bool>(WriteBootSector(drive_, inputs_.label));
    if (end == FormatLoopEnd::Stopped || host_.AbortRequested())
        return Stage::Aborted;

    host_.SetLowerLine(LoadString(Str::WritingSystemArea));
    for (DiskStatus system = WriteSystem(); !system; system = WriteSystem()) {
        const std::optional<Answer> answer = ShowError(Buttons::RetryCancel, system.error());
        if (!answer)
            return Stage::Failed;
        if (*answer != Answer::Retry)
            return Stage::Aborted;
    }
    return Stage::Done;
}

Stage Formatter::Verify()
{
    host_.SetTitle(Title(Str::Verifying));
    host_.SetBarColours(BarColour::Green, BarColour::Black);
    if (!volume_.Load() || drive_.PendingError() != Err::None) {
        drive_.TakeError();
        host_.MessageBox(LoadString(Str::CannotAccessFat), LoadString(Str::FatalError), Buttons::Ok,
                         Icon::Warning);
        return Stage::Failed;
    }
    const uint16_t cylinders = drive_.params.cylinders();
    host_.SetRange(cylinders);
    host_.SetProgressPos(0);
    for (uint16_t c = 0; c < cylinders; ++c) {
        if (host_.AbortRequested())
            return Stage::Aborted;
        host_.SetLowerLine(FormatString(Str::VerifyingTrack, long{c}, long{cylinders}));
        for (uint16_t h = 0; h < drive_.params.heads(); ++h) {
            const auto head = static_cast<uint8_t>(h);
            session_.ShowTrack(c, head, TrackState::InProgress);
            if (drive_.VerifyTrack(c, h)) {
                session_.figures().sectorsVerified += drive_.params.sectorsPerTrack();
                session_.ShowTrack(c, head, TrackState::Verified);
                continue;
            }
            session_.ShowTrack(c, head, TrackState::Lost);
            drive_.TakeError();
            host_.SetLowerLine(FormatString(Str::MarkingTrackBad, long{c}));
            if (const DiskStatus marked = volume_.MarkTrackBad(c, h); !marked) {
                // The damage a walk met is the answer alone; a drive's failure is also pending.
                drive_.TakeError();
                host_.MessageBox(drive_.ErrorText(marked.error()), session_.errorCaption(), Buttons::Ok, Icon::Error);
                return Stage::Failed;
            }
        }
        host_.SetProgressPos(c + 1);
    }
    return Stage::Done;
}

void Formatter::ShowSystemTracks(TrackState state)
{
    const std::optional<FatLayout> layout = FatLayout::FromParams(drive_.params);
    const uint32_t spt = drive_.params.sectorsPerTrack();
    const uint32_t heads = drive_.params.heads();
    if (!layout || spt == 0 || heads == 0)
        return;
    for (uint32_t track = 0; track * spt < layout->firstDataSector; ++track)
        session_.ShowTrack(static_cast<uint16_t>(track / heads), static_cast<uint8_t>(track % heads), state);
}

void Formatter::TellLayoutChosenByDriver()
{
    const DiskService* service = drive_.Service();
    if (layoutTold_ || !service || service->LayoutHonoured())
        return;
    layoutTold_ = true;
    const std::string asked = LoadString(optimized_ ? Str::OptimizedLayoutWord : Str::StandardLayoutWord);
    const std::optional<DriverLayout> chosen = service->LayoutChosenByDriver();
    const std::string text =
        chosen ? FormatString(Str::LayoutChosenByDriver, asked, chosen->interleave, chosen->cylinderShift,
                              chosen->headShift)
               : FormatString(Str::LayoutChosenByDrive, asked);
    host_.MessageBox(text, LoadString(Str::Message), Buttons::Ok, Icon::Information);
}

}  // namespace

OperationOutcome FormatWorker(FormatJob job, OperationHost& host)
{
    OperationSession session(host, LoadString(Str::FormatError));
    const FormatInputs& inputs = *job.inputs;
    // A quick format that found no usable system area goes on as a full one, and says so.
    const auto end = [&session, &inputs, askedFull = inputs.full](int result) {
        OperationOutcome outcome = session.End(result);
        if (inputs.full && !askedFull)
            outcome.followUp = FollowUp::FormattedFull;
        return outcome;
    };
    DiskDrive drive(DriveLetterOf(inputs.driveText), job.drives);
    FatVolume volume(drive);
    session.Attach(drive);
    if (!DriveOpened(drive, host, session.errorCaption()))
        return end(kResultFailed);

    const NextDisketteTexts between{LoadString(Str::FormatComplete), LoadString(Str::InsertDiskToFormat)};
    const std::string jobCompleted = job.sounds.jobCompleted;
    Formatter formatter(std::move(job), session, volume);
    for (;;) {
        const Stage pass = formatter.Pass();
        if (pass != Stage::Done)
            return end(ResultOf(pass));
        // Each diskette keeps its own BAD marks before it is called done and the next one comes.
        if (!session.Commit())
            return end(kResultFailed);
        host.SetLowerLine(LoadString(Str::Done));
        host.PlaySound(jobCompleted);
        if (!inputs.multiple || !WaitForNextDiskette(drive, host, between, jobCompleted))
            return end(kResultDone);
    }
}

}  // namespace vokta
