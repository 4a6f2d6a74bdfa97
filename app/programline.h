// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "drives/systemdrives.h"

namespace vokta {

// What the desktop program's command line asks for:
//   vokta [--drive L:=PATH[,type=720k|1.2m|1.44m]]... [IMAGE]
struct ProgramLine {
    std::vector<DriveOption> drives;
    std::string imageFile;  // loaded by the DupDisk page when it is first shown; may be empty
    bool help = false;
    bool version = false;
};

// The arguments after the program's name, parsed; nothing, with the reason in `error`,
// when they are no such command line.
std::optional<ProgramLine> ParseProgramLine(const std::vector<std::string>& arguments, std::string& error);

// The usage text of `program`, ending in a newline.
std::string ProgramUsage(const std::string& program);

// A command line read for the window, or answered without one.
struct ProgramStart {
    std::optional<ProgramLine> line;  // the window is wanted
    int status = 0;                   // otherwise the exit status
};

// Reads the command line of `program`: its help or version is printed on `out` (status 0),
// a line that is none is told on `errors` with the usage (status 2); otherwise the line.
// Needs no display, so it comes before the graphical session is opened.
ProgramStart ReadProgramLine(const std::vector<std::string>& arguments, const std::string& program, std::FILE* out,
                             std::FILE* errors);

}  // namespace vokta
