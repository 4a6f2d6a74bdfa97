// SPDX-License-Identifier: GPL-3.0-or-later
// Sectors that could not be read are named by what they held: a read that ignored them and
// a repair that could not read them tell each file, directory and area with its count,
// and vokta-cli's status says when data was lost. Diskettes made by mkfs.fat and mtools,
// files in the root and in a subdirectory, kept as ImageDisk files with data errors.
#include <gtest/gtest.h>

#include <cstdlib>

#include "cli/cli.h"
#include "fat/fatdisk.h"
#include "fat/volumemap.h"
#include "res/languagemodule.h"
#include "support/clirun.h"
#include "support/imagediskfile.h"
#include "support/requiretools.h"
#include "support/tempdir.h"

using namespace vokta;
using namespace vokta::test;

namespace {

// Where mtools puts what the case diskette holds, one after the other from cluster 2
// (1.44M: cluster c is sector c + 31): ROOT.BIN on clusters 2..13 (sectors 33..44), the
// directory SUB on 14 (sector 45), "Inner file.txt" in it on 15..17 (sectors 46..48).
constexpr uint32_t kRootBin = 40;       // its 8th sector
constexpr uint32_t kRootBinNext = 41;
constexpr uint32_t kSubDirectory = 45;
constexpr uint32_t kInnerFile = 47;
constexpr uint32_t kFreeSpace = 100;
constexpr uint32_t kFatCopy1 = 2;       // the second sector of each FAT copy
constexpr uint32_t kFatCopy2 = 11;

const std::string kHeader = "Warning: Sectors that could not be read now hold zeros. What they held:";
const std::string kRootLine = "  1 in A:\\ROOT.BIN (sectors 40)";
const std::string kSubLine = "  1 in the directory A:\\SUB: the files it listed there may be lost (sectors 45)";
const std::string kInnerLine = "  1 in A:\\SUB\\INNERF~1.TXT (Inner file.txt) (sectors 47)";
const std::string kFreeLine = "  1 in free space, which held no data (sectors 100)";

uint16_t StartCluster(const std::vector<uint8_t>& image, uint32_t directorySector, const std::string& name11)
{
    for (size_t at = size_t{directorySector} * 512; at < size_t{directorySector + 1} * 512; at += 32)
        if (std::equal(name11.begin(), name11.end(), image.begin() + static_cast<ptrdiff_t>(at)))
            return static_cast<uint16_t>(image[at + 26] | image[at + 27] << 8);
    return 0;
}

struct LostData : ::testing::Test {
    TempDir dir;
    std::string made = dir.File("made.img");
    std::string imd = dir.File("disk.imd");
    std::vector<uint8_t> image;

    void SetUp() override
    {
        if (!RequireTools({"mkfs.fat", "mcopy", "mmd"}))
            GTEST_SKIP() << "mkfs.fat and mtools are needed";
        setenv("MTOOLS_SKIP_CHECK", "1", 1);
        const std::string i = " -i " + ShellQuoted(made) + " ";
        WriteFile(dir.File("root.bin"), RandomBytes(6000, 1));
        WriteFile(dir.File("inner.txt"), RandomBytes(1500, 2));
        std::string out;
        ASSERT_EQ(Shell("mkfs.fat -C -i 1D0C0144 --invariant " + ShellQuoted(made) + " 1440 >/dev/null 2>&1 && mcopy" + i +
                            ShellQuoted(dir.File("root.bin")) + " ::ROOT.BIN && mmd" + i + "::SUB && mcopy" + i +
                            ShellQuoted(dir.File("inner.txt")) + " '::SUB/Inner file.txt' 2>&1",
                        &out),
                  0)
            << out;
        image = ReadFile(made);
        ASSERT_EQ(StartCluster(image, 19, "ROOT    BIN"), 2);
        ASSERT_EQ(StartCluster(image, 19, "SUB        "), 14);
        ASSERT_EQ(StartCluster(image, kSubDirectory, "INNERF~1TXT"), 15);
    }

