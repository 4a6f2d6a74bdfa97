// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "support/tempdir.h"

namespace vokta::test {

// One run of vokta-cli: its exit status, stdout and stderr.
struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
    // The last line on stdout, without its line end.
    std::string LastLine() const;
};

// Runs the program `cli` with `args` (shell words) in the folder `dir`, with nothing on
// stdin, so that no terminal answers its questions; `environment` holds env(1)'s words
// that change its environment ("LC_ALL=C", "-u LANG").
CliRun RunCli(const std::string& cli, const std::string& args, const TempDir& dir, const std::string& environment = {});

}  // namespace vokta::test
