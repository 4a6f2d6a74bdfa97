// SPDX-License-Identifier: GPL-3.0-or-later
// vokta-cli for scripts: every command's JSON object (read by Python's own parser), the
// figures the operations count against what the diskette holds, the exit statuses, a read
// that will not replace an image without --force, and --quiet. Diskettes made by mkfs.fat
// and mtools, kept as raw files and as ImageDisk files with data errors.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>

#include "cli/cli.h"
#include "res/strings.h"
#include "support/clirun.h"
#include "support/imagediskfile.h"
#include "support/requiretools.h"
#include "support/tempdir.h"

using namespace vokta;
using namespace vokta::test;
using namespace vokta::cli;

namespace {

// Each scalar of a JSON text as "path=value", the value as JSON writes it; an array's
// length as "path.#=n".
constexpr const char* kFlatten = R"(
import json, sys
def walk(path, value):
    if isinstance(value, dict):
        for key, item in value.items():
            walk(path + [key], item)
    elif isinstance(value, list):
        print(".".join(path + ["#"]) + "=" + str(len(value)))
        for index, item in enumerate(value):
            walk(path + [str(index)], item)
    else:
        print(".".join(path) + "=" + json.dumps(value, ensure_ascii=False))
walk([], json.loads(sys.stdin.read()))
)";

// ROOT.BIN, 6000 bytes, lies on sectors 33..44 of the 1.44M diskette mkfs.fat makes.
const std::set<uint32_t> kUnreadable = {40, 41, 42};
constexpr size_t kCylinderBytes = 18 * 2 * 512;

struct Case {
    const char* what;
    std::string args;
    int status;
    // "path=value" must be in the JSON object, "path~text" must hold text; none: no --json.
    std::vector<std::string> json;
    std::vector<std::string> errHas{};
    std::vector<std::string> errLacks{};
};

struct CliScripts : ::testing::Test {
    TempDir dir;
    std::vector<uint8_t> original;

    void SetUp() override
    {
        if (!RequireTools({"mkfs.fat", "mcopy", "python3"}))
            GTEST_SKIP() << "mkfs.fat, mtools and python3 are needed";
        setenv("MTOOLS_SKIP_CHECK", "1", 1);
        const std::string made = dir.File("clean.img");
        WriteFile(dir.File("root.bin"), RandomBytes(6000, 7));
        std::string out;
        ASSERT_EQ(Shell("mkfs.fat -C -n SCRIPTS --invariant " + ShellQuoted(made) + " 1440 >/dev/null 2>&1 && mcopy -i " +
                            ShellQuoted(made) + " " + ShellQuoted(dir.File("root.bin")) + " ::ROOT.BIN 2>&1",
                        &out),
                  0)
            << out;
        original = ReadFile(made);
        WriteImageDiskFile(dir.File("errors.imd"), kMedia144M, original, kUnreadable);
        WriteImageDiskFile(dir.File("repair.imd"), kMedia144M, original, kUnreadable);
        std::vector<uint8_t> differs = original;
        differs[40 * kCylinderBytes + 100] ^= 0x55;
        WriteFile(dir.File("differs.img"), differs);
        WriteFile(dir.File("existing.img"), {1, 2, 3});
        WriteFile(dir.File("tiny.img"), {1, 2, 3});
        WriteFile(dir.File("blank.img"), {});
        WriteFile(dir.File("blank2.img"), {});
        WriteFile(dir.File("blank3.img"), {});
        WriteFile(dir.File("flatten.py"), std::vector<uint8_t>(kFlatten, kFlatten + std::strlen(kFlatten)));
    }

    std::map<std::string, std::string> Flattened(const std::string& json)
    {
        WriteFile(dir.File("out.json"), std::vector<uint8_t>(json.begin(), json.end()));
        std::string flat;
        EXPECT_EQ(Shell("python3 " + ShellQuoted(dir.File("flatten.py")) + " < " + ShellQuoted(dir.File("out.json")) +
                        " 2>&1", &flat), 0)
            << "not one JSON object: " << json << flat;
        std::map<std::string, std::string> fields;
        std::istringstream lines(flat);
        for (std::string line; std::getline(lines, line);)
            fields[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
        return fields;
    }

    void Check(const Case& c)
    {
        SCOPED_TRACE(std::string(c.what) + ": " + c.args);
        const CliRun run = RunCli(VOKTA_CLI, c.args, dir);
        EXPECT_EQ(run.status, c.status) << run.out << run.err;
        for (const std::string& text : c.errHas)
            EXPECT_NE(run.err.find(text), std::string::npos) << text << "\n" << run.err;
        for (const std::string& text : c.errLacks)
            EXPECT_EQ(run.err.find(text), std::string::npos) << text << "\n" << run.err;
        if (c.json.empty())
            return;
        const std::map<std::string, std::string> fields = Flattened(run.out);
        EXPECT_EQ(fields.at("exit"), std::to_string(c.status));
        for (const std::string& expected : c.json) {
            const size_t mark = expected.find_first_of("=~");
            const std::string path = expected.substr(0, mark);
            const std::string value = expected.substr(mark + 1);
            const auto found = fields.find(path);
            ASSERT_NE(found, fields.end()) << path << " is missing from " << run.out;
            if (expected[mark] == '=')
                EXPECT_EQ(found->second, value) << path;
            else
                EXPECT_NE(found->second.find(value), std::string::npos) << path << ": " << found->second;
        }
    }
};

}  // namespace

