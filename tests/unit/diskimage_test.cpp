// The memory image and its files.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "image/diskimage.h"
#include "support/scriptedhost.h"
#include "support/tempdir.h"
#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::test;

TEST(ImageFileName, NumberedSeriesAdvance)
{
    EXPECT_EQ(ProposeNextFileName("C:\\IMAGES\\DISK1.DIM"), "C:\\IMAGES\\DISK2.DIM");
    EXPECT_EQ(ProposeNextFileName("/img/DISK9.DIM"), "/img/DISK10.DIM");
    EXPECT_EQ(ProposeNextFileName("DISK007.DIM"), "DISK8.DIM");
    EXPECT_EQ(ProposeNextFileName("/img/DISK.DIM"), "/img/DISK.DIM");
    EXPECT_EQ(ProposeNextFileName("/img/DISK1"), "/img/DISK1");
    EXPECT_EQ(ProposeNextFileName(""), "");
    EXPECT_EQ(ProposeNextFileName("7.ima"), "8.ima");
    EXPECT_EQ(ProposeNextFileName("d99999999999999999999.dim"), "d99999999999999999999.dim");
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
    EXPECT_EQ(boxes.BoxTexts().back(), "\nThe Disk Image file corresponding media type is NOT supported !\n");
    EXPECT_EQ(image.mediaType, kMediaUnknown);
    EXPECT_EQ(image.data, file) << "data stays";

    PutU16(odd, 19, 0);
    PutU32(odd, 32, 2880);
    EXPECT_EQ(Load("large.dim", odd), 1);
    EXPECT_EQ(boxes.BoxTexts().back(), "\nThe Disk Image file corresponding media type is NOT supported !\n");

    PutU32(odd, 32, 0);
    image.mediaType = kMedia144M;
    EXPECT_EQ(Load("zero.dim", odd), 1);
    EXPECT_EQ(boxes.BoxTexts().back(), "\nThe selected file is NOT a Disk Image File !\n");
    EXPECT_EQ(boxes.Of(HostEvent::Box).back().caption, "Error");
    EXPECT_EQ(image.mediaType, kMedia144M) << "the image is unchanged";
}

TEST_F(ImageFiles, ShortFileFillsOnlyTheStartAndNeverMixesTwoDiskettes)
{
    ASSERT_EQ(Load("full.dim", PatternImage(kMedia144M)), 0);
    const uint8_t* block = image.data.data();
    std::vector<uint8_t> shortFile = BootSectorFor(kMedia144M);
    shortFile.resize(1000, 0x77);
    ASSERT_EQ(Load("short.dim", shortFile), 0);
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
