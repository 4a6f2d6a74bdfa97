// SPDX-License-Identifier: GPL-3.0-or-later
// Write Disk: the memory image onto one diskette, or onto several in a row.
#include <algorithm>
#include <new>
#include <vector>

#include "boot/bootbuilder.h"
#include "image/duplicate_common.h"
#include "fat/freespace.h"
#include "steps/trackformat.h"

namespace vokta {

using namespace dup;

namespace {

enum class Copy { Done, Aborted, Failed };

int ResultOf(Copy copy)
{
    return copy == Copy::Done ? kResultDone : copy == Copy::Aborted ? kResultAborted : kResultFailed;
}

// Selects the image's media type, first without and then with a test format.
bool SelectImageMedia(DiskDrive& drive, int32_t type)
{
    return drive.SelectMedia(type, false) || drive.SelectMedia(type, true);
}

class DiskWriter {
public:
    DiskWriter(const DuplicateJob& job, OperationSession& session, DiskDrive& drive, std::vector<uint8_t>& verifyBuffer)
        : job_(job), session_(session), host_(session.host()), drive_(drive), verify_(verifyBuffer)
    {
    }

    Copy WriteOneCopy();

private:
    // Formats the whole diskette with the optimized layout; ends format mode in every case.
    Copy FormatWholeDiskette();
    // Reads cylinder c back and compares it; Retry asks for the cylinder to be written again.
    Copy VerifyCylinder(uint16_t c, std::span<const uint8_t> source, bool& retry);
    // The tracks of cylinder c that `source` reaches, every sector of them, in `state`.
    void ShowCylinder(uint16_t c, std::span<const uint8_t> source, TrackState state);
    std::optional<Answer> ShowError(Buttons buttons)
    {
        return ShowPendingError(drive_, host_, session_.errorCaption(), buttons);
    }

