// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/commandline.h"

#include <algorithm>
#include <charconv>

#include "fat/labelcheck.h"
#include "res/languagemodule.h"
#include "res/strings.h"

namespace vokta::cli {
namespace {

const std::vector<Option>& GlobalOptionTable()
{
    static const std::vector<Option> options = {
        {"--drive", Operand{"L:=PATH[,type=T]"},
         "bind drive letter L: to a device or diskette file (repeatable);\n"
         "T is the drive's kind: 720k, 1.2m or 1.44m"},
        {"--assume-yes", {}, "answer Yes/OK to questions when no terminal can", "-y"},
        {"--on-error", Operand{"abort|retry|ignore", OperandKind::OneOf},
         "answer Abort/Retry/Ignore questions with this when no terminal can"},
        {"--lang", Operand{"en|it", OperandKind::OneOf},
         "language of the texts; by default Italian when the locale (LC_ALL,\n"
         "LC_MESSAGES or LANG) is Italian, English otherwise"},
        {"--json", {}, "one JSON object on stdout: the result, the figures, the messages\nand their answers"},
        {"--quiet", {}, "no progress or informational lines on stderr; questions and errors\nare still shown", "-q"},
        {"--help", {}, "show this help; COMMAND --help shows a command's", "-h"},
        {"--version", {}, "show the version"},
    };
    return options;
}

// Every command takes it; its help lists it with the command's own options.
const Option kCommandHelp{"--help", {}, "show this help", "-h"};

constexpr const char* kProgram = "vokta-cli";

const Option* FindOption(const std::vector<Option>& options, std::string_view name)
{
    for (const Option& o : options)
        if (name == o.name || (!o.shortName.empty() && name == o.shortName))
            return &o;
    return nullptr;
}

// The first other command that has the option, to point a misplaced option to its command.
const Command* CommandWithOption(std::string_view name, const Command* except)
{
    for (const Command& c : Commands())
        if (&c != except && FindOption(c.options, name))
            return &c;
    return nullptr;
}

std::vector<std::string_view> Alternatives(std::string_view oneOf)
{
    std::vector<std::string_view> words;
    for (size_t start = 0;;) {
        const size_t bar = oneOf.find('|', start);
        words.push_back(oneOf.substr(start, bar - start));
        if (bar == std::string_view::npos)
            return words;
        start = bar + 1;
    }
}

// "abort, retry or ignore".
std::string Listed(std::string_view oneOf)
{
    const std::vector<std::string_view> words = Alternatives(oneOf);
    std::string text;
    for (size_t i = 0; i < words.size(); ++i)
        text.append(i == 0 ? "" : i + 1 == words.size() ? " or " : ", ").append(words[i]);
    return text;
}

}  // namespace

std::optional<unsigned> CountArgument(const std::string& text)
{
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

namespace {

// Empty when `text` is what the operand asks for; otherwise the message. `what` names the
// command or the option it belongs to.
std::string CheckOperand(const Operand& operand, const std::string& text, std::string_view what)
{
    std::string expected;
    switch (operand.kind) {
    case OperandKind::Text:
        return {};
    case OperandKind::Drive:
        if (DriveLetterArgument(text))
            return {};
        expected = "a drive, such as A:";
        break;
    case OperandKind::OneOf: {
        const std::vector<std::string_view> words = Alternatives(operand.name);
        if (std::find(words.begin(), words.end(), text) != words.end())
            return {};
        expected = Listed(operand.name);
        break;
    }
    case OperandKind::Label:
        if (const std::optional<Str> problem = LabelProblem(text))
            return LoadString(*problem);
        return {};
    case OperandKind::Count:
        if (const std::optional<unsigned> count = CountArgument(text); count && *count >= operand.least && *count <= operand.most)
            return {};
        expected = "a whole number from " + std::to_string(operand.least) + " to " + std::to_string(operand.most);
        break;
    }
    return std::string(what) + ": '" + text + "' is not " + expected;
}

bool IsOptionWord(const std::string& word)
{
    return word.size() > 1 && word[0] == '-';
}

// Takes the option of words[i] ("--name", "--name=VALUE", or "--name" then VALUE) into
// `args`, moving i past its value. Empty when it fits the option; otherwise the message.
std::string TakeOption(const Option& option, const std::vector<std::string>& words, size_t& i, Arguments& args)
{
    const std::string& word = words[i];
    const size_t equals = word.find('=');
    const bool inlineValue = word.starts_with("--") && equals != std::string::npos;
    if (!option.value) {
        if (inlineValue)
            return std::string(option.name) + " takes no value";
        args.Add(option.name, "");
        return {};
    }
    std::string value;
    if (inlineValue)
        value = word.substr(equals + 1);
    else if (i + 1 < words.size())
        value = words[++i];
    else
        return std::string(option.name) + " needs " + std::string(option.value->name);
    if (std::string problem = CheckOperand(*option.value, value, option.name); !problem.empty())
        return problem;
    args.Add(option.name, std::move(value));
    return {};
}

std::string OptionName(const std::string& word)
{
    return word.starts_with("--") ? word.substr(0, word.find('=')) : word;
}

std::string CommandLine(const Command& command)
{
    std::string line(command.name);
    for (const Operand& o : command.operands)
        line.append(o.optional ? " [" : " ").append(o.name).append(o.optional ? "]" : "");
    return line;
}

// Two columns: each head, then its help beside it (below it when the head is too wide);
// a help's "\n" continues it in the same column.
void PrintColumns(std::FILE* out, const std::vector<std::pair<std::string, std::string>>& rows)
{
    constexpr size_t kMaxColumn = 30;
    size_t column = 0;
    for (const auto& [head, help] : rows)
        column = std::max(column, head.size() + 4);
    column = std::min(column, kMaxColumn);
    for (const auto& [head, help] : rows) {
        const std::string indent(column, ' ');
        std::string line = "  " + head;
        line += line.size() + 2 > column ? "\n" + indent : std::string(column - line.size(), ' ');
        for (const char c : help)
            line += c == '\n' ? "\n" + indent : std::string(1, c);
        std::fprintf(out, "%s\n", line.c_str());
    }
}

void PrintOptions(std::FILE* out, const std::vector<const Option*>& options)
{
    std::vector<std::pair<std::string, std::string>> rows;
    for (const Option* o : options) {
        std::string head(o->name);
        if (!o->shortName.empty())
            head.append(", ").append(o->shortName);
        if (o->value)
            head.append(" ").append(o->value->name);
        rows.emplace_back(std::move(head), o->help);
    }
    PrintColumns(out, rows);
}

void PrintHelp(std::FILE* out)
{
    std::fprintf(out,
                 "usage: %s [GLOBAL OPTIONS] COMMAND [ARGUMENTS] [OPTIONS]\n"
                 "\n"
                 "Diskette utility: duplicate, format, check and repair diskettes in real floppy\n"
                 "drives (/dev/fd0, /dev/fd1, USB floppy drives /dev/sdX) or in diskette files\n"
                 "(raw .img/.ima/.dim, ImageDisk .imd, SCP .scp and HFE .hfe flux files).\n"
                 "\n"
                 "Global options (before the command):\n",
                 kProgram);
    std::vector<const Option*> options;
    for (const Option& o : GlobalOptionTable())
        options.push_back(&o);
    PrintOptions(out, options);
    std::fprintf(out, "\nCommands:\n");
    std::vector<std::pair<std::string, std::string>> rows;
    for (const Command& c : Commands())
        rows.emplace_back(CommandLine(c), c.summary);
    PrintColumns(out, rows);
    std::fprintf(out, "\n'%s COMMAND --help' shows a command's arguments and options.\n", kProgram);
    std::fprintf(out, "\nExit status, its word in --json, and in quotes the last line on stdout:\n");
    for (const ExitRow& row : ExitTable()) {
        std::string meaning(row.meaning);
        for (size_t at = 0; (at = meaning.find('\n', at)) != std::string::npos; at += 16)
            meaning.replace(at, 1, "\n" + std::string(15, ' '));
        if (row.line)
            meaning += " (\"" + LoadString(*row.line) + "\")";
        std::fprintf(out, "  %2d %-9s %s\n", row.status, std::string(row.word).c_str(), meaning.c_str());
    }
}

void PrintCommandUsage(std::FILE* out, const Command& command)
{
    std::fprintf(out, "usage: %s [GLOBAL OPTIONS] %s%s\n", kProgram, CommandLine(command).c_str(),
                 command.options.empty() ? "" : " [OPTIONS]");
}

void PrintCommandHelp(std::FILE* out, const Command& command)
{
    PrintCommandUsage(out, command);
    std::fprintf(out, "\n%s\n\nOptions:\n", std::string(command.summary).c_str());
    std::vector<const Option*> options;
    for (const Option& o : command.options)
        options.push_back(&o);
    options.push_back(&kCommandHelp);
    PrintOptions(out, options);
    std::fprintf(out, "\nGlobal options such as --drive go before the command: see '%s --help'.\n", kProgram);
}

Invocation UsageError(std::FILE* err, const std::string& message, const Command* command = nullptr)
{
    std::fprintf(err, "%s: %s\n", kProgram, message.c_str());
    if (command) {
        PrintCommandUsage(err, *command);
        std::fprintf(err, "Try '%s %s --help'.\n", kProgram, std::string(command->name).c_str());
    } else {
        std::fprintf(err, "usage: %s [GLOBAL OPTIONS] COMMAND [ARGUMENTS] [OPTIONS]\nTry '%s --help'.\n", kProgram,
                     kProgram);
    }
    Invocation invocation;
    invocation.status = kExitUsage;
    return invocation;
}

Invocation Printed()
{
    return Invocation{};
}

std::optional<Answer> OnErrorAnswer(const std::string& value)
{
    if (value == "abort")
        return Answer::Abort;
    if (value == "retry")
        return Answer::Retry;
    if (value == "ignore")
        return Answer::Ignore;
    return std::nullopt;
}

// Empty when the texts can be shown in that language; otherwise why not. The Italian texts
// come with the Italian resource module.
std::string LanguageProblem(const std::string& language)
{
    if (language == "en" || FindLanguageModule())
        return {};
    return "--lang " + language + ": the Italian texts come with the Italian resource module, which is not " +
           "installed; only --lang en is available";
}

// The global options turned into settings; empty when they all make sense.
std::string ApplyGlobalOptions(const Arguments& given, GlobalOptions& options)
{
    for (const std::string& text : given.Values("--drive")) {
        std::string error;
        std::optional<DriveOption> drive = ParseDriveOption(text, error);
        if (!drive)
            return "--drive: " + error;
        options.drives.push_back(*drive);
    }
    options.assumeYes = given.Has("--assume-yes");
    options.json = given.Has("--json");
    options.quiet = given.Has("--quiet");
    if (std::optional<std::string> onError = given.Value("--on-error"))
        options.onError = OnErrorAnswer(*onError);
    if (std::optional<std::string> language = given.Value("--lang")) {
        if (std::string problem = LanguageProblem(*language); !problem.empty())
            return problem;
        options.language = *language;
    } else if (ItalianLocale() && FindLanguageModule()) {
        options.language = "it";
    }
    return {};
}

// The command's arguments and options from words[i] on, checked against its row.
Invocation ParseCommand(const Command& command, const std::vector<std::string>& words, size_t i, std::FILE* out,
                        std::FILE* err)
{
    Invocation invocation;
    invocation.command = &command;
    Arguments& args = invocation.arguments;
    bool optionsEnded = false;
    bool help = false;
    for (; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (!optionsEnded && word == "--") {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded || !IsOptionWord(word)) {
            args.operands.push_back(word);
            continue;
        }
        const std::string name = OptionName(word);
        if (name == kCommandHelp.name || name == kCommandHelp.shortName) {
            help = true;
            continue;
        }
        const Option* option = FindOption(command.options, name);
        if (!option) {
            std::string message = std::string(command.name) + " has no option " + name;
            if (FindOption(GlobalOptionTable(), name))
                message = name + " is a global option: put it before the command";
            else if (const Command* other = CommandWithOption(name, &command))
                message += " (" + name + " is an option of " + std::string(other->name) + ")";
            return UsageError(err, message, &command);
        }
        if (std::string problem = TakeOption(*option, words, i, args); !problem.empty())
            return UsageError(err, problem, &command);
    }
    if (help) {
        PrintCommandHelp(out, command);
        return Printed();
    }
    const std::vector<Operand>& operands = command.operands;
    const auto required = static_cast<size_t>(
        std::count_if(operands.begin(), operands.end(), [](const Operand& o) { return !o.optional; }));
    if (args.operands.size() < required)
        return UsageError(err, std::string(command.name) + ": missing " + std::string(operands[args.operands.size()].name),
                          &command);
    if (args.operands.size() > operands.size())
        return UsageError(err, std::string(command.name) + ": unexpected argument '" + args.operands[operands.size()] + "'",
                          &command);
    for (size_t k = 0; k < args.operands.size(); ++k)
        if (std::string problem = CheckOperand(operands[k], args.operands[k], command.name); !problem.empty())
            return UsageError(err, problem, &command);
    for (const auto& [one, other] : command.excluding)
        if (args.Has(one) && args.Has(other))
            return UsageError(err, std::string(command.name) + ": " + std::string(one) + " and " + std::string(other) +
                                       " exclude each other",
                              &command);
    return invocation;
}

}  // namespace

char Arguments::Drive(size_t index) const
{
    return DriveLetterArgument(operands.at(index)).value();
}

bool Arguments::Has(std::string_view option) const
{
    return std::any_of(given_.begin(), given_.end(), [&](const auto& g) { return g.first == option; });
}

std::optional<std::string> Arguments::Value(std::string_view option) const
{
    const auto last = std::find_if(given_.rbegin(), given_.rend(), [&](const auto& g) { return g.first == option; });
    return last == given_.rend() ? std::nullopt : std::optional(last->second);
}

std::vector<std::string> Arguments::Values(std::string_view option) const
{
    std::vector<std::string> values;
    for (const auto& [name, value] : given_)
        if (name == option)
            values.push_back(value);
    return values;
}

void Arguments::Add(std::string_view option, std::string value)
{
    given_.emplace_back(option, std::move(value));
}

Invocation ParseCommandLine(const std::vector<std::string>& words, std::FILE* out, std::FILE* err)
{
    Arguments globals;
    size_t i = 0;
    for (; i < words.size() && IsOptionWord(words[i]); ++i) {
        const std::string name = OptionName(words[i]);
        const Option* option = FindOption(GlobalOptionTable(), name);
        if (!option) {
            std::string message = "unknown option " + name;
            if (const Command* command = CommandWithOption(name, nullptr))
                message += " (an option of " + std::string(command->name) + ": put it after the command)";
            return UsageError(err, message);
        }
        if (std::string problem = TakeOption(*option, words, i, globals); !problem.empty())
            return UsageError(err, problem);
    }
    if (globals.Has("--help")) {
        PrintHelp(out);
        return Printed();
    }
    if (globals.Has("--version")) {
        std::fprintf(out, "%s %s\n", kProgram, VOKTA_VERSION);
        return Printed();
    }
    GlobalOptions options;
    if (std::string problem = ApplyGlobalOptions(globals, options); !problem.empty())
        return UsageError(err, problem);
    if (i == words.size())
        return UsageError(err, "no command given");
    const auto command = std::find_if(Commands().begin(), Commands().end(),
                                      [&](const Command& c) { return words[i] == c.name; });
    if (command == Commands().end())
        return UsageError(err, "unknown command " + words[i]);
    Invocation invocation = ParseCommand(*command, words, i + 1, out, err);
    invocation.options = std::move(options);
    return invocation;
}

}  // namespace vokta::cli
