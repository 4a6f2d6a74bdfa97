// SPDX-License-Identifier: GPL-3.0-or-later
// Recreate and Repair's "Write a New Boot" over diskettes other tools make (other layouts,
// damaged boot sectors): the boot sector written describes the volume as it is, so that
// fsck.fat complains no more than before and every file copies out identical, or the
// operation refuses and the diskette is left as it was.
#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <sstream>

#include "boot/bootsector.h"
#include "boot/bootworkers.h"
#include "boot/scriptedreporter.h"
#include "drive/media.h"
#include "drive/volume.h"
#include "fat/repair.h"
#include "support/requiretools.h"
#include "support/scriptedhost.h"
#include "support/tempdir.h"
#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::test;

namespace {

enum class Expect { Written, Refused };

struct Case {
    const char* name;
    const char* make;  // the tool's command; the file's name follows it
    std::function<void(std::span<uint8_t>)> edit = [](std::span<uint8_t>) {};
    Expect expect = Expect::Written;
    MediaType type = kMedia144M;
    bool withFiles = true;
    // Whether the boot sector written passes every test of the boot check.
    bool checkPasses = false;
};

void Put16(std::span<uint8_t> s, size_t at, uint16_t v)
{
    PutU16(s, at, v);
}

const Case kCases[] = {
    {"MkfsDefault", "mkfs.fat -C -i 12345678 {} 1440"},
    {"MkfsDamagedFileSystemName", "mkfs.fat -C {} 1440", [](auto s) { std::copy_n("FAT     ", 8, s.begin() + 54); }},
    {"MkfsFourReservedSectors", "mkfs.fat -C -R 4 {} 1440"},
    {"MkfsOneFat", "mkfs.fat -C -f 1 {} 1440"},
    {"MkfsFourFats", "mkfs.fat -C -f 4 {} 1440"},
    {"MkfsTwoSectorClusters", "mkfs.fat -C -s 2 {} 1440"},
    {"MkfsSixteenRootEntries", "mkfs.fat -C -r 16 {} 1440"},
    {"Mkfs720K", "mkfs.fat -C {} 720", [](auto) {}, Expect::Written, kMedia720K},
    {"MformatOneFat", "mformat -C -f 1440 -d 1 -i {} ::"},
    {"Mformat172M", "mformat -C -t 82 -h 2 -s 21 -i {} ::", [](auto) {}, Expect::Written, kMedia172M},
    // Sectors of 4096 bytes cannot be told with 512-byte ones.
    {"Mkfs4096ByteSectors", "mkfs.fat -C -S 4096 {} 1440", [](auto) {}, Expect::Refused},
    {"TwentyOneSectorTracks", "mkfs.fat -C {} 1440", [](auto s) { Put16(s, 24, 21); }},
    {"OneHead", "mkfs.fat -C {} 1440", [](auto s) { Put16(s, 26, 1); }},
    {"LotsOfHeads", "mkfs.fat -C {} 1440", [](auto s) { Put16(s, 26, 65535); }},
    {"NoSectorsPerCluster", "mkfs.fat -C {} 1440", [](auto s) { s[13] = 0; }},
    {"NoRootEntries", "mkfs.fat -C {} 1440", [](auto s) { Put16(s, 17, 0); }},
    {"FatOfTwoHundredSectors", "mkfs.fat -C {} 1440", [](auto s) { Put16(s, 22, 200); }},
    {"ZeroedBootSectorOfTheTablesLayout", "mkfs.fat -C {} 1440", [](auto s) { std::fill(s.begin(), s.end(), 0); }},
    // Without its boot sector nothing tells where these volumes keep their FATs.
    {"ZeroedBootSectorOfFourReservedSectors", "mkfs.fat -C -R 4 {} 1440",
     [](auto s) { std::fill(s.begin(), s.end(), 0); }, Expect::Refused},
    {"ZeroedBootSectorOfOneFat", "mkfs.fat -C -f 1 {} 1440", [](auto s) { std::fill(s.begin(), s.end(), 0); },
     Expect::Refused},
    {"NoSectorsPerClusterOfTwoSectorClusters", "mkfs.fat -C -s 2 {} 1440", [](auto s) { s[13] = 0; },
     Expect::Refused},
    // FAT counts no volume has: empty sectors where the extra copies would lie confirm none.
    {"NoFats", "mkfs.fat -C {} 1440", [](auto s) { s[16] = 0; }, Expect::Written, kMedia144M, true, true},
    {"NoFatsEmpty", "mkfs.fat -C {} 1440", [](auto s) { s[16] = 0; }, Expect::Written, kMedia144M, false, true},
    {"ThreeFats", "mkfs.fat -C {} 1440", [](auto s) { s[16] = 3; }, Expect::Written, kMedia144M, true, true},
    {"ThreeFatsEmpty", "mkfs.fat -C {} 1440", [](auto s) { s[16] = 3; }, Expect::Written, kMedia144M, false, true},
    {"FiveFats", "mkfs.fat -C {} 1440", [](auto s) { s[16] = 5; }, Expect::Written, kMedia144M, true, true},
    {"FiveFatsEmpty", "mkfs.fat -C {} 1440", [](auto s) { s[16] = 5; }, Expect::Written, kMedia144M, false, true},
    {"TwoHundredFiftyFiveFats", "mkfs.fat -C {} 1440", [](auto s) { s[16] = 255; }, Expect::Written, kMedia144M,
     true, true},
    {"TwoHundredFiftyFiveFatsEmpty", "mkfs.fat -C {} 1440", [](auto s) { s[16] = 255; }, Expect::Written,
     kMedia144M, false, true},
};

const Case& CaseNamed(std::string_view name)
{
    return *std::find_if(std::begin(kCases), std::end(kCases), [&](const Case& c) { return c.name == name; });
}

std::string BoxesOf(const ScriptedHost& host)
{
    std::string all;
    for (const std::string& text : host.BoxTexts())
        all += text + "\n";
    return all;
}

struct VolumeWrites : ::testing::Test {
    TempDir dir;
    std::string made = dir.File("made.img");
    std::string work = dir.File("work.img");
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;

