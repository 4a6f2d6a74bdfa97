// SPDX-License-Identifier: GPL-3.0-or-later
// Diskettes made by mkfs.fat and filled by mcopy, then given damaged FAT copies (sectors
// recorded with a data error, a copy of zeros, a wrong media byte, a link out of range) or
// a boot sector that misplaces the FAT and root directory, each run through every writing
// command of vokta-cli: fsck.fat -n never complains more afterwards, every file that copied
// out before copies out identical, and a FAT that no sound copy gives is never written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "drive/backend/files/imdfile.h"
#include "drive/bytes.h"
#include "res/strings.h"
#include "support/clirun.h"
#include "support/imagediskfile.h"
#include "support/requiretools.h"
#include "support/tempdir.h"

using namespace vokta;
using namespace vokta::test;

namespace {

// mkfs.fat's 1.44M layout: two FATs of 9 sectors, 14 root sectors, data from sector 33.
constexpr uint32_t kFat2 = 10;
constexpr uint32_t kRootFirst = 19;
constexpr uint32_t kFirstData = 33;

using Image = std::vector<uint8_t>;

std::span<uint8_t> Sector(Image& image, uint32_t s)
{
    return std::span(image).subspan(size_t{s} * 512, 512);
}

void ZeroSectors(Image& image, uint32_t first, uint32_t end)
{
    for (uint32_t s = first; s < end; ++s)
        std::ranges::fill(Sector(image, s), uint8_t{0});
}

enum class Fat { Trusted, Untrusted, Misplaced };

struct Case {
    const char* name;
    std::function<void(Image&)> damage;
    std::set<uint32_t> unreadable;
    // Trusted: some copy gives every sector soundly. Untrusted: none does, nothing may be
    // written. Misplaced: the boot sector puts the FAT or root elsewhere than they are.
    Fat fat;
};

void NoDamage(Image&) {}

const Case kCases[] = {
    {"first_copy_sector_unreadable", NoDamage, {1}, Fat::Trusted},
    {"second_copy_sector_unreadable", NoDamage, {kFat2 + 1}, Fat::Trusted},
    {"first_copy_of_zeros", [](Image& i) { ZeroSectors(i, 1, kFat2); }, {}, Fat::Trusted},
    {"first_copy_wrong_media_byte", [](Image& i) { i[512] = 0xF8; }, {}, Fat::Trusted},
    // Entry 3 of the first copy links to cluster F00h, beyond the last cluster.
    {"first_copy_link_out_of_range", [](Image& i) { i[512 + 4] = 0x00; i[512 + 5] = 0xF0; }, {}, Fat::Trusted},
    {"first_copy_of_zeros_second_unreadable", [](Image& i) { ZeroSectors(i, 1, kFat2); }, {kFat2 + 4}, Fat::Untrusted},
    {"sector_unreadable_in_both_copies", NoDamage, {1, kFat2}, Fat::Untrusted},
    {"empty_sector_unreadable_in_both_copies", NoDamage, {3, kFat2 + 2}, Fat::Untrusted},
    {"both_copies_of_zeros", [](Image& i) { ZeroSectors(i, 1, kRootFirst); }, {}, Fat::Untrusted},
    {"boot_says_one_head", [](Image& i) { PutU16(i, 26, 1); }, {}, Fat::Misplaced},
    {"boot_says_one_sector_per_fat", [](Image& i) { PutU16(i, 22, 1); }, {}, Fat::Misplaced},
    {"boot_says_200_sectors_per_fat", [](Image& i) { PutU16(i, 22, 200); }, {}, Fat::Misplaced},
    {"boot_says_255_fats", [](Image& i) { i[16] = 255; }, {}, Fat::Misplaced},
};

struct Command {
    const char* args;
    bool repair;
};

const Command kCommands[] = {
    {"repair A:", true},
    {"repair A: --boot write --system format --data format", true},
    {"repair A: --boot write --system format --data track", true},
    {"repair A: --boot write --system format --data cylinder", true},
    {"repair A: --boot stop --system checker --data stop", true},
    {"label A: NEWLABEL", false},
    {"label A: ''", false},
};

const std::vector<std::string> kFiles = {"FIRST.BIN", "BIG.BIN", "NOTE.TXT"};

struct FatCopiesCorpus : ::testing::TestWithParam<Case> {
    TempDir dir;
    std::string made = dir.File("made.img");
    std::string imd = dir.File("disk.imd");
    Image damaged;

    void SetUp() override
    {
        if (!RequireTools({"mkfs.fat", "fsck.fat", "mcopy"}))
            return;
        setenv("MTOOLS_SKIP_CHECK", "1", 1);
        const std::string make = "mkfs.fat -C -i 1D0C0144 --invariant -n CORPUS " + ShellQuoted(made) + " 1440";
        ASSERT_EQ(Shell(make + " >/dev/null 2>&1"), 0);
        const std::vector<size_t> sizes = {2000, 60000, 700};
        for (size_t k = 0; k < kFiles.size(); ++k) {
            WriteFile(dir.File(kFiles[k]), RandomBytes(sizes[k], static_cast<unsigned>(k + 1)));
            ASSERT_EQ(Shell("cd " + ShellQuoted(dir.path()) + " && mcopy -i made.img " + kFiles[k] + " :: 2>&1"), 0);
        }
        damaged = ReadFile(made);
        GetParam().damage(damaged);
    }

    void WriteDamaged() { WriteImageDiskFile(imd, kMedia144M, damaged, GetParam().unreadable); }

