// SPDX-License-Identifier: GPL-3.0-or-later
// vokta-cli read, write and compare on diskette files made by mkfs.fat and mformat.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <set>

#include "drive/backend/files/imdfile.h"
#include "image/diskimage.h"
#include "support/scriptedhost.h"
#include "support/requiretools.h"
#include "support/tempdir.h"
#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::test;

namespace {

std::string Cli()
{
    return std::string(VOKTA_BINARY_DIR) + "/cli/vokta-cli";
}

struct Made {
    const char* name;
    const char* command;    // %s is the file
    const char* drive = "";  // what the --drive binding of the copy adds: 1.2M needs a 5¼" drive
};

// Every size, made by both tools; the 21-sector formats with their geometry spelled out.
const Made kDiskettes[] = {
    {"mkfs720", "mkfs.fat -C -i 0A0B0C0D -g 2/9 '%s' 720"},
    {"mkfs1200", "mkfs.fat -C -i 0A0B0C0D -g 2/15 '%s' 1200", ",type=1.2m"},
    {"mkfs1440", "mkfs.fat -C -i 0A0B0C0D -g 2/18 '%s' 1440"},
    {"mkfs1680", "mkfs.fat -C -i 0A0B0C0D -g 2/21 '%s' 1680"},
    {"mkfs1722", "mkfs.fat -C -i 0A0B0C0D -g 2/21 '%s' 1722"},
    {"mformat720", "mformat -C -N 0A0B0C0D -i '%s' -f 720 ::"},
    {"mformat1200", "mformat -C -N 0A0B0C0D -i '%s' -f 1200 ::", ",type=1.2m"},
    {"mformat1440", "mformat -C -N 0A0B0C0D -i '%s' -f 1440 ::"},
    {"mformat1680", "mformat -C -N 0A0B0C0D -i '%s' -t 80 -h 2 -s 21 ::"},
    {"mformat1722", "mformat -C -N 0A0B0C0D -i '%s' -t 82 -h 2 -s 21 ::"},
};

struct DuplicateInterop : ::testing::Test {
    TempDir dir;
    void SetUp() override
    {
        RequireTools({"mkfs.fat", "mformat", "mcopy"});
    }
    std::string Make(const Made& m)
    {
        const std::string file = dir.File(std::string(m.name) + ".img");
        char command[512];
        std::snprintf(command, sizeof command, m.command, file.c_str());
        EXPECT_EQ(Shell(std::string(command) + " >/dev/null 2>&1"), 0) << command;
        // Some content: a file spanning many clusters.
        std::vector<uint8_t> data(150000);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<uint8_t>(i * 31 + i / 7);
        WriteFile(dir.File("data.bin"), data);
        EXPECT_EQ(Shell("MTOOLS_SKIP_CHECK=1 mcopy -i '" + file + "' '" + dir.File("data.bin") + "' ::DATA.BIN"), 0);
        return file;
    }
    int Vokta(const std::string& args, std::string* out = nullptr)
    {
        return Shell(Cli() + " " + args + " 2>/dev/null", out);
    }
};

}  // namespace

TEST_F(DuplicateInterop, ReadWriteCompareRoundTripEverySize)
{
    for (const Made& m : kDiskettes) {
        SCOPED_TRACE(m.name);
        const std::string source = Make(m);
        const std::vector<uint8_t> original = ReadFile(source);
        const std::string image = dir.File(std::string(m.name) + ".dim");
        std::string out;
        ASSERT_EQ(Vokta("--drive A:='" + source + "' --assume-yes read A: '" + image + "'", &out), 0) << out;
        EXPECT_EQ(out.substr(out.rfind("OK.")), "OK.\n");
        EXPECT_EQ(ReadFile(image), original) << "read is byte-identical to the source";
        EXPECT_EQ(ReadFile(source), original) << "the source is untouched";

        const std::string blank = dir.File(std::string(m.name) + "-copy.img");
        WriteFile(blank, {});
        const std::string copyDrive = "--drive B:='" + blank + m.drive + "'";
        ASSERT_EQ(Vokta(copyDrive + " --assume-yes write '" + image + "' B:"), 0);
        EXPECT_EQ(ReadFile(blank), original) << "an unformatted diskette took the whole image";
        ASSERT_EQ(Vokta(copyDrive + " compare '" + image + "' B:"), 0);
        EXPECT_EQ(Shell("MTOOLS_SKIP_CHECK=1 mcopy -n -i '" + blank + "' ::DATA.BIN '" + dir.File("back.bin") + "'"), 0);
        EXPECT_EQ(ReadFile(dir.File("back.bin")), ReadFile(dir.File("data.bin")));
    }
}

