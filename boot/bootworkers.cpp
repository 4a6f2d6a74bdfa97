// SPDX-License-Identifier: GPL-3.0-or-later
// The Boot page's two workers: check the boot sector, or write a good one over it.
#include "boot/bootworkers.h"

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "boot/bootbuilder.h"
#include "boot/bootsector.h"
#include "drive/diskdrive.h"
#include "drive/fatlayout.h"
#include "drive/volume.h"
#include "steps/session.h"
#include "res/codepage.h"
#include "res/strings.h"

namespace vokta {
namespace {

void ShowFatal(BootReporter& page, const std::string& text)
{
    page.MessageBox(text, LoadString(Str::FatalError), Buttons::Ok, Icon::Error);
}

// The start both workers share: the drive of the selected entry, opened, or nothing when
// it could not be (the user has been told why then).
std::unique_ptr<DiskDrive> OpenSelectedDrive(const BootJob& job, BootReporter& page, const DriveTable& drives)
{
    page.EnableActions(false);
    page.SetState(LoadString(Str::CheckingMedia));
    auto drive = std::make_unique<DiskDrive>(job.driveText.empty() ? '\0' : job.driveText[0], drives);
    if (!DriveOpened(*drive, page, LoadString(Str::FatalError)))
        return nullptr;
    return drive;
}

bool Check(const BootJob& job, BootReporter& page, DiskDrive& drive)
{
    if (!drive.SelectMedia(kMediaUnknown, false)) {
        page.AddResult(LoadString(Str::MediaUnknownOrNotReady));
        page.SetState(LoadString(Str::CheckFailed));
        page.PlaySound(job.sounds.error);
        return false;
    }
    page.SetState(LoadString(Str::CheckingBootSector));
    const BootCheckReport report = CheckBootSectorFully(drive);
    const BootCheckResult r = report.result;
    for (const std::string& line : BootCheckLines(report))
        page.AddResult(line);
    if (IsRunFailure(r)) {
        page.SetState(LoadString(Str::CannotCheck));
        return false;
    }
    page.PlaySound(r == BootCheck::Ok ? job.sounds.jobCompleted : job.sounds.error);
    page.SetState(LoadString(Str::BootChecked));
    return true;
}

// The boot sector is on the diskette only once the drive's changes were made to last (a
// diskette file saved); a failure there is the write's.
bool WrittenToLast(BootReporter& page, DiskDrive& drive)
{
    if (drive.Commit())
        return true;
    ShowFatal(page, TakeErrorWithReason(drive, drive.commitFailureDetail));
    return false;
}

bool Recreate(const BootJob& job, BootReporter& page, DiskDrive& drive)
{
    (void)drive.SelectMedia(kMediaUnknown, false);
    const DiskError detection = drive.TakeError();
    if (detection != Err::None) {
        page.SetState(LoadString(Str::Failed));
        page.AddResult(LoadString(Str::MediaUnknownOrNotReady));
        page.PlaySound(job.sounds.error);
        return false;
    }
    page.SetState(LoadString(Str::WritingBootSector));
    // The boot sector written describes the volume as the diskette bears it out, or none is.
    const VolumeFinding found = EstablishVolume(drive);
    if (!found.volume) {
        ShowFatal(page, VolumeDoubtText(found.doubt, drive));
        page.SetState(LoadString(Str::WriteWord) + " " + LoadString(Str::Failed));
        return false;
    }
    const ConfirmedVolume& volume = *found.volume;
    if (const DiskStatus written = WriteVolumeBootSector(drive, volume, RootDirectoryLabel(drive, volume.layout));
        !written) {
        // The write's own error, before the test for protection takes it.
        const std::string cause = drive.ErrorText(written.error());
        ShowFatal(page, drive.IsWriteProtected() ? LoadString(Str::WriteProtect)
                                                 : LoadString(Str::CannotRepairBoot) + "\n" + cause);
        page.SetState(LoadString(Str::WriteWord) + " " + LoadString(Str::Failed));
        return false;
    }
    if (!WrittenToLast(page, drive)) {
        page.SetState(LoadString(Str::WriteWord) + " " + LoadString(Str::Failed));
        return false;
    }
    page.SetState(LoadString(Str::WriteWord) + " " + LoadString(Str::Ok));
    page.PlaySound(job.sounds.jobCompleted);
    return true;
}

// The common start, one of the two jobs, and the common end. The drive is closed before
// the buttons come back, so a new run never finds the volume still locked by this one.
bool RunWithSelectedDrive(const BootJob& job, BootReporter& page, const DriveTable& drives,
                          bool (*work)(const BootJob&, BootReporter&, DiskDrive&))
{
    bool done = false;
    if (std::unique_ptr<DiskDrive> drive = OpenSelectedDrive(job, page, drives))
        done = work(job, page, *drive);
    page.EnableActions(true);
    return done;
}

}  // namespace

bool RunBootCheck(const BootJob& job, BootReporter& page, const DriveTable& drives)
{
    return RunWithSelectedDrive(job, page, drives, Check);
}

bool RunBootRecreate(const BootJob& job, BootReporter& page, const DriveTable& drives)
{
    return RunWithSelectedDrive(job, page, drives, Recreate);
}

}  // namespace vokta
