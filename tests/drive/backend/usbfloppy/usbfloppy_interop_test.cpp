// SPDX-License-Identifier: GPL-3.0-or-later
// Diskettes that went through a USB floppy drive (the UFI emulator), judged by fsck.fat,
// minfo and mtools.
#include <gtest/gtest.h>

#include "format/format.h"
#include "image/duplicate.h"
#include "support/requiretools.h"
#include "support/scriptedhost.h"
#include "support/tempdir.h"
#include "support/ufiemulator.h"

using namespace vokta;
using namespace vokta::test;

namespace {

struct UsbInterop : ::testing::Test {
    TempDir dir;
    DriveTable table;
    ScriptedHost host;
    bool toolsThere = false;

    void SetUp() override
    {
        toolsThere = RequireTools({"fsck.fat", "minfo", "mkfs.fat", "mcopy"});
        setenv("MTOOLS_SKIP_CHECK", "1", 1);
    }
    std::string Saved(UfiEmulator& drive, MediaType type, const std::string& name)
    {
        const std::string file = dir.File(name);
        WriteFile(file, drive.medium()->ToImage(type));
        return file;
    }
    static std::string Tool(const std::string& command, int& status)
    {
        std::string out;
        status = Shell(command + " 2>&1", &out);
        return out;
    }
};

}  // namespace

// A blank diskette formatted with verify, track by track by the drive, is one that other tools read.
TEST_F(UsbInterop, FullFormatGivesACleanFileSystem)
{
    if (!toolsThere)
        return;
    const struct {
        MediaType type;
        MediumDensity density;
        const char* sectors;
    } cases[] = {{kMedia144M, MediumDensity::High, "18"}, {kMedia720K, MediumDensity::Double, "9"}};
    for (const auto& c : cases) {
        auto a = std::make_shared<UfiEmulator>();
        BindUsbFloppy(table, 'A', a);
        a->Insert(EmulatedMedium(c.density));
        FormatJob job;
        job.inputs->driveText = "A:  FLOPPY";
        job.inputs->media = c.type;
        job.inputs->label = "USBDISK";
        job.drives = table;
        ASSERT_EQ(FormatWorker(std::move(job), host).result, kResultDone) << c.sectors;

        const std::string file = Saved(*a, c.type, "formatted.img");
        int status = -1;
        const std::string fsck = Tool("fsck.fat -n " + ShellQuoted(file), status);
        EXPECT_EQ(status, 0) << fsck;
        const std::string info = Tool("minfo -i " + ShellQuoted(file) + " ::", status);
        EXPECT_NE(info.find("sectors per track: " + std::string(c.sectors) + "\n"), std::string::npos) << info;
        EXPECT_NE(info.find("cylinders: 80\n"), std::string::npos) << info;
    }
}

// A diskette made by mkfs.fat and mcopy, read through one USB drive and written through another.
TEST_F(UsbInterop, DuplicateKeepsTheFiles)
{
    if (!toolsThere)
        return;
    const std::string made = dir.File("made.img");
    WriteFile(dir.File("data.bin"), RandomBytes(200000, 7));
    ASSERT_EQ(Shell("mkfs.fat -C -g 2/18 " + ShellQuoted(made) + " 1440 >/dev/null 2>&1"), 0);
    ASSERT_EQ(Shell("mcopy -i " + ShellQuoted(made) + " " + ShellQuoted(dir.File("data.bin")) + " ::DATA.BIN"), 0);

    auto a = std::make_shared<UfiEmulator>();
    auto b = std::make_shared<UfiEmulator>();
    BindUsbFloppy(table, 'A', a);
    BindUsbFloppy(table, 'B', b);
    a->Insert(EmulatedMedium::FromImage(kMedia144M, ReadFile(made)));
    b->Insert(EmulatedMedium::Formatted(kMedia144M));
    auto image = std::make_shared<DiskImage>();
    auto job = [&](char letter) {
        DuplicateJob j;
        j.driveText = std::string(1, letter) + ":  FLOPPY";
        j.image = image;
        j.drives = table;
        return j;
    };
    a->medium()->writeProtected = true;
    ASSERT_EQ(ReadDiskWorker(job('A'), host).result, kResultDone);
    ASSERT_EQ(WriteDiskWorker(job('B'), host).result, kResultDone);
    // One command a track, and the one sector the write-protect probe writes back.
    const auto writes = b->Commands(Ufi::Op::Write10);
    EXPECT_EQ(std::count_if(writes.begin(), writes.end(), [](const auto& w) { return w.cdb[8] == 18; }), 160);
    ASSERT_EQ(CompareWorker(job('B'), host).result, kResultDone);

    const std::string copy = Saved(*b, kMedia144M, "copy.img");
    int status = -1;
    EXPECT_EQ((Tool("fsck.fat -n " + ShellQuoted(copy), status), status), 0);
    ASSERT_EQ(Shell("mcopy -i " + ShellQuoted(copy) + " ::DATA.BIN " + ShellQuoted(dir.File("back.bin"))), 0);
    EXPECT_EQ(ReadFile(dir.File("back.bin")), RandomBytes(200000, 7));

    b->medium()->track(50, 0).sectors[3].data[9] ^= 1;
    EXPECT_NE(CompareWorker(job('B'), host).result, kResultDone);
}
