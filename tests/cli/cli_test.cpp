// SPDX-License-Identifier: GPL-3.0-or-later
// vokta-cli's command line: every command's help and usage errors from its own row, and
// the one way from an operation's outcome to the last line on stdout and the exit status.
#include <gtest/gtest.h>

#include <cstdio>

#include "cli/cli.h"
#include "drive/lostwork.h"
#include "support/clirun.h"
#include "support/recordingservice.h"
#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::cli;
using namespace vokta::test;

namespace {

struct Cli : ::testing::Test {
    TempDir dir;

    CliRun Run(const std::string& args) { return RunCli(VOKTA_CLI, args, dir); }

    // Writes a.img, a 1.44M diskette, and `image`, the same with one byte changed; returns
    // the diskette.
    std::vector<uint8_t> WriteDisketteAndOther(const std::string& image = "differs.dim", size_t changed = 700000)
    {
        const std::vector<uint8_t> diskette = PatternImage(kMedia144M);
        WriteFile(dir.File("a.img"), diskette);
        std::vector<uint8_t> other = diskette;
        other[changed] ^= 0xff;
        WriteFile(dir.File(image), other);
        return diskette;
    }

    // A usage error: status 64, nothing on stdout, the message and the usage on stderr.
    void ExpectUsageError(const std::string& args, const std::string& message, const std::string& usage)
    {
        SCOPED_TRACE(args);
        const CliRun run = Run(args);
        EXPECT_EQ(run.status, kExitUsage);
        EXPECT_EQ(run.out, "");
        EXPECT_TRUE(run.err.starts_with("vokta-cli: " + message + "\n")) << run.err;
        EXPECT_NE(run.err.find("\nusage: vokta-cli [GLOBAL OPTIONS] " + usage), std::string::npos) << run.err;
    }
};

std::string Line(const Command& c)
{
    std::string line(c.name);
    for (const Operand& o : c.operands)
        line.append(o.optional ? " [" : " ").append(o.name).append(o.optional ? "]" : "");
    return line;
}

// What Compare tells of a difference, in each language.
constexpr const char* kEnglishDifference = "The disk into the drive doesn't NOT match";
constexpr const char* kItalianDifference = "Il disco nel drive NON corrisponde";

}  // namespace

TEST_F(Cli, EveryCommandDescribesItsArgumentsAndOptions)
{
    const CliRun overview = Run("--help");
    EXPECT_EQ(overview.status, 0);
    for (const Command& c : Commands()) {
        SCOPED_TRACE(std::string(c.name));
        EXPECT_NE(overview.out.find("  " + Line(c) + " "), std::string::npos) << overview.out;

        const CliRun help = Run(std::string(c.name) + " --help");
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.err, "");
        EXPECT_TRUE(help.out.starts_with("usage: vokta-cli [GLOBAL OPTIONS] " + Line(c))) << help.out;
        EXPECT_NE(help.out.find(std::string(c.summary)), std::string::npos) << help.out;
        for (const Option& o : c.options) {
            EXPECT_NE(help.out.find("  " + std::string(o.name)), std::string::npos) << o.name;
            EXPECT_NE(help.out.find(std::string(o.help)), std::string::npos) << o.name;
        }
        EXPECT_NE(help.out.find("  --help, -h"), std::string::npos);
        EXPECT_EQ(Run(std::string(c.name) + " -h").out, help.out);
    }
}

TEST_F(Cli, HelpWinsOverMissingArguments)
{
    const CliRun run = Run("compare --help");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("load IMAGE, then Compare"), std::string::npos);
}

TEST_F(Cli, OptionsInTheWrongPlaceAreUsageErrors)
{
    ExpectUsageError("read A: x.dim --frob", "read has no option --frob", "read L: IMAGE");
    ExpectUsageError("read A: x.dim --multi", "read has no option --multi (--multi is an option of write)",
                     "read L: IMAGE");
    ExpectUsageError("compare x.dim A: --no-verify", "compare has no option --no-verify (--no-verify is an option of write)",
                     "compare IMAGE L:");
    ExpectUsageError("read A: x.dim --assume-yes", "--assume-yes is a global option: put it before the command",
                     "read L: IMAGE");
    ExpectUsageError("--multi write x.dim A:", "unknown option --multi (an option of write: put it after the command)",
                     "COMMAND");
    ExpectUsageError("write x.dim A: --multi=3", "--multi takes no value", "write IMAGE L: [OPTIONS]");
    ExpectUsageError("--on-error", "--on-error needs abort|retry|ignore", "COMMAND");
    ExpectUsageError("--on-error=sometimes drives", "--on-error: 'sometimes' is not abort, retry or ignore", "COMMAND");
}

