// The Boot page's two workers: check the boot sector, or write a good one over it.
#include "boot/bootworkers.h"

#include <memory>

#include "boot/bootsector.h"
#include "drive/diskdrive.h"
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
// another process holds its lock (the user has been told then).
std::unique_ptr<DiskDrive> OpenSelectedDrive(BootReporter& page, const DriveTable& drives)
{
    page.EnableActions(false);
    const std::string entry = page.SelectedDrive();
    page.SetState(LoadString(kCheckingMedia));
    auto drive = std::make_unique<DiskDrive>(entry.empty() ? '\0' : entry[0], drives);
    if (drive->lastError == Err::DriveLocked) {
        ShowFatal(page, drive->GetErrorText());
        return nullptr;
    }
    return drive;
}

bool Check(BootReporter& page, DiskDrive& drive)
{
    if (!drive.SelectMedia(kMediaUnknown, false)) {
        page.AddResult(LoadString(kMediaUnknownLine));
        page.SetState(LoadString(kCheckFailed));
        page.PlaySound(BootSound::Error);
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
    page.PlaySound(r == BootCheck::Ok ? BootSound::JobCompleted : BootSound::Error);
    page.SetState(LoadString(kBootChecked));
    return true;
}

bool Recreate(BootReporter& page, DiskDrive& drive)
{
    drive.SelectMedia(kMediaUnknown, false);
    const DiskError detection = drive.lastError;
    drive.lastError = Err::None;
    if (detection != Err::None) {
        page.SetState(LoadString(kFailed));
        page.AddResult(LoadString(kMediaUnknownLine));
        page.PlaySound(BootSound::Error);
        return false;
    }
    page.SetState(LoadString(kWritingBootSector));
    if (drive.WriteBootSector(LoadString(kRecreatedLabel))) {
        page.SetState(LoadString(kWrite) + " " + LoadString(kOk));
        page.PlaySound(BootSound::JobCompleted);
        return true;
    }
    ShowFatal(page, drive.IsWriteProtected() ? LoadString(kWriteProtected) : LoadString(kCannotRepair));
    page.SetState(LoadString(kWrite) + " " + LoadString(kFailed));
    return false;
}

// The common start, one of the two jobs, and the common end. The drive is closed before
// the buttons come back, so a new run never finds the volume still locked by this one.
bool RunWithSelectedDrive(BootReporter& page, const DriveTable& drives,
                          bool (*job)(BootReporter&, DiskDrive&))
{
    bool done = false;
    if (std::unique_ptr<DiskDrive> drive = OpenSelectedDrive(page, drives))
        done = job(page, *drive);
    page.EnableActions(true);
    return done;
}

}  // namespace

bool RunBootCheck(BootReporter& page, const DriveTable& drives)
{
    return RunWithSelectedDrive(page, drives, Check);
}

bool RunBootRecreate(BootReporter& page, const DriveTable& drives)
{
    return RunWithSelectedDrive(page, drives, Recreate);
}

int BootCheckWorker(BootReporter& page, const DriveTable& drives)
{
    RunBootCheck(page, drives);
    return 0;
}

int BootRecreateWorker(BootReporter& page, const DriveTable& drives)
{
    RunBootRecreate(page, drives);
    return 0;
}

}  // namespace vokta
