// SPDX-License-Identifier: GPL-3.0-or-later
// The cases that run inside the QEMU guest, on /dev/fd0 (A:) and /dev/fd1 (B:) of the
// kernel floppy driver. The host prepares the diskettes and checks the files afterwards;
// values it needs come back as "vokta-result" lines.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fd.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "boot/bootbuilder.h"
#include "drive/backend/linuxfloppy/linuxfloppy.h"
#include "drive/diskdrive.h"
#include "drives/systemdrives.h"
#include "qemu/pattern.h"

using namespace vokta;
using namespace vokta::qemu;

namespace {

constexpr uint32_t kWriteSeed = 7;  // the host expects this pattern after Write cases

// The machine's own drive table: A: and B: are the floppy drives the kernel offers.
DriveTable FloppyTable()
{
    DriveTable table;
    PopulateSystemDrives(table, {});
    return table;
}

void Report(const std::string& key, const std::string& value)
{
    std::printf("%s%s %s\n", kResultPrefix, key.c_str(), value.c_str());
    std::fflush(stdout);
}

class Stopwatch {
public:
    std::string Seconds() const
    {
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        char text[32];
        std::snprintf(text, sizeof text, "%.2f", s);
        return text;
    }

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

std::vector<uint8_t> ReadWhole(DiskDrive& drive)
{
    const uint16_t spt = drive.params.sectorsPerTrack();
    std::vector<uint8_t> image(size_t{drive.params.totalSectors()} * kSectorSize);
    for (uint32_t first = 0; first < drive.params.totalSectors(); first += spt) {
        if (!drive.ReadSectors(first, spt, std::span(image).subspan(size_t{first} * kSectorSize))) {
            ADD_FAILURE() << "track at sector " << first << ": " << drive.GetErrorText();
            return {};
        }
    }
    return image;
}

// A full format of the diskette in `letter` as `type`, every track verified; the host
// checks the diskette file.
void FormatWhole(char letter, MediaType type, const std::string& name)
{
    const DriveTable table = FloppyTable();
    DiskDrive drive(letter, table);
    ASSERT_EQ(drive.PendingError(), Err::None) << drive.openFailureDetail;
    ASSERT_TRUE(drive.SelectMedia(type, false)) << drive.GetErrorText();
    const Stopwatch clock;
    drive.BeginFormat();
    for (uint16_t c = 0; c < drive.params.cylinders(); ++c) {
        for (uint16_t h = 0; h < drive.params.heads(); ++h) {
            ASSERT_TRUE(drive.FormatTrack(c, h, true)) << c << "/" << h << ": " << drive.GetErrorText();
            ASSERT_TRUE(drive.VerifyTrack(c, h)) << c << "/" << h << ": " << drive.GetErrorText();
        }
    }
    const bool bootSectorWritten = static_cast<bool>(drive.EndFormat(WriteUnlabelledBootSector));
    Report(name + ".seconds", clock.Seconds());
    Report(name + ".endformat", bootSectorWritten ? "1" : "0");
    Report(name + ".layoutHonoured", drive.Service()->LayoutHonoured() ? "1" : "0");
}

}  // namespace

// --- Detect: A: holds a mkfs.fat 1.44M diskette, B: a mkfs.fat 720K one -------------

TEST(Detect, Finds144MFromTheReportedParameters)
{
    const DriveTable table = FloppyTable();
    EXPECT_EQ(DiskDrive::QueryDeviceType("A:\\", table), DeviceType::Floppy144M);
    DiskDrive drive('A', table);
    ASSERT_EQ(drive.PendingError(), Err::None) << drive.openFailureDetail;
    EXPECT_TRUE(drive.IsDriveReady());
    ASSERT_TRUE(drive.SelectMedia(kMediaUnknown, false)) << drive.GetErrorText();
    EXPECT_EQ(drive.mediaType, kMedia144M);
    EXPECT_EQ(drive.params.totalSectors(), 2880u);
    EXPECT_EQ(drive.params.deviceType(), DeviceType::Floppy144M);
}

TEST(Detect, Finds720KInA144MDrive)
{
    const DriveTable table = FloppyTable();
    DiskDrive drive('B', table);
    ASSERT_EQ(drive.PendingError(), Err::None) << drive.openFailureDetail;
    ASSERT_TRUE(drive.SelectMedia(kMediaUnknown, false)) << drive.GetErrorText();
    EXPECT_EQ(drive.mediaType, kMedia720K);
    EXPECT_EQ(drive.params.totalSectors(), 1440u);
    EXPECT_EQ(drive.params.sectorsPerTrack(), 9u);
}

TEST(Detect, ReadsTheWholeDisketteTrackByTrack)
{
    const DriveTable table = FloppyTable();
    DiskDrive drive('A', table);
    ASSERT_TRUE(drive.SelectMedia(kMediaUnknown, false)) << drive.GetErrorText();
    const Stopwatch clock;
    const std::vector<uint8_t> image = ReadWhole(drive);
    ASSERT_EQ(image.size(), 1474560u);
    Report("read144.seconds", clock.Seconds());
    Report("read144.digest", Digest(image));
}

// Between the retries of a rescue: the head goes to track 0 and elsewhere, and the reads
// after it still find their sectors.
TEST(HeadMoves, RecalibrateAndSeekLeaveTheNextReadWhole)
{
    const DriveTable table = FloppyTable();
    DiskDrive drive('A', table);
    ASSERT_TRUE(drive.SelectMedia(kMediaUnknown, false)) << drive.GetErrorText();
    std::vector<uint8_t> before(512);
    ASSERT_TRUE(drive.ReadSectors(40 * 36 + 3, 1, before)) << drive.GetErrorText();
    DiskService& service = *drive.Service();
    EXPECT_TRUE(service.Recalibrate());
    const bool sought = service.SeekHead(70);
    EXPECT_FALSE(service.SeekHead(80)) << "beyond the diskette";
    std::vector<uint8_t> after(512);
    ASSERT_TRUE(drive.ReadSectors(40 * 36 + 3, 1, after)) << drive.GetErrorText();
    EXPECT_EQ(after, before);
    Report("headmoves.seek", sought ? "1" : "0");
    const auto* floppy = dynamic_cast<const LinuxFloppyDrive*>(&service);
    ASSERT_NE(floppy, nullptr);
    Report("headmoves.raw", floppy->RawCommandsAvailable() ? "1" : "0");
}

TEST(Detect, MountedDisketteIsLocked)
{
    ASSERT_EQ(mount("/dev/fd0", "/mnt", "msdos", MS_RDONLY, nullptr), 0) << std::strerror(errno);
    const DriveTable table = FloppyTable();
    {
        DiskDrive drive('A', table);
        EXPECT_EQ(drive.PendingError(), Err::DriveLocked);
        EXPECT_EQ(drive.GetErrorText(), "Drive is Locked !");
    }
    ASSERT_EQ(umount("/mnt"), 0) << std::strerror(errno);
    DiskDrive drive('A', table);
    EXPECT_EQ(drive.PendingError(), Err::None);
}

TEST(Detect, HeldDriveKeepsAMountOut)
{
    const DriveTable table = FloppyTable();
    {
        DiskDrive drive('A', table);
        ASSERT_EQ(drive.PendingError(), Err::None);
        EXPECT_NE(mount("/dev/fd0", "/mnt", "msdos", MS_RDONLY, nullptr), 0);
        EXPECT_EQ(errno, EBUSY);
    }
    ASSERT_EQ(mount("/dev/fd0", "/mnt", "msdos", MS_RDONLY, nullptr), 0) << std::strerror(errno);
    umount("/mnt");
}

TEST(Detect, PermissionFailureIsSaidInWords)
{
    // The device node is root's alone; an ordinary user may not open it.
    int link[2];
    ASSERT_EQ(pipe(link), 0);
    const pid_t child = fork();
    if (child == 0) {
        close(link[0]);
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(2);
        const DriveTable table = FloppyTable();
        DiskDrive drive('A', table);
        const std::string text = std::to_string(CodeOf(drive.PendingError())) + " " + drive.openFailureDetail;
        if (write(link[1], text.data(), text.size()) < 0)
            _exit(3);
        _exit(0);
    }
    close(link[1]);
    std::string said;
    char chunk[256];
    for (ssize_t n; (n = read(link[0], chunk, sizeof chunk)) > 0;)
        said.append(chunk, static_cast<size_t>(n));
    close(link[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(said.substr(0, 2), "5 ");
    EXPECT_NE(said.find("/dev/fd0: permission denied"), std::string::npos) << said;
}

// --- Write: A: holds a 1.44M diskette to overwrite, B: a write-protected 720K one ---

TEST(Write, WritesEveryTrackAndReadsItBack)
{
    const DriveTable table = FloppyTable();
    DiskDrive drive('A', table);
    ASSERT_TRUE(drive.SelectMedia(kMedia144M, false)) << drive.GetErrorText();
    const std::vector<uint8_t> pattern = PatternBytes(1474560, kWriteSeed);
    const Stopwatch clock;
    for (uint32_t first = 0; first < 2880; first += 18)
        ASSERT_TRUE(drive.WriteSectors(first, 18, std::span(pattern).subspan(size_t{first} * kSectorSize)))
            << first << ": " << drive.GetErrorText();
    Report("write144.seconds", clock.Seconds());
    for (uint16_t c = 0; c < 80; ++c)
        for (uint16_t h = 0; h < 2; ++h)
            ASSERT_TRUE(drive.VerifyTrack(c, h)) << c << "/" << h << ": " << drive.GetErrorText();
    EXPECT_TRUE(ReadWhole(drive) == pattern);
}

TEST(Write, WriteProtectedDisketteRefusesWrites)
{
    const DriveTable table = FloppyTable();
    DiskDrive drive('B', table);
    ASSERT_EQ(drive.PendingError(), Err::None) << drive.openFailureDetail;
    EXPECT_TRUE(drive.IsWriteProtected());
    std::vector<uint8_t> sector(kSectorSize, 0x5A);
    EXPECT_FALSE(drive.WriteSectors(1, 1, sector));
    EXPECT_EQ(drive.PendingError(), Err::WriteProtect);
    EXPECT_EQ(drive.GetErrorText(), "Write protect Disk !");
}

// --- Format144: A: holds a 1.44M diskette file, B: is empty --------------------------

TEST(Format144, FormatsEveryTrack)
{
    FormatWhole('A', kMedia144M, "format144");
}

TEST(Format144, EmptyDriveIsNotReady)
{
    const DriveTable table = FloppyTable();
    DiskDrive drive('B', table);
    ASSERT_EQ(drive.PendingError(), Err::None) << drive.openFailureDetail;
    EXPECT_FALSE(drive.IsDriveReady());
    EXPECT_FALSE(drive.SelectMedia(kMediaUnknown, false));
    EXPECT_EQ(drive.PendingError(), Err::NotReady);
}

// --- FormatDmf: A: holds a 1.68M diskette file, B: a 1.72M one ----------------------

TEST(FormatDmf, Formats168M)
{
    FormatWhole('A', kMedia168M, "format168");
}

TEST(FormatDmf, Formats172MWithItsEightyTwoCylinders)
{
    FormatWhole('B', kMedia172M, "format172");
}

// --- Faults: A: holds a 1.44M diskette whose cylinder 5 head 0 sector 3 cannot be written

TEST(Faults, FailedWriteIsReportedAndLeavesTheDisketteAsItWas)
{
    const DriveTable table = FloppyTable();
    DiskDrive drive('A', table);
    ASSERT_TRUE(drive.SelectMedia(kMedia144M, false)) << drive.GetErrorText();
    std::vector<uint8_t> before(18 * kSectorSize);
    ASSERT_TRUE(drive.ReadSectors(180, 18, before)) << drive.GetErrorText();

    const std::vector<uint8_t> attempt = PatternBytes(18 * kSectorSize, 5);
    EXPECT_FALSE(drive.WriteSectors(180, 18, attempt));
    EXPECT_EQ(drive.lastSector, 180u);
    EXPECT_EQ(drive.GetErrorText(), "Disk Sector NOT found !");

    // The sector that failed still reads as it was on the diskette, not as the failed
    // write left it in any buffer. The driver's retries may have written the others.
    std::vector<uint8_t> after(18 * kSectorSize);
    ASSERT_TRUE(drive.ReadSectors(180, 18, after)) << drive.GetErrorText();
    const auto failed = [](const std::vector<uint8_t>& track) { return std::span(track).subspan(2 * kSectorSize, kSectorSize); };
    EXPECT_TRUE(std::ranges::equal(failed(after), failed(before)));
    EXPECT_FALSE(std::ranges::equal(failed(after), failed(attempt)));
}

// --- Change: A: holds one diskette; on request the host puts another in ---------------

TEST(Change, ReadsAfterASwapComeFromTheNewDiskette)
{
    const DriveTable table = FloppyTable();
    DiskDrive drive('A', table);
    ASSERT_TRUE(drive.SelectMedia(kMedia144M, false)) << drive.GetErrorText();
    std::vector<uint8_t> tracks(5 * 18 * kSectorSize);
    ASSERT_TRUE(drive.ReadSectors(0, 5 * 18, tracks)) << drive.GetErrorText();
    Report("change.before", Digest(tracks));

    // Ask the host for the swap and wait until the drive's change line shows it.
    std::printf("vokta-request swap\n");
    std::fflush(stdout);
    const int watcher = open("/dev/fd0", O_RDONLY | O_NONBLOCK);
    ASSERT_GE(watcher, 0);
    bool changed = false;
    for (int i = 0; i < 600 && !changed; ++i) {
        floppy_drive_struct state{};
        changed = ioctl(watcher, FDPOLLDRVSTAT, &state) == 0 && (state.flags & FD_DISK_CHANGED);
        if (!changed)
            usleep(100000);
    }
    close(watcher);
    ASSERT_TRUE(changed) << "the diskette was not swapped";

    ASSERT_TRUE(drive.ReadSectors(0, 5 * 18, tracks)) << drive.GetErrorText();
    Report("change.after", Digest(tracks));
}
