// SPDX-License-Identifier: GPL-3.0-or-later
// vokta-cli info on diskette files made by mkfs.fat and mformat in the five densities:
// the report's layout agrees with what minfo reads from the same boot sector, its free
// space with what mdir counts, and the saved report is the shown one in CR LF lines.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "drive/media.h"
#include "info/sizetext.h"
#include "res/strings.h"
#include "support/clirun.h"
#include "support/requiretools.h"
#include "support/tempdir.h"

using namespace vokta;
using namespace vokta::test;

namespace {

struct Diskette {
    const char* name;
    const char* make;   // makes an empty diskette file at IMG
    const char* drive;  // the drive type it goes into
    int32_t media;  // the media type it is detected as
    long sectors;
    const char* diskSize;
};

const Diskette kDiskettes[] = {
    {"mformat_720K", "mformat -C -i IMG -f 720 ::", "720k", kMedia720K, 1440, "Disk Size = 737.280 KB"},
    {"mkfs_fat_12M", "mkfs.fat -C -g 2/15 IMG 1200", "1.2m", kMedia12M, 2400, "Disk Size = 1.229 MB"},
    {"mkfs_fat_144M", "mkfs.fat -C IMG 1440", "1.44m", kMedia144M, 2880, "Disk Size = 1.475 MB"},
    {"mformat_168M", "mformat -C -i IMG -t 80 -h 2 -s 21 ::", "1.44m", kMedia168M, 3360, "Disk Size = 1.720 MB"},
    {"mformat_172M", "mformat -C -i IMG -t 82 -h 2 -s 21 ::", "1.44m", kMedia172M, 3444, "Disk Size = 1.763 MB"},
};

void PrintTo(const Diskette& d, std::ostream* os)
{
    *os << d.name;
}

std::vector<std::string> Lines(const std::string& text, const std::string& end = "\n")
{
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        const size_t next = text.find(end, at);
        if (next == std::string::npos) {
            lines.push_back(text.substr(at));
            break;
        }
        lines.push_back(text.substr(at, next - at));
        at = next + end.size();
    }
    return lines;
}

// The report a run printed: its lines on stdout before the outcome line, which must be "OK.".
std::vector<std::string> Report(const CliRun& run)
{
    std::vector<std::string> lines = Lines(run.out.substr(0, run.out.size() - 1));
    EXPECT_EQ(lines.back(), "OK.") << run.out;
    lines.pop_back();
    return lines;
}

// minfo's "name: value" lines.
std::map<std::string, std::string> Fields(const std::string& minfo)
{
    std::map<std::string, std::string> fields;
    for (const std::string& line : Lines(minfo)) {
        const size_t colon = line.find(':');
        const size_t value = line.find_first_not_of(' ', colon + 1);
        if (colon != std::string::npos && value != std::string::npos)
            fields[line.substr(0, colon)] = line.substr(value);
    }
    return fields;
}

struct InfoInterop : ::testing::Test {
    TempDir dir;
    std::string img = dir.File("disk.img");
    std::string drive = "1.44m";

    bool Make(const std::string& command, const std::string& driveType)
    {
        if (!RequireTools({"mkfs.fat", "mformat", "minfo", "mdir", "mcopy", "mlabel"}))
            return false;
        setenv("MTOOLS_SKIP_CHECK", "1", 1);
        drive = driveType;
        std::string make = command;
        make.replace(make.find("IMG"), 3, "'" + img + "'");
        EXPECT_EQ(Shell(make + " >/dev/null 2>&1"), 0) << make;
        return !::testing::Test::HasFailure();
    }

    CliRun Info(const std::string& options = "")
    {
        return RunCli(VOKTA_CLI, "--drive A:='" + img + "',type=" + drive + " info A: " + options, dir);
    }

    std::string Tool(const std::string& command)
    {
        std::string out;
        Shell(command + " -i '" + img + "' :: 2>&1", &out);
        return out;
    }

    // The free bytes as mdir counts them: "  1 457 664 bytes free".
    uint64_t MdirFreeBytes()
    {
        const std::string out = Tool("mdir");
        const size_t end = out.find(" bytes free");
        EXPECT_NE(end, std::string::npos) << out;
        size_t start = end;
        while (start > 0 && (std::isdigit(static_cast<unsigned char>(out[start - 1])) || out[start - 1] == ' '))
            --start;
        std::string digits;
        for (const char c : out.substr(start, end - start))
            if (c != ' ')
                digits += c;
        return std::stoull(digits);
    }