    Image ReadBackDamaged()
    {
        const ImdReadResult read = ReadImd(ReadFile(imd), MediumDensity::High);
        if (!read.medium) {
            ADD_FAILURE() << read.error;
            return {};
        }
        return read.medium->ToImage(kMedia144M);
    }

    CliRun Run(const std::string& args) { return RunCli(VOKTA_CLI, "--drive A:=disk.imd " + args, dir); }

    // What fsck.fat -n finds to fix, one line each; a check it gives up (no summary of files
    // and clusters) counts as many.
    int Complaints(const Image& image)
    {
        const std::string path = dir.File("check.img");
        WriteFile(path, image);
        std::string out;
        const int status = Shell("fsck.fat -n " + ShellQuoted(path) + " 2>&1", &out);
        if ((status != 0 && status != 1) || out.find(" files, ") == std::string::npos)
            return 1000;
        int count = 0;
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);)
            if (!line.empty() && !line.starts_with("fsck.fat ") && line.find(" files, ") == std::string::npos &&
                line != "Leaving filesystem unchanged.")
                ++count;
        return count;
    }

    // The files that copy out of a diskette image, with their bytes.
    std::map<std::string, Image> FilesIn(const Image& image)
    {
        const std::string path = dir.File("files.img");
        WriteFile(path, image);
        std::map<std::string, Image> found;
        for (const std::string& name : kFiles) {
            const std::string out = dir.File("out.bin");
            std::remove(out.c_str());
            const std::string copy = "mcopy -n -i " + ShellQuoted(path) + " ::" + name + " " + ShellQuoted(out);
            if (Shell(copy + " >/dev/null 2>&1") == 0)
                found[name] = ReadFile(out);
        }
        return found;
    }

    std::string FreeSpaceLine(const std::string& args)
    {
        std::istringstream lines(RunCli(VOKTA_CLI, args, dir).out);
        for (std::string line; std::getline(lines, line);)
            if (line.starts_with(LoadString(Str::InfoFreeSpace)))
                return line;
        return "";
    }
};

std::set<uint32_t> ChangedSectors(const Image& before, const Image& after)
{
    std::set<uint32_t> changed;
    for (uint32_t s = 0; s < before.size() / 512 && before.size() == after.size(); ++s)
        if (!std::equal(before.begin() + s * 512, before.begin() + (s + 1) * 512, after.begin() + s * 512))
            changed.insert(s);
    return changed;
}

}  // namespace

TEST_P(FatCopiesCorpus, EveryWritingCommandLeavesTheDisketteNoWorse)
{
    if (damaged.empty())
        return;
    const Case& c = GetParam();
    const int complaintsBefore = Complaints(damaged);
    const std::map<std::string, Image> filesBefore = FilesIn(damaged);
    for (const Command& command : kCommands) {
        SCOPED_TRACE(command.args);
        WriteDamaged();
        const CliRun run = Run(command.args);
        const Image after = ReadBackDamaged();
        ASSERT_EQ(after.size(), damaged.size());
        const std::set<uint32_t> changed = ChangedSectors(damaged, after);

        EXPECT_LE(Complaints(after), complaintsBefore) << run.out << run.err;
        const std::map<std::string, Image> filesAfter = FilesIn(after);
        for (const auto& [name, bytes] : filesBefore) {
            EXPECT_TRUE(filesAfter.contains(name)) << name << " no longer copies out";
            if (filesAfter.contains(name)) {
                EXPECT_TRUE(filesAfter.at(name) == bytes) << name << " copies out changed";
            }
        }

        if (c.fat == Fat::Untrusted) {
            EXPECT_NE(run.status, 0);
            EXPECT_TRUE(changed.empty()) << "a FAT that no copy gives was written";
            const std::string said = run.out + run.err;
            const std::string expected = LoadString(command.repair ? Str::RepairNoSoundFat : Str::NoSoundFat);
            const std::string noFat = LoadString(Str::NoFatOnDiskette);
            EXPECT_TRUE(said.find(expected.substr(0, expected.find('\n'))) != std::string::npos ||
                        (!command.repair && said.find(noFat) != std::string::npos))
                << said;
        }
        if (c.fat == Fat::Trusted && command.repair && run.status == 0) {
            EXPECT_EQ(Complaints(after), 0) << "the copies are not mended";
            EXPECT_TRUE(std::ranges::equal(std::span(after).subspan(512, 9 * 512),
                                           std::span(after).subspan(kFat2 * 512, 9 * 512)));
        }
        if (!command.repair) {
            // A label lands in the boot sector and the root directory, or nowhere.
            for (uint32_t s : changed) {
                EXPECT_TRUE(s == 0 || (s >= kRootFirst && s < kFirstData)) << "sector " << s << " written";
            }
            if (c.fat == Fat::Trusted) {
                EXPECT_EQ(run.status, 0) << run.out << run.err;
            }
        }
    }
}

// The report counts the free space in the FAT that a sound copy gives, or leaves it out.
TEST_P(FatCopiesCorpus, InformationReportCountsTheSoundFat)
{
    if (damaged.empty() || GetParam().fat == Fat::Misplaced)
        return;
    WriteDamaged();
    const std::string line = FreeSpaceLine("--drive A:=disk.imd info A:");
    const std::string sound = FreeSpaceLine("--drive A:=made.img info A:");
    ASSERT_NE(sound, "");
    EXPECT_EQ(line, GetParam().fat == Fat::Trusted ? sound : "");
    // The label is read through the same FAT.
    const CliRun label = Run("label A:");
    if (GetParam().fat == Fat::Trusted) {
        EXPECT_EQ(label.out, "CORPUS\nOK.\n") << label.err;
    } else {
        EXPECT_NE(label.status, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Damages, FatCopiesCorpus, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });
