#include "qemu/qemuguest.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>

#include "qemu/pattern.h"

namespace vokta::qemu {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string DriveOption(size_t index, const FloppySlot& slot)
{
    std::string option = "if=floppy,index=" + std::to_string(index);
    if (slot.image.empty())
        return option;
    option += ",format=raw,file=";
    option += slot.blkdebugConfig.empty() ? slot.image : "blkdebug:" + slot.blkdebugConfig + ":" + slot.image;
    if (slot.readOnly)
        option += ",readonly=on";
    return option;
}

std::vector<std::string> QemuArguments(const std::string& cases, const std::vector<FloppySlot>& drives)
{
    const std::string kit = KitDirectory();
    std::vector<std::string> args = {
        "qemu-system-x86_64", "-machine", "pc", "-accel", "tcg", "-m", "256", "-smp", "1",
        "-nodefaults", "-no-user-config", "-display", "none", "-serial", "stdio", "-no-reboot",
        // Both drives are 3½" 1.44M drives, whatever diskette is in them.
        "-global", "isa-fdc.fdtypeA=144", "-global", "isa-fdc.fdtypeB=144",
        "-kernel", kit + "/vmlinuz", "-initrd", kit + "/initramfs.cpio.gz",
        "-append", "console=ttyS0 loglevel=1 panic=-1 vokta.cases=" + cases};
    for (size_t i = 0; i < drives.size(); ++i) {
        args.push_back("-drive");
        args.push_back(DriveOption(i, drives[i]));
    }
    return args;
}

void ParseConsole(GuestRun& run)
{
    std::istringstream lines(run.console);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t at = line.find(kResultPrefix);
        if (at != std::string::npos) {
            std::istringstream fields(line.substr(at + std::string(kResultPrefix).size()));
            std::string key, value;
            fields >> key >> value;
            run.results[key] = value;
        }
        int code = 0;
        const size_t exit = line.find("vokta-guest-exit ");
        if (exit != std::string::npos && std::sscanf(line.c_str() + exit, "vokta-guest-exit %d", &code) == 1) {
            run.finished = true;
            run.exitCode = code;
        }
    }
}

}  // namespace

std::string KitDirectory()
{
    return VOKTA_QEMU_KIT;
}

GuestRun BootGuest(const std::string& cases, const std::vector<FloppySlot>& drives, int timeoutSeconds)
{
    GuestRun run;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return run;
    const std::vector<std::string> args = QemuArguments(cases, drives);
    const Clock::time_point start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(out[1], STDERR_FILENO);
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, STDIN_FILENO);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    const Clock::time_point deadline = start + std::chrono::seconds(timeoutSeconds);
    char chunk[4096];
    bool timedOut = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0)
            continue;
        const ssize_t n = read(out[0], chunk, sizeof chunk);
        if (n <= 0)
            break;
        run.console.append(chunk, static_cast<size_t>(n));
        if (run.bootSeconds == 0 && run.console.find("vokta-guest-start") != std::string::npos)
            run.bootSeconds = SecondsSince(start);
    }
    if (timedOut) {
        kill(pid, SIGKILL);
        run.console += "\n[the guest was killed after " + std::to_string(timeoutSeconds) + " s]\n";
    }
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.totalSeconds = SecondsSince(start);
    ParseConsole(run);
    return run;
}

}  // namespace vokta::qemu
