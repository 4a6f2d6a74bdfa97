// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/programline.h"

#include "versioninfo.h"

namespace vokta {
namespace {

constexpr std::string_view kDriveSwitch = "--drive";

bool AddDrive(ProgramLine& line, const std::string& text, std::string& error)
{
    std::optional<DriveOption> drive = ParseDriveOption(text, error);
    if (!drive) {
        error = "--drive: " + error;
        return false;
    }
    line.drives.push_back(*drive);
    return true;
}

}  // namespace

std::optional<ProgramLine> ParseProgramLine(const std::vector<std::string>& arguments, std::string& error)
{
    ProgramLine line;
    bool onlyFiles = false;  // after "--" even a name that begins with '-' is the image
    for (size_t at = 0; at < arguments.size(); ++at) {
        const std::string& argument = arguments[at];
        if (!onlyFiles && argument == "--") {
            onlyFiles = true;
        } else if (!onlyFiles && (argument == "--help" || argument == "-h")) {
            line.help = true;
        } else if (!onlyFiles && argument == "--version") {
            line.version = true;
        } else if (!onlyFiles && argument == kDriveSwitch) {
            if (at + 1 == arguments.size()) {
                error = "--drive needs L:=PATH";
                return std::nullopt;
            }
            if (!AddDrive(line, arguments[++at], error))
                return std::nullopt;
        } else if (!onlyFiles && argument.starts_with(std::string(kDriveSwitch) + "=")) {
            if (!AddDrive(line, argument.substr(kDriveSwitch.size() + 1), error))
                return std::nullopt;
        } else if (!onlyFiles && argument.size() > 1 && argument[0] == '-') {
            error = "unknown option " + argument;
            return std::nullopt;
        } else if (line.imageFile.empty()) {
            line.imageFile = argument;
        } else {
            error = "one image file only, not also " + argument;
            return std::nullopt;
        }
    }
    return line;
}

std::string ProgramUsage(const std::string& program)
{
    return "Usage: " + program + " [--drive L:=PATH[,type=T]]... [IMAGE]\n"
           "  IMAGE                      a diskette image file (.dim, .ima, ...) for the DupDisk page\n"
           "  --drive L:=PATH[,type=T]   bind drive letter L: to a device or diskette file (repeatable);\n"
           "                             T is the drive's kind: 720k, 1.2m or 1.44m\n"
           "  --help                     show this text\n"
           "  --version                  show the version\n";
}

ProgramStart ReadProgramLine(const std::vector<std::string>& arguments, const std::string& program, std::FILE* out,
                             std::FILE* errors)
{
    constexpr int kUsageError = 2;
    std::string error;
    std::optional<ProgramLine> line = ParseProgramLine(arguments, error);
    if (!line) {
        std::fprintf(errors, "%s: %s\n%s", program.c_str(), error.c_str(), ProgramUsage(program).c_str());
        return {std::nullopt, kUsageError};
    }
    if (line->help) {
        std::fputs(ProgramUsage(program).c_str(), out);
        return {};
    }
    if (line->version) {
        std::fprintf(out, "%s %s\n", program.c_str(), versioninfo::kFileVersion);
        return {};
    }
    return {std::move(line), 0};
}

}  // namespace vokta