    void PatchBytes(size_t offset, const std::string& bytes)
    {
        std::vector<uint8_t> image = ReadFile(img);
        std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<long>(offset));
        WriteFile(img, image);
    }
};

struct EveryDensity : InfoInterop, ::testing::WithParamInterface<Diskette> {};

TEST_P(EveryDensity, ReportAgreesWithMinfoAndMdir)
{
    const Diskette& d = GetParam();
    if (!Make(d.make, d.drive))
        return;
    ASSERT_EQ(Shell("head -c 3000 /dev/urandom > '" + dir.File("file.bin") + "' && mcopy -i '" + img + "' '" +
                    dir.File("file.bin") + "' ::FILE.BIN"),
              0);
    const CliRun run = Info();
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::vector<std::string> lines = Report(run);
    ASSERT_EQ(lines.size(), 27u) << run.out;

    std::map<std::string, std::string> f = Fields(Tool("minfo"));
    const long perFat = std::stol(f["sectors per fat"]);
    const long fats = std::stol(f["fats"]);
    const long root = std::stol(f["max available root directory slots"]);
    EXPECT_EQ(lines[0], "Volume Label = <none>");
    EXPECT_EQ(lines[1], "Detected Media = " + std::string(GetMediaTypeName(d.media)));
    EXPECT_EQ(lines[2], "Boot OEM string = " + f["banner"].substr(1, f["banner"].size() - 2));
    EXPECT_EQ(lines[5], "FAT type = FAT12   ");
    EXPECT_EQ(lines[6], "Total Disk Sectors = " + std::to_string(d.sectors));
    EXPECT_EQ(lines[7], d.diskSize);
    EXPECT_EQ(lines[8], SizeLine(Str::InfoFreeSpace, MdirFreeBytes()));
    EXPECT_EQ(lines[11], "Sectors per Track = " + f["sectors per track"]);
    EXPECT_EQ(lines[12], "Heads = " + f["heads"]);
    EXPECT_EQ(lines[16], "Sectors per Cluster = " + Lines(f["cluster size"], " ")[0]);
    EXPECT_EQ(lines[17], "Sectors per FAT = " + std::to_string(perFat));
    EXPECT_EQ(lines[18], "Number of FAT = " + std::to_string(fats));
    EXPECT_EQ(lines[19], "Root Dir Entries = " + std::to_string(root));
    EXPECT_EQ(lines[20], "Media Descriptor Code = " + f["media descriptor byte"].substr(2) + "h");
    EXPECT_EQ(lines[24], "Second FAT Sector = " + std::to_string(perFat + 1));
    EXPECT_EQ(lines[25], "Root Dir Sector = " + std::to_string(fats * perFat + 1));
    EXPECT_EQ(lines[26], "First DATA Sector = " + std::to_string(fats * perFat + root / 16 + 1));
}

INSTANTIATE_TEST_SUITE_P(Info, EveryDensity, ::testing::ValuesIn(kDiskettes),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(InfoInterop, UnlabelledHighDensityDiskette)
{
    if (!Make("mkfs.fat -C -i 1D0C0144 --invariant IMG 1440", "1.44m"))
        return;
    const CliRun run = Info();
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> expected = {
        "Volume Label = <none>",
        "Detected Media = 1.44M (DS HD)",
        "Boot OEM string = mkfs.fat",
        "Physical Device = 1.44MB Floppy, removable disk.",
        "Media Type = STANDARD (0h)",
        "FAT type = FAT12   ",
        "Total Disk Sectors = 2880",
        "Disk Size = 1.475 MB",
        "Free Disk Space = 1.458 MB",
        "---------------- Logical Disk Layout: ----------------",
        "Cylinders = 80",
        "Sectors per Track = 18",
        "Heads = 2",
        "Hidden Sectors = 0",
        "Reserved Sectors = 1",
        "Bytes per Sector = 512",
        "Sectors per Cluster = 1",
        "Sectors per FAT = 9",
        "Number of FAT = 2",
        "Root Dir Entries = 224",
        "Media Descriptor Code = f0h",
        "---------------- Physical Disk Layout: ---------------",
        "Boot Sector = 0",
        "First FAT Sector = 1",
        "Second FAT Sector = 10",
        "Root Dir Sector = 19",
        "First DATA Sector = 33",
    };
    EXPECT_EQ(Report(run), expected);
}

TEST_F(InfoInterop, LabelWrittenByMlabelIsShown)
{
    if (!Make("mformat -C -i IMG -f 720 ::", "720k"))
        return;
    ASSERT_EQ(Shell("mlabel -i '" + img + "' ::'OLD DISK' 2>&1"), 0);
    const CliRun run = Info();
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Lines(run.out)[0], "Volume Label = OLD DISK");
}