    void SetUp() override
    {
        RequireTools({"mkfs.fat", "mformat", "mcopy", "fsck.fat"});
        setenv("MTOOLS_SKIP_CHECK", "1", 1);
    }

    void Make(const Case& c)
    {
        std::remove(made.c_str());
        std::string command = c.make;
        command.replace(command.find("{}"), 2, ShellQuoted(made));
        ASSERT_EQ(Shell(command + " >/dev/null 2>&1"), 0) << command;
        files.clear();
        if (c.withFiles)
            files = {{"FIRST.BIN", RandomBytes(2000, 1)}, {"BIG.BIN", RandomBytes(60000, 2)}, {"NOTE.TXT", RandomBytes(700, 3)}};
        for (const auto& [name, bytes] : files) {
            const std::string source = dir.File(name);
            WriteFile(source, bytes);
            std::string out;
            ASSERT_EQ(Shell("mcopy -i " + ShellQuoted(made) + " " + ShellQuoted(source) + " ::" + name + " 2>&1", &out), 0)
                << out;
        }
        std::vector<uint8_t> image = ReadFile(made);
        c.edit(std::span(image).first(512));
        WriteFile(made, image);
    }

    // What fsck.fat complains of, line by line, without its banner, its summary and what it
    // would do; without the label's agreement when `labelsAside` (the repair's new boot
    // sector carries a label of its own, which the root directory does not).
    static std::vector<std::string> Complaints(const std::string& image, bool labelsAside)
    {
        std::string out;
        Shell("fsck.fat -n " + ShellQuoted(image) + " 2>&1", &out);
        std::vector<std::string> complaints;
        std::istringstream lines(out);
        std::string line;
        const std::regex ignored("^(fsck\\.fat .*|  .*|Leaving filesystem unchanged\\.|.*: \\d+ files?, .*|)$");
        while (std::getline(lines, line)) {
            const bool label = line.find("abel") != std::string::npos;
            if (!std::regex_match(line, ignored) && !(labelsAside && label))
                complaints.push_back(line);
        }
        return complaints;
    }

    bool FilesCopyOut(const std::string& image)
    {
        for (const auto& [name, bytes] : files) {
            std::string read;
            if (Shell("mcopy -n -i " + ShellQuoted(image) + " ::" + name + " - 2>/dev/null", &read) != 0 ||
                !std::ranges::equal(read, bytes, [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; }))
                return false;
        }
        return true;
    }

    // The invariant over what an operation left in `work`: the boot sector alone changed,
    // into one that states the medium's geometry and size and fsck.fat and mtools take
    // as before; or, refused, nothing changed.
    void ExpectKeptOrRefused(const Case& c, bool refused, bool labelsAside = false)
    {
        const std::vector<uint8_t> original = ReadFile(made);
        const std::vector<uint8_t> after = ReadFile(work);
        ASSERT_EQ(after.size(), original.size());
        if (c.expect == Expect::Refused) {
            EXPECT_TRUE(refused);
            EXPECT_TRUE(after == original) << "a refused operation changed the diskette";
            return;
        }
        EXPECT_FALSE(refused);
        EXPECT_TRUE(std::equal(original.begin() + 512, original.end(), after.begin() + 512))
            << "a sector other than the boot sector changed";
        const MediaGeometry g = *GeometryOf(c.type);
        EXPECT_EQ(GetU16(after, 24), g.sectorsPerTrack);
        EXPECT_EQ(GetU16(after, 26), g.heads);
        EXPECT_EQ(GetU16(after, 19), g.totalSectors);
        EXPECT_EQ(GetU32(after, 32), 0u);
        const std::vector<std::string> before = Complaints(made, labelsAside);
        for (const std::string& complaint : Complaints(work, labelsAside))
            EXPECT_NE(std::find(before.begin(), before.end(), complaint), before.end()) << "new: " << complaint;
        EXPECT_TRUE(FilesCopyOut(work)) << "a file does not copy out as it went in";
        if (c.checkPasses) {
            const BootCheckReport check = CheckBootSectorBytes(std::span(after).first(512));
            EXPECT_EQ(BootCheckLines(check), std::vector<std::string>{"OK."});
        }
    }

