// Write Disk: the memory image onto one diskette, or onto several in a row.
#include <algorithm>
#include <new>
#include <vector>

#include "image/freespace.h"
#include "image/duplicate_common.h"

namespace vokta {

using namespace dup;

namespace {

constexpr uint64_t kRemovalSoundInterval = 5000;
constexpr uint64_t kInsertionPollInterval = 2000;
constexpr int kPollRest = 50;

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
    DiskWriter(DuplicateJob& job, DiskDrive& drive, std::vector<uint8_t>& verifyBuffer)
        : job_(job), host_(job.host), drive_(drive), verify_(verifyBuffer)
    {
    }

    Copy WriteOneCopy();

private:
    // Formats the whole diskette with the optimized layout; ends format mode in every case.
    Copy FormatWholeDiskette();
    bool FormatCylinder(uint16_t cylinder);
    // Reads cylinder c back and compares it; Retry asks for the cylinder to be written again.
    Copy VerifyCylinder(uint16_t c, std::span<const uint8_t> source, bool& retry);

    DuplicateJob& job_;
    OperationHost& host_;
    DiskDrive& drive_;
    std::vector<uint8_t>& verify_;
};

bool DiskWriter::FormatCylinder(uint16_t cylinder)
{
    for (uint16_t h = 0; h < drive_.params.heads(); ++h)
        if (!drive_.FormatTrack(cylinder, h, true))
            return false;
    return true;
}

Copy DiskWriter::FormatWholeDiskette()
{
    drive_.lastError = Err::None;
    host_.SetLowerLine(LoadString(Text::Formatting));
    drive_.BeginFormat();
    const uint16_t cylinders = drive_.params.cylinders();
    Copy outcome = Copy::Done;
    for (uint16_t f = 0; f < cylinders && outcome == Copy::Done; ++f) {
        if (host_.AbortRequested()) {
            outcome = Copy::Aborted;
            break;
        }
        while (!FormatCylinder(f)) {
            if (ShowPendingError(job_, drive_, Buttons::RetryCancel) != Answer::Retry) {
                outcome = Copy::Failed;
                break;
            }
        }
        if (outcome == Copy::Done)
            host_.SetProgressPos(f + 1);
    }
    if (outcome != Copy::Failed)
        host_.SetLowerLine(LoadString(Text::WritingSystemArea));
    drive_.EndFormat();
    return outcome;
}

Copy DiskWriter::VerifyCylinder(uint16_t c, std::span<const uint8_t> source, bool& retry)
{
    host_.SetLowerLine(LoadString(Text::Verifying));
    const std::span<uint8_t> readBack = std::span<uint8_t>(verify_).first(source.size());
    if (!ReadCylinder(drive_, c, readBack)) {
        const std::optional<Answer> a = ShowPendingError(job_, drive_, Buttons::RetryCancel);
        if (a != Answer::Retry)
            return Copy::Failed;
        retry = true;
        return Copy::Done;
    }
    if (!std::equal(source.begin(), source.end(), readBack.begin())) {
        if (Box(job_, Text::WriteFailed, Text::Message, Buttons::RetryCancel, Icon::Error) != Answer::Retry)
            return Copy::Failed;
        retry = true;
    }
    return Copy::Done;
}

Copy DiskWriter::WriteOneCopy()
{
    bool formatted = false;
    drive_.lastError = Err::None;
    const uint16_t cylinders = drive_.params.cylinders();
    const size_t cylinderBytes = CylinderBytes(drive_.params);
    uint16_t c = 0;
    while (c < cylinders) {
        if (host_.AbortRequested())
            return Copy::Aborted;
        // An image of another media type, written on the user's word, ends where its data ends.
        const std::span<const uint8_t> source = CylinderOf(job_.image.data, c, cylinderBytes);
        if (source.empty())
            break;
        host_.SetLowerLine(LoadString(Text::Writing));
        if (!WriteCylinder(drive_, c, source)) {
            if (formatted) {
                if (ShowPendingError(job_, drive_, Buttons::RetryCancel) != Answer::Retry)
                    return Copy::Failed;
                drive_.lastError = Err::None;
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
        bool retry = false;
        if (job_.verifyAfterWrite) {
            const Copy verified = VerifyCylinder(c, source, retry);
            if (verified != Copy::Done)
                return verified;
        }
        drive_.lastError = Err::None;
        if (retry)
            continue;
        ++c;
        host_.SetProgressPos(c);
    }
    return Copy::Done;
}

// Waits for the written diskette to go and a new one to come, with the job-completed
// sound every 5 s and every 2 s. False when the user pressed Finish.
bool WaitForNextDiskette(DuplicateJob& job, DiskDrive& drive)
{
    OperationHost& host = job.host;
    host.SetLowerLine(LoadString(Text::RemoveDisk));
    host.SetAbortCaption(LoadString(Text::FinishCaption));
    uint64_t due = host.TickCount();
    while (drive.IsDriveReady()) {
        if (host.TickCount() >= due) {
            host.PlaySound(job.jobCompletedSound);
            due = host.TickCount() + kRemovalSoundInterval;
        }
        if (host.AbortRequested())
            return false;
        host.Rest(kPollRest);
    }
    drive.lastError = Err::None;
    host.SetLowerLine(LoadString(Text::InsertDisk));
    for (bool ready = false; !ready;) {
        if (host.TickCount() >= due) {
            host.PlaySound(job.jobCompletedSound);
            ready = drive.IsDriveReady();
            due = host.TickCount() + kInsertionPollInterval;
        }
        if (host.AbortRequested())
            return false;
        if (!ready)
            host.Rest(kPollRest);
    }
    drive.lastError = Err::None;
    host.SetAbortCaption(LoadString(Text::AbortCaption));
    return true;
}

}  // namespace

int WriteDiskWorker(DuplicateJob& job)
{
    OperationHost& host = job.host;
    DiskImage& image = job.image;
    const char letter = job.driveText.empty() ? '?' : job.driveText[0];
    if (!image.HasData()) {
        Box(job, Text::NoSourceRead, Text::ErrorMessage, Buttons::Ok, Icon::Error);
        return Finish(job, kResultFailed);
    }
    DiskDrive drive(letter, job.drives);
    if (drive.lastError == Err::DriveLocked) {
        ShowPendingError(job, drive, Buttons::Ok);
        return Finish(job, kResultFailed);
    }
    host.SetLowerLine("");
    host.SetUpperLine(LoadString(Text::CheckingMedia));
    host.SetProgressPos(0);

    auto unrecognized = [&] {
        drive.lastError = Err::None;
        Box(job, Text::UnrecognizedMedia, Text::Error, Buttons::Ok, Icon::Error);
        return Finish(job, kResultFailed);
    };
    if (!drive.SelectMedia(kMediaUnknown, false) && !drive.SelectMedia(image.mediaType, true))
        return unrecognized();
    if (drive.mediaType != image.mediaType) {
        if (Box(job, Text::MediaDiffers, Text::Error, Buttons::YesNo, Icon::Error) != Answer::Yes)
            return Finish(job, kResultFailed);
        host.SetLowerLine("");
        host.SetUpperLine(LoadString(Text::CheckingMedia));
        host.SetProgressPos(0);
        if (!SelectImageMedia(drive, image.mediaType))
            return unrecognized();
    }
    while (drive.IsWriteProtected()) {
        if (Box(job, Text::WriteProtect, Text::Error, Buttons::RetryCancel, Icon::Information) != Answer::Retry)
            return Finish(job, kResultFailed);
    }
    std::string label, serial;
    if (ReadMediaId(drive, label, serial)) {
        if (serial == job.serialField.substr(0, 29)) {
            if (Box(job, Text::WritingToSource, Text::Warning, Buttons::OkCancel, Icon::Information) != Answer::Ok)
                return Finish(job, kResultFailed);
        } else if (std::optional<FreeSpace> space = CountFreeSpace(drive);
                   space && space->freeClusters != space->totalClusters) {
            if (Box(job, Text::NotEmpty, Text::Warning, Buttons::OkCancel, Icon::Information) != Answer::Ok)
                return Finish(job, kResultAborted);
        }
    }
    host.SetUpperLine(MediaLine(drive.mediaType));
    host.SetRange(drive.params.cylinders());
    host.SetTitle(OperationTitle(LoadString(Text::Duplicating), letter, image.label));
    host.SetBarColours(BarColour::Blue, BarColour::White);

    std::vector<uint8_t> verifyBuffer;
    try {
        verifyBuffer.resize(CylinderBytes(drive.params));
    } catch (const std::bad_alloc&) {
        Box(job, Text::InsufficientMemory, Text::FatalError, Buttons::Ok, Icon::Error);
        return Finish(job, kResultFailed);
    }

    DiskWriter writer(job, drive, verifyBuffer);
    for (;;) {
        const Copy copy = writer.WriteOneCopy();
        if (copy != Copy::Done)
            return Finish(job, ResultOf(copy));
        host.PlaySound(job.jobCompletedSound);
        if (!job.multiWrite || !WaitForNextDiskette(job, drive))
            return Finish(job, kResultDone);
    }
}

}  // namespace vokta
