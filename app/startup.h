// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <functional>

#include "drive/drivetable.h"
#include "res/languagemodule.h"

namespace vokta {

class MainWindow;

// What start-up works from: the program's own, passed in so that tests can give theirs.
struct StartupInputs {
    QStringList arguments;  // the command line after the program's name
    QString executable;     // the program's file, which the ".dim" association opens
    QSettings* store = nullptr;
    DriveTable* drives = nullptr;
    const char* italianModule = kItalianModuleName;
    std::FILE* output = stdout;  // the usage text asked for
    std::FILE* errors = stderr;  // a command line that is none, with the usage text
};

// Shows the main window and returns once it has closed.
using ShowMainWindow = std::function<void(MainWindow&)>;

// The program's own way: the window shown, and its events handled until it closes.
void ShowUntilClosed(MainWindow& window);

// The program from start to end: the ".dim" association, the language, the platform check,
// the command line and the drive table, then the main window, built again on the Options
// page after every change of language, the settings read before and written after each
// showing. Returns the process's exit status.
int RunStartup(const StartupInputs& inputs, const ShowMainWindow& show = ShowUntilClosed);

}  // namespace vokta
