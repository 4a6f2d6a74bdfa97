// SPDX-License-Identifier: GPL-3.0-or-later
// Diskette files as drives: raw images, ImageDisk files, protection, locking, saving.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "boot/bootbuilder.h"
#include "drive/backend/files/imdfile.h"
#include "drive/lostwork.h"
#include "drive/backend/files/virtualdrive.h"
#include "drive/tracklayout.h"
#include "res/strings.h"
#include "support/tempdir.h"
#include "support/testdrives.h"
#include "support/unprivileged.h"

using namespace vokta;
using namespace vokta::test;

namespace {

struct VirtualFile : ::testing::Test {
    TempDir dir;
    DriveTable table;

    void Bind(const std::string& name, DriveKind kind = DriveKind::Floppy35HD)
    {
        table.Bind(VirtualDriveBinding('A', dir.File(name), kind));
    }
    std::unique_ptr<DiskDrive> Open() { return std::make_unique<DiskDrive>('A', table); }

    void FormatAll(DiskDrive& drive, MediaType type, bool optimized)
    {
        ASSERT_TRUE(drive.SelectMedia(type, false));
        drive.BeginFormat();
        const MediaGeometry g = *GeometryOf(type);
        for (uint16_t c = 0; c < g.cylinders; ++c)
            for (uint16_t h = 0; h < g.heads; ++h)
                ASSERT_TRUE(drive.FormatTrack(c, h, optimized)) << c << "/" << h;
        EXPECT_TRUE(drive.EndFormat(WriteUnlabelledBootSector));
    }
};

}  // namespace

TEST_F(VirtualFile, AbsentFileIsAnEmptyDrive)
{
    Bind("none.img");
    auto drive = Open();
    EXPECT_EQ(drive->PendingError(), Err::None);
    EXPECT_FALSE(drive->IsDriveReady());
    EXPECT_FALSE(drive->SelectMedia(kMediaUnknown, true));
    EXPECT_EQ(drive->GetErrorText(), "Drive NOT ready !");
    drive.reset();
    EXPECT_FALSE(FileExists(dir.File("none.img"))) << "an empty drive creates no file";
}

TEST_F(VirtualFile, EmptyFileFormatsToItsSize)
{
    WriteFile(dir.File("blank.img"), {});
    Bind("blank.img");
    {
        auto drive = Open();
        FormatAll(*drive, kMedia144M, false);
    }
    const std::vector<uint8_t> bytes = ReadFile(dir.File("blank.img"));
    ASSERT_EQ(bytes.size(), 1474560u);
    EXPECT_EQ(bytes[512], 0xF6) << "formatted sectors hold the filler byte";
    EXPECT_EQ(bytes.back(), 0xF6);
}

TEST_F(VirtualFile, DistributionFormatsGiveTheirSizes)
{
    for (MediaType type : {kMedia168M, kMedia172M}) {
        WriteFile(dir.File("dmf.img"), {});
        Bind("dmf.img");
        {
            auto drive = Open();
            FormatAll(*drive, type, true);
        }
        EXPECT_EQ(ReadFile(dir.File("dmf.img")).size(), ImageSizeOf(type)) << type;
    }
}

TEST_F(VirtualFile, WritesReachTheFileOnlyWhenTheDriveObjectEnds)
{
    const std::vector<uint8_t> original = PatternImage(kMedia720K);
    WriteFile(dir.File("d.img"), original);
    Bind("d.img", DriveKind::Floppy35DD);
    auto drive = Open();
    ASSERT_TRUE(drive->SelectMedia(kMediaUnknown, false));
    EXPECT_EQ(drive->mediaType, kMedia720K);
    std::vector<uint8_t> data(9 * 512, 0x5A);
    ASSERT_TRUE(drive->WriteSectors(9, 9, data));
    EXPECT_EQ(ReadFile(dir.File("d.img")), original) << "nothing half-written while the drive is in use";
    drive.reset();
    const std::vector<uint8_t> saved = ReadFile(dir.File("d.img"));
    ASSERT_EQ(saved.size(), original.size());
    EXPECT_TRUE(std::equal(data.begin(), data.end(), saved.begin() + 9 * 512));
    EXPECT_TRUE(std::equal(original.begin(), original.begin() + 9 * 512, saved.begin()));
    EXPECT_EQ(Shell("ls " + dir.path() + " | wc -l | grep -qx 1"), 0) << "no temporary file left behind";
}


