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

// "OK." stays the result of a done operation that lost data, and "Aborted !" that of a
// compare that met a difference; the status tells them apart.
int ExitStatus(int result, const OperationOutcome& outcome)
{
    if (result == kResultDone && outcome.dataLost)
        return kExitDataLost;
    if (result == kResultAborted && outcome.figures.firstDifferingCylinder)
        return kExitDiffers;
    return result;
}

// The result line on stdout, the outcome kept for the JSON object, and the exit status.
int Conclude(Context& context, OperationOutcome outcome, int result, const std::string& resultLine)
{
    context.Print(resultLine);
    context.report.resultText = resultLine;
    const int status = ExitStatus(result, outcome);
    outcome.result = result;
    context.report.outcome = std::move(outcome);
    return status;
}

}  // namespace

int Finish(Context& context, OperationOutcome outcome)
{
    const int result = Settle(context, outcome.result);
    return Conclude(context, std::move(outcome), result, ResultText(result));
}

int Finish(Context& context, OperationOutcome outcome, const std::string& resultLine)
{
    const int result = Settle(context, outcome.result);
    return Conclude(context, std::move(outcome), result, resultLine);
}

}  // namespace vokta::cli
