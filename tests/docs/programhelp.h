// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

#include "support/tempdir.h"

namespace vokta::test {

// An option as a help text lists it: "--assume-yes, -y" or "--on-error abort|retry|ignore".
struct HelpOption {
    std::vector<std::string> names;   // "--assume-yes", "-y"
    std::vector<std::string> values;  // the words of a value to choose from, if any
};

struct HelpCommand {
    std::string name;
    std::vector<std::string> values;  // the words of an argument to choose from ("check", "recreate")
    std::vector<HelpOption> options;  // from "vokta-cli COMMAND --help", its --help included
};

// A row of the exit table as the help lists it: "   5 defects   meaning (\"Defects found !\")".
struct HelpExitStatus {
    int status = 0;
    std::string word;
    std::string line;  // the outcome line in quotes, or empty
};

// What vokta-cli says it takes: its --help and every command's --help.
struct ProgramHelp {
    std::vector<HelpOption> globals;
    std::vector<HelpCommand> commands;
    std::vector<HelpExitStatus> exitStatuses;
};

ProgramHelp ReadProgramHelp(const std::string& cli, const TempDir& dir);

// The option names of a usage text: the first words of its lines that begin, indented, with '-'.
std::vector<std::string> OptionWords(const std::string& usage);

}  // namespace vokta::test
