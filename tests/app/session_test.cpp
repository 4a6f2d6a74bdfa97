// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop program without a graphical session: its help and version all the same, and
// otherwise one line that says why not and what to use, never Qt's abort.
#include <gtest/gtest.h>

#include <QFile>
#include <map>
#include <string>

#include "app/session.h"
#include "support/tempdir.h"

using namespace vokta;

namespace {

SessionPlan Plan(const std::map<std::string, std::string>& variables)
{
    return PlanSession([&](const char* name) -> const char* {
        const auto found = variables.find(name);
        return found == variables.end() ? nullptr : found->second.c_str();
    });
}

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

// The program with `arguments`, in an environment cleared of every display but `environment`.
ProgramRun RunProgram(const std::string& environment, const std::string& arguments)
{
    test::TempDir dir;
    ProgramRun run;
    const std::string err = dir.File("err.txt");
    run.status = test::Shell("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XDG_SESSION_TYPE LC_ALL=C "
                             "XDG_CONFIG_HOME='" + dir.path() + "' XDG_RUNTIME_DIR='" + dir.path() + "' " +
                                 environment + " " VOKTA_PROGRAM " " + arguments + " 2>'" + err + "' </dev/null",
                             &run.out);
    const std::vector<uint8_t> bytes = test::ReadFile(err);
    run.err.assign(bytes.begin(), bytes.end());
    return run;
}

// A local X display that no server holds.
std::string DeadDisplay()
{
    for (int number = 173;; ++number)
        if (!QFile::exists(QString("/tmp/.X11-unix/X%1").arg(number)))
            return ":" + std::to_string(number);
}

}  // namespace

TEST(Session, ThePlanAsksForTheDisplaysThenTheStandIn)
{
    struct Case {
        std::map<std::string, std::string> environment;
        bool noSession;
        std::string platforms;
    };
    const Case cases[] = {
        {{}, true, ""},
        {{{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}}, true, ""},
        {{{"QT_QPA_PLATFORM", "xcb"}}, true, ""},
        {{{"DISPLAY", ":0"}}, false, "xcb;minimal"},
        {{{"WAYLAND_DISPLAY", "wayland-0"}}, false, "wayland;minimal"},
        {{{"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", "wayland-0"}}, false, "xcb;wayland;minimal"},
        {{{"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_SESSION_TYPE", "wayland"}}, false,
         "wayland;xcb;minimal"},
        {{{"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "xcb"}}, false, "xcb;minimal"},
        // A platform that needs no display is the user's choice, left alone.
        {{{"QT_QPA_PLATFORM", "offscreen"}}, false, ""},
        {{{"QT_QPA_PLATFORM", "vnc:size=800x600"}}, false, ""},
        {{{"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "xcb;offscreen"}}, false, ""},
    };
    for (const Case& c : cases) {
        const SessionPlan plan = Plan(c.environment);
        EXPECT_EQ(plan.noSession, c.noSession) << c.platforms;
        EXPECT_EQ(plan.platforms, c.platforms);
    }
    EXPECT_TRUE(NoSessionOpened(Plan({{"DISPLAY", ":0"}}), "minimal"));
    EXPECT_FALSE(NoSessionOpened(Plan({{"DISPLAY", ":0"}}), "xcb"));
    EXPECT_FALSE(NoSessionOpened(Plan({{"QT_QPA_PLATFORM", "minimal"}}), "minimal"));
}

TEST(Session, HelpAndVersionNeedNone)
{
    const ProgramRun help = RunProgram("", "--help");
    EXPECT_EQ(help.status, 0) << help.err;
    EXPECT_EQ(help.err, "");
    for (const char* item : {"--drive L:=PATH[,type=T]", "IMAGE", "--help", "--version"})
        EXPECT_NE(help.out.find(item), std::string::npos) << item << "\n" << help.out;
    const ProgramRun version = RunProgram("", "--version");
    EXPECT_EQ(version.status, 0) << version.err;
    EXPECT_EQ(version.out, "vokta " VOKTA_VERSION "\n");
    const ProgramRun wrong = RunProgram("", "--colour");
    EXPECT_EQ(wrong.status, 2);
    EXPECT_TRUE(wrong.err.starts_with("vokta: unknown option --colour\nUsage: vokta")) << wrong.err;
}

TEST(Session, WithoutOneTheProgramSaysSoInOneLine)
{
    const std::string english =
        "vokta needs a graphical session, and none could be opened; in a terminal, use vokta-cli.\n";
    struct Case {
        std::string environment;
        std::string line;
    };
    const Case cases[] = {
        {"", english},
        {"QT_QPA_PLATFORM=xcb", english},
        {"DISPLAY=" + DeadDisplay(), english},
        {"DISPLAY=" + DeadDisplay() + " QT_QPA_PLATFORM=xcb", english},
        {"WAYLAND_DISPLAY=vokta-no-such-wayland", english},
        {"LC_ALL=it_IT.UTF-8 DISPLAY=" + DeadDisplay(),
         "vokta richiede una sessione grafica, e non è stato possibile aprirne una; in un terminale, usare "
         "vokta-cli.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.environment);
        const ProgramRun run = RunProgram(c.environment, "");
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, c.line);
    }
}