TEST_F(Cli, ArgumentsAreCheckedAgainstTheRow)
{
    ExpectUsageError("read A:", "read: missing IMAGE", "read L: IMAGE");
    ExpectUsageError("read A: x.dim y.dim", "read: unexpected argument 'y.dim'", "read L: IMAGE");
    ExpectUsageError("read x.dim A:", "read: 'x.dim' is not a drive, such as A:", "read L: IMAGE");
    ExpectUsageError("boot format A:", "boot: 'format' is not check or recreate", "boot check|recreate L:");
    ExpectUsageError("drives A:", "drives: unexpected argument 'A:'", "drives");
    ExpectUsageError("frob", "unknown command frob", "COMMAND");
    ExpectUsageError("", "no command given", "COMMAND");
    ExpectUsageError("--drive A: drives", "--drive: a drive binding reads L:=PATH[,type=720k|1.2m|1.44m], not \"A:\"", "COMMAND");
}

TEST_F(Cli, AUsageErrorLeavesTheDisketteAlone)
{
    const std::vector<uint8_t> diskette = WriteDisketteAndOther("other.dim", 5000);
    EXPECT_EQ(Run("--drive A:=a.img --assume-yes write other.dim A: --verify").status, kExitUsage);
    EXPECT_EQ(ReadFile(dir.File("a.img")), diskette);
}

TEST_F(Cli, ADoubleDashEndsTheOptions)
{
    WriteFile(dir.File("a.img"), PatternImage(kMedia144M));
    WriteFile(dir.File("-odd.dim"), PatternImage(kMedia144M));
    const CliRun run = Run("--drive A:=a.img compare -- -odd.dim A:");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "OK.\n");
}

// The Italian module is found beside the program, in the build tree as once installed;
// without --lang the locale chooses; a program without its module says so for --lang it.
TEST_F(Cli, TheTextsComeInTheChosenLanguage)
{
    WriteDisketteAndOther();
    const std::string compare = " --drive A:=a.img compare differs.dim A:";
    const CliRun englishRun = Run("--lang en" + compare);
    const std::string english = englishRun.out + englishRun.err;
    EXPECT_NE(english.find(kEnglishDifference), std::string::npos) << english;
    struct Case {
        std::string environment;
        std::string options;
        bool italian;
    };
    const Case cases[] = {
        {"LC_ALL=C", "--lang it", true},
        {"LC_ALL=C", "--lang=it", true},
        {"LC_ALL=it_IT.UTF-8", "--lang en", false},
        {"LC_ALL=it_IT.UTF-8", "", true},
        {"LC_ALL= LC_MESSAGES= LANG=it_CH", "", true},
        {"LC_ALL=C LANG=it_IT", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.environment + " " + c.options);
        const CliRun run = RunCli(VOKTA_CLI, c.options + compare, dir, c.environment);
        EXPECT_EQ(run.status, englishRun.status);
        const std::string told = run.out + run.err;
        EXPECT_EQ(told.find(kItalianDifference) != std::string::npos, c.italian) << told;
        EXPECT_EQ(told.find(kEnglishDifference) != std::string::npos, !c.italian) << told;
    }

    // A copy of the program with no module anywhere near it, nor on the loader's path.
    const std::string kNoModule = "-u LD_LIBRARY_PATH LC_ALL=it_IT";
    ASSERT_EQ(Shell("cp " VOKTA_CLI " '" + dir.File("vokta-cli") + "'"), 0);
    const CliRun alone = RunCli(dir.File("vokta-cli"), "--lang it drives", dir, kNoModule);
    EXPECT_EQ(alone.status, kExitUsage);
    EXPECT_EQ(alone.out, "");
    EXPECT_TRUE(alone.err.starts_with("vokta-cli: --lang it: the Italian texts come with the Italian resource module, "
                                      "which is not installed; only --lang en is available\n"))
        << alone.err;
    const CliRun withoutModule = RunCli(dir.File("vokta-cli"), compare, dir, kNoModule);
    EXPECT_EQ(withoutModule.out + withoutModule.err, english);
    ExpectUsageError("--lang fr drives", "--lang: 'fr' is not en or it", "COMMAND");
}

