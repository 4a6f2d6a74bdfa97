// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "drives/drivelist.h"
#include "ops/operation.h"

namespace vokta {

// The user's options, one instance for the process. The Options page changes them in
// memory; start-up reads them before the main window shows and writes them when it closes.
struct Settings {
    int language = 0;  // 0 English (U.S.), 1 Italiano
    bool enableMultiWriteFormat = true;
    bool hideSubstDrives = true;
    bool enableTopMostAtEnd = true;
    bool enableToolTips = true;
    bool enableHardDisks = false;
    bool verifyAfterWrite = true;
    bool verifyAfterFormat = true;
    std::string errorSoundPath = "SystemExclamation";
    std::string jobCompletedSoundPath = "SystemDefault";

    Sounds OperationSounds() const { return {errorSoundPath, jobCompletedSoundPath}; }
    DriveListSettings DriveList() const { return {hideSubstDrives, enableHardDisks}; }
};

}  // namespace vokta
