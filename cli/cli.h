// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// vokta-cli: one subcommand per operation.
//
// Conventions every subcommand follows:
// - The command line is "vokta-cli [GLOBAL OPTIONS] COMMAND [ARGUMENTS] [OPTIONS]". Each
//   command declares its arguments and its own options in its row of the table in
//   commands.cpp; one parser checks them all, so a command's function receives them
//   checked, and `vokta-cli COMMAND --help` describes them from the same row.
// - Message boxes go to stderr as "Caption: text". A question is asked on the terminal
//   when there is one (Context::prompter does it); otherwise --assume-yes answers Yes/OK,
//   --on-error answers Abort/Retry/Ignore boxes (and Retry/Cancel boxes with Retry only for
//   "retry"), and with neither the answer is No/Cancel/Abort, never the destructive one.
// - An operation command ends through Finish: the last line on stdout is the result text,
//   the exit status is the operation's result (0 done, 1 aborted, 2 failed), or 3 when it
//   was done but sectors that held data could not be read (the operation named them). A
//   usage error exits 64 with "vokta-cli: message" and the command's usage on stderr.
//
// Adding a subcommand: write `int <Name>Command(Context&, const Arguments&)` in its own
// cli/<name>command.cpp, declare it below, and add one row to the table in commands.cpp.

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "drive/drivetable.h"
#include "drives/systemdrives.h"
#include "ops/messagebox.h"
#include "ops/operation.h"

namespace vokta::cli {

constexpr int kExitUsage = 64;
// Done ("OK."), but data was lost: sectors that held data could not be read.
constexpr int kExitDataLost = 3;

struct GlobalOptions {
    std::vector<DriveOption> drives;
    bool assumeYes = false;
    std::optional<Answer> onError;  // Abort, Retry or Ignore
    std::string language = "en";
};

// Asks message-box questions on the terminal, or answers them by the options.
class Prompter {
public:
    static constexpr int kMaxUnattendedRepeats = 3;
    Prompter(const GlobalOptions& options, std::FILE* in, std::FILE* err, bool interactive);
    // Shows "Caption: text" on stderr and returns the answer. Without a terminal, the same
    // question asked more than kMaxUnattendedRepeats times without progress in between
    // gets the harmless answer.
    Answer Ask(const std::string& text, const std::string& caption, Buttons buttons, Icon icon);
    // The operation moved on: a question asked again is a new one.
    void NoteProgress();

private:
    Answer Unattended(Buttons buttons);
    const GlobalOptions& options_;
    std::string lastQuestion_;
    int repeats_ = 0;
    std::FILE* in_;
    std::FILE* err_;
    bool interactive_;
};

struct Context {
    GlobalOptions options;
    DriveTable& drives;
    std::FILE* out;
    std::FILE* err;
    Prompter& prompter;
};

// What an argument, or an option's value, must be.
enum class OperandKind {
    Text,   // anything: a file name
    Drive,  // a drive letter: "A:" or "a"
    OneOf,  // one of the words of the name, such as "check|recreate"
    Label,  // a volume label: at most 11 characters, each one a label may hold
};

struct Operand {
    std::string_view name;  // as the usage shows it: "IMAGE", "L:", "check|recreate"
    OperandKind kind = OperandKind::Text;
    bool optional = false;  // may be left out; only the last operands of a command
};

struct Option {
    std::string_view name;           // "--no-verify"
    std::optional<Operand> value{};  // the value it takes ("--name VALUE" or "--name=VALUE"), if any
    std::string_view help{};         // one line for --help; "\n" continues it on the next line
    std::string_view shortName{};    // "-y", or empty
};

// A command's arguments and options as the parser checked them against its row.
class Arguments {
public:
    // The arguments in order, one per operand of the command's row that was given.
    std::vector<std::string> operands;

    // The drive letter of an argument whose operand is a drive.
    char Drive(size_t index) const;
    bool Has(std::string_view option) const;
    // The value given last, or nullopt when the option was not given.
    std::optional<std::string> Value(std::string_view option) const;
    // Every value given, in order (an option that can be repeated).
    std::vector<std::string> Values(std::string_view option) const;

    void Add(std::string_view option, std::string value);

private:
    std::vector<std::pair<std::string, std::string>> given_;
};

struct Command {
    std::string_view name;
    std::vector<Operand> operands;
    std::vector<Option> options;
    std::string_view summary;  // one line for --help
    int (*run)(Context&, const Arguments&);
    // Pairs of options that may not be given together.
    std::vector<std::pair<std::string_view, std::string_view>> excluding{};
};

const std::vector<Command>& Commands();

// The values of format's --media: Auto, then the media types from 1 on, in their order.
constexpr std::string_view kMediaWords = "auto|720k|1.2m|1.44m|1.68m|1.72m";

// The drive letter of an argument such as "A:" or "a", or nullopt.
std::optional<char> DriveLetterArgument(const std::string& argument);

// The end of every operation command: the changes that drive objects could not save at
// their end (the lost-work records) on stderr, where they make the operation failed; then
// the result text ("OK.", "Aborted !", "Failed !") as the last line on stdout. Returns the
// exit status: the result, or kExitDataLost for a done operation that lost data.
int Finish(Context& context, OperationOutcome outcome);
// The same for an operation that words its own result (the Boot page's state field):
// `resultLine` is the last line on stdout in place of the result text.
int Finish(Context& context, OperationOutcome outcome, const std::string& resultLine);

int DrivesCommand(Context& context, const Arguments& args);
int MediaCommand(Context& context, const Arguments& args);
int BootCommand(Context& context, const Arguments& args);
int ReadCommand(Context& context, const Arguments& args);
int WriteCommand(Context& context, const Arguments& args);
int CompareCommand(Context& context, const Arguments& args);
int FormatCommand(Context& context, const Arguments& args);
int LabelCommand(Context& context, const Arguments& args);
int InfoCommand(Context& context, const Arguments& args);
int RepairCommand(Context& context, const Arguments& args);

}  // namespace vokta::cli