// The installation under a prefix of its own: the installed program finds the installed
// module relative to itself.
TEST_F(Cli, TheInstalledProgramFindsItsItalianModule)
{
    const std::string root = dir.File("root");
    ASSERT_EQ(Shell("DESTDIR='" + root + "' '" CMAKE_COMMAND "' --install '" VOKTA_BINARY_DIR
                    "' --prefix /opt/vokta >/dev/null"),
              0);
    WriteDisketteAndOther();
    const CliRun run = RunCli(root + "/opt/vokta/bin/vokta-cli", "--lang it --drive A:=a.img compare differs.dim A:",
                              dir, "-u LD_LIBRARY_PATH");
    EXPECT_NE((run.out + run.err).find(kItalianDifference), std::string::npos) << run.out << run.err;
}

TEST_F(Cli, TheOutcomeIsTheLastLineAndTheStatus)
{
    const std::vector<uint8_t> diskette = WriteDisketteAndOther();
    WriteFile(dir.File("same.dim"), diskette);
    WriteFile(dir.File("small.dim"), PatternImage(kMedia720K));

    const CliRun done = Run("--drive A:=a.img compare same.dim A:");
    EXPECT_EQ(done.LastLine(), "OK.");
    EXPECT_EQ(done.status, 0);

    const CliRun mismatch = Run("--drive A:=a.img compare differs.dim A:");
    EXPECT_EQ(mismatch.LastLine(), "Differences found !");
    EXPECT_EQ(mismatch.status, kExitDiffers);
    EXPECT_NE(mismatch.err.find("Message: "), std::string::npos) << mismatch.err;

    const CliRun otherMedia = Run("--drive A:=a.img compare small.dim A:");
    EXPECT_EQ(otherMedia.LastLine(), "Failed !") << "a 720K image against a 1.44M diskette";
    EXPECT_EQ(otherMedia.status, 2);

    const CliRun noImage = Run("--drive A:=a.img compare absent.dim A:");
    EXPECT_EQ(noImage.out, "Failed !\n");
    EXPECT_EQ(noImage.status, 2);

    EXPECT_EQ(ReadFile(dir.File("a.img")), diskette) << "compare writes nothing";
}

TEST_F(Cli, WriteOptionsReachTheOperation)
{
    const std::vector<uint8_t> source = PatternImage(kMedia720K);
    WriteFile(dir.File("source.dim"), source);
    WriteFile(dir.File("blank.img"), {});
    const CliRun unverified = Run("--drive B:=blank.img --assume-yes write --no-verify source.dim B:");
    EXPECT_EQ(unverified.out, "OK.\n") << unverified.err;
    EXPECT_EQ(ReadFile(dir.File("blank.img")), source);
    EXPECT_EQ(unverified.err.find("Press Enter"), std::string::npos) << "one diskette only";

    WriteFile(dir.File("blank2.img"), {});
    const CliRun multi = Run("--drive B:=blank2.img --assume-yes write source.dim B: --multi");
    EXPECT_EQ(multi.out, "OK.\n") << multi.err;
    EXPECT_EQ(ReadFile(dir.File("blank2.img")), source);
    EXPECT_NE(multi.err.find("Press Enter to finish."), std::string::npos)
        << "waits for the next diskette until the end of input finishes it: " << multi.err;
}

namespace {

// Finish in process: the lost-work record is filled by drive objects that end badly,
// which a diskette file on a healthy disk never does.
struct Finishing : ::testing::Test {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    DriveTable drives;
    GlobalOptions options;
    Prompter prompter{options, stdin, err, false};
    Context context{options, drives, out, err, prompter};

    void SetUp() override { TakeLostWork(); }
    void TearDown() override
    {
        std::fclose(out);
        std::fclose(err);
    }
    static std::string Text(std::FILE* f)
    {
        std::fflush(f);
        std::rewind(f);
        std::string text;
        for (int c; (c = std::fgetc(f)) != EOF;)
            text += static_cast<char>(c);
        std::rewind(f);
        return text;
    }
};

}  // namespace