TEST_F(DuplicateInterop, CompareTellsADifferentDiskette)
{
    const std::string source = Make(kDiskettes[2]);
    const std::string image = dir.File("i.dim");
    ASSERT_EQ(Vokta("--drive A:='" + source + "' --assume-yes read A: '" + image + "'"), 0);
    ASSERT_EQ(Shell("printf x | dd of='" + source + "' bs=1 seek=800000 conv=notrunc 2>/dev/null"), 0);
    std::string out;
    EXPECT_EQ(Vokta("--drive A:='" + source + "' compare '" + image + "' A:", &out), 4) << "a difference exits 4";
    EXPECT_EQ(out, "Differences found !\n");
}

TEST_F(DuplicateInterop, ImaFromAnotherToolLoadsAndSavesIdentically)
{
    const std::string ima = dir.File("other.ima");
    ASSERT_EQ(Shell("mkfs.fat -C -n OTHERTOOL '" + ima + "' 1440 >/dev/null"), 0);
    ScriptedHost boxes;
    DiskImage image;
    ASSERT_EQ(LoadImageFile(image, ima, boxes), 0);
    EXPECT_EQ(image.mediaType, kMedia144M);
    EXPECT_EQ(image.label, "OTHERTOOL  ");
    ASSERT_TRUE(SaveImageFile(image, dir.File("other.dim"), boxes));
    EXPECT_EQ(ReadFile(dir.File("other.dim")), ReadFile(ima));
}

TEST_F(DuplicateInterop, CommandLineConventions)
{
    std::string out;
    EXPECT_EQ(Vokta("read", &out), 64);
    EXPECT_EQ(Vokta("--on-error sometimes read A: x", &out), 64);
    const std::string locked = dir.File("nofile.img");
    out.clear();
    EXPECT_EQ(Vokta("--drive A:='" + locked + "' read A: '" + dir.File("x.dim") + "'", &out), 2)
        << "a diskette file that is not there";
    EXPECT_EQ(out, "Failed !\n");
}

TEST_F(DuplicateInterop, UnattendedAnswersNeverLoopForever)
{
    std::string out;
    // Three cylinders with a sector recorded with a data error.
    EmulatedMedium disk = EmulatedMedium::FromImage(kMedia144M, FatImage(kMedia144M));
    for (int c : {10, 11, 12})
        disk.Find(static_cast<uint16_t>(c), 1, 5)->dataError = true;
    disk.writeProtected = true;
    const std::string imd = dir.File("errors.imd");
    WriteFile(imd, WriteImd(disk, "01/01/2000 00:00:00", ""));
    out.clear();
    EXPECT_EQ(Vokta("--on-error retry --drive A:='" + imd + "' --assume-yes read A: '" + dir.File("r.dim") + "'", &out), 1)
        << "Retry three times, then Abort";
    EXPECT_EQ(out, "Aborted !\n");
    out.clear();
    EXPECT_EQ(Vokta("--on-error ignore --drive A:='" + imd + "' --assume-yes read A: '" + dir.File("i.dim") + "'", &out), 0)
        << "Ignore goes past every bad cylinder";
    EXPECT_EQ(ReadFile(dir.File("i.dim")).size(), 1474560u);
}