TEST_F(CliScripts, EveryCommandReportsItsOutcomeToScripts)
{
    const std::string clean = "--drive A:=clean.img ";
    const std::string errors = "--drive A:=errors.imd ";
    const std::string differsAt40 = "firstDifferingCylinder=40";
    // A head's line of the track map: one character per cylinder.
    const auto row = [](const std::string& start, char rest) {
        return "\"" + start + std::string(80 - start.size(), rest) + "\"";
    };
    const std::vector<Case> cases = {
        {"a whole diskette read", "--json " + clean + "--assume-yes read A: copy.img", kExitDone,
         {"command=\"read\"", "result=\"done\"", "text=\"OK.\"", "figures.read=2880", "figures.ignored=0",
          "figures.written=0", "figures.firstDifferingCylinder=null", "lost.#=0", "lines.#=1", "lines.0=\"OK.\"",
          "trackMap.cylinders=80", "trackMap.heads=2", "trackMap.tracks.#=2", "trackMap.tracks.1=" + row("", '+')},
         {},
         {"Track Map", "H0 "}},
        {"three unreadable sectors ignored", "--json " + errors + "--assume-yes --on-error ignore read A: lost.img",
         kExitDataLost,
         {"result=\"data-lost\"", "text=\"Data lost !\"", "figures.read=2877", "figures.ignored=3", "lost.#=1",
          "lost.0~ROOT.BIN (sectors 40, 41, 42)", "messages.1.answer=\"Ignore\"", "messages.1.caption=\"Duplicate Disk Error\"",
          "trackMap.tracks.0=" + row("+X", '+'), "trackMap.tracks.1=" + row("", '+')}},
        {"an unreadable sector aborted", "--json " + errors + "--assume-yes --on-error abort read A: aborted.img",
         kExitAborted, {"result=\"aborted\"", "text=\"Aborted !\"", "messages.1.answer=\"Abort\""}},
        {"an image that exists", "--json " + clean + "--assume-yes read A: existing.img", kExitFailed,
         {"result=\"failed\"", "text=\"Failed !\"", "figures.read=0", "messages.#=1", "messages.0.caption=\"Error\"",
          "messages.0.text=\"existing.img exists already: it is replaced only with --force.\""},
         {"existing.img exists already: it is replaced only with --force."}},
        {"an image replaced on purpose", clean + "--assume-yes read A: existing.img --force", kExitDone, {},
         {"Track Map:\n   0         10        20        30\nH0 ++++++++++", "\n+ good (160)\n"}},
        {"a blank diskette written and verified", "--json --drive B:=blank.img --assume-yes write clean.img B:",
         kExitDone, {"result=\"done\"", "figures.written=2880", "figures.verified=2880", "figures.read=0",
                     "trackMap.tracks.0=" + row("", 'v')}},
        {"written without verifying", "--json --drive B:=blank2.img --assume-yes write clean.img B: --no-verify",
         kExitDone, {"figures.written=2880", "figures.verified=0", "trackMap.tracks.1=" + row("", 'w')}},
        {"the same diskette compared", "--json " + clean + "compare clean.img A:", kExitDone,
         {"result=\"done\"", "figures.read=2880", "figures.firstDifferingCylinder=null"}},
        {"a difference in cylinder 40", "--json " + clean + "compare differs.img A:", kExitDiffers,
         {"result=\"differs\"", "text=\"Differences found !\"", "figures." + differsAt40, "figures.read=1476",
          "trackMap.tracks.0=" + row(std::string(40, '+') + "D", '.'),
          "trackMap.tracks.1=" + row(std::string(41, '+'), '.'),
          "messages.0.caption=\"Message\"",
          "messages.0.text=\"The disk into the drive doesn't NOT match with that in the memory image !\""}},
        {"an unreadable sector left out of the comparison",
         "--json " + errors + "--on-error ignore compare clean.img A:", kExitDone,
         {"figures.read=2877", "figures.ignored=3"}},
        {"Abort at an unreadable sector is no difference", "--json " + errors + "--on-error abort compare clean.img A:",
         kExitAborted, {"result=\"aborted\"", "figures.firstDifferingCylinder=null"}},
        {"a blank diskette formatted", "--json --drive B:=blank3.img,type=1.44m --assume-yes format B: --media 1.44m",
         kExitDone, {"command=\"format\"", "figures.verified=2880", "trackMap.tracks.1=" + row("", 'v')}},
        {"a repair that loses a file's sectors",
         "--json --drive A:=repair.imd --assume-yes repair A: --system format --data format", kExitDataLost,
         {"command=\"repair\"", "result=\"data-lost\"", "figures.ignored=3", "lost.#=1", "lost.0~ROOT.BIN"}},
        {"the media", "--json " + clean + "media A:", kExitDone,
         {"media.type=\"1.44m\"", "media.cylinders=80", "media.heads=2", "media.sectorsPerTrack=18",
          "media.totalSectors=2880"}},
        {"no media", "--json --drive A:=tiny.img media A:", kExitFailed, {"result=\"failed\"", "error~"}},
        {"the report", "--json " + clean + "info A:", kExitDone,
         {"report.label=\"SCRIPTS\"", "report.fileSystem=\"FAT12\"", "report.totalSectors=2880", "report.cylinders=80",
          "report.sectorsPerTrack=18", "report.heads=2", "report.firstDataSector=33", "report.oemName=\"mkfs.fat\"",
          "lines.0=\"Volume Label = SCRIPTS\""}},
        {"the label", "--json " + clean + "label A:", kExitDone, {"label=\"SCRIPTS\"", "lines.0=\"SCRIPTS\""}},
        {"the boot check", "--json " + clean + "boot check A:", kExitDone, {"command=\"boot\"", "result=\"done\""}},
        {"the drives", "--json --drive A:=clean.img drives", kExitDone,
         {"drives.0.letter=\"A\"", "drives.0.kind=\"removable\"", "drives.0.path~clean.img", "drives.0.entry~A:  "}},
        // --quiet: nothing but questions, warnings and errors on stderr.
        {"a quiet read", "--quiet " + clean + "--assume-yes read A: quiet.img", kExitDone, {}, {},
         {"Media Type", "Reading", "Warning", "Track Map", "H0 "}},
        {"a quiet read still warns of lost data", "-q " + errors + "--assume-yes --on-error ignore read A: quiet2.img",
         kExitDataLost, {}, {"Duplicate Disk Error: ", "  -> Ignore", "ROOT.BIN"}, {"Media Type"}},
        {"a quiet compare tells the difference", "-q " + clean + "compare differs.img A:", kExitDiffers, {},
         {"Message: The disk into the drive doesn't NOT match"}, {"Comparing"}},
        {"a quiet refusal names the file and the option", "-q " + clean + "read A: existing.img", kExitFailed, {},
         {"existing.img exists already: it is replaced only with --force."}},
    };
    for (const Case& c : cases)
        Check(c);
    EXPECT_EQ(ReadFile(dir.File("clean.img")), original) << "no command changed the source";
    EXPECT_EQ(ReadFile(dir.File("copy.img")), original);
    EXPECT_EQ(ReadFile(dir.File("existing.img")), original) << "replaced with --force only";
    EXPECT_EQ(ReadFile(dir.File("blank.img")), original);
}

