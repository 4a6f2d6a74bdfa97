// The Boot page's two workers: check the boot sector, or write a good one over it.
#include "boot/bootworkers.h"

#include <memory>

#include "boot/bootsector.h"
#include "drive/diskdrive.h"
#include "ops/session.h"
#include "res/strings.h"

namespace vokta {
namespace {

constexpr uint32_t kCheckingMedia = 104;
constexpr uint32_t kFatalError = 110;
constexpr uint32_t kWriteProtected = 138;
constexpr uint32_t kMediaUnknownLine = 140;
constexpr uint32_t kFailed = 144;
constexpr uint32_t kWritingBootSector = 1030;
constexpr uint32_t kOk = 1061;
constexpr uint32_t kRecreatedLabel = 2101;  // written upper-cased into the label field
constexpr uint32_t kCheckFailed = 2102;
constexpr uint32_t kCheckingBootSector = 2103;
constexpr uint32_t kCannotCheck = 2104;
constexpr uint32_t kBootChecked = 2105;
constexpr uint32_t kWrite = 2106;
constexpr uint32_t kCannotRepair = 2107;

void ShowFatal(BootReporter& page, const std::string& text)
{
    page.MessageBox(text, LoadString(kFatalError), Buttons::Ok, Icon::Error);
}

// The start both workers share: the drive of the selected entry, opened, or nothing when
// it could not be (the user has been told why then).
std::unique_ptr<DiskDrive> OpenSelectedDrive(const BootJob& job, BootReporter& page, const DriveTable& drives)
{
    page.EnableActions(false);
    page.SetState(LoadString(kCheckingMedia));
    auto drive = std::make_unique<DiskDrive>(job.driveText.empty() ? '\0' : job.driveText[0], drives);
    if (!DriveOpened(*drive, page, LoadString(kFatalError)))
        return nullptr;
    return drive;
}

bool Check(const BootJob& job, BootReporter& page, DiskDrive& drive)
{
    if (!drive.SelectMedia(kMediaUnknown, false)) {
        page.AddResult(LoadString(kMediaUnknownLine));
        page.SetState(LoadString(kCheckFailed));
        page.PlaySound(job.sounds.error);
        return false;
    }
    page.SetState(LoadString(kCheckingBootSector));
    const BootCheckResult r = drive.CheckBootSector();
    for (const std::string& line : BootCheckLines(r))
        page.AddResult(line);
    if (IsRunFailure(r)) {
        page.SetState(LoadString(kCannotCheck));
        return false;
    }
    page.PlaySound(r == BootCheck::Ok ? job.sounds.jobCompleted : job.sounds.error);
    page.SetState(LoadString(kBootChecked));
    return true;
}

// The boot sector is on the diskette only once the drive's changes were made to last (a
// diskette file saved); a failure there is the write's.
bool WrittenToLast(BootReporter& page, DiskDrive& drive)
{
    if (drive.Commit())
        return true;
    const std::string reason = drive.commitFailureDetail;
    std::string text = drive.GetErrorText();
    if (!reason.empty())
        text += "\n\n" + reason;
    ShowFatal(page, text);
    return false;
}

bool Recreate(const BootJob& job, BootReporter& page, DiskDrive& drive)
{
    drive.SelectMedia(kMediaUnknown, false);
    const DiskError detection = drive.lastError;
    drive.lastError = Err::None;
    if (detection != Err::None) {
        page.SetState(LoadString(kFailed));
        page.AddResult(LoadString(kMediaUnknownLine));
        page.PlaySound(job.sounds.error);
        return false;
    }
    page.SetState(LoadString(kWritingBootSector));
    if (!drive.WriteBootSector(LoadString(kRecreatedLabel))) {
        ShowFatal(page, drive.IsWriteProtected() ? LoadString(kWriteProtected) : LoadString(kCannotRepair));
        page.SetState(LoadString(kWrite) + " " + LoadString(kFailed));
        return false;
    }
    if (!WrittenToLast(page, drive)) {
        page.SetState(LoadString(kWrite) + " " + LoadString(kFailed));
        return false;
    }
    page.SetState(LoadString(kWrite) + " " + LoadString(kOk));
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

int BootCheckWorker(BootJob job, BootReporter& page, const DriveTable& drives)
{
    RunBootCheck(job, page, drives);
    return 0;
}

int BootRecreateWorker(BootJob job, BootReporter& page, const DriveTable& drives)
{
    RunBootRecreate(job, page, drives);
    return 0;
}

}  // namespace vokta
