// SPDX-License-Identifier: GPL-3.0-or-later
// vokta-cli label L: [TEXT]: the volume label dialog on the terminal.
#include "cli/cli.h"
#include "cli/json.h"
#include "fat/volumelabel.h"
#include "res/strings.h"

namespace vokta::cli {
namespace {

int PrintLabel(Context& context, char letter)
{
    const LabelReading reading = ReadVolumeLabel(letter, context.drives);
    if (!reading.label) {
        context.prompter.Ask(LoadString(Str::CannotGetLabel) + "\n" + reading.reason, LoadString(Str::Error),
                             Buttons::Ok, Icon::None);
        return Finish(context, {kResultFailed});
    }
    const std::string shown = reading.label->empty() ? LoadString(Str::NoLabel) : *reading.label;
    context.Print(shown);
    context.AddField("label", JsonString(*reading.label));
    return Finish(context, {kResultDone});
}

int ChangeLabel(Context& context, char letter, const std::string& label)
{
    const LabelChange change = SetVolumeLabel(letter, label, context.drives);
    if (!change.done)
        context.prompter.Ask(LoadString(Str::CannotChangeLabel) + change.reason, LoadString(Str::Error), Buttons::Ok,
                             Icon::Error);
    return Finish(context, {change.done ? kResultDone : kResultFailed});
}

}  // namespace

int LabelCommand(Context& context, const Arguments& args)
{
    const char letter = args.Drive(0);
    return args.operands.size() < 2 ? PrintLabel(context, letter) : ChangeLabel(context, letter, args.operands[1]);
}

}  // namespace vokta::cli
