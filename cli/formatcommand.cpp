// SPDX-License-Identifier: GPL-3.0-or-later
// vokta-cli format: the Format page's operation on the terminal.
#include <algorithm>

#include "cli/cli.h"
#include "cli/terminalhost.h"
#include "format/format.h"

namespace vokta::cli {

namespace {

// The media of a word of kMediaWords, whose words after "auto" follow the media types.
int32_t MediaOfWord(std::string_view word)
{
    int32_t media = 0;
    for (size_t start = 0; start <= kMediaWords.size(); ++media) {
        const size_t bar = std::min(kMediaWords.find('|', start), kMediaWords.size());
        if (kMediaWords.substr(start, bar - start) == word)
            return media == 0 ? kMediaUnknown : media;
        start = bar + 1;
    }
    return kMediaUnknown;
}

}  // namespace

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
