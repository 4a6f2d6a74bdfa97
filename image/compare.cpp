// Compare: the diskette against the memory image, cylinder by cylinder.
#include <algorithm>
#include <new>
#include <vector>

#include "image/duplicate_common.h"

namespace vokta {

using namespace dup;

int CompareWorker(DuplicateJob& job)
{
    OperationHost& host = job.host;
    DiskImage& image = job.image;
    const char letter = job.driveText.empty() ? '?' : job.driveText[0];
    if (!image.HasData()) {
        Box(job, Text::NoCompareSource, Text::Error, Buttons::Ok, Icon::Error);
        return Finish(job, kResultFailed);
    }
    DiskDrive drive(letter, job.drives);
    if (drive.lastError == Err::DriveLocked) {
        ShowPendingError(job, drive, Buttons::Ok);
        return Finish(job, kResultFailed);
    }
    if (!WaitForDiskette(job, drive))
        return Finish(job, kResultAborted);
    host.SetLowerLine("");
    host.SetUpperLine(LoadString(Text::CheckingMedia));
    if (!drive.SelectMedia(kMediaUnknown, false)) {
        ShowPendingError(job, drive, Buttons::Ok);
        return Finish(job, kResultFailed);
    }
    const int32_t detected = drive.mediaType;
    if (detected != image.mediaType) {
        Box(job, Text::MediaDiffers, Text::Error, Buttons::Ok, Icon::Error);
        return Finish(job, kResultFailed);
    }
    const uint16_t cylinders = drive.params.cylinders();
    host.SetUpperLine(MediaLine(detected));
    host.SetRange(cylinders);
    host.SetProgressPos(0);
    host.SetTitle(OperationTitle(LoadString(Text::Comparing), letter, image.label));
    host.SetBarColours(BarColour::Green, BarColour::Black);
    if (drive.CheckBootSector() != 0)
        Box(job, Text::BootNotCompliant, Text::Message, Buttons::Ok, Icon::Information);
    if (host.AbortRequested())
        return Finish(job, kResultAborted);

    std::vector<uint8_t> buffer;
    const size_t cylinderBytes = CylinderBytes(drive.params);
    try {
        buffer.resize(cylinderBytes);
    } catch (const std::bad_alloc&) {
        Box(job, Text::InsufficientMemory, Text::FatalError, Buttons::Ok, Icon::Error);
        return Finish(job, kResultFailed);
    }
    host.SetLowerLine(LoadString(Text::ComparingProgress));
    drive.lastError = Err::None;
    for (uint16_t c = 0; c < cylinders; ++c) {
        if (host.AbortRequested())
            return Finish(job, kResultFailed);
        const std::span<const uint8_t> expected = CylinderOf(image.data, c, cylinderBytes);
        // The diskette's part beyond an image of its size is compared with nothing.
        const std::span<uint8_t> read = std::span<uint8_t>(buffer).first(expected.size());
        bool compare = true;
        // Retry reads the cylinder again, as Read Disk does.
        while (!ReadCylinder(drive, c, read)) {
            const std::optional<Answer> a = ShowPendingError(job, drive, Buttons::AbortRetryIgnore);
            if (a == Answer::Abort)
                return Finish(job, kResultAborted);
            if (a == Answer::Ignore) {
                compare = false;
                break;
            }
        }
        if (compare && !std::equal(expected.begin(), expected.end(), read.begin())) {
            Box(job, Text::NoMatch, Text::Message, Buttons::Ok, Icon::Error);
            return Finish(job, kResultAborted);
        }
        host.SetProgressPos(c + 1);
    }
    image.mediaType = detected;
    host.PlaySound(job.jobCompletedSound);
    return Finish(job, kResultDone);
}

}  // namespace vokta
