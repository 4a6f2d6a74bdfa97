// SPDX-License-Identifier: GPL-3.0-or-later
// vokta-cli boot check|recreate L: the Boot page's two workers on the terminal.
#include "boot/bootworkers.h"
#include "cli/cli.h"
#include "res/strings.h"

namespace vokta::cli {
namespace {

// The results list on stdout as it fills, the page's state on stderr as the progress
// lines are, boxes through the prompter. Sounds have no place on a terminal.
class TerminalBootReporter : public BootReporter {
public:
    explicit TerminalBootReporter(Context& context) : context_(context) {}

    void EnableActions(bool) override {}
    void AddResult(const std::string& line) override
    {
        results_.push_back(line);
        context_.Print(line);
    }
    void SetState(const std::string& text) override
    {
        if (!context_.options.quiet)
            std::fprintf(context_.err, "%s\n", text.c_str());
    }
    Answer MessageBox(const std::string& text, const std::string& caption, Buttons buttons, Icon icon) override
    {
        return context_.prompter.Ask(text, caption, buttons, icon);
    }
    void PlaySound(const std::string&) override {}

    // A check that ran lists "OK." alone, or the tests and fields it found wrong.
    bool FoundDefects() const { return results_ != std::vector<std::string>{LoadString(Str::Ok)}; }

private:
    Context& context_;
    std::vector<std::string> results_;
};

}  // namespace

int BootCommand(Context& context, const Arguments& args)
{
    TerminalBootReporter reporter(context);
    const BootJob job{std::string(1, args.Drive(1)) + ":", {}};
    const bool check = args.operands[0] == "check";
    const bool done = check ? RunBootCheck(job, reporter, context.drives) : RunBootRecreate(job, reporter, context.drives);
    OperationOutcome outcome{done ? kResultDone : kResultFailed};
    outcome.defectsLeft = done && check && reporter.FoundDefects();
    return Finish(context, outcome);
}

}  // namespace vokta::cli