TEST_F(CliScripts, JsonTextsAreEscapedAndValidUtf8)
{
    // A file name with quotes, a backslash, a tab and a byte that is no UTF-8.
    const std::string odd = "odd \"name\"\\\t\xe9.img";
    WriteFile(dir.File(odd), {1});
    const CliRun run = RunCli(VOKTA_CLI, "--json --drive A:=clean.img read A: " + ShellQuoted(odd), dir);
    EXPECT_EQ(run.status, kExitFailed);
    const std::map<std::string, std::string> fields = Flattened(run.out);
    EXPECT_EQ(fields.at("messages.0.text"),
              "\"odd \\\"name\\\"\\\\\\t\xef\xbf\xbd.img exists already: it is replaced only with --force.\"");
}

TEST_F(CliScripts, HelpListsEveryExitStatus)
{
    const CliRun run = RunCli(VOKTA_CLI, "--help", dir);
    for (const ExitRow& row : ExitTable()) {
        const std::string head = (row.status < 10 ? "   " : "  ") + std::to_string(row.status) + " " + std::string(row.word);
        EXPECT_NE(run.out.find("\n" + head + " "), std::string::npos) << head;
    }
    EXPECT_NE(run.out.find("(\"Defects found !\")\n"), std::string::npos) << run.out;
}