TEST_F(VirtualFile, FileWithoutWritePermissionIsWriteProtected)
{
    const std::vector<uint8_t> image = PatternImage(kMedia144M);
    WriteFile(dir.File("ro.img"), image);
    chmod(dir.path().c_str(), 0755);
    chmod(dir.File("ro.img").c_str(), 0444);
    Bind("ro.img");
    const std::optional<std::string> problem = RunAsNobody([&]() -> std::string {
        auto drive = Open();
        if (drive->PendingError() != Err::None || !drive->SelectMedia(kMediaUnknown, false) || !drive->IsWriteProtected())
            return "not write-protected";
        std::vector<uint8_t> sector(512);
        if (drive->WriteSectors(0, 1, sector) || drive->PendingError() != Err::WriteProtect)
            return "the write was not refused as write-protected";
        return "";
    });
    EXPECT_EQ(problem, std::optional<std::string>(""));
    EXPECT_EQ(ReadFile(dir.File("ro.img")), image);
}

TEST_F(VirtualFile, ADirectoryIsNoDiskette)
{
    table.Bind(VirtualDriveBinding('A', dir.path(), DriveKind::Floppy35HD));
    auto drive = Open();
    EXPECT_EQ(drive->PendingError(), Err::AccessDenied);
    EXPECT_NE(drive->openFailureDetail.find("directory"), std::string::npos) << drive->openFailureDetail;
}

TEST_F(VirtualFile, AdvisoryLockOfAnotherProgramIsTheVolumeLock)
{
    WriteFile(dir.File("l.img"), PatternImage(kMedia144M));
    Bind("l.img");
    const int other = open(dir.File("l.img").c_str(), O_RDONLY);
    ASSERT_EQ(flock(other, LOCK_EX), 0);
    {
        auto drive = Open();
        EXPECT_EQ(drive->PendingError(), Err::DriveLocked);
        EXPECT_EQ(drive->GetErrorText(), "Drive is Locked !");
    }
    flock(other, LOCK_UN);
    auto first = Open();
    EXPECT_EQ(first->PendingError(), Err::None);
    auto second = Open();
    EXPECT_EQ(second->PendingError(), Err::DriveLocked) << "one drive object at a time";
    close(other);
}

TEST_F(VirtualFile, UnknownSizesAndBrokenImageDiskFilesAreRefusedInWords)
{
    WriteFile(dir.File("odd.img"), std::vector<uint8_t>(1474560 - 512));
    Bind("odd.img");
    auto drive = Open();
    EXPECT_EQ(drive->PendingError(), Err::InvalidData);
    EXPECT_NE(drive->openFailureDetail.find("1474048 bytes"), std::string::npos) << drive->openFailureDetail;

    std::vector<uint8_t> imd = {'I', 'M', 'D', ' ', '1', 0x1A, 3, 0, 0, 18, 2};
    WriteFile(dir.File("cut.imd"), imd);
    Bind("cut.imd");
    auto cut = Open();
    EXPECT_EQ(cut->PendingError(), Err::InvalidData);
    EXPECT_NE(cut->openFailureDetail.find("truncated"), std::string::npos) << cut->openFailureDetail;
    EXPECT_EQ(ReadFile(dir.File("cut.imd")), imd) << "a refused file is left alone";

    // Tracks of 255 compressed 8 KB sectors: 7 KB of file that would expand to 18 MB.
    std::vector<uint8_t> bomb = {'I', 'M', 'D', ' ', '1', 0x1A};
    for (uint8_t cylinder = 0; cylinder < 9; ++cylinder) {
        bomb.insert(bomb.end(), {3, cylinder, 0, 255, 6});
        for (int r = 1; r <= 255; ++r)
            bomb.push_back(static_cast<uint8_t>(r));
        for (int r = 1; r <= 255; ++r)
            bomb.insert(bomb.end(), {2, 0xE5});
    }
    WriteFile(dir.File("bomb.imd"), bomb);
    Bind("bomb.imd");
    auto hostile = Open();
    EXPECT_EQ(hostile->PendingError(), Err::InvalidData);
    EXPECT_NE(hostile->openFailureDetail.find("more sector data than any diskette holds"), std::string::npos)
        << hostile->openFailureDetail;
}

