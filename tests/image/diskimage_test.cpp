// SPDX-License-Identifier: GPL-3.0-or-later
// The memory image and its files.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <set>

#include "image/diskimage.h"
#include "info/inforeport.h"
#include "support/scriptedhost.h"
#include "support/tempdir.h"
#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::test;

TEST(ImageFileName, NumberedSeriesAdvanceInTheFilesOwnNameOnly)
{
    const struct {
        const char* before;
        const char* after;
    } cases[] = {
        {"C:\\IMAGES\\DISK1.DIM", "C:\\IMAGES\\DISK2.DIM"},
        {"/img/DISK9.DIM", "/img/DISK10.DIM"},
        {"DISK007.DIM", "DISK8.DIM"},
        {"/img/DISK.DIM", "/img/DISK.DIM"},
        {"/img/DISK1", "/img/DISK1"},
        {"", ""},
        {"7.ima", "8.ima"},
        {"/img/7.ima", "/img/8.ima"},
        {"d99999999999999999999.dim", "d99999999999999999999.dim"},
        // A "." in a folder's name is no extension of the file.
        {"/tmp/v1.d/disk", "/tmp/v1.d/disk"},
        {"/tmp/v1.d/disk1.dim", "/tmp/v1.d/disk2.dim"},
        {"/tmp/v1.d/1", "/tmp/v1.d/1"},
        {"/tmp/v1/.dim", "/tmp/v1/.dim"},
        {"/tmp/v1.d/disk1.tar.imd", "/tmp/v1.d/disk1.tar.imd"},
        {"/tmp/v1.d/disk.1.imd", "/tmp/v1.d/disk.2.imd"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ProposeNextFileName(c.before), c.after) << c.before;
}

TEST(ImageMedia, TypeFromTheSixteenBitTotal)
{
    std::vector<uint8_t> boot = BootSectorFor(kMedia172M);
    EXPECT_EQ(MediaTypeFromBootSector(boot), kMedia172M);
    PutU16(boot, 19, 2881);
    EXPECT_EQ(MediaTypeFromBootSector(boot), kMediaUnknown);
    PutU16(boot, 19, 0);
    PutU32(boot, 32, 2880);
    EXPECT_EQ(MediaTypeFromBootSector(boot), kMediaUnknown) << "the 32-bit count is not consulted";
    EXPECT_EQ(MediaTotalSectors(kMedia12M), 2400u);
    EXPECT_EQ(MediaTotalSectors(kMediaHardDisk), 0u);
}

namespace {

struct ImageFiles : ::testing::Test {
    TempDir dir;
    ScriptedHost boxes;
    DiskImage image;

    int Load(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        WriteFile(dir.File(name), bytes);
        return LoadImageFile(image, dir.File(name), boxes);
    }
};

}  // namespace

TEST_F(ImageFiles, ToleratedAndRefusedBootSectors)
{
    std::vector<uint8_t> file = PatternImage(kMedia144M);
    file[510] = 0;
    std::copy_n("FAT     ", 8, file.begin() + 54);
    ASSERT_EQ(Load("tolerated.ima", file), 0) << "signature and file system name are tolerated";
    EXPECT_EQ(image.mediaType, kMedia144M);
    EXPECT_EQ(image.data, file);

    std::vector<uint8_t> odd = PatternImage(kMedia144M);
    PutU16(odd, 19, 2881);
    EXPECT_EQ(Load("odd.dim", odd), 1);
    EXPECT_TRUE(
        boxes.BoxTexts().back().starts_with("\nThe Disk Image file corresponding media type is NOT supported !\n"));
    EXPECT_EQ(image.mediaType, kMediaUnknown);
    EXPECT_EQ(image.data, file) << "data stays";

    PutU16(odd, 19, 0);
    PutU32(odd, 32, 0);
    image.mediaType = kMedia144M;
    EXPECT_EQ(Load("zero.dim", odd), 1);
    EXPECT_TRUE(boxes.BoxTexts().back().starts_with("\nThe selected file is NOT a Disk Image File !\n"));
    EXPECT_EQ(boxes.Of(HostEvent::Box).back().caption, "Error");
    EXPECT_EQ(image.mediaType, kMedia144M) << "the image is unchanged";
}

// A refused boot sector is told with the system's text, then the file and why: the tests
// that make it no image, or the total that is no diskette's.
TEST_F(ImageFiles, RefusalsNameTheFileAndWhy)
{
    const std::string notAnImage = "\nThe selected file is NOT a Disk Image File !\n";
    const std::string notSupported = "\nThe Disk Image file corresponding media type is NOT supported !\n";
    const struct {
        const char* name;
        std::function<void(std::vector<uint8_t>&)> edit;
        std::string refusal;
        std::string why;
    } cases[] = {
        {"length.img", [](auto& b) { PutU16(b, 11, 1024); }, notAnImage, "Invalid sector length."},
        {"nolength.img", [](auto& b) { PutU16(b, 11, 0); }, notAnImage, "Invalid sector length."},
        {"reserved.img", [](auto& b) { PutU16(b, 14, 0); }, notAnImage, "Invalid begin sector number."},
        {"fats.img", [](auto& b) { b[16] = 5; }, notAnImage, "Invalid number of FATs."},
        {"media.img", [](auto& b) { b[21] = 0x12; }, notAnImage, "Invalid media code."},
        {"total.img", [](auto& b) { PutU16(b, 19, 0); }, notAnImage, "Invalid total number of sectors."},
        {"two.img", [](auto& b) { PutU16(b, 11, 256); b[16] = 0; }, notAnImage,
         "Invalid sector length. Invalid number of FATs."},
        // The signature and the file system's name are tolerated, and not named.
        {"signature.img", [](auto& b) { PutU16(b, 11, 0); b[510] = 0; }, notAnImage, "Invalid sector length."},
        {"odd.img", [](auto& b) { PutU16(b, 19, 2881); }, notSupported,
         "its boot sector gives a total of 2881 sectors, that of no 720K, 1.2M, 1.44M, 1.68M or 1.72M diskette"},
        {"large.img", [](auto& b) { PutU16(b, 19, 0); PutU32(b, 32, 2880); }, notSupported,
         "its boot sector gives a total of 0 sectors, that of no 720K, 1.2M, 1.44M, 1.68M or 1.72M diskette"},
    };
    ASSERT_EQ(Load("held.dim", PatternImage(kMedia720K)), 0);
    const std::vector<uint8_t> held = image.data;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        boxes = ScriptedHost{};
        std::vector<uint8_t> file = PatternImage(kMedia144M);
        c.edit(file);
        EXPECT_EQ(Load(c.name, file), 1);
        EXPECT_EQ(boxes.BoxTexts(), std::vector<std::string>{c.refusal + dir.File(c.name) + ": " + c.why});
        EXPECT_EQ(image.data, held) << "the image held stays";
    }
}

