// SPDX-License-Identifier: GPL-3.0-or-later
// The manual pages and the shell completions against the programs' own help: every
// command, option, option value and exit status that vokta-cli's help lists is in
// vokta-cli(1) and in both completions, so a command or option added to the table and
// left out of them fails here.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "docs/programhelp.h"
#include "support/requiretools.h"
#include "support/tempdir.h"

using namespace vokta::test;

namespace {

std::string Text(const std::string& path)
{
    const std::vector<uint8_t> bytes = ReadFile(path);
    return {bytes.begin(), bytes.end()};
}

std::string Source(const std::string& file)
{
    return Text(std::string(VOKTA_SOURCE_DIR) + "/docs/" + file);
}

// The text of the page's section `heading` ("# EXIT STATUS"), up to the next section.
std::string Section(const std::string& page, const std::string& heading)
{
    const size_t start = page.find("\n" + heading + "\n");
    if (start == std::string::npos)
        return {};
    const size_t end = page.find("\n# ", start + 1);
    return page.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

bool Bold(const std::string& page, const std::string& word)
{
    return page.find("*" + word + "*") != std::string::npos;
}

struct ManualPage : ::testing::Test {
    TempDir dir;
    const ProgramHelp help = ReadProgramHelp(VOKTA_CLI, dir);
    const std::string page = Source("man/vokta-cli.1.scd");
};

}  // namespace

TEST_F(ManualPage, DescribesEveryCommandOptionAndValueOfTheProgram)
{
    ASSERT_GE(help.commands.size(), 10u);
    ASSERT_GE(help.globals.size(), 6u);
    const std::string commands = Section(page, "# COMMANDS");
    for (const HelpCommand& command : help.commands) {
        SCOPED_TRACE(command.name);
        // Each command heads an entry of its own.
        EXPECT_NE(commands.find("\n*" + command.name + "*"), std::string::npos);
        for (const std::string& value : command.values)
            EXPECT_TRUE(Bold(commands, value)) << value;
        for (const HelpOption& option : command.options) {
            for (const std::string& name : option.names)
                EXPECT_TRUE(Bold(commands, name)) << name;
            for (const std::string& value : option.values)
                EXPECT_TRUE(Bold(commands, value)) << option.names[0] << " " << value;
        }
    }
    const std::string globals = Section(page, "# GLOBAL OPTIONS");
    for (const HelpOption& option : help.globals) {
        for (const std::string& name : option.names)
            EXPECT_TRUE(Bold(globals, name)) << name;
        for (const std::string& value : option.values)
            EXPECT_TRUE(Bold(globals, value)) << option.names[0] << " " << value;
    }
}

TEST_F(ManualPage, ListsEveryExitStatus)
{
    // The program's own table: each row's status, word and outcome line are the page's row.
    ASSERT_GE(help.exitStatuses.size(), 7u) << "no exit table found in vokta-cli --help";
    const std::string table = Section(page, "# EXIT STATUS");
    for (const HelpExitStatus& row : help.exitStatuses) {
        SCOPED_TRACE(row.status);
        EXPECT_NE(table.find("\n|  " + std::to_string(row.status) + "\n:  " + row.word + "\n:  " +
                             (row.line.empty() ? "(none)" : row.line) + "\n"),
                  std::string::npos);
    }
}

#ifdef VOKTA_APP
TEST(DesktopManualPage, DescribesEveryOptionOfTheProgram)
{
    TempDir dir;
    std::string usage;
    const std::string environment = "HOME=" + ShellQuoted(dir.path()) + " XDG_DATA_HOME=" + ShellQuoted(dir.File("data")) +
                                    " XDG_CONFIG_HOME=" + ShellQuoted(dir.File("config")) + " QT_QPA_PLATFORM=offscreen ";
    ASSERT_EQ(Shell(environment + ShellQuoted(VOKTA_APP) + " --help 2>/dev/null", &usage), 0);
    const std::string page = Source("man/vokta.1.scd");
    const std::vector<std::string> options = OptionWords(usage);
    ASSERT_GE(options.size(), 2u) << usage;
    for (const std::string& option : options)
        EXPECT_TRUE(Bold(page, option)) << option;
}
#endif

// Both pages as man shows them: made by the build, compressed without a name or a time,
// and rendered without a warning.
TEST(BuiltManualPages, RenderWithoutWarnings)
{
    if (!RequireTools({"scdoc", "man", "gzip"}))
        return;
    for (const std::string name : {"vokta-cli.1", "vokta.1"}) {
        SCOPED_TRACE(name);
        const std::string page = std::string(VOKTA_BINARY_DIR) + "/man/" + name;
        ASSERT_TRUE(FileExists(page)) << "the build made no " << page;
        std::string warnings;
        EXPECT_EQ(Shell("LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l " + ShellQuoted(page) + " 2>&1 >/dev/null",
                        &warnings),
                  0);
        EXPECT_EQ(warnings, "");
        std::string shown;
        EXPECT_EQ(Shell("LC_ALL=C.UTF-8 MANWIDTH=80 man -l " + ShellQuoted(page) + " 2>/dev/null", &shown), 0);
        for (const std::string heading : {"NAME", "SYNOPSIS", "DESCRIPTION", "EXIT STATUS", "FILES", "ENVIRONMENT",
                                          "EXAMPLES", "SEE ALSO"})
            EXPECT_NE(shown.find("\n" + heading + "\n"), std::string::npos) << heading;

        const std::vector<uint8_t> compressed = ReadFile(page + ".gz");
        ASSERT_GE(compressed.size(), 10u);
        EXPECT_EQ(compressed[3] & 0x08, 0) << "the file name is kept";
        EXPECT_TRUE(std::all_of(compressed.begin() + 4, compressed.begin() + 8, [](uint8_t b) { return b == 0; }))
            << "the time is kept";
        EXPECT_EQ(Shell("gzip -dc " + ShellQuoted(page + ".gz") + " | cmp -s - " + ShellQuoted(page)), 0);
    }
}
