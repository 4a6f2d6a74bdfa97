// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/cli.h"
#include "drive/lostwork.h"

namespace vokta::cli {
namespace {

// The lost-work records on stderr; any of them makes the operation failed, whatever it
// reported, since a change it counted on is not on the diskette.
int Settle(Context& context, int result)
{
    const std::vector<std::string> lost = TakeLostWork();
    for (const std::string& text : lost)
        std::fprintf(context.err, "%s\n", text.c_str());
    if (!lost.empty())
        return kResultFailed;
    return result == kResultDone || result == kResultAborted ? result : kResultFailed;
}

// "OK." stays the result of a done operation that lost data; the status tells the loss.
int ExitStatus(int result, const OperationOutcome& outcome)
{
    return result == kResultDone && outcome.dataLost ? kExitDataLost : result;
}

}  // namespace

int Finish(Context& context, OperationOutcome outcome)
{
    const int result = Settle(context, outcome.result);
    std::fprintf(context.out, "%s\n", ResultText(result).c_str());
    return ExitStatus(result, outcome);
}

int Finish(Context& context, OperationOutcome outcome, const std::string& resultLine)
{
    const int result = Settle(context, outcome.result);
    std::fprintf(context.out, "%s\n", resultLine.c_str());
    return ExitStatus(result, outcome);
}

}  // namespace vokta::cli