TEST_F(ImageFiles, ShortFileFillsOnlyTheStartAndNeverMixesTwoDiskettes)
{
    ASSERT_EQ(Load("full.dim", PatternImage(kMedia144M)), 0);
    const uint8_t* block = image.data.data();
    std::vector<uint8_t> shortFile = BootSectorFor(kMedia144M);
    shortFile.resize(1000, 0x77);
    boxes.answers = {Answer::Yes};
    ASSERT_EQ(Load("short.dim", shortFile), 0) << "loaded after the user was told what is missing";
    EXPECT_NE(boxes.BoxTexts().back().find("its last 2879 sectors are missing"), std::string::npos)
        << boxes.BoxTexts().back();
    EXPECT_EQ(image.data.data(), block) << "the block of the same size is reused";
    EXPECT_EQ(image.data.size(), 1474560u);
    EXPECT_TRUE(std::equal(shortFile.begin(), shortFile.end(), image.data.begin()));
    EXPECT_TRUE(std::all_of(image.data.begin() + 1000, image.data.end(), [](uint8_t b) { return b == 0; }));

    ASSERT_EQ(Load("small.dim", PatternImage(kMedia720K)), 0);
    EXPECT_EQ(image.data.size(), 737280u);
    EXPECT_EQ(image.mediaType, kMedia720K);
}

