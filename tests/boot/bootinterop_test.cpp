// SPDX-License-Identifier: GPL-3.0-or-later
// Boot sectors against tools nobody here wrote: the check on mkfs.fat and mformat
// diskettes, and our boot sector and system area under fsck.fat, minfo and mtools.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "boot/bootsector.h"
#include "boot/builtdiskette.h"
#include "image/diskimage.h"
#include "support/requiretools.h"
#include "support/scriptedhost.h"
#include "support/tempdir.h"
#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::test;

namespace {

struct BootInterop : ::testing::Test {
    TempDir dir;
    void SetUp() override
    {
        RequireTools({"mkfs.fat", "fsck.fat", "mformat", "minfo", "mdir", "mcopy"});
    }

    BootCheckResult CheckFile(const std::string& file) const
    {
        std::vector<uint8_t> image = ReadFile(file);
        image.resize(512);
        return ValidateBootSector(image);
    }

    // The whole check, its fields weighed too.
    BootCheckResult CheckFileFully(const std::string& file) const
    {
        std::vector<uint8_t> image = ReadFile(file);
        image.resize(512);
        return CheckBootSectorBytes(image).result;
    }
};

// "name: value", "name:value" and "name=value" lines of minfo's report.
std::map<std::string, std::string> MinfoFields(const std::string& file)
{
    std::string out;
    Shell("MTOOLS_SKIP_CHECK=1 minfo -i '" + file + "' :: 2>&1", &out);
    std::map<std::string, std::string> fields;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t split = line.find_first_of(":=");
        if (split == std::string::npos)
            continue;
        const size_t value = line.find_first_not_of(' ', split + 1);
        fields.emplace(line.substr(0, split), value == std::string::npos ? "" : line.substr(value));
    }
    return fields;
}

}  // namespace

TEST_F(BootInterop, MkfsFatBootSectorsValidate)
{
    // Every diskette size; the distribution sizes get mkfs.fat's hard-disk layout (F8h),
    // which the check accepts too.
    for (const char* kilobytes : {"720", "1200", "1440", "1680", "1722"}) {
        const std::string file = dir.File(std::string("mkfs") + kilobytes + ".img");
        ASSERT_EQ(Shell("mkfs.fat -C '" + file + "' " + kilobytes + " >/dev/null"), 0);
        EXPECT_EQ(CheckFileFully(file), 0) << kilobytes;
    }
}

TEST_F(BootInterop, MformatBootSectorsValidate)
{
    for (const char* geometry : {"-f 720", "-f 1200", "-f 1440", "-t 80 -h 2 -s 21", "-t 82 -h 2 -s 21"}) {
        const std::string file = dir.File("mformat.img");
        std::remove(file.c_str());
        ASSERT_EQ(Shell("mformat -C -i '" + file + "' " + geometry + " :: 2>/dev/null"), 0) << geometry;
        EXPECT_EQ(CheckFileFully(file), 0) << geometry;
    }
}

TEST_F(BootInterop, MkfsFatLayoutsTheCheckRefuses)
{
    const std::string file = dir.File("odd.img");
    struct Case {
        const char* options;
        const char* kilobytes;
        BootCheckResult expected;
    };
    const Case cases[] = {
        {"-f 1", "1440", BootCheck::BadFatCount},
        {"-R 4", "1440", BootCheck::BadReservedSectors},
        {"-S 1024", "1440", BootCheck::BadSectorLength},
        {"-F 16", "16384", BootCheck::BadReservedSectors},  // 4 reserved: clusters aligned
        {"-F 16 -a", "16384", 0},
        // FAT32's longer BPB moves the extended record past offset 38.
        {"-F 32 -s 1", "36000", BootCheck::BadReservedSectors | BootCheck::BadExtendedSignature |
                                    BootCheck::BadFileSystem},
    };
    for (const Case& c : cases) {
        std::remove(file.c_str());
        ASSERT_EQ(Shell(std::string("mkfs.fat -C ") + c.options + " '" + file + "' " + c.kilobytes +
                        " >/dev/null 2>&1"),
                  0)
            << c.options;
        EXPECT_EQ(CheckFile(file), c.expected) << c.options;
    }
}

