// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <array>

#include "cli/cli.h"
#include "cli/trackmapview.h"
#include "drive/lostwork.h"
#include "res/strings.h"

namespace vokta::cli {
namespace {

constexpr std::array<ExitRow, 7> kExitTable = {{
    {kExitDone, "done", Str::Ok, "the command did what it was asked"},
    {kExitAborted, "aborted", Str::Aborted, "by the user: an Abort, a Cancel, a question answered No"},
    {kExitFailed, "failed", Str::Failed, "the cause is told on stderr"},
    {kExitDataLost, "data-lost", Str::OutcomeDataLost,
     "sectors that held data could not be read, or a repair lost them;\n"
     "the files they belonged to are named on stderr"},
    {kExitDiffers, "differs", Str::OutcomeDiffers, "compare found a difference"},
    {kExitDefects, "defects", Str::OutcomeDefects,
     "the boot check failed a test, the report could not read the boot\n"
     "sector, or a repair stopped at damage it was told to leave"},
    {kExitUsage, "usage", std::nullopt, "a usage error, told on stderr"},
}};

// The lost-work records on stderr; any of them makes the operation failed, whatever it
// reported, since a change it counted on is not on the diskette.
bool LostWorkTold(Context& context)
{
    const std::vector<std::string> lost = TakeLostWork();
    for (const std::string& text : lost)
        std::fprintf(context.err, "%s\n", text.c_str());
    return !lost.empty();
}

// Failure first, then the loss of data, which no other outcome may hide; a compare that met
// a difference and a stop at damage left are not the user's abort.
int ExitStatus(const OperationOutcome& outcome)
{
    if (outcome.result != kResultDone && outcome.result != kResultAborted)
        return kExitFailed;
    if (outcome.dataLost)
        return kExitDataLost;
    if (outcome.figures.firstDifferingCylinder)
        return kExitDiffers;
    if (outcome.defectsLeft)
        return kExitDefects;
    return outcome.result;
}

// The tracks as the operation left them, with the legend, on stderr: the JSON object
// carries them instead, and --quiet leaves them out.
void PrintTrackMap(const Context& context, const TrackMap& map)
{
    if (map.empty() || context.options.json || context.options.quiet)
        return;
    std::fprintf(context.err, "%s:\n", LoadString(Str::TrackMapCaption).c_str());
    for (const std::string& line : TrackMapLines(map))
        std::fprintf(context.err, "%s\n", line.c_str());
    for (const std::string& line : TrackMapLegend(map))
        std::fprintf(context.err, "%s\n", line.c_str());
}

}  // namespace

std::span<const ExitRow> ExitTable()
{
    return kExitTable;
}

const ExitRow& ExitRowOf(int status)
{
    const auto row = std::ranges::find(kExitTable, status, &ExitRow::status);
    return row != kExitTable.end() ? *row : ExitRowOf(kExitFailed);
}

int Finish(Context& context, OperationOutcome outcome)
{
    if (LostWorkTold(context))
        outcome.result = kResultFailed;
    PrintTrackMap(context, outcome.trackMap);
    const int status = ExitStatus(outcome);
    const std::string line = LoadString(*ExitRowOf(status).line);
    // A report whose own last line is the outcome's ("OK." of a boot check) is not repeated.
    if (context.report.lines.empty() || context.report.lines.back() != line)
        context.Print(line);
    context.report.resultText = line;
    context.report.outcome = std::move(outcome);
    return status;
}

}  // namespace vokta::cli