    DriveKind KindOf(MediaType type) { return type == kMedia12M ? DriveKind::Floppy525HD : DriveKind::Floppy35HD; }

    // Recreate on the Boot page; whether it refused.
    bool Recreate(const Case& c, ScriptedReporter& page)
    {
        WriteFile(work, ReadFile(made));
        DriveTable table;
        std::shared_ptr<RecordingService> recorder = BindRecordedFile(table, 'A', work, KindOf(c.type));
        EXPECT_TRUE(recorder);
        const bool written = RunBootRecreate(BootJob{"A:", {"error.wav", "done.wav"}}, page, table);
        // The diskette file is saved when its last user lets it go.
        recorder.reset();
        table.Unbind('A');
        return !written;
    }

    // Repair with "Write a New Boot" and "Try to Format" of the system area; whether it
    // ended before the walk was done.
    bool Repair(const Case& c, ScriptedHost& host, DataChoice data = DataChoice::Stop)
    {
        WriteFile(work, ReadFile(made));
        DriveTable table;
        std::shared_ptr<RecordingService> recorder = BindRecordedFile(table, 'A', work, KindOf(c.type));
        EXPECT_TRUE(recorder);
        RepairJob job;
        job.inputs->driveText = "A:";
        job.inputs->boot = BootChoice::WriteNew;
        job.inputs->system = SystemChoice::TryFormat;
        job.inputs->data = data;
        job.drives = table;
        const OperationOutcome outcome = RepairWorker(job, host);
        recorder.reset();
        table.Unbind('A');
        return outcome.result != kResultDone;
    }
};

}  // namespace

TEST_F(VolumeWrites, RecreateKeepsEveryVolumeOrRefuses)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(Make(c));
        ScriptedReporter page;
        const bool refused = Recreate(c, page);
        ExpectKeptOrRefused(c, refused);
        if (refused) {
            ASSERT_EQ(page.boxes.size(), 1u);
            EXPECT_EQ(page.state(), "Write Failed !");
        }
    }
}

TEST_F(VolumeWrites, NewBootOfRepairKeepsEveryVolumeOrRefuses)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(Make(c));
        ScriptedHost host;
        const bool stopped = Repair(c, host);
        const std::vector<uint8_t> image = ReadFile(made);
        const BootCheckReport check = CheckBootSectorBytes(std::span(image).first(512));
        if (check.result == BootCheck::Ok) {
            // Nothing to fix: the repair walks the diskette and writes nothing.
            EXPECT_FALSE(stopped);
            EXPECT_TRUE(ReadFile(work) == ReadFile(made));
            continue;
        }
        ExpectKeptOrRefused(c, stopped, true);
    }
}

TEST_F(VolumeWrites, RefusalsSayWhy)
{
    const Case& sectors4096 = CaseNamed("Mkfs4096ByteSectors");
    ASSERT_NO_FATAL_FAILURE(Make(sectors4096));
    ScriptedReporter page;
    Recreate(sectors4096, page);
    ASSERT_EQ(page.boxes.size(), 1u);
    EXPECT_EQ(page.boxes[0].text, "The diskette's sectors are not 512 bytes long: nothing was written.");

    const Case& zeroed = CaseNamed("ZeroedBootSectorOfFourReservedSectors");
    ASSERT_NO_FATAL_FAILURE(Make(zeroed));
    ScriptedHost host;
    Repair(zeroed, host);
    EXPECT_NE(BoxesOf(host).find("The layout of the volume cannot be confirmed from the diskette"), std::string::npos)
        << BoxesOf(host);
}

// The geometry a damaged boot sector states never reaches the drive: every transfer lands
// on the medium's own tracks, nothing is reformatted or marked BAD, and the files stay.
TEST_F(VolumeWrites, RepairOfAWrongGeometryLosesNothing)
{
    for (const Case& c : kCases) {
        const std::string name = c.name;
        if (name != "TwentyOneSectorTracks" && name != "OneHead" && name != "LotsOfHeads")
            continue;
        SCOPED_TRACE(name);
        ASSERT_NO_FATAL_FAILURE(Make(c));
        EXPECT_TRUE(Complaints(made, false).empty()) << "fsck.fat takes the edited diskette";
        for (DataChoice data : {DataChoice::MarkTrack, DataChoice::MarkCylinder, DataChoice::TryFormat}) {
            ScriptedHost host;
            EXPECT_FALSE(Repair(c, host, data)) << BoxesOf(host);
            ExpectKeptOrRefused(c, false, true);
        }
    }
}
