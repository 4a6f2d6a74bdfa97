// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

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
};

// The arguments after the program's name, parsed; nothing, with the reason in `error`,
// when they are no such command line.
std::optional<ProgramLine> ParseProgramLine(const std::vector<std::string>& arguments, std::string& error);

// The usage text of `program`, ending in a newline.
std::string ProgramUsage(const std::string& program);

}  // namespace vokta