TEST_F(ImageFiles, UnreadableFilesAreRefusedWithNameAndCause)
{
    ASSERT_EQ(Load("good.dim", PatternImage(kMedia720K)), 0);
    EXPECT_EQ(Load("tiny.dim", std::vector<uint8_t>(100, 0xEB)), 1);
    EXPECT_NE(boxes.BoxTexts().back().find("tiny.dim"), std::string::npos);
    EXPECT_NE(boxes.BoxTexts().back().find("shorter than one sector"), std::string::npos);
    EXPECT_EQ(LoadImageFile(image, dir.path(), boxes), 1);
    EXPECT_NE(boxes.BoxTexts().back().find("folder"), std::string::npos);
    EXPECT_EQ(LoadImageFile(image, dir.File("absent.dim"), boxes), 1);
    EXPECT_NE(boxes.BoxTexts().back().find("No such file"), std::string::npos);
    EXPECT_EQ(LoadImageFile(image, "", boxes), 1);
    EXPECT_EQ(boxes.Count(HostEvent::Box), 3) << "an empty path is silent";
    EXPECT_EQ(image.mediaType, kMedia720K);
    EXPECT_EQ(image.data, PatternImage(kMedia720K));
}

TEST_F(ImageFiles, NamedPipesSocketsAndDevicesAreRefusedAtOnce)
{
    ASSERT_EQ(Load("good.dim", PatternImage(kMedia720K)), 0);
    const std::string pipe = dir.File("pipe.dim");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const std::string socketPath = dir.File("socket.dim");
    const int listening = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::copy(socketPath.begin(), socketPath.end(), address.sun_path);
    ASSERT_EQ(bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);

    alarm(60);  // a named pipe opened the blocking way waits for a writer: fail instead
    EXPECT_EQ(LoadImageFile(image, pipe, boxes), 1);
    EXPECT_EQ(boxes.BoxTexts().back(), pipe + ": is a named pipe, not a disk image file");
    EXPECT_EQ(LoadImageFile(image, socketPath, boxes), 1);
    EXPECT_EQ(boxes.BoxTexts().back(), socketPath + ": is a socket, not a disk image file");
    EXPECT_EQ(LoadImageFile(image, "/dev/zero", boxes), 1);
    EXPECT_EQ(boxes.BoxTexts().back(), "/dev/zero: is a device, not a disk image file");
    alarm(0);
    close(listening);
    EXPECT_EQ(boxes.Of(HostEvent::Box).back().caption, "Error");
    EXPECT_EQ(image.mediaType, kMedia720K) << "the image is unchanged";
    EXPECT_EQ(image.data, PatternImage(kMedia720K));
}

TEST_F(ImageFiles, LabelAndSerialComeFromTheBootSector)
{
    std::vector<uint8_t> file = PatternImage(kMedia144M);
    std::copy_n("BACKUP     ", 11, file.begin() + 43);
    PutU32(file, 39, 0x0009ABCD);
    ASSERT_EQ(Load("l.dim", file), 0);
    EXPECT_EQ(image.label, "BACKUP     ");
    EXPECT_EQ(image.serialText, "9ABCD");
    ASSERT_TRUE(SaveImageFile(image, dir.File("copy.dim"), boxes));
    EXPECT_EQ(ReadFile(dir.File("copy.dim")), file);
    EXPECT_FALSE(SaveImageFile(image, dir.File("no/such/folder.dim"), boxes));
    EXPECT_NE(boxes.BoxTexts().back().find("folder.dim"), std::string::npos);
}

