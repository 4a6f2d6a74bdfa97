#pragma once

// vokta-cli: one subcommand per operation.
//
// Conventions every subcommand follows:
// - Message boxes go to stderr as "Caption: text". A question is asked on the terminal
//   when there is one (Context::prompter does it); otherwise --assume-yes answers Yes/OK,
//   --on-error answers Abort/Retry/Ignore boxes (and Retry/Cancel boxes with Retry only for
//   "retry"), and with neither the answer is No/Cancel/Abort, never the destructive one.
// - The last line on stdout is the result text; the exit status is the operation's
//   result (0 done, 1 aborted, 2 failed); a usage error exits 64 with a usage message.
//
// Adding a subcommand: write `int <Name>Command(Context&, const Arguments&)` in its own
// cli/<name>command.cpp, declare it below, and add one row to the table in commands.cpp.

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "drive/drivetable.h"
#include "drive/systemdrives.h"
#include "ops/messagebox.h"

namespace vokta::cli {

constexpr int kExitUsage = 64;

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

using Arguments = std::vector<std::string>;

struct Command {
    const char* name;
    const char* usage;    // arguments after the name
    const char* summary;  // one line for --help
    int (*run)(Context&, const Arguments&);
};

const std::vector<Command>& Commands();

// Prints "vokta-cli: message" and the command's usage on stderr; returns kExitUsage.
int UsageError(Context& context, const std::string& command, const std::string& message);

// The drive letter of an argument such as "A:" or "a", or nullopt.
std::optional<char> DriveLetterArgument(const std::string& argument);

int DrivesCommand(Context& context, const Arguments& args);
int MediaCommand(Context& context, const Arguments& args);
int BootCommand(Context& context, const Arguments& args);
int ReadCommand(Context& context, const Arguments& args);
int WriteCommand(Context& context, const Arguments& args);
int CompareCommand(Context& context, const Arguments& args);

}  // namespace vokta::cli
