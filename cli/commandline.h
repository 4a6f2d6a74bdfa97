// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace vokta::cli {

// What a command line asks for, checked against the global options and the command's row.
struct Invocation {
    GlobalOptions options;
    const Command* command = nullptr;  // nothing to run: the exit status is `status`
    Arguments arguments;
    int status = 0;
};

// Parses the words after the program's name. Help and version go to `out`, usage
// errors ("vokta-cli: message" and the usage) to `err`; neither leaves a command to run.
Invocation ParseCommandLine(const std::vector<std::string>& words, std::FILE* out, std::FILE* err);

}  // namespace vokta::cli