TEST_F(VirtualFile, RefusalsAreInTheLanguageOfTheResourceModule)
{
    constexpr StringEntry kItalian[] = {
        {Str::NamedPipeNotDiskette, "è una pipe con nome, non un file di dischetto"},
        {Str::NotADisketteSize, "%ld byte non sono la dimensione di un dischetto"},
        {Str::ImageDiskTruncatedTrackHeader, "intestazione di traccia troncata al byte %ld"},
    };
    const ArrayStringTable italian(kItalian);
    SetResourceModule(&italian);
    mkfifo(dir.File("pipe.img").c_str(), 0644);
    Bind("pipe.img");
    const std::string pipe = Open()->openFailureDetail;
    WriteFile(dir.File("odd.img"), std::vector<uint8_t>(1000));
    Bind("odd.img");
    const std::string odd = Open()->openFailureDetail;
    WriteFile(dir.File("cut.imd"), {'I', 'M', 'D', ' ', '1', 0x1A, 3, 0});
    Bind("cut.imd");
    const std::string cut = Open()->openFailureDetail;
    SetResourceModule(nullptr);
    EXPECT_EQ(pipe, dir.File("pipe.img") + ": è una pipe con nome, non un file di dischetto");
    EXPECT_EQ(odd, dir.File("odd.img") + ": 1000 byte non sono la dimensione di un dischetto");
    EXPECT_EQ(cut, dir.File("cut.imd") + ": intestazione di traccia troncata al byte 0");
}

TEST_F(VirtualFile, OptimizedFormatSavedAsImageDiskKeepsTheSectorOrder)
{
    Bind("opt.imd");
    WriteFile(dir.File("opt.imd"), {});
    {
        auto drive = Open();
        ASSERT_TRUE(drive->SelectMedia(kMedia144M, false));
        drive->BeginFormat();
        for (uint16_t c = 0; c < 80; ++c)
            for (uint16_t h = 0; h < 2; ++h)
                ASSERT_TRUE(drive->FormatTrack(c, h, true));
        EXPECT_TRUE(drive->EndFormat(WriteUnlabelledBootSector));
        std::vector<uint8_t> data(18 * 512, 0x11);
        ASSERT_TRUE(drive->WriteSectors(18 * 2 * 7, 18, data));
    }
    const std::vector<uint8_t> file = ReadFile(dir.File("opt.imd"));
    ImdReadResult parsed = ReadImd(file, MediumDensity::High);
    ASSERT_TRUE(parsed.medium) << parsed.error;
    for (uint16_t c = 0; c < 80; ++c)
        for (uint8_t h = 0; h < 2; ++h) {
            std::vector<uint16_t> order;
            for (const SectorRecord& s : parsed.medium->track(c, h).sectors)
                order.push_back(s.number);
            ASSERT_EQ(order, OptimizedTrackOrder(18, 3, 1, c, h)) << c << "/" << int(h);
        }
    EXPECT_EQ(parsed.medium->Find(7, 0, 5)->data[0], 0x11);

    // Reopened, the drive reads what it wrote.
    auto drive = Open();
    ASSERT_TRUE(drive->SelectMedia(kMedia144M, false));
    std::vector<uint8_t> back(18 * 512);
    ASSERT_TRUE(drive->ReadSectors(18 * 2 * 7, 18, back));
    EXPECT_EQ(back, std::vector<uint8_t>(18 * 512, 0x11));
}