// A file of another size than its boot sector's diskette is refused (a longer one always, a
// larger one than any diskette by its size alone, before anything is taken), or loaded only
// when the user, told how many sectors are missing, answers Yes. A refusal changes nothing.
TEST_F(ImageFiles, FilesOfAnotherSizeThanTheirDisketteAreRefusedOrAsked)
{
    struct Case {
        const char* name;
        MediaType boot;
        uint64_t size;
        std::optional<Answer> answer;  // the question asked, and its answer
        const char* told;
        bool loaded;
    };
    const uint64_t k144 = ImageSizeOf(kMedia144M);
    const Case cases[] = {
        {"one byte more", kMedia144M, k144 + 1, {}, "1474560 bytes, but the file holds 1474561 bytes (1 too many)", false},
        {"720K boot sector, 1.44M file", kMedia720K, k144, {}, "(737280 too many)", false},
        {"2 GB", kMedia144M, uint64_t{2} << 30, {}, "the file is 2147483648 bytes, larger than any diskette", false},
        {"1 TB", kMedia144M, uint64_t{1} << 40, {}, "the file is 1099511627776 bytes, larger than any diskette", false},
        {"one sector short, No", kMedia144M, k144 - 512, Answer::No, "its last 1 sectors are missing", false},
        {"a byte short, Yes", kMedia144M, k144 - 1, Answer::Yes, "its last 1 sectors are missing", true},
        {"1.72M, half, Yes", kMedia172M, ImageSizeOf(kMedia172M) / 2, Answer::Yes, "its last 1722 sectors", true},
    };
    const std::vector<uint8_t> held = PatternImage(kMedia720K);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        boxes = ScriptedHost{};
        ASSERT_EQ(Load("held.dim", held), 0);
        const uint8_t* block = image.data.data();
        const std::string path = dir.File("sized.dim");
        std::vector<uint8_t> content = PatternImage(c.boot);
        content.resize(std::min<uint64_t>(c.size, content.size()));
        WriteFile(path, content);
        ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(c.size)), 0);  // sparse beyond the content
        if (c.answer)
            boxes.answers = {*c.answer};
        EXPECT_EQ(LoadImageFile(image, path, boxes), c.loaded ? 0 : 1);
        ASSERT_EQ(boxes.BoxTexts().size(), 1u);
        EXPECT_NE(boxes.BoxTexts()[0].find(c.told), std::string::npos) << boxes.BoxTexts()[0];
        EXPECT_EQ(boxes.Of(HostEvent::Box)[0].buttons, c.answer ? Buttons::YesNo : Buttons::Ok);
        if (c.loaded) {
            EXPECT_EQ(image.mediaType, c.boot);
            EXPECT_TRUE(std::equal(content.begin(), content.end(), image.data.begin()));
            EXPECT_TRUE(std::all_of(image.data.begin() + static_cast<std::ptrdiff_t>(content.size()), image.data.end(),
                                    [](uint8_t b) { return b == 0; }));
        } else {
            EXPECT_EQ(image.mediaType, kMedia720K) << "the image held is still held";
            EXPECT_EQ(image.data.data(), block) << "no block was taken";
            EXPECT_EQ(image.data, held);
        }
    }
}

