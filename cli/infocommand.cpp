// SPDX-License-Identifier: GPL-3.0-or-later
// vokta-cli info L: [--save FILE]: the Info page's report on the terminal, and its Save.
#include "cli/cli.h"
#include "cli/terminalhost.h"
#include "drive/replacementfile.h"
#include "res/strings.h"
#include "info/inforeport.h"

namespace vokta::cli {

int InfoCommand(Context& context, const Arguments& args)
{
    const char letter = args.Drive(0);
    TerminalHost host(context);
    const std::optional<std::string> file = args.Value("--save");
    if (const std::optional<std::string> refusal = file ? SaveTargetRefusal(*file) : std::nullopt) {
        host.MessageBox(*file + ": " + *refusal, LoadString(Str::Error), Buttons::Ok, Icon::Error);
        return kResultFailed;
    }
    const InfoResult info = GetInfo(letter, context.drives, host);
    for (const std::string& line : info.lines)
        std::fprintf(context.out, "%s\n", line.c_str());
    if (info.outcome != InfoOutcome::Done)
        return info.outcome == InfoOutcome::Cancelled ? kResultAborted : kResultFailed;
    if (file) {
        const std::string driveText{letter, ':'};
        if (!SaveReportFile(*file, SavedReport(driveText, info.lines), host))
            return kResultFailed;
    }
    return kResultDone;
}

}  // namespace vokta::cli
