// SPDX-License-Identifier: GPL-3.0-or-later
// vokta-cli boot check|recreate L: the Boot page's two workers on the terminal.
#include "boot/bootworkers.h"
#include "cli/cli.h"

namespace vokta::cli {
namespace {

// The results list on stdout as it fills, the verdict kept for the last line, boxes
// through the prompter. Sounds have no place on a terminal.
class TerminalBootReporter : public BootReporter {
public:
    explicit TerminalBootReporter(Context& context) : context_(context) {}

    void EnableActions(bool) override {}
    void AddResult(const std::string& line) override { context_.Print(line); }
    void SetState(const std::string& text) override { state_ = text; }
    Answer MessageBox(const std::string& text, const std::string& caption, Buttons buttons, Icon icon) override
    {
        return context_.prompter.Ask(text, caption, buttons, icon);
    }
    void PlaySound(const std::string&) override {}

    const std::string& state() const { return state_; }

private:
    Context& context_;
    std::string state_;
};

}  // namespace

int BootCommand(Context& context, const Arguments& args)
{
    TerminalBootReporter reporter(context);
    const BootJob job{std::string(1, args.Drive(1)) + ":", {}};
    const bool done = args.operands[0] == "check" ? RunBootCheck(job, reporter, context.drives)
                                                  : RunBootRecreate(job, reporter, context.drives);
    return Finish(context, {done ? kResultDone : kResultFailed}, reporter.state());
}

}  // namespace vokta::cli
