// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QWidget>
#include <string>

#include "ui/settings.h"
#include "drives/drivelist.h"
#include "drive/drivetable.h"
#include "drives/systemdrives.h"

class QSettings;

namespace vokta {

// What the process keeps for all pages and lends to each: the settings, the drive chosen
// last on any page, the image named on the command line, the drive table and the main
// window. It outlives every window built on it (the language switch rebuilds them).
struct Shell {
    Settings settings;
    QSettings* store = nullptr;  // where they live; the drive bindings are kept there at once
    std::string currentDriveText;  // the drive-selector entry the user chose last
    QString commandLineFile;       // loaded by the DupDisk page when it is first shown
    DriveTable* drives = nullptr;
    std::vector<DriveOption> commandLineDrives;  // `--drive` bindings: for this run, over the stored ones
    MachineDriveSources machineDrives;
    QWidget* mainWindow = nullptr;  // the main window while it exists
};

}  // namespace vokta