    CliRun Cli(const std::set<uint32_t>& unreadable, const std::string& command)
    {
        WriteImageDiskFile(imd, kMedia144M, image, unreadable);
        return RunCli(VOKTA_CLI, "--drive A:=disk.imd --on-error ignore --assume-yes " + command, dir);
    }
};

// The warning's lines from stderr: its header and the lines indented beneath it.
std::vector<std::string> WarningOf(const std::string& err)
{
    std::vector<std::string> lines;
    bool in = false;
    for (size_t start = 0; start < err.size();) {
        const size_t end = std::min(err.find('\n', start), err.size());
        const std::string line = err.substr(start, end - start);
        start = end + 1;
        if (line == kHeader)
            in = true;
        else if (!in || !line.starts_with("  "))
            in = false;
        if (in)
            lines.push_back(line);
    }
    return lines;
}

struct Case {
    const char* what;
    std::set<uint32_t> unreadable;
    const char* command;
    std::vector<std::string> lines;  // beneath the header; none: no warning at all
    int status;
};

}  // namespace

TEST_F(LostData, EachFileThatLostSectorsIsNamedWithItsCount)
{
    const std::string read = "read A: copy.img --force";
    const std::string format = "repair A: --system format --data format";
    const std::string track = "repair A: --system format --data track";
    const std::string cylinder = "repair A: --system format --data cylinder";
    const std::string bothFats = "  2 in the FAT (sectors 2, 11)";
    const std::vector<Case> cases = {
        {"file in the root", {kRootBin}, read.c_str(), {kRootLine}, cli::kExitDataLost},
        {"file in the root", {kRootBin}, format.c_str(), {kRootLine}, cli::kExitDataLost},
        {"file in the root", {kRootBin}, track.c_str(), {kRootLine}, cli::kExitDataLost},
        {"file in the root", {kRootBin}, cylinder.c_str(), {kRootLine}, cli::kExitDataLost},
        {"two files", {kRootBin, kRootBinNext, kInnerFile}, read.c_str(),
         {"  2 in A:\\ROOT.BIN (sectors 40, 41)", kInnerLine}, cli::kExitDataLost},
        {"two files", {kRootBin, kRootBinNext, kInnerFile}, format.c_str(),
         {"  2 in A:\\ROOT.BIN (sectors 40, 41)", kInnerLine}, cli::kExitDataLost},
        {"two files", {kRootBin, kRootBinNext, kInnerFile}, track.c_str(),
         {"  2 in A:\\ROOT.BIN (sectors 40, 41)", kInnerLine}, cli::kExitDataLost},
        {"file in a subdirectory", {kInnerFile}, cylinder.c_str(), {kInnerLine}, cli::kExitDataLost},
        {"directory", {kSubDirectory}, read.c_str(), {kSubLine}, cli::kExitDataLost},
        {"directory", {kSubDirectory}, format.c_str(), {kSubLine}, cli::kExitDataLost},
        // The files the directory listed cannot be moved: the repair fails there, and says
        // what it lost until then.
        {"directory", {kSubDirectory}, track.c_str(), {kSubLine}, cli::kExitFailed},
        // Free space is told, but it held nothing: the operation lost no data.
        {"free space", {kFreeSpace}, read.c_str(), {kFreeLine}, kResultDone},
        {"free space", {kFreeSpace}, format.c_str(), {kFreeLine}, kResultDone},
        // Marking moves only the clusters in use: nothing of free space is read or lost.
        {"free space", {kFreeSpace}, track.c_str(), {}, kResultDone},
        // The copy takes the sector from its twin, as the repair writes it back: nothing of
        // the FAT is lost.
        {"first FAT copy", {kFatCopy1, kRootBin}, read.c_str(), {kRootLine}, cli::kExitDataLost},
        {"first FAT copy", {kFatCopy1}, format.c_str(), {}, kResultDone},
        {"both FAT copies", {kFatCopy1, kFatCopy2}, read.c_str(), {bothFats}, cli::kExitDataLost},
        {"nothing", {}, read.c_str(), {}, kResultDone},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what) + ": " + c.command);
        const CliRun run = Cli(c.unreadable, c.command);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_EQ(run.LastLine(), LoadString(*cli::ExitRowOf(c.status).line)) << run.out;
        std::vector<std::string> expected;
        if (!c.lines.empty()) {
            expected.push_back(kHeader);
            expected.insert(expected.end(), c.lines.begin(), c.lines.end());
        }
        EXPECT_EQ(WarningOf(run.err), expected) << run.err;
    }
}

