// SPDX-License-Identifier: GPL-3.0-or-later
// The shell completions of vokta-cli: the bash one run as bash runs it, on a table of
// command lines; both checked against the program's own help.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "docs/programhelp.h"
#include "support/requiretools.h"
#include "support/tempdir.h"

using namespace vokta::test;

namespace {

using Words = std::set<std::string>;

const std::string kBashScript = std::string(VOKTA_SOURCE_DIR) + "/docs/completions/vokta-cli.bash";
const std::string kZshScript = std::string(VOKTA_SOURCE_DIR) + "/docs/completions/_vokta-cli";

struct Completion : ::testing::Test {
    TempDir dir;

    // The replies of the bash completion with the cursor at the end of `line`, its first
    // word vokta-cli's path. COMP_WORDS is split at blanks and COMP_WORDBREAKS is bash's
    // own, as in a terminal.
    Words Complete(const std::string& line)
    {
        const std::string runner = dir.File("complete.sh");
        const std::string script = "source " + ShellQuoted(kBashScript) +
                                   "\n"
                                   "COMP_WORDBREAKS=$' \\t\\n\"\\'><=;|&(:'\n"
                                   "COMP_LINE=$LINE COMP_POINT=${#LINE}\n"
                                   "read -ra COMP_WORDS <<<\"$LINE\"\n"
                                   "[[ $LINE == *' ' ]] && COMP_WORDS+=('')\n"
                                   "COMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n"
                                   "_vokta_cli\n"
                                   "printf '%s\\n' \"${COMPREPLY[@]}\"\n";
        WriteFile(runner, std::vector<uint8_t>(script.begin(), script.end()));
        std::string out;
        const std::string command = "cd " + ShellQuoted(dir.path()) + " && XDG_DATA_HOME=" + ShellQuoted(dir.File("data")) +
                                    " LINE=" + ShellQuoted(std::string(VOKTA_CLI) + " " + line) + " bash " +
                                    ShellQuoted(runner);
        EXPECT_EQ(Shell(command, &out), 0) << line;
        Words replies;
        std::istringstream in(out);
        for (std::string reply; std::getline(in, reply);)
            if (!reply.empty())
                replies.insert(reply);
        return replies;
    }
};

std::string Text(const std::string& path)
{
    const std::vector<uint8_t> bytes = ReadFile(path);
    return {bytes.begin(), bytes.end()};
}

}  // namespace

TEST_F(Completion, BashCompletesEachPlaceOfALine)
{
    WriteFile(dir.File("spare.img"), {});
    WriteFile(dir.File("notes.txt"), {});
    struct Case {
        std::string line;
        Words expected;
    };
    const std::vector<Case> cases = {
        {"fo", {"format"}},
        {"boot ", {"check", "recreate"}},
        {"--lang ", {"en", "it"}},
        {"--on-error=i", {"ignore"}},
        {"format A: --media 1.", {"1.2m", "1.44m", "1.68m", "1.72m"}},
        {"format A: --media=7", {"720k"}},
        {"format A: --st", {"--standard"}},
        {"repair A: --system c", {"checker"}},
        {"-y --on-error abort repair A: --data t", {"track"}},
        {"label A: ", {}},
        {"format A: --label ", {}},
        // Drive letters come from vokta-cli itself, with the bindings the line gives.
        {"media ", {"A:"}},
        {"--drive C:=spare.img boot check ", {"A:", "C:"}},
        {"--drive=C:=spare.img info ", {"A:", "C:"}},
        {"--drive C:=spare.img read C", {"C:"}},
        // File names where an image or a file goes, after the drive letter of a binding too.
        {"read A: sp", {"spare.img"}},
        {"write n", {"notes.txt"}},
        {"info A: --save n", {"notes.txt"}},
        {"--drive B:=sp", {"spare.img"}},
        {"--drive ", {"A:=", "B:="}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Complete(c.line), c.expected) << c.line;
}

TEST_F(Completion, BashOffersEveryCommandAndOptionOfTheProgram)
{
    const ProgramHelp help = ReadProgramHelp(VOKTA_CLI, dir);
    ASSERT_GE(help.commands.size(), 10u);
    Words commands;
    for (const HelpCommand& command : help.commands)
        commands.insert(command.name);
    EXPECT_EQ(Complete(""), commands);

    const Words globals = Complete("-");
    for (const HelpOption& option : help.globals)
        for (const std::string& name : option.names)
            EXPECT_TRUE(globals.contains(name)) << name;
    for (const HelpCommand& command : help.commands) {
        SCOPED_TRACE(command.name);
        const Words options = Complete(command.name + " A: -");
        for (const HelpOption& option : command.options) {
            for (const std::string& name : option.names)
                EXPECT_TRUE(options.contains(name)) << name;
            if (!option.values.empty()) {
                EXPECT_EQ(Complete(command.name + " A: " + option.names[0] + " "),
                          Words(option.values.begin(), option.values.end()));
            }
        }
    }
}

TEST_F(Completion, ZshNamesEveryCommandAndOptionOfTheProgram)
{
    if (!RequireTools({"zsh"}))
        return;
    EXPECT_EQ(Shell("zsh -n " + ShellQuoted(kZshScript)), 0);
    const std::string script = Text(kZshScript);
    const auto names = [&](const std::string& word) {
        for (const std::string after : {"[", "=[", "}", ","})
            if (script.find(word + after) != std::string::npos)
                return true;
        return false;
    };
    // A word of a value list: "(write stop)".
    const auto listed = [&](const std::string& word) {
        const std::string escaped = std::regex_replace(word, std::regex(R"([.])"), R"(\.)");
        return std::regex_search(script, std::regex(R"(\((?:[^()\n]* )?)" + escaped + R"((?: [^()\n]*)?\))"));
    };
    const ProgramHelp help = ReadProgramHelp(VOKTA_CLI, dir);
    for (const HelpOption& option : help.globals) {
        for (const std::string& name : option.names)
            EXPECT_TRUE(names(name)) << name;
        for (const std::string& value : option.values)
            EXPECT_TRUE(listed(value)) << option.names[0] << " " << value;
    }
    for (const HelpCommand& command : help.commands) {
        SCOPED_TRACE(command.name);
        EXPECT_NE(script.find("'" + command.name + ":"), std::string::npos);
        for (const HelpOption& option : command.options) {
            for (const std::string& name : option.names)
                EXPECT_TRUE(names(name)) << name;
            for (const std::string& value : option.values)
                EXPECT_TRUE(listed(value)) << option.names[0] << " " << value;
        }
    }
}
