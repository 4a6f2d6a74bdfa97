// SPDX-License-Identifier: GPL-3.0-or-later
// A diskette file nobody may write is a write-protected diskette for every user, root
// included: every command that writes is refused as on a write-protected diskette and the
// file keeps its bytes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/clirun.h"
#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::test;

TEST(ReadOnlyDisketteFile, EveryWritingCommandIsRefused)
{
    const struct {
        const char* command;
        bool brokenBootSector;
        const char* told;
    } cases[] = {
        {"format A: --quick", false, "Write protect"},
        {"write other.dim A:", false, "Write protect"},
        {"label A: NEWNAME", false, "Write protect"},
        {"boot recreate A:", false, "Write protect"},
        {"repair A: --boot write", true, "Cannot write the Boot sector !"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        TempDir dir;
        std::vector<uint8_t> image = FatImage(kMedia144M);
        if (c.brokenBootSector)
            image[510] = 0;
        WriteFile(dir.File("ro.img"), image);
        WriteFile(dir.File("other.dim"), PatternImage(kMedia144M));
        ASSERT_EQ(chmod(dir.File("ro.img").c_str(), 0444), 0);
        const CliRun run = RunCli(VOKTA_CLI, std::string("--drive A:=ro.img --assume-yes ") + c.command, dir);
        EXPECT_NE(run.status, 0) << run.out;
        EXPECT_NE(run.err.find(c.told), std::string::npos) << run.err << run.out;
        EXPECT_EQ(ReadFile(dir.File("ro.img")), image);
    }
}