TEST_F(BootInterop, OurDisketteIsAcceptedByFsckAndMtools)
{
    for (MediaType type : {kMedia720K, kMedia12M, kMedia144M, kMedia168M, kMedia172M}) {
        SCOPED_TRACE(GetMediaTypeName(type));
        const std::string file = dir.File("ours.img");
        WriteFile(file, BuiltDisketteImage(type, "Interop"));

        std::string out;
        EXPECT_EQ(Shell("fsck.fat -n '" + file + "' 2>&1", &out), 0) << out;

        const MediaGeometry g = *GeometryOf(type);
        std::map<std::string, std::string> info = MinfoFields(file);
        EXPECT_EQ(info["sectors per track"], std::to_string(g.sectorsPerTrack));
        EXPECT_EQ(info["heads"], std::to_string(g.heads));
        EXPECT_EQ(info["cylinders"], std::to_string(g.cylinders));
        EXPECT_EQ(info["small size"], std::to_string(g.totalSectors) + " sectors");
        EXPECT_EQ(info["cluster size"], std::to_string(g.sectorsPerCluster) + " sectors");
        EXPECT_EQ(info["max available root directory slots"], std::to_string(g.rootEntries));
        EXPECT_EQ(info["sectors per fat"], std::to_string(g.sectorsPerFat));
        EXPECT_EQ(info["banner"], "\"VOKTA1.0\"");
        EXPECT_EQ(info["disk label"], "\"INTEROP    \"");

        // A file goes in and comes out through the FAT and root directory we wrote.
        const std::string probe = dir.File("probe.txt");
        WriteFile(probe, std::vector<uint8_t>(3000, 'v'));
        ASSERT_EQ(Shell("MTOOLS_SKIP_CHECK=1 mcopy -i '" + file + "' '" + probe + "' ::PROBE.TXT"), 0);
        Shell("MTOOLS_SKIP_CHECK=1 mdir -i '" + file + "' :: 2>&1", &out);
        EXPECT_NE(out.find("Volume in drive : is INTEROP"), std::string::npos) << out;
        EXPECT_NE(out.find("PROBE    TXT      3000"), std::string::npos) << out;
        EXPECT_EQ(Shell("fsck.fat -n '" + file + "' 2>&1", &out), 0) << out;
    }
}

TEST_F(BootInterop, EmptyLabelLeavesNoLabelEntry)
{
    const std::string file = dir.File("nolabel.img");
    WriteFile(file, BuiltDisketteImage(kMedia144M, ""));
    std::string out;
    EXPECT_EQ(Shell("fsck.fat -n '" + file + "' 2>&1", &out), 0) << out;
    Shell("mdir -i '" + file + "' :: 2>&1", &out);
    EXPECT_NE(out.find("has no label"), std::string::npos) << out;
}

TEST_F(BootInterop, LabelsAreWindows1252OnTheDisketteAndUtf8InTheProgram)
{
    if (!RequireTools({"mlabel"}))
        return;
    // mtools reads and writes labels in the code page it is told, here Windows' own.
    const std::string rc = dir.File("mtoolsrc");
    const std::string config = "DEFAULT_CODEPAGE=1252\n";
    WriteFile(rc, std::vector<uint8_t>(config.begin(), config.end()));
    const std::string mtools = "MTOOLSRC='" + rc + "' MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8 ";

    const std::string file = dir.File("label.img");
    const std::vector<uint8_t> image = BuiltDisketteImage(kMedia144M, "ÄB½");
    WriteFile(file, image);
    const std::vector<uint8_t> field = {0xC4, 'B', 0xBD, ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
    const size_t rootDirectory = (1 + 2 * 9) * 512;
    EXPECT_TRUE(std::equal(field.begin(), field.end(), image.begin() + BootSector::VolumeLabel)) << "boot sector";
    EXPECT_TRUE(std::equal(field.begin(), field.end(), image.begin() + rootDirectory)) << "label entry";

    std::string out;
    ASSERT_EQ(Shell(mtools + "mlabel -s -i '" + file + "' :: 2>&1", &out), 0) << out;
    EXPECT_EQ(out, " Volume label is ÄB½        \n");
    // (fsck.fat is no judge here: it refuses every label beyond ASCII, mtools' own too.)

    // Read back: the image file's label and the drive's media identification.
    ScriptedHost boxes;
    DiskImage loaded;
    ASSERT_EQ(LoadImageFile(loaded, file, boxes), 0);
    EXPECT_EQ(loaded.label, "ÄB½        ");
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    setup.drive->Insert(EmulatedMedium::FromImage(kMedia144M, image));
    auto drive = setup.Open();
    ASSERT_TRUE(drive->SelectMedia(kMedia144M, false));
    MediaIdBlock id;
    ASSERT_TRUE(drive->GenericIoctl(Minor::GetMediaId, id.bytes));
    EXPECT_EQ(id.label(), "ÄB½        ");

    // A label that mtools wrote reads as the same text.
    ASSERT_EQ(Shell(mtools + "mlabel -i '" + file + "' ::ÉTÉ½ 2>&1", &out), 0) << out;
    ASSERT_EQ(LoadImageFile(loaded, file, boxes), 0);
    EXPECT_EQ(loaded.label, "ÉTÉ½       ");
}
