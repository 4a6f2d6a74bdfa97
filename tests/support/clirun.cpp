// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/clirun.h"

namespace vokta::test {

std::string CliRun::LastLine() const
{
    const std::string text = out.ends_with('\n') ? out.substr(0, out.size() - 1) : out;
    return text.substr(text.rfind('\n') + 1);
}

CliRun RunCli(const std::string& cli, const std::string& args, const TempDir& dir, const std::string& environment)
{
    CliRun run;
    const std::string err = dir.File("vokta-cli-stderr.txt");
    const std::string env = environment.empty() ? "" : "env " + environment + " ";
    run.status = Shell("cd '" + dir.path() + "' && " + env + "'" + cli + "' " + args + " 2>'" + err + "' </dev/null",
                       &run.out);
    const std::vector<uint8_t> bytes = ReadFile(err);
    run.err.assign(bytes.begin(), bytes.end());
    return run;
}

}  // namespace vokta::test
