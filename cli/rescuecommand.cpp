// SPDX-License-Identifier: GPL-3.0-or-later
// rescue: every readable sector into an image file, over passes and retries, with its map.
#include <algorithm>

#include "cli/cli.h"
#include "cli/terminalhost.h"
#include "rescue/rescue.h"

namespace vokta::cli {

int RescueCommand(Context& context, const Arguments& args)
{
    TerminalHost host(context);
    RescueJob job;
    job.driveText = std::string(1, args.Drive(0)) + ":";
    job.drives = context.drives;
    job.imagePath = args.operands[1];
    job.mapPath = args.Value("--map").value_or(DefaultMapPath(job.imagePath));
    const auto count = [&](std::string_view option, unsigned fallback) {
        const std::optional<std::string> value = args.Value(option);
        return value ? CountArgument(*value).value_or(fallback) : fallback;
    };
    job.passes = count("--passes", job.passes);
    job.retries = count("--retries", job.retries);
    job.revolutions = count("--revolutions", job.revolutions);
    OperationOutcome outcome = RescueWorker(std::move(job), host);
    if (outcome.followUp == FollowUp::ImageRead) {
        const std::string summary = RescueSummary(outcome.figures);
        for (size_t at = 0; at <= summary.size();) {
            const size_t end = std::min(summary.find('\n', at), summary.size());
            context.Print(summary.substr(at, end - at));
            at = end + 1;
        }
    }
    return Finish(context, outcome);
}

}  // namespace vokta::cli
