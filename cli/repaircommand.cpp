// SPDX-License-Identifier: GPL-3.0-or-later
// vokta-cli repair: the Repair page's operation on the terminal, and the system's disk
// checker after it when the operation asks for it.
#include "cli/cli.h"
#include "cli/terminalhost.h"
#include "fat/diskchecker.h"
#include "fat/repair.h"
#include "res/strings.h"

namespace vokta::cli {
namespace {

BootChoice BootChoiceOf(const std::string& word)
{
    return word == "write" ? BootChoice::WriteNew : BootChoice::Stop;
}

SystemChoice SystemChoiceOf(const std::string& word)
{
    if (word == "format")
        return SystemChoice::TryFormat;
    return word == "checker" ? SystemChoice::RunDiskChecker : SystemChoice::Stop;
}

DataChoice DataChoiceOf(const std::string& word)
{
    if (word == "format")
        return DataChoice::TryFormat;
    if (word == "track")
        return DataChoice::MarkTrack;
    return word == "cylinder" ? DataChoice::MarkCylinder : DataChoice::Stop;
}

OperationOutcome Repair(Context& context, const Arguments& args)
{
    RepairJob job;
    RepairInputs& inputs = *job.inputs;
    inputs.driveText = std::string(1, args.Drive(0)) + ":";
    inputs.boot = BootChoiceOf(args.Value("--boot").value_or("stop"));
    inputs.system = SystemChoiceOf(args.Value("--system").value_or("stop"));
    inputs.data = DataChoiceOf(args.Value("--data").value_or("stop"));
    job.drives = context.drives;
    TerminalHost host(context);
    return RepairWorker(std::move(job), host);
}

// The checker's report goes to stdout as it comes (with --json, line by line into the
// object); its verdict is the user's to read and leaves the repair's result as it was.
void RunChecker(Context& context, char letter)
{
    std::fflush(context.out);
    std::string pending;
    const DiskCheckerRun run = RunDiskChecker(letter, context.drives, [&](std::string_view chunk) {
        if (!context.options.json) {
            std::fwrite(chunk.data(), 1, chunk.size(), context.out);
            std::fflush(context.out);
            return;
        }
        pending.append(chunk);
        for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1))
            context.Print(pending.substr(0, end));
    });
    if (!pending.empty())
        context.Print(pending);
    if (!run.started)
        context.prompter.Ask(LoadString(Str::CannotRunDiskChecker) + "\n" + run.reason, LoadString(Str::Error),
                             Buttons::Ok, Icon::Error);
}

}  // namespace

int RepairCommand(Context& context, const Arguments& args)
{
    const OperationOutcome outcome = Repair(context, args);
    if (outcome.followUp == FollowUp::RunDiskChecker)
        RunChecker(context, args.Drive(0));
    return Finish(context, outcome);
}

}  // namespace vokta::cli
