// SPDX-License-Identifier: GPL-3.0-or-later
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/commandline.h"
#include "res/languagemodule.h"

int main(int argc, char** argv)
{
    using namespace vokta;
    using namespace vokta::cli;
    Invocation invocation = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), stdout, stderr);
    if (!invocation.command)
        return invocation.status;
    SetResourceModule(invocation.options.language == "it" ? FindLanguageModule() : nullptr);
    DriveTable& drives = DriveTable::System();
    PopulateSystemDrives(drives, invocation.options.drives);
    Prompter prompter(invocation.options, stdin, stderr, isatty(STDIN_FILENO) && isatty(STDERR_FILENO));
    Context context{invocation.options, drives, stdout, stderr, prompter};
    const int status = RunCommand(context, *invocation.command, invocation.arguments);
    if (context.options.json)
        PrintJson(context, invocation.command->name, status);
    return status;
}
