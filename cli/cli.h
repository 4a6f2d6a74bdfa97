// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// vokta-cli: one subcommand per operation.
//
// Conventions every subcommand follows:
// - The command line is "vokta-cli [GLOBAL OPTIONS] COMMAND [ARGUMENTS] [OPTIONS]". Each
//   command declares its arguments and its own options in its row of the table in
//   commands.cpp; one parser checks them all, so a command's function receives them
//   checked, and `vokta-cli COMMAND --help` describes them from the same row.
// - Message boxes go to stderr as "Caption: text", the text's further lines below it,
//   indented, without empty lines. A question is asked on the terminal
//   when there is one (Context::prompter does it); otherwise --assume-yes answers Yes/OK,
//   --on-error answers Abort/Retry/Ignore boxes (and Retry/Cancel boxes with Retry only for
//   "retry"), and with neither the answer is No/Cancel/Abort, never the destructive one.
// - Every command ends through Finish: the last line on stdout is the outcome line of its
//   row of the exit table (ExitTable), and the exit status is that row's. A usage error
//   exits 64 with "vokta-cli: message" and the command's usage on stderr.
// - Lines a command shows on stdout go through Context::Print: with --json they are kept
//   and the command's one JSON object (main prints it) carries them. Progress and
//   informational lines go to stderr only without --quiet.
//
// Adding a subcommand: write `int <Name>Command(Context&, const Arguments&)` in its own
// cli/<name>command.cpp, declare it below, and add one row to the table in commands.cpp.

#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "drive/drivetable.h"
#include "drives/systemdrives.h"
#include "ops/messagebox.h"
#include "ops/operation.h"
#include "res/stringids.h"

namespace vokta::cli {

// The exit status of every command.
constexpr int kExitDone = 0;
constexpr int kExitAborted = 1;  // by the user: an Abort, a Cancel, a question answered No
constexpr int kExitFailed = 2;
// Sectors that held data could not be read, or a repair lost them; the files are named.
constexpr int kExitDataLost = 3;
// Compare found the diskette different from the image.
constexpr int kExitDiffers = 4;
// A check found defects: the boot check failed a test, the report could not read the boot
// sector, or a repair stopped at damage it was told to leave.
constexpr int kExitDefects = 5;
constexpr int kExitUsage = 64;

// One row of the exit table: the status, its word for scripts, the outcome line a command
// ends with, and its meaning as the help lists it.
struct ExitRow {
    int status;
    std::string_view word;
    std::optional<Str> line;  // none for a usage error, which ends before any command runs
    std::string_view meaning;
};

// Every exit status, in the order of their numbers.
std::span<const ExitRow> ExitTable();
// The row of a status; the failed row for one the table lacks.
const ExitRow& ExitRowOf(int status);

struct GlobalOptions {
    std::vector<DriveOption> drives;
    bool assumeYes = false;
    std::optional<Answer> onError;  // Abort, Retry or Ignore
    std::string language = "en";
    bool json = false;   // one JSON object on stdout instead of the lines
    bool quiet = false;  // no progress or informational lines on stderr
};

// A message box as the terminal showed it, and the answer it got.
struct ShownMessage {
    std::string caption;
    std::string text;
    Answer answer = Answer::Ok;
};

// A message box's text as the terminal shows it: its lines without the empty ones, which
// a window uses to space the text out.
std::string TerminalText(const std::string& text);

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
    // Every box asked so far, in order.
    const std::vector<ShownMessage>& shown() const { return shown_; }

private:
    Answer Unattended(Buttons buttons);
    Answer Choose(const std::string& text, const std::string& caption, Buttons buttons, Icon icon);
    const GlobalOptions& options_;
    std::vector<ShownMessage> shown_;
    std::string lastQuestion_;
    int repeats_ = 0;
    std::FILE* in_;
    std::FILE* err_;
    bool interactive_;
};

// What a command reports beyond the boxes, kept for its JSON object.
struct Report {
    std::vector<std::string> lines;  // what stdout shows without --json
    std::optional<std::string> resultText;
    std::optional<OperationOutcome> outcome;
    std::vector<std::pair<std::string, std::string>> fields;  // the command's own: name, JSON value
};

struct Context {
    GlobalOptions options;
    DriveTable& drives;
    std::FILE* out;
    std::FILE* err;
    Prompter& prompter;
    Report report{};

    // A line of the command's output on stdout, or kept for the JSON object.
    void Print(const std::string& line);
    // A field of the command's JSON object beside the common ones.
    void AddField(std::string name, std::string json) { report.fields.emplace_back(std::move(name), std::move(json)); }
};

// The command's JSON object on context.out: the command, its result and exit status, the
// lines, the boxes with their answers, an operation's outcome and the command's fields.
void PrintJson(const Context& context, std::string_view command, int status);

// What an argument, or an option's value, must be.
enum class OperandKind {
    Text,   // anything: a file name
    Drive,  // a drive letter: "A:" or "a"
    OneOf,  // one of the words of the name, such as "check|recreate"
    Label,  // a volume label: at most 11 characters, each one a label may hold
    Count,  // a whole number from `least` to `most`
};

struct Operand {
    std::string_view name;  // as the usage shows it: "IMAGE", "L:", "check|recreate"
    OperandKind kind = OperandKind::Text;
    bool optional = false;  // may be left out; only the last operands of a command
    unsigned least = 0;     // a Count's range
    unsigned most = 0;
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
// The word of kMediaWords for a media type; "auto" for one not determined.
std::string_view MediaWord(int32_t media);

// The value of a whole number argument, or nullopt.
std::optional<unsigned> CountArgument(const std::string& text);

// The drive letter of an argument such as "A:" or "a", or nullopt.
std::optional<char> DriveLetterArgument(const std::string& argument);

// The end of every command: the changes that drive objects could not save at their end
// (the lost-work records) on stderr, where they make the operation failed; then the outcome
// line of its row of the exit table as the last line on stdout, unless the command's own
// last line already says it. Returns the exit status.
int Finish(Context& context, OperationOutcome outcome);

// Runs the command, after making sure that the diskette file behind each drive it names is
// there: a file missing, or a link to nothing, is told and fails the command.
int RunCommand(Context& context, const Command& command, const Arguments& args);

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
int RescueCommand(Context& context, const Arguments& args);

}  // namespace vokta::cli