// The OEM name is printed as a C string: 8 bytes when none is zero, up to a zero otherwise.
TEST_F(InfoInterop, OemNameEndsAtAZeroByte)
{
    if (!Make("mkfs.fat -C IMG 1440", "1.44m"))
        return;
    PatchBytes(3, std::string("AB\0DEFGH", 8));
    PatchBytes(54, std::string("FAT\0\0\0\0\0", 8));
    const CliRun run = Info();
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> lines = Lines(run.out);
    EXPECT_EQ(lines[2], "Boot OEM string = AB");
    EXPECT_EQ(lines[5], "FAT type = FAT");

    PatchBytes(3, "12345678");
    EXPECT_EQ(Lines(Info().out)[2], "Boot OEM string = 12345678") << "no zero: exactly the 8 bytes";
}

TEST_F(InfoInterop, SavedReportIsTheShownOneInCrLfLines)
{
    if (!Make("mkfs.fat -C IMG 1440", "1.44m"))
        return;
    // mlabel writes its own code page; vokta-cli writes 1252, as the saved file holds it.
    ASSERT_EQ(RunCli(VOKTA_CLI, "--drive A:='" + img + "',type=1.44m label A: CAFÉ", dir).status, 0);
    const std::string saved = dir.File("report.txt");
    const CliRun run = Info("--save '" + saved + "'");
    ASSERT_EQ(run.status, 0) << run.err;

    const std::vector<uint8_t> bytes = ReadFile(saved);
    const std::string text(bytes.begin(), bytes.end());
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << "the last line is ended too";
    const std::vector<std::string> lines = Lines(text.substr(0, text.size() - 2), "\r\n");
    // The heading, the drive and the 27 report lines.
    ASSERT_EQ(lines.size(), 29u) << text;
    EXPECT_EQ(lines[0], "-------------- Vokta Information report --------------");
    EXPECT_EQ(lines[1], "Drive = A:");
    EXPECT_EQ(lines[2], "Volume Label = CAF\xC9") << "code page 1252 in the file";
    const std::vector<std::string> shown = Report(run);
    EXPECT_EQ(shown[0], "Volume Label = CAF\u00C9") << "UTF-8 on the terminal";
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 3, lines.end()),
              std::vector<std::string>(shown.begin() + 1, shown.end()));
    EXPECT_EQ(text.find('\n', 0) , text.find("\r\n") + 1) << "no bare line feeds";

    // Saving again replaces the file without a question.
    WriteFile(saved, std::vector<uint8_t>(100000, 'x'));
    ASSERT_EQ(Info("--save '" + saved + "'").status, 0);
    EXPECT_EQ(ReadFile(saved), bytes);
}

TEST_F(InfoInterop, UnwritableSaveFileIsNamedAndTheReportStillShown)
{
    if (!Make("mkfs.fat -C IMG 1440", "1.44m"))
        return;
    const std::string saved = dir.File("no-such-folder/report.txt");
    const CliRun run = Info("--save '" + saved + "'");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(Lines(run.out).size(), 28u) << "the report, then the outcome line";
    EXPECT_NE(run.err.find(saved + ": No such file or directory"), std::string::npos) << run.err;
    EXPECT_FALSE(FileExists(saved));
}

TEST_F(InfoInterop, UnformattedDisketteGivesTheMediaErrorLineOnly)
{
    if (!RequireTools({"mkfs.fat"}))
        return;
    WriteFile(img, {});
    const CliRun run = Info("--save '" + dir.File("report.txt") + "'");
    EXPECT_EQ(run.out, LoadString(Str::CannotEstablishMedia) + "\nFailed !\n");
    EXPECT_EQ(run.status, 2);
    EXPECT_FALSE(FileExists(dir.File("report.txt"))) << "a failed report is not saved";
}

}  // namespace