    const DuplicateJob& job_;
    OperationSession& session_;
    OperationHost& host_;
    DiskDrive& drive_;
    std::vector<uint8_t>& verify_;
};

Copy DiskWriter::FormatWholeDiskette()
{
    drive_.TakeError();
    host_.SetLowerLine(LoadString(Str::FormattingProgress));
    drive_.BeginFormat();
    TrackFormatting formatting;
    formatting.optimized = true;
    formatting.onFailure = [this](DiskDrive&) { return ShowError(Buttons::RetryCancel).value_or(Answer::Cancel); };
    const FormatLoopEnd end = FormatCylinders(drive_, session_, formatting);
    if (end != FormatLoopEnd::Refused)
        host_.SetLowerLine(LoadString(Str::WritingSystemArea));
    (void)drive_.EndFormat(WriteUnlabelledBootSector);
    return end == FormatLoopEnd::Done ? Copy::Done : end == FormatLoopEnd::Stopped ? Copy::Aborted : Copy::Failed;
}

void DiskWriter::ShowCylinder(uint16_t c, std::span<const uint8_t> source, TrackState state)
{
    for (uint16_t h = 0; h < drive_.params.heads(); ++h) {
        const size_t sectors = TrackOf(source, h, drive_.params).size() / kSectorSize;
        if (sectors == 0)
            break;
        // In progress says nothing of the sectors yet.
        const size_t listed = state == TrackState::InProgress ? 0 : sectors;
        session_.ShowTrack({c, static_cast<uint8_t>(h), state, std::vector<TrackState>(listed, state)});
    }
}

Copy DiskWriter::VerifyCylinder(uint16_t c, std::span<const uint8_t> source, bool& retry)
{
    host_.SetLowerLine(LoadString(Str::VerifyingProgress));
    const std::span<uint8_t> readBack = std::span<uint8_t>(verify_).first(source.size());
    if (!ReadCylinder(drive_, c, readBack)) {
        if (ShowError(Buttons::RetryCancel) != Answer::Retry) {
            ShowCylinder(c, source, TrackState::Lost);
            return Copy::Failed;
        }
        retry = true;
        return Copy::Done;
    }
    if (!std::equal(source.begin(), source.end(), readBack.begin())) {
        if (Box(host_, Str::WriteFailed, Str::Message, Buttons::RetryCancel, Icon::Error) != Answer::Retry) {
            ShowCylinder(c, source, TrackState::Lost);
            return Copy::Failed;
        }
        retry = true;
        return Copy::Done;
    }
    session_.figures().sectorsVerified += static_cast<uint32_t>(source.size() / kSectorSize);
    ShowCylinder(c, source, TrackState::Verified);
    return Copy::Done;
}

Copy DiskWriter::WriteOneCopy()
{
    bool formatted = false;
    drive_.TakeError();
    const uint16_t cylinders = drive_.params.cylinders();
    const size_t cylinderBytes = CylinderBytes(drive_.params);
    const std::span<const uint8_t> image(job_.image->data);
    session_.BeginTrackMap(drive_.params);
    uint16_t c = 0;
    while (c < cylinders) {
        if (host_.AbortRequested())
            return Copy::Aborted;
        // An image of another media type, written on the user's word, ends where its data ends.
        const std::span<const uint8_t> source = CylinderOf(image, c, cylinderBytes);
        if (source.empty())
            break;
        host_.SetLowerLine(LoadString(Str::Writing));
        ShowCylinder(c, source, TrackState::InProgress);
        if (!WriteCylinder(drive_, c, source)) {
            if (formatted) {
                if (ShowError(Buttons::RetryCancel) != Answer::Retry) {
                    ShowCylinder(c, source, TrackState::Lost);
                    return Copy::Failed;
                }
                drive_.TakeError();
                continue;
            }
            // The first failure of a copy means an unprepared diskette: format it once.
            const Copy format = FormatWholeDiskette();
            if (format != Copy::Done)
                return format;
            formatted = true;
            c = 0;
            host_.SetProgressPos(0);
            continue;
        }
        session_.figures().sectorsWritten += static_cast<uint32_t>(source.size() / kSectorSize);
        ShowCylinder(c, source, TrackState::Written);
        bool retry = false;
        if (job_.verifyAfterWrite) {
            const Copy verified = VerifyCylinder(c, source, retry);
            if (verified != Copy::Done)
                return verified;
        }
        drive_.TakeError();
        if (retry)
            continue;
        ++c;
        host_.SetProgressPos(c);
    }
    return Copy::Done;
}

}  // namespace

OperationOutcome WriteDiskWorker(DuplicateJob job, OperationHost& host)
{
    OperationSession session(host, LoadString(Str::DuplicateError));
    const DiskImage& image = *job.image;
    const char letter = DriveLetter(job);
    // After a read that did not end, or a file of an unknown media, the block holds no
    // whole diskette: written, it would pass for a copy.
    if (!image.IsValid()) {
        Box(host, Str::NoSourceRead, Str::ErrorMessage, Buttons::Ok, Icon::Error);
        return session.End(kResultFailed);
    }
    // A copy with holes where the source could not be read passes for a whole one: only
    // the user's word writes it, asked before any diskette is touched.
    if (!image.unreadable.empty() &&
        host.MessageBox(FormatString(Str::WriteUnreadableSectors, static_cast<long>(image.unreadable.size())),
                        LoadString(Str::Warning), Buttons::YesNo, Icon::Warning) != Answer::Yes)
        return session.End(kResultAborted);
    DiskDrive drive(letter, job.drives);
    if (!Opened(session, drive))
        return session.End(kResultFailed);
    host.SetLowerLine("");
    host.SetUpperLine(LoadString(Str::CheckingMedia));
    host.SetProgressPos(0);

    auto unrecognized = [&] {
        drive.TakeError();
        Box(host, Str::UnrecognizedMedia, Str::Error, Buttons::Ok, Icon::Error);
        return session.End(kResultFailed);
    };
    if (!drive.SelectMedia(kMediaUnknown, false) && !drive.SelectMedia(image.mediaType, true))
        return unrecognized();
    if (drive.mediaType != image.mediaType) {
        if (Box(host, Str::MediaDiffers, Str::Error, Buttons::YesNo, Icon::Error) != Answer::Yes)
            return session.End(kResultFailed);
        host.SetLowerLine("");
        host.SetUpperLine(LoadString(Str::CheckingMedia));
        host.SetProgressPos(0);
        if (!SelectImageMedia(drive, image.mediaType))
            return unrecognized();
    }
    while (drive.IsWriteProtected()) {
        if (Box(host, Str::WriteProtect, Str::Error, Buttons::RetryCancel, Icon::Information) != Answer::Retry)
            return session.End(kResultFailed);
    }
    std::string label, serial;
    if (ReadMediaId(drive, label, serial)) {
        if (serial == job.serialField.substr(0, 29)) {
            if (Box(host, Str::WritingToSource, Str::Warning, Buttons::OkCancel, Icon::Information) != Answer::Ok)
                return session.End(kResultFailed);
        } else if (std::optional<FreeSpace> space = CountFreeSpace(drive);
                   space && space->freeClusters != space->totalClusters) {
            if (Box(host, Str::NotEmpty, Str::Warning, Buttons::OkCancel, Icon::Information) != Answer::Ok)
                return session.End(kResultAborted);
        }
    }
    host.SetUpperLine(MediaLine(drive.mediaType));
    host.SetRange(drive.params.cylinders());
    host.SetTitle(OperationTitle(LoadString(Str::Duplicating), letter, image.label));
    host.SetBarColours(BarColour::Blue, BarColour::White);

    std::vector<uint8_t> verifyBuffer;
    try {
        verifyBuffer.resize(CylinderBytes(drive.params));
    } catch (const std::bad_alloc&) {
        Box(host, Str::InsufficientMemory, Str::FatalError, Buttons::Ok, Icon::Error);
        return session.End(kResultFailed);
    }

    DiskWriter writer(job, session, drive, verifyBuffer);
    const NextDisketteTexts between{LoadString(Str::RemoveDisk), LoadString(Str::InsertDisk)};
    for (;;) {
        const Copy copy = writer.WriteOneCopy();
        if (copy != Copy::Done)
            return session.End(ResultOf(copy));
        host.PlaySound(job.sounds.jobCompleted);
        // Each diskette of the run keeps what was written to it before the next one comes.
        if (job.multiWrite && !session.Commit())
            return session.End(kResultFailed);
        if (!job.multiWrite || !WaitForNextDiskette(drive, host, between, job.sounds.jobCompleted))
            return session.End(kResultDone);
    }
}

}  // namespace vokta
