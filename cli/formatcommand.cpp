// SPDX-License-Identifier: GPL-3.0-or-later
// vokta-cli format: the Format page's operation on the terminal.
#include <algorithm>

#include "cli/cli.h"
#include "cli/terminalhost.h"
#include "format/format.h"

namespace vokta::cli {

namespace {

// The media of a word of kMediaWords; Unknown for "auto".
int32_t MediaOfWord(std::string_view word)
{
    for (int32_t media = 1; media < kMediaUnknown; ++media)
        if (MediaWord(media) == word)
            return media;
    return kMediaUnknown;
}

}  // namespace

std::string_view MediaWord(int32_t media)
{
    size_t start = 0;
    for (int32_t m = 0; m < media && start < kMediaWords.size(); ++m)
        start = std::min(kMediaWords.find('|', start), kMediaWords.size()) + 1;
    if (media <= 0 || start >= kMediaWords.size())
        return kMediaWords.substr(0, kMediaWords.find('|'));
    return kMediaWords.substr(start, kMediaWords.find('|', start) - start);
}

int FormatCommand(Context& context, const Arguments& args)
{
    FormatJob job;
    FormatInputs& inputs = *job.inputs;
    inputs.driveText = std::string(1, args.Drive(0)) + ":";
    inputs.media = MediaOfWord(args.Value("--media").value_or("auto"));
    inputs.optimized = !args.Has("--standard");
    inputs.full = !args.Has("--quick");
    inputs.label = args.Value("--label").value_or("");
    inputs.verify = !args.Has("--no-verify");
    inputs.multiple = args.Has("--multi");
    job.drives = context.drives;
    TerminalHost host(context);
    return Finish(context, FormatWorker(std::move(job), host));
}

}  // namespace vokta::cli