namespace {

// Saves in a child whose files may not grow past `limit` bytes, as on a full disk; the
// child's exit code is the save's result.
bool SaveWithFileSizeLimit(rlim_t limit, const std::function<bool()>& save)
{
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead of killing
        const rlimit cap{limit, limit};
        setrlimit(RLIMIT_FSIZE, &cap);
        _exit(save() ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<std::string> Names(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

// An image and a report are saved whole or not at all: a save that cannot be completed, or
// one into a file nothing can be saved into, leaves the old file as it was and nothing beside it.
TEST_F(ImageFiles, SavesReplaceTheOldFileWholeOrLeaveItAsItWas)
{
    ASSERT_EQ(Load("new.dim", PatternImage(kMedia144M)), 0);
    const std::vector<uint8_t> old = PatternImage(kMedia720K);
    const std::string saved = dir.File("saved.dim");
    const std::string report = dir.File("report.txt");
    WriteFile(saved, old);
    WriteFile(report, {'o', 'l', 'd'});
    const std::vector<std::string> before = Names(dir.path());

    EXPECT_FALSE(SaveWithFileSizeLimit(100000, [&] { return SaveImageFile(image, saved, boxes); }));
    EXPECT_FALSE(SaveWithFileSizeLimit(4, [&] { return SaveReportFile(report, std::string(4096, 'x'), boxes); }));
    EXPECT_EQ(ReadFile(saved), old);
    EXPECT_EQ(ReadFile(report), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(Names(dir.path()), before) << "no partial file is left beside them";

    ASSERT_TRUE(SaveImageFile(image, saved, boxes));
    EXPECT_EQ(ReadFile(saved), image.data);
    ASSERT_TRUE(SaveReportFile(report, "new\r\n", boxes));
    EXPECT_EQ(ReadFile(report), (std::vector<uint8_t>{'n', 'e', 'w', '\r', '\n'}));

    const std::string pipe = dir.File("pipe.dim");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    alarm(60);  // a save that opened the pipe would wait for a reader: fail instead
    const std::pair<std::string, std::string> refused[] = {
        {pipe, "is a named pipe: only a regular file can be saved into"},
        {"/dev/null", "is a device: only a regular file can be saved into"},
        {dir.path(), "is a folder: only a regular file can be saved into"},
    };
    for (const auto& [path, why] : refused) {
        boxes = ScriptedHost{};
        EXPECT_FALSE(SaveImageFile(image, path, boxes));
        EXPECT_FALSE(SaveReportFile(path, "x", boxes));
        EXPECT_EQ(boxes.BoxTexts(), std::vector<std::string>(2, path + ": " + why));
    }
    alarm(0);
    struct stat st {};
    ASSERT_EQ(lstat(pipe.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the pipe is still a pipe";
}

// A ".imd" name, in any case, saves an ImageDisk file that loads back as the same image,
// its unreadable sectors recorded as such; any other name saves the raw bytes.
TEST_F(ImageFiles, ImageDiskFilesKeepEverySectorAndWhichOnesWereUnreadable)
{
    const struct {
        MediaType type;
        const char* name;
        std::set<uint32_t> unreadable;
    } cases[] = {
        {kMedia720K, "copy.imd", {}},
        {kMedia12M, "COPY.IMD", {0, 2399}},
        {kMedia144M, "copy.Imd", {5, 6, 7, 1000}},
        {kMedia168M, "copy.imd", {}},
        {kMedia172M, "copy.imd", {3443}},
        {kMedia144M, "copy.img", {9}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.type));
        boxes = ScriptedHost{};
        DiskImage source;
        WriteFile(dir.File("source.dim"), PatternImage(c.type));
        ASSERT_EQ(LoadImageFile(source, dir.File("source.dim"), boxes), 0);
        source.unreadable = c.unreadable;
        ASSERT_TRUE(SaveImageFile(source, dir.File(c.name), boxes));
        const std::vector<uint8_t> saved = ReadFile(dir.File(c.name));
        const bool imageDisk = std::string(c.name).ends_with("imd") || std::string(c.name).ends_with("IMD") ||
                               std::string(c.name).ends_with("Imd");
        ASSERT_EQ(std::string(saved.begin(), saved.begin() + 4) == "IMD ", imageDisk);
        if (!imageDisk) {
            EXPECT_EQ(saved, source.data);
            continue;
        }
        DiskImage loaded;
        ASSERT_EQ(LoadImageFile(loaded, dir.File(c.name), boxes), 0) << testing::PrintToString(boxes.BoxTexts());
        EXPECT_EQ(loaded.mediaType, c.type);
        EXPECT_EQ(loaded.data, source.data) << "sectors recorded unreadable keep what the image held";
        EXPECT_EQ(loaded.unreadable, c.unreadable);
        EXPECT_EQ(loaded.label, source.label);
        EXPECT_EQ(loaded.serialText, source.serialText);
        if (c.unreadable.empty())
            EXPECT_TRUE(boxes.BoxTexts().empty());
        else
            EXPECT_EQ(boxes.BoxTexts(), std::vector<std::string>{
                                            dir.File(c.name) + ":\nThe image file records " +
                                            std::to_string(c.unreadable.size()) +
                                            " sectors that could not be read from its diskette: their data in the "
                                            "image is missing or damaged."});
    }
}

// An ImageDisk file that is no diskette image is refused with the system's message, one
// that is no ImageDisk file with its cause, and the image held stays.
TEST_F(ImageFiles, ImageDiskFilesThatAreNoImagesAreRefused)
{
    ASSERT_EQ(Load("held.dim", PatternImage(kMedia720K)), 0);
    const std::vector<uint8_t> held = image.data;
    const std::string noBootSector = "IMD 1.18: 01/01/2026 00:00:00\r\n\x1A";
    const std::string truncated = noBootSector + std::string("\x03\x00\x00\x12\x02", 5);
    const std::pair<std::string, std::string> cases[] = {
        {noBootSector, "\nThe selected file is NOT a Disk Image File !\n" + dir.File("bad.imd") +
                           ": Invalid sector length. Invalid begin sector number. Invalid number of FATs. "
                           "Invalid media code. Invalid total number of sectors."},
        {truncated, dir.File("bad.imd") + ": truncated sector maps at byte 0"},
    };
    for (const auto& [bytes, told] : cases) {
        boxes = ScriptedHost{};
        EXPECT_EQ(Load("bad.imd", std::vector<uint8_t>(bytes.begin(), bytes.end())), 1);
        ASSERT_EQ(boxes.BoxTexts().size(), 1u);
        EXPECT_EQ(boxes.BoxTexts()[0], told);
        EXPECT_EQ(image.data, held);
        EXPECT_EQ(image.mediaType, kMedia720K);
    }
}
