#pragma once

#include <string>

#include "drive/drivetable.h"
#include "ops/messagebox.h"

namespace vokta {

// The two sounds the settings name.
enum class BootSound { Error, JobCompleted };

// What the boot workers report to, without knowing who shows it: the Boot page's
// controls, the terminal, or a test's script. Every call comes from the worker's thread.
class BootReporter {
public:
    virtual ~BootReporter() = default;
    // The drive selector's selected entry ("A:  FLOPPY ..."); its first character is the
    // drive letter.
    virtual std::string SelectedDrive() = 0;
    // The Check and Recreate buttons: off while a worker runs.
    virtual void EnableActions(bool enabled) = 0;
    // A line at the end of the results list.
    virtual void AddResult(const std::string& line) = 0;
    // The "Current State:" text.
    virtual void SetState(const std::string& text) = 0;
    // A system-modal box; returns when it is answered.
    virtual Answer MessageBox(const std::string& text, const std::string& caption, Buttons buttons,
                              Icon icon) = 0;
    // Returns when the sound has ended.
    virtual void PlaySound(BootSound sound) = 0;
};

// Detects the media and lists the boot sector's failed tests. True when the check ran.
bool RunBootCheck(BootReporter& page, const DriveTable& drives = DriveTable::System());

// Detects the media and writes a predefined good boot sector. True when it was written.
bool RunBootRecreate(BootReporter& page, const DriveTable& drives = DriveTable::System());

// The Boot page's thread entries: the runs above, returning 0.
int BootCheckWorker(BootReporter& page, const DriveTable& drives = DriveTable::System());
int BootRecreateWorker(BootReporter& page, const DriveTable& drives = DriveTable::System());

}  // namespace vokta
