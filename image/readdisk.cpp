// Read Disk: the whole diskette into the memory image, cylinder by cylinder.
#include "fat/fatdrive.h"
#include "image/duplicate_common.h"

namespace vokta {

using namespace dup;

namespace {

// A track that cannot be read is passed over without a question when the FAT already
// marks the cluster of its first sector BAD. Nullopt when the FAT cannot be read.
std::optional<bool> MarkedBad(FatDrive& drive, uint32_t firstSectorOfTrack)
{
    const DeviceParams& p = drive.params;
    const uint32_t systemArea = uint32_t{p.u8(DeviceParams::FatCount)} * p.u16(DeviceParams::SectorsPerFat) +
                                p.u16(DeviceParams::RootEntries) / 16 + 1;
    if (systemArea >= firstSectorOfTrack)
        return false;
    if (!drive.HasFat() && !drive.LoadFat())
        return std::nullopt;
    return drive.IsClusterBad(drive.ClusterOfSector(firstSectorOfTrack));
}

}  // namespace

int ReadDiskWorker(DuplicateJob& job)
{
    OperationHost& host = job.host;
    const char letter = job.driveText.empty() ? '?' : job.driveText[0];
    DiskImage& image = job.image;
    image.mediaType = kMediaUnknown;

    FatDrive drive(letter, job.drives);
    if (drive.lastError == Err::DriveLocked) {
        ShowPendingError(job, drive, Buttons::Ok);
        return Finish(job, kResultFailed);
    }
    host.SetLowerLine("");
    host.SetUpperLine(LoadString(Text::CheckingMedia));
    if (!WaitForDiskette(job, drive))
        return Finish(job, kResultAborted);
    if (!drive.SelectMedia(kMediaUnknown, false)) {
        ShowPendingError(job, drive, Buttons::Ok);
        return Finish(job, kResultFailed);
    }
    const int32_t detected = drive.mediaType;
    host.SetUpperLine(MediaLine(detected));
    const uint16_t cylinders = drive.params.cylinders();
    host.SetRange(cylinders);
    host.SetProgressPos(0);

    image.label.clear();
    std::string serial;
    ReadMediaId(drive, image.label, serial);
    if (host.AbortRequested())
        return Finish(job, kResultAborted);
    host.SetTitle(OperationTitle(LoadString(Text::Reading), letter, image.label));
    host.SetBarColours(BarColour::Cyan, BarColour::Black);

    if (!drive.IsWriteProtected())
        Box(job, Text::SourceNotProtected, Text::Warning, Buttons::Ok, Icon::Information);
    if (drive.CheckBootSector() != 0 &&
        Box(job, Text::BootNotCompliant, Text::Warning, Buttons::YesNo, Icon::Information) != Answer::Yes)
        return Finish(job, kResultAborted);
    if (host.AbortRequested())
        return Finish(job, kResultAborted);

    // A fresh zeroed block: sectors passed over hold zeros, never bytes of an earlier image.
    image.data.clear();
    if (!image.TakeBlock(drive.params.totalSectors() * static_cast<uint32_t>(kSectorSize))) {
        Box(job, Text::InsufficientMemory, Text::FatalError, Buttons::Ok, Icon::Error);
        return Finish(job, kResultFailed);
    }

    host.SetLowerLine(LoadString(Text::Reading));
    drive.lastError = Err::None;
    const size_t cylinderBytes = CylinderBytes(drive.params);
    for (uint16_t c = 0; c < cylinders; ++c) {
        if (host.AbortRequested())
            return Finish(job, kResultAborted);
        const std::span<uint8_t> target = CylinderOf(image.data, c, cylinderBytes);
        while (!ReadCylinder(drive, c, target)) {
            const DiskError error = drive.lastError;
            const uint32_t failedTrack = drive.lastSector;
            drive.lastError = Err::None;
            const std::optional<bool> bad = MarkedBad(drive, failedTrack);
            if (!bad) {
                drive.lastError = Err::None;
                Box(job, Text::CannotAccessFat, Text::FatalError, Buttons::Ok, Icon::Error);
                return Finish(job, kResultFailed);
            }
            if (*bad)
                break;
            const std::string text = drive.GetErrorText(error);
            if (text.empty())
                continue;
            const Answer a = host.MessageBox(text, LoadString(Text::DuplicateError), Buttons::AbortRetryIgnore, Icon::Error);
            if (a == Answer::Ignore)
                break;
            if (a == Answer::Abort)
                return Finish(job, kResultAborted);
        }
        host.SetProgressPos(c + 1);
    }

    image.mediaType = detected;
    image.serialText = serial;
    host.PlaySound(job.jobCompletedSound);
    return Finish(job, kResultDone);
}

}  // namespace vokta