namespace {

// One run and what it must end with: the status, the last line on stdout (none for a
// usage error) and what stderr tells.
struct Ending {
    std::string args;
    int status;
    std::vector<std::string> errHas{};
};

// Every command on drive A:, its arguments around the letter.
const std::vector<std::string> kOnDriveA = {
    "media A:", "boot check A:", "-y boot recreate A:", "read A: never.img", "write clean.img A:",
    "compare clean.img A:", "-y format A:", "label A:", "label A: NEW", "info A:", "repair A:",
};

}  // namespace

TEST_F(CliScripts, EveryCommandEndsWithTheOutcomeOfItsStatus)
{
    std::vector<uint8_t> unsigned_ = original;
    unsigned_[510] = unsigned_[511] = 0;
    WriteFile(dir.File("unsigned.img"), unsigned_);
    WriteFile(dir.File("unsigned2.img"), unsigned_);
    WriteImageDiskFile(dir.File("bootunread.imd"), kMedia144M, original, std::set<uint32_t>{0});
    WriteImageDiskFile(dir.File("errors2.imd"), kMedia144M, original, kUnreadable);
    ASSERT_EQ(symlink("nowhere.img", dir.File("dangling.img").c_str()), 0);
    WriteFile(dir.File("protected.img"), unsigned_);
    chmod(dir.File("protected.img").c_str(), 0444);

    std::vector<Ending> endings = {
        {"--drive A:=clean.img drives", kExitDone},
        {"--drive A:=clean.img media A:", kExitDone},
        {"--drive A:=clean.img boot check A:", kExitDone},
        {"--drive A:=clean.img info A:", kExitDone},
        {"--drive A:=clean.img label A:", kExitDone},
        {"--drive A:=clean.img compare clean.img A:", kExitDone},
        {"--drive A:=clean.img repair A:", kExitDone},
        {"--drive A:=clean.img read A: copy.img", kExitDone},
        {"--drive A:=clean.img --on-error abort read A: copy2.img", kExitDone},
        {"--drive A:=errors.imd --on-error abort read A: never.img", kExitAborted, {"  -> Abort"}},
        {"--drive A:=errors.imd --on-error abort compare clean.img A:", kExitAborted, {"  -> Abort"}},
        {"--drive A:=protected.img repair A: --boot write", kExitAborted,
         {"Error: Cannot write the Boot sector !\n", "  -> Cancel"}},
        {"--drive A:=tiny.img media A:", kExitFailed, {"tiny.img: 3 bytes"}},
        {"--drive A:=tiny.img info A:", kExitFailed, {"tiny.img: 3 bytes"}},
        {"--drive A:=blank.img media A:", kExitFailed},
        {"--drive A:=clean.img compare absent.img A:", kExitFailed, {"absent.img: "}},
        {"--drive A:=bootunread.imd boot check A:", kExitFailed, {"Check failed !"}},
        {"--drive A:=bootunread.imd info A:", kExitFailed},
        {"--drive A:=errors2.imd --on-error ignore read A: lost.img", kExitDataLost, {"ROOT.BIN"}},
        {"--drive A:=clean.img compare differs.img A:", kExitDiffers},
        {"--drive A:=unsigned.img boot check A:", kExitDefects},
        {"--drive A:=unsigned2.img repair A:", kExitDefects, {"Error: Invalid Boot sector found !\n"}},
        {"--drive A:=errors2.imd repair A:", kExitDefects},
        {"format", kExitUsage, {"vokta-cli: "}},
        {"--drive A:=clean.img boot inspect A:", kExitUsage, {"vokta-cli: "}},
    };
    // A diskette file that is not there is told the same way by every command.
    for (const std::string& command : kOnDriveA) {
        endings.push_back({"--drive A:=gone.img " + command, kExitFailed,
                           {"Error: gone.img: there is no such diskette file.\n"}});
        endings.push_back({"--drive A:=dangling.img " + command, kExitFailed,
                           {"Error: dangling.img: the diskette file is a link to nowhere.img, which does not exist.\n"}});
    }
    for (const Ending& e : endings) {
        SCOPED_TRACE(e.args);
        const CliRun run = RunCli(VOKTA_CLI, e.args, dir);
        EXPECT_EQ(run.status, e.status) << run.out << run.err;
        const std::optional<Str> line = ExitRowOf(e.status).line;
        EXPECT_EQ(run.LastLine(), line ? LoadString(*line) : "") << run.out;
        EXPECT_EQ(run.err.find(": \n"), std::string::npos) << "a caption alone on its line: " << run.err;
        EXPECT_EQ(run.err.find("\n\n"), std::string::npos) << "an empty line: " << run.err;
        for (const std::string& text : e.errHas)
            EXPECT_NE(run.err.find(text), std::string::npos) << text << "\n" << run.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("never.img")));
    EXPECT_EQ(ReadFile(dir.File("protected.img")), unsigned_);
}