TEST_F(VirtualFile, ImageDiskKeepsUnformattedTracksAndDataErrors)
{
    EmulatedMedium disk = PatternDiskette(kMedia144M);
    disk.track(40, 1).sectors.clear();
    disk.Find(3, 0, 7)->dataError = true;
    disk.Find(3, 0, 8)->deleted = true;
    WriteFile(dir.File("e.imd"), WriteImd(disk, "01/01/2000 00:00:00", "test\r\n"));
    Bind("e.imd");
    auto drive = Open();
    ASSERT_TRUE(drive->SelectMedia(kMediaUnknown, false));
    std::vector<uint8_t> buffer(512);
    EXPECT_FALSE(drive->ReadSectors((3 * 2 + 0) * 18 + 6, 1, buffer));
    EXPECT_EQ(drive->GetErrorText(), "Bad CRC !");
    EXPECT_FALSE(drive->ReadSectors((40 * 2 + 1) * 18, 1, buffer));
    EXPECT_EQ(drive->GetErrorText(), "Disk Sector NOT found !");
    ASSERT_TRUE(drive->ReadSectors((3 * 2 + 0) * 18 + 7, 1, buffer));
}

TEST_F(VirtualFile, SavingThroughALinkReplacesTheLinkedFile)
{
    WriteFile(dir.File("target.img"), {});
    ASSERT_EQ(symlink(dir.File("target.img").c_str(), dir.File("link.img").c_str()), 0);
    Bind("link.img");
    {
        auto drive = Open();
        FormatAll(*drive, kMedia720K, false);
    }
    struct stat st {};
    ASSERT_EQ(lstat(dir.File("link.img").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link stays a link";
    EXPECT_EQ(ReadFile(dir.File("target.img")).size(), 737280u);
}

TEST_F(VirtualFile, AFolderWithoutRoomRefusesTheFirstChangeInsteadOfLosingItLater)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting a small file system needs root";
    const std::string small = dir.File("small");
    mkdir(small.c_str(), 0755);
    if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "no tmpfs here";
    WriteFile(small + "/blank.img", {});
    table.Bind(VirtualDriveBinding('A', small + "/blank.img", DriveKind::Floppy35HD));
    {
        auto drive = Open();
        ASSERT_TRUE(drive->SelectMedia(kMedia144M, false));
        drive->BeginFormat();
        EXPECT_FALSE(drive->FormatTrack(0, 0, false));
        EXPECT_EQ(drive->GetErrorText(), DiskErrorText(Err::HostDiskFull) + "\n" + small + "/blank.img");
    }
    EXPECT_EQ(ReadFile(small + "/blank.img").size(), 0u) << "the diskette file is as it was";
    umount(small.c_str());
}

TEST_F(VirtualFile, ImageDiskCommentSurvivesAChange)
{
    WriteFile(dir.File("c.imd"), WriteImd(PatternDiskette(kMedia720K), "01/01/2000 00:00:00", "Archive box 7\r\n"));
    Bind("c.imd");
    {
        auto drive = Open();
        ASSERT_TRUE(drive->SelectMedia(kMediaUnknown, false));
        std::vector<uint8_t> sector(512, 0x33);
        ASSERT_TRUE(drive->WriteSectors(100, 1, sector));
    }
    const ImdReadResult saved = ReadImd(ReadFile(dir.File("c.imd")), MediumDensity::High);
    ASSERT_TRUE(saved.medium);
    EXPECT_NE(saved.comment.find("\r\nArchive box 7\r\n"), std::string::npos) << saved.comment;
    EXPECT_EQ(saved.medium->Find(5, 1, 2)->data[0], 0x33);
}

TEST_F(VirtualFile, CommitTellsWhyTheFileCouldNotBeSavedAndMayTryAgain)
{
    GiveToUnprivilegedUser(dir.path());
    Bind("d.img", DriveKind::Floppy35DD);
    const std::optional<std::string> problem = RunAsNobody([&]() -> std::string {
        const std::vector<uint8_t> original = PatternImage(kMedia720K);
        WriteFile(dir.File("d.img"), original);
        auto drive = Open();
        const std::vector<uint8_t> data(9 * 512, 0x5A);
        if (!drive->SelectMedia(kMediaUnknown, false) || !drive->WriteSectors(9, 9, data))
            return "the write before the folder became read-only failed";
        chmod(dir.path().c_str(), 0555);
        if (drive->Commit())
            return "Commit succeeded in a read-only folder";
        if (drive->PendingError() != Err::WriteFault)
            return "pending error " + std::to_string(CodeOf(drive->PendingError()));
        if (drive->commitFailureDetail.find("d.img: Permission denied") == std::string::npos)
            return "the reason: " + drive->commitFailureDetail;
        if (ReadFile(dir.File("d.img")) != original)
            return "the diskette file changed";
        if (drive->GetErrorText() != "The changes could not be written to the diskette.")
            return "the error text";
        chmod(dir.path().c_str(), 0755);
        if (!drive->Commit())
            return "the second try failed: " + drive->commitFailureDetail;
        const std::vector<uint8_t> saved = ReadFile(dir.File("d.img"));
        if (saved.size() != original.size() || !std::equal(data.begin(), data.end(), saved.begin() + 9 * 512))
            return "the second try did not save the change";
        return "";
    });
    EXPECT_EQ(problem, std::optional<std::string>(""));
}

TEST_F(VirtualFile, ChangesNoSaveCouldKeepAtTheEndAreRecordedAsLostOnce)
{
    GiveToUnprivilegedUser(dir.path());
    Bind("d.img", DriveKind::Floppy35DD);
    const std::optional<std::string> problem = RunAsNobody([&]() -> std::string {
        const std::vector<uint8_t> original = PatternImage(kMedia720K);
        WriteFile(dir.File("d.img"), original);
        TakeLostWork();
        auto drive = Open();
        const std::vector<uint8_t> data(512, 0x5A);
        if (!drive->SelectMedia(kMediaUnknown, false) || !drive->WriteSectors(20, 1, data))
            return "the write failed";
        chmod(dir.path().c_str(), 0555);
        drive.reset();
        const std::vector<std::string> lost = TakeLostWork();
        chmod(dir.path().c_str(), 0755);
        if (lost.size() != 1)
            return std::to_string(lost.size()) + " lost-work records";
        if (lost[0].rfind("Changes to drive A: were lost: ", 0) != 0 ||
            lost[0].find("d.img: Permission denied") == std::string::npos)
            return "the record: " + lost[0];
        if (ReadFile(dir.File("d.img")) != original)
            return "the diskette file changed";
        return "";
    });
    EXPECT_EQ(problem, std::optional<std::string>(""));
}

TEST_F(VirtualFile, ChangesGoneWithAReplacedDisketteAreToldByTheNextCommit)
{
    // The drive is a link: the folder of the diskette files turns read-only, while the
    // link can still be pointed at another file (another diskette put in).
    const std::string files = dir.File("files");
    ASSERT_EQ(mkdir(files.c_str(), 0755), 0);
    GiveToUnprivilegedUser(dir.path());
    GiveToUnprivilegedUser(files);
    Bind("a.img", DriveKind::Floppy35DD);
    const std::optional<std::string> problem = RunAsNobody([&]() -> std::string {
        const std::vector<uint8_t> original = PatternImage(kMedia720K);
        WriteFile(files + "/first.img", original);
        WriteFile(files + "/second.img", original);
        if (symlink((files + "/first.img").c_str(), dir.File("a.img").c_str()) != 0)
            return "no link";
        TakeLostWork();
        auto drive = Open();
        const std::vector<uint8_t> data(512, 0x5A);
        if (!drive->SelectMedia(kMediaUnknown, false) || !drive->WriteSectors(20, 1, data))
            return "the write failed";
        chmod(files.c_str(), 0555);
        if (!drive->IsDriveReady())
            return "the unsaved diskette is not ready";
        unlink(dir.File("a.img").c_str());
        if (symlink((files + "/second.img").c_str(), dir.File("a.img").c_str()) != 0)
            return "no second link";
        if (!drive->IsDriveReady())
            return "the second diskette is not ready";
        const bool committed = static_cast<bool>(drive->Commit());
        const std::string reason = drive->commitFailureDetail;
        drive.reset();
        chmod(files.c_str(), 0755);
        if (committed)
            return "Commit said nothing of the lost changes";
        if (reason.find("first.img: Permission denied") == std::string::npos)
            return "the reason: " + reason;
        if (!TakeLostWork().empty())
            return "what Commit told was recorded as lost work too";
        if (ReadFile(files + "/first.img") != original || ReadFile(files + "/second.img") != original)
            return "a diskette file changed";
        return "";
    });
    EXPECT_EQ(problem, std::optional<std::string>(""));
}

TEST_F(VirtualFile, CommitThroughTheRequestLogSavesBeforeTheDriveObjectEnds)
{
    const std::vector<uint8_t> original = PatternImage(kMedia144M);
    WriteFile(dir.File("w.img"), original);
    std::shared_ptr<RecordingService> recorder = BindRecordedFile(table, 'A', dir.File("w.img"), DriveKind::Floppy35HD);
    ASSERT_TRUE(recorder);
    auto drive = Open();
    ASSERT_TRUE(drive->SelectMedia(kMediaUnknown, false));
    const std::vector<uint8_t> data(512, 0x3C);
    ASSERT_TRUE(drive->WriteSectors(40, 1, data));
    ASSERT_EQ(recorder->Requests(Minor::WriteTrack).size(), 1u);
    EXPECT_EQ(ReadFile(dir.File("w.img")), original) << "no write reaches the file before the commit";
    ASSERT_TRUE(drive->Commit()) << drive->commitFailureDetail;
    const std::vector<uint8_t> saved = ReadFile(dir.File("w.img"));
    ASSERT_EQ(saved.size(), original.size());
    EXPECT_TRUE(std::equal(data.begin(), data.end(), saved.begin() + 40 * 512));
}

TEST_F(VirtualFile, NamedPipesSocketsAndDevicesAreNoDisketteFiles)
{
    ASSERT_EQ(mkfifo(dir.File("pipe.img").c_str(), 0600), 0);
    const int listening = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const std::string socketPath = dir.File("socket.img");
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::copy(socketPath.begin(), socketPath.end(), address.sun_path);
    ASSERT_EQ(bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);

    struct Case {
        std::string path;
        std::string cause;
    };
    std::vector<Case> cases = {{dir.File("pipe.img"), "is a named pipe, not a diskette file"},
                               {socketPath, "is a socket, not a diskette file"},
                               {"/dev/null", "is a character device, not a diskette file"}};
    // Any block device that no floppy driver serves.
    struct stat st {};
    if (stat("/dev/loop0", &st) == 0 && S_ISBLK(st.st_mode))
        cases.push_back({"/dev/loop0", "is a block device but not a floppy drive"});
    alarm(60);  // a named pipe opened the blocking way waits for a writer: fail instead
    for (const Case& c : cases) {
        table.Bind(VirtualDriveBinding('A', c.path, DriveKind::Floppy35HD));
        auto drive = Open();
        EXPECT_EQ(drive->PendingError(), Err::AccessDenied) << c.path;
        EXPECT_EQ(drive->openFailureDetail.rfind(c.path + ": " + c.cause, 0), 0u) << drive->openFailureDetail;
    }
    alarm(0);
    close(listening);
}

// Without /proc the nameless new file cannot be given a name: the save goes through a
// named one instead, and still leaves nothing behind.
TEST_F(VirtualFile, SavesWhereANamelessFileCannotBeNamed)
{
    const std::vector<uint8_t> original = PatternImage(kMedia720K);
    WriteFile(dir.File("d.img"), original);
    Bind("d.img", DriveKind::Floppy35DD);
    const pid_t child = fork();
    ASSERT_GE(child, 0) << std::strerror(errno);
    if (child == 0) {
        // The hidden /proc is this child's alone.
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", "/proc", "tmpfs", 0, nullptr) != 0)
            _exit(77);
        auto drive = Open();
        const std::vector<uint8_t> data(512, 0x5A);
        const bool written = drive->SelectMedia(kMediaUnknown, false) && drive->WriteSectors(3, 1, data);
        _exit(written && drive->Commit() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "no private mounts here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the save failed";
    const std::vector<uint8_t> saved = ReadFile(dir.File("d.img"));
    ASSERT_EQ(saved.size(), original.size());
    EXPECT_EQ(saved[3 * 512], 0x5A);
    EXPECT_EQ(Shell("ls " + dir.path() + " | wc -l | grep -qx 1"), 0) << "no temporary file left behind";
}

// A diskette file larger than any diskette is refused by its size, before any of it is read
// or any memory taken for it; so is a raw file of no diskette's size, whatever its length.
TEST_F(VirtualFile, FilesOfNoDiskettesSizeAreRefusedByTheirSizeAlone)
{
    struct Case {
        const char* name;
        uint64_t size;
        std::vector<uint8_t> start;
        const char* told;
    };
    const std::vector<uint8_t> imdStart = {'I', 'M', 'D', ' ', '1', 0x1A};
    const Case cases[] = {
        {"huge.img", uint64_t{1} << 40, {}, "1099511627776 bytes, larger than any diskette"},
        {"big.img", uint64_t{2} << 30, {}, "2147483648 bytes, larger than any diskette"},
        {"huge.imd", uint64_t{1} << 40, imdStart, "larger than any diskette"},
        {"odd.img", 1474560 + 512, {}, "1475072 bytes is not the size of"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(dir.File(c.name), c.start);
        ASSERT_EQ(truncate(dir.File(c.name).c_str(), static_cast<off_t>(c.size)), 0);
        Bind(c.name);
        auto drive = Open();
        EXPECT_EQ(drive->PendingError(), Err::InvalidData);
        EXPECT_NE(drive->openFailureDetail.find(c.told), std::string::npos) << drive->openFailureDetail;
        struct stat st {};
        ASSERT_EQ(stat(dir.File(c.name).c_str(), &st), 0);
        EXPECT_EQ(static_cast<uint64_t>(st.st_size), c.size) << "a refused file is left alone";
        EXPECT_EQ(st.st_blocks, (c.start.empty() ? 0 : st.st_blocks)) << "and was never filled";
    }
}

// A file bound as a 5¼" 1.2M drive formats 1.2M diskettes only; a 720K drive 720K only.
TEST_F(VirtualFile, ADriveOfAKindFormatsOnlyWhatThatKindTakes)
{
    for (const auto& [kind, takes] : {std::pair{DriveKind::Floppy525HD, kMedia12M}, {DriveKind::Floppy35DD, kMedia720K}}) {
        for (MediaType type : {kMedia720K, kMedia12M, kMedia144M, kMedia172M}) {
            SCOPED_TRACE(testing::Message() << int(kind) << "/" << type);
            WriteFile(dir.File("blank.img"), {});
            Bind("blank.img", kind);
            {
                auto drive = Open();
                ASSERT_TRUE(drive->SelectMedia(type, false));
                drive->BeginFormat();
                EXPECT_EQ(static_cast<bool>(drive->FormatTrack(0, 0, false)), type == takes);
                if (type != takes) {
                    EXPECT_EQ(drive->GetErrorText(), "Unrecognized Media");
                }
                EXPECT_EQ(drive->Service()->MediaRefusal(drive->params).empty(), type == takes);
                (void)drive->EndFormat([](DiskDrive&) { return DiskStatus{}; });
            }
            if (type != takes) {
                EXPECT_EQ(ReadFile(dir.File("blank.img")).size(), 0u) << "the diskette file is as it was";
            }
        }
    }
}