TEST_F(Finishing, EachOutcomeHasItsRowOfTheExitTable)
{
    OperationOutcome lost{kResultDone};
    lost.dataLost = true;
    OperationOutcome differs{kResultAborted};
    differs.figures.firstDifferingCylinder = 3;
    OperationOutcome defects{kResultAborted};
    defects.defectsLeft = true;
    OperationOutcome lostAndLeft = defects;
    lostAndLeft.dataLost = true;
    OperationOutcome failedAfterLoss{kResultFailed};
    failedAfterLoss.dataLost = true;
    EXPECT_EQ(Finish(context, {kResultDone}), 0);
    EXPECT_EQ(Finish(context, {kResultAborted}), 1);
    EXPECT_EQ(Finish(context, {kResultFailed}), 2);
    EXPECT_EQ(Finish(context, {7}), 2) << "any other result is a failure";
    EXPECT_EQ(Finish(context, lost), 3);
    EXPECT_EQ(Finish(context, differs), 4);
    EXPECT_EQ(Finish(context, defects), 5);
    EXPECT_EQ(Finish(context, lostAndLeft), 3) << "a loss of data is never hidden behind another outcome";
    EXPECT_EQ(Finish(context, failedAfterLoss), 2);
    // Two failures in a row print one line: a report that ends with its outcome line is not
    // given it again.
    EXPECT_EQ(Text(out), "OK.\nAborted !\nFailed !\nData lost !\nDifferences found !\nDefects found !\n"
                         "Data lost !\nFailed !\n");
    EXPECT_EQ(Text(err), "");
    for (const ExitRow& row : ExitTable())
        EXPECT_EQ(&ExitRowOf(row.status), &row);
    EXPECT_EQ(ExitRowOf(99).status, kExitFailed);
}

TEST_F(Finishing, LostWorkIsToldAndFailsTheOperation)
{
    RecordLostWork("Changes to drive A: were lost: No space left on device");
    RecordLostWork("Changes to drive B: were lost: Input/output error");
    EXPECT_EQ(Finish(context, {kResultDone, FollowUp::ImageRead}), 2);
    EXPECT_EQ(Text(out), "Failed !\n");
    EXPECT_EQ(Text(err),
              "Changes to drive A: were lost: No space left on device\n"
              "Changes to drive B: were lost: Input/output error\n");
    EXPECT_TRUE(TakeLostWork().empty()) << "told once";
    EXPECT_EQ(Finish(context, {kResultDone}), 0) << "the next operation starts clean";
}

TEST_F(Finishing, AReportEndingWithTheOutcomeLineDoesNotRepeatIt)
{
    context.Print("OK.");
    EXPECT_EQ(Finish(context, {kResultDone}), 0);
    context.Print("Invalid number of FATs.");
    OperationOutcome defects{kResultDone};
    defects.defectsLeft = true;
    EXPECT_EQ(Finish(context, defects), 5);
    EXPECT_EQ(Text(out), "OK.\nInvalid number of FATs.\nDefects found !\n");
}

TEST_F(Finishing, AReportThatCannotReadTheBootSectorFoundADefect)
{
    EmulatedSetup setup{'A', DriveKind::Floppy35HD};
    setup.drive->Insert(EmulatedMedium::FromImage(kMedia144M, FatImage(kMedia144M)));
    // The media is established; then sector 0 does not read.
    setup.recorder->faultHook = [](const DiskRequest& r) -> std::optional<InjectedFault> {
        if (r.controlCode == Control::DosIoctl && r.minor() == Minor::ReadTrack && TrackIoBlock::Cylinder(r.block) == 0 &&
            TrackIoBlock::Head(r.block) == 0 && TrackIoBlock::FirstSector(r.block) == 0)
            return InjectedFault{false, Err::BadCrc};
        return std::nullopt;
    };
    drives = setup.table;
    Arguments args;
    args.operands = {"A:"};
    EXPECT_EQ(InfoCommand(context, args), kExitDefects);
    EXPECT_EQ(Text(out), "Volume Label = <none>\nError: cannot read the Boot sector !\nDefects found !\n");
}

TEST_F(Finishing, TheSameQuestionUnansweredByProgressGetsTheHarmlessAnswer)
{
    // An empty drive: OK to "Please insert a disk !" a few times, then Cancel.
    options.assumeYes = true;
    std::vector<Answer> answers;
    for (int i = 0; i <= Prompter::kMaxUnattendedRepeats; ++i)
        answers.push_back(prompter.Ask("Please insert a disk !", "Message", Buttons::OkCancel, Icon::Information));
    EXPECT_EQ(answers.back(), Answer::Cancel);
    answers.pop_back();
    EXPECT_EQ(answers, std::vector<Answer>(Prompter::kMaxUnattendedRepeats, Answer::Ok));
    prompter.NoteProgress();
    EXPECT_EQ(prompter.Ask("Please insert a disk !", "Message", Buttons::OkCancel, Icon::Information), Answer::Ok)
        << "after progress the question is a new one";
}
