// SPDX-License-Identifier: GPL-3.0-or-later
// Diskettes made by our builder booted by a PC BIOS in QEMU: the boot code's message on
// the screen, and IO.SYS loaded and entered with the registers it expects.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <thread>

#include "boot/builtdiskette.h"
#include "support/requiretools.h"
#include "support/tempdir.h"

using namespace vokta;
using namespace vokta::test;

namespace {

using Clock = std::chrono::steady_clock;
// Each boot takes a second or two under TCG; a hang fails instead of blocking the run.
constexpr auto kDeadline = std::chrono::seconds(40);
constexpr int kVgaTextBytes = 80 * 25 * 2;

// One QEMU PC booting a diskette file, driven through QMP on its standard input.
class Machine {
public:
    Machine(const std::string& diskette, const TempDir& dir, bool withSerial)
    {
        std::vector<std::string> args = {
            "qemu-system-i386", "-M", "pc", "-m", "16", "-display", "none", "-nic", "none",
            "-no-reboot", "-boot", "a", "-drive", "if=floppy,index=0,format=raw,file=" + diskette,
            "-qmp", "stdio", "-device", "isa-debug-exit,iobase=0xf4,iosize=0x04"};
        if (withSerial) {
            args.push_back("-serial");
            args.push_back("file:" + dir.File("serial.txt"));
        }
        const std::string log = dir.File("qemu.log");
        int input[2];
        if (pipe(input) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(input[0], STDIN_FILENO);
            const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
            close(input[1]);
            std::vector<char*> argv;
            for (std::string& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        close(input[0]);
        qmp_ = input[1];
        signal(SIGPIPE, SIG_IGN);
        Send(R"({"execute":"qmp_capabilities"})");
    }

    ~Machine()
    {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (qmp_ >= 0)
            close(qmp_);
    }

    bool started() const { return pid_ > 0; }

    void Send(const std::string& command)
    {
        const std::string line = command + "\n";
        if (write(qmp_, line.data(), line.size()) < 0)
            return;
    }

    // The 80x25 text screen, as characters, read from VGA memory at B8000h.
    std::string Screen(const std::string& dump)
    {
        std::remove(dump.c_str());
        Send(R"({"execute":"pmemsave","arguments":{"val":753664,"size":)" + std::to_string(kVgaTextBytes) +
             R"(,"filename":")" + dump + R"("}})");
        for (int i = 0; i < 40; ++i) {
            if (FileExists(dump)) {
                const std::vector<uint8_t> bytes = ReadFile(dump);
                if (bytes.size() == kVgaTextBytes) {
                    std::string text;
                    for (size_t at = 0; at < bytes.size(); at += 2)
                        text.push_back(static_cast<char>(bytes[at]));
                    return text;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return {};
    }

    // Waits for the machine to end by itself; false when it is still running at the end.
    bool WaitForExit(Clock::time_point until)
    {
        while (Clock::now() < until) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                exited_ = true;
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

private:
    pid_t pid_ = -1;
    int qmp_ = -1;
    bool exited_ = false;
};

struct BootQemu : ::testing::TestWithParam<MediaType> {
    TempDir dir;

    void SetUp() override
    {
        RequireTools({"qemu-system-i386", "mcopy"});
    }

    // Our boot sector and an empty system area, without a label entry, as a file.
    std::string BuiltDiskette() const
    {
        const std::string file = dir.File("diskette.img");
        WriteFile(file, BuiltDisketteImage(GetParam(), ""));
        return file;
    }

    std::string Log() const
    {
        const std::vector<uint8_t> log = FileExists(dir.File("qemu.log")) ? ReadFile(dir.File("qemu.log"))
                                                                         : std::vector<uint8_t>{};
        return std::string(log.begin(), log.end());
    }
};

std::string Hex(uint32_t value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

}  // namespace

TEST_P(BootQemu, DisketteWithoutSystemFilesShowsTheMessage)
{
    Machine machine(BuiltDiskette(), dir, false);
    ASSERT_TRUE(machine.started());
    const auto until = Clock::now() + kDeadline;
    std::string screen;
    while (Clock::now() < until) {
        screen = machine.Screen(dir.File("vga.bin"));
        if (screen.find("Replace and press any key when ready") != std::string::npos)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    // The first line starts a row of its own, the second the row below it.
    const size_t first = screen.find("Non-System disk or disk error");
    const size_t second = screen.find("Replace and press any key when ready");
    ASSERT_NE(first, std::string::npos) << Log();
    ASSERT_NE(second, std::string::npos) << Log();
    EXPECT_EQ(first % 80, 0u);
    EXPECT_EQ(second, first + 80);
}

TEST_P(BootQemu, SystemDisketteLoadsIoSysAndJumpsToIt)
{
    const std::string diskette = BuiltDiskette();
    const std::string msdos = dir.File("msdos.sys");
    WriteFile(msdos, {});
    // IO.SYS first, MSDOS.SYS second: the first two entries of the empty root directory.
    ASSERT_EQ(Shell("MTOOLS_SKIP_CHECK=1 mcopy -i '" + diskette + "' '" VOKTA_IOSYS_PROBE "' ::IO.SYS"), 0);
    ASSERT_EQ(Shell("MTOOLS_SKIP_CHECK=1 mcopy -i '" + diskette + "' '" + msdos + "' ::MSDOS.SYS"), 0);

    Machine machine(diskette, dir, true);
    ASSERT_TRUE(machine.started());
    ASSERT_TRUE(machine.WaitForExit(Clock::now() + kDeadline)) << "IO.SYS never ended the machine\n" << Log();

    const std::vector<uint8_t> serial = ReadFile(dir.File("serial.txt"));
    const std::string report(serial.begin(), serial.end());
    const MediaGeometry g = *GeometryOf(GetParam());
    const uint32_t firstData = 1u + 2u * g.sectorsPerFat + g.rootEntries / 16u;
    EXPECT_EQ(report, "IO.SYS CS=0070 IP=0000 CH=" + Hex(g.mediaDescriptor, 2) + " DL=00 BX=" + Hex(firstData, 4) +
                          " AX=0000 S2=SECTOR-2 S3=SECTOR-3 S4=0000000000000000\r\n");
}

INSTANTIATE_TEST_SUITE_P(Diskettes, BootQemu, ::testing::Values(kMedia144M, kMedia720K, kMedia172M),
                         [](const ::testing::TestParamInfo<MediaType>& param) {
                             switch (param.param) {
                             case kMedia720K: return std::string("Dd720K");
                             case kMedia172M: return std::string("Dmf172M");
                             default: return std::string("Hd144M");
                             }
                         });
