// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "drive/drivetable.h"
#include "ops/operation.h"

namespace vokta {

// What the Boot page hands its workers, taken by value when one starts.
struct BootJob {
    std::string driveText;  // the drive selector's entry ("A:  FLOPPY ..."); its first character is the letter
    Sounds sounds;
};

// What the boot workers report to, without knowing who shows it: the Boot page's
// controls, the terminal, or a test's script. Every call comes from the worker's thread.
class BootReporter : public MessageBoxHost {
public:
    // The Check and Recreate buttons: off while a worker runs.
    virtual void EnableActions(bool enabled) = 0;
    // A line at the end of the results list.
    virtual void AddResult(const std::string& line) = 0;
    // The "Current State:" text.
    virtual void SetState(const std::string& text) = 0;
    // A sound name or sound file; returns when the sound has ended.
    virtual void PlaySound(const std::string& sound) = 0;
};

// Detects the media and lists the boot sector's failed tests. True when the check ran.
bool RunBootCheck(const BootJob& job, BootReporter& page, const DriveTable& drives);

// Detects the media and writes a predefined good boot sector. True when it was written.
bool RunBootRecreate(const BootJob& job, BootReporter& page, const DriveTable& drives);

}  // namespace vokta