TEST(LostDataItalian, NamesTheFilesAndAreasInItalian)
{
    const StringTable* italian = LoadLanguageModule(kItalianModuleName);
    ASSERT_NE(italian, nullptr);
    LostSectors lost;
    lost.Add(47, {SectorUse::File, "\\SUB\\INNERF~1.TXT (Inner file.txt)"});
    lost.Add(2, {SectorUse::Fat, {}});
    lost.Add(100, {SectorUse::Free, {}});
    lost.Add(47, {SectorUse::File, "\\SUB\\INNERF~1.TXT (Inner file.txt)"});
    SetResourceModule(italian);
    const std::string message = lost.Message("A:");
    SetResourceModule(nullptr);
    EXPECT_EQ(message,
              "I settori che non si sono potuti leggere ora contengono zeri. Che cosa contenevano:\n"
              "  1 in A:\\SUB\\INNERF~1.TXT (Inner file.txt) (settori 47)\n"
              "  1 nella FAT (settori 2)\n"
              "  1 nello spazio libero, che non conteneva dati (settori 100)");
    EXPECT_TRUE(lost.DataLost());
}

TEST_F(LostData, HelpTellsTheExitStatusOfLostData)
{
    const CliRun run = RunCli(VOKTA_CLI, "--help", dir);
    EXPECT_NE(run.out.find("3 data-lost sectors that held data could not be read"), std::string::npos) << run.out;
}

// Damaged structures end the walk where they loop: a file chain that comes back on itself,
// a directory whose chain and entries hold the directory itself.
TEST(VolumeMapWalk, EndsAtLoopsAndNamesWhatItReached)
{
    FatDisk disk(kMedia144M);
    disk.AddFile(0, "LOOP    BIN", {2, 3});
    disk.SetEntry(3, 2);
    disk.AddDirectory(0, "DIR        ", {4});
    disk.AddEntry(4, "BACK       ", 0x10, 4);
    disk.AddFile(4, "IN      TXT", {5});
    disk.SetEntry(4, 4);
    disk.SetEntry(6, 0xFF7);
    disk.SetEntry(7, 0xFFF);  // in use, listed nowhere

    const std::optional<FatLayout> layout = FatLayout::FromBootSector(disk.bytes);
    ASSERT_TRUE(layout);
    const VolumeMap map = VolumeMap::OfImage(layout, disk.bytes, {});
    const auto sector = [&](uint16_t cluster) { return disk.SectorOf(cluster); };
    EXPECT_EQ(map.OwnerOf(0), (SectorOwner{SectorUse::Reserved, {}}));
    EXPECT_EQ(map.OwnerOf(10), (SectorOwner{SectorUse::Fat, {}}));
    EXPECT_EQ(map.OwnerOf(19), (SectorOwner{SectorUse::RootDirectory, {}}));
    EXPECT_EQ(map.OwnerOf(sector(2)), (SectorOwner{SectorUse::File, "\\LOOP.BIN"}));
    EXPECT_EQ(map.OwnerOf(sector(3)), (SectorOwner{SectorUse::File, "\\LOOP.BIN"}));
    EXPECT_EQ(map.OwnerOf(sector(4)), (SectorOwner{SectorUse::Directory, "\\DIR"}));
    EXPECT_EQ(map.OwnerOf(sector(5)), (SectorOwner{SectorUse::File, "\\DIR\\IN.TXT"}));
    EXPECT_EQ(map.OwnerOf(sector(6)), (SectorOwner{SectorUse::Bad, {}}));
    EXPECT_EQ(map.OwnerOf(sector(7)), (SectorOwner{SectorUse::Unlisted, {}}));
    EXPECT_EQ(map.OwnerOf(sector(8)), (SectorOwner{SectorUse::Free, {}}));
    EXPECT_EQ(map.OwnerOf(2880), (SectorOwner{SectorUse::Outside, {}}));
    EXPECT_TRUE(map.NamesFiles());

    // Without any copy of a FAT sector, nothing of the data area can be named.
    const VolumeMap blind = VolumeMap::OfImage(layout, disk.bytes, {1, 10});
    EXPECT_FALSE(blind.NamesFiles());
    EXPECT_EQ(blind.OwnerOf(sector(2)), (SectorOwner{SectorUse::Unnamed, {}}));
}