// ImageDisk files through libdsk: what a read saves under a ".imd" name is the diskette
// for dsktrans, what dsktrans makes loads, and a sector recorded unreadable is written
// only on the user's word.
TEST_F(DuplicateInterop, ImageDiskFilesPassThroughLibdsk)
{
    if (!RequireTools({"dsktrans"}))
        return;
    for (const Made& m : {kDiskettes[0], kDiskettes[2], kDiskettes[6], kDiskettes[4]}) {
        SCOPED_TRACE(m.name);
        const std::string source = Make(m);
        const std::vector<uint8_t> original = ReadFile(source);
        const std::string sourceDrive = "--drive A:='" + source + m.drive + "'";
        const std::string ours = dir.File(std::string(m.name) + ".IMD");
        ASSERT_EQ(Vokta(sourceDrive + " --assume-yes read A: '" + ours + "'"), 0);
        const std::string raw = dir.File("back.raw");
        ASSERT_EQ(Shell("dsktrans -itype imd -otype raw '" + ours + "' '" + raw + "' >/dev/null 2>&1"), 0);
        EXPECT_EQ(ReadFile(raw), original) << "libdsk reads our ImageDisk file as the diskette";
        EXPECT_EQ(Vokta(sourceDrive + " compare '" + ours + "' A:"), 0);
        const std::string blank = dir.File(std::string(m.name) + "-copy.img");
        WriteFile(blank, {});
        ASSERT_EQ(Vokta("--drive B:='" + blank + m.drive + "' --assume-yes write '" + ours + "' B:"), 0);
        EXPECT_EQ(ReadFile(blank), original);
    }

    const std::string source = Make({"for-libdsk", kDiskettes[2].command});
    const std::string theirs = dir.File("theirs.imd");
    ASSERT_EQ(Shell("dsktrans -itype raw -otype imd -format ibm1440 '" + source + "' '" + theirs + "' >/dev/null 2>&1"), 0);
    ScriptedHost boxes;
    DiskImage image;
    ASSERT_EQ(LoadImageFile(image, theirs, boxes), 0) << testing::PrintToString(boxes.BoxTexts());
    EXPECT_EQ(image.mediaType, kMedia144M);
    EXPECT_EQ(image.data, ReadFile(source));
    EXPECT_TRUE(image.unreadable.empty());
    EXPECT_EQ(Vokta("--drive A:='" + source + "' compare '" + theirs + "' A:"), 0);

    // A sector that would not read, ignored: the saved file records it unreadable.
    EmulatedMedium disk = EmulatedMedium::FromImage(kMedia144M, FatImage(kMedia144M));
    disk.Find(10, 1, 5)->dataError = true;
    disk.writeProtected = true;
    const std::string damaged = dir.File("damaged.imd");
    WriteFile(damaged, WriteImd(disk, "01/01/2000 00:00:00", ""));
    const std::string read = dir.File("read.imd");
    ASSERT_EQ(Vokta("--on-error ignore --drive A:='" + damaged + "' --assume-yes read A: '" + read + "'"), 0);
    boxes = ScriptedHost{};
    ASSERT_EQ(LoadImageFile(image, read, boxes), 0);
    EXPECT_EQ(image.unreadable, std::set<uint32_t>{10 * 36 + 18 + 4});
    const std::string blank = dir.File("blank.img");
    WriteFile(blank, {});
    std::string out;
    EXPECT_EQ(Vokta("--drive B:='" + blank + "' write '" + read + "' B:", &out), 1)
        << "without a terminal the question is answered No";
    EXPECT_EQ(out, "Aborted !\n");
    EXPECT_TRUE(ReadFile(blank).empty()) << "nothing written";
    EXPECT_EQ(Vokta("--drive B:='" + blank + "' --assume-yes write '" + read + "' B:"), 0);
    EXPECT_EQ(ReadFile(blank), image.data);
}

// The command line as a user types it, with a time-out: a named pipe that kept an open
// waiting for a writer would end the run as a failure, not hang it.
TEST(CommandLineFiles, NamedPipesAreRefusedAtOnce)
{
    TempDir dir;
    const std::string pipe = dir.File("pipe.dim");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    WriteFile(dir.File("blank.img"), {});
    const std::string run = "timeout 60 " + Cli() + " ";
    std::string out;
    EXPECT_EQ(Shell(run + "--drive A:='" + dir.File("blank.img") + "' write '" + pipe + "' A: 2>&1", &out), 2);
    EXPECT_NE(out.find(pipe + ": is a named pipe, not a disk image file"), std::string::npos) << out;
    EXPECT_TRUE(ReadFile(dir.File("blank.img")).empty()) << "nothing written";

    out.clear();
    EXPECT_EQ(Shell(run + "--drive A:='" + pipe + "' media A: 2>&1", &out), 2);
    EXPECT_NE(out.find(pipe + ": is a named pipe, not a diskette file"), std::string::npos) << out;
    out.clear();
    EXPECT_EQ(Shell(run + "--drive A:='" + pipe + "' read A: '" + dir.File("x.dim") + "' 2>&1", &out), 2);
    EXPECT_NE(out.find(pipe + ": is a named pipe, not a diskette file"), std::string::npos) << out;
}
