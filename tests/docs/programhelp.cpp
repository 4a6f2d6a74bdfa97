// SPDX-License-Identifier: GPL-3.0-or-later
#include "docs/programhelp.h"

#include <algorithm>
#include <regex>
#include <sstream>

#include "support/clirun.h"

namespace vokta::test {
namespace {

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);)
        if (!part.empty())
            parts.push_back(part);
    return parts;
}

// The heads of the two-column rows below the line `title`, up to the next blank line: what
// stands before the gap to the help ("--on-error abort|retry|ignore", "boot check|recreate L:").
std::vector<std::string> Heads(const std::string& help, const std::string& title)
{
    std::vector<std::string> heads;
    bool inside = false;
    for (const std::string& line : Lines(help)) {
        if (line == title) {
            inside = true;
        } else if (inside && line.empty()) {
            break;
        } else if (inside && line.starts_with("  ") && line.size() > 2 && line[2] != ' ') {
            heads.push_back(line.substr(2, line.find("  ", 2) - 2));
        }
    }
    return heads;
}

HelpOption OptionOfHead(const std::string& head)
{
    HelpOption option;
    for (std::string word : Split(head, ' ')) {
        if (word.ends_with(','))
            word.pop_back();
        if (word.starts_with('-'))
            option.names.push_back(word);
        else if (word.find('|') != std::string::npos)
            option.values = Split(word, '|');
    }
    return option;
}

std::vector<HelpOption> Options(const std::string& help, const std::string& title)
{
    std::vector<HelpOption> options;
    for (const std::string& head : Heads(help, title))
        options.push_back(OptionOfHead(head));
    return options;
}

// "Exit status...", then per status a line with its number and word, and its meaning,
// which may go on over more lines and ends with the outcome line in quotes.
std::vector<HelpExitStatus> ExitStatuses(const std::string& help)
{
    const size_t start = help.find("\nExit status");
    if (start == std::string::npos)
        return {};
    std::vector<HelpExitStatus> statuses;
    const std::regex item(R"(^ +(\d+) ([a-z-]+) )");
    const std::regex outcome(R"re(\("([^"]+)"\)$)re");
    std::smatch match;
    for (const std::string& line : Lines(help.substr(start + 1))) {
        if (line.empty())
            break;
        if (std::regex_search(line, match, item))
            statuses.push_back({std::stoi(match[1]), match[2], {}});
        if (!statuses.empty() && std::regex_search(line, match, outcome))
            statuses.back().line = match[1];
    }
    return statuses;
}

}  // namespace

ProgramHelp ReadProgramHelp(const std::string& cli, const TempDir& dir)
{
    ProgramHelp program;
    const std::string overview = RunCli(cli, "--help", dir).out;
    program.globals = Options(overview, "Global options (before the command):");
    program.exitStatuses = ExitStatuses(overview);
    for (const std::string& head : Heads(overview, "Commands:")) {
        HelpCommand command;
        const std::vector<std::string> words = Split(head, ' ');
        command.name = words.at(0);
        for (const std::string& word : words)
            if (word.find('|') != std::string::npos)
                command.values = Split(word, '|');
        command.options = Options(RunCli(cli, command.name + " --help", dir).out, "Options:");
        program.commands.push_back(std::move(command));
    }
    return program;
}

std::vector<std::string> OptionWords(const std::string& usage)
{
    std::vector<std::string> words;
    for (const std::string& line : Lines(usage)) {
        const size_t start = line.find_first_not_of(' ');
        if (start == 0 || start == std::string::npos || line[start] != '-')
            continue;
        const std::string head = line.substr(start, line.find("  ", start) - start);
        for (const std::string& name : OptionOfHead(head).names)
            words.push_back(name);
    }
    return words;
}

}  // namespace vokta::test
