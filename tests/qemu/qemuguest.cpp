// SPDX-License-Identifier: GPL-3.0-or-later
#include "qemu/qemuguest.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
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

// Reads the monitor until it has shown `prompts` prompts in all, or 10 s have passed.
bool AwaitPrompts(int fd, std::string& reply, size_t prompts)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
    auto count = [&] {
        size_t n = 0;
        for (size_t at = reply.find("(qemu)"); at != std::string::npos; at = reply.find("(qemu)", at + 1))
            ++n;
        return n;
    };
    char chunk[512];
    while (count() < prompts && Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 1000) <= 0)
            continue;
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0)
            return false;
        reply.append(chunk, static_cast<size_t>(n));
    }
    return count() >= prompts;
}

// Runs one command on QEMU's human monitor: sent after its first prompt, done when the
// next prompt shows.
bool SendToMonitor(const std::string& socketPath, const std::string& command)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    std::string reply;
    const std::string line = command + "\n";
    const bool done = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                      AwaitPrompts(fd, reply, 1) &&
                      write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) &&
                      AwaitPrompts(fd, reply, 2);
    close(fd);
    return done;
}

// Serves each "vokta-request NAME" line of the console once.
void ServeRequests(const std::string& console, const MonitorRequests& requests, const std::string& socketPath,
                   std::set<std::string>& served)
{
    for (const auto& [name, command] : requests) {
        const std::string line = "vokta-request " + name;
        const size_t at = console.find(line);
        const size_t end = at + line.size();
        if (served.count(name) || at == std::string::npos || end >= console.size() ||
            (console[end] != '\r' && console[end] != '\n'))
            continue;
        served.insert(name);
        SendToMonitor(socketPath, command);
    }
}

// The kernel command line but for the parameter that tells the guest's /init what to run.
constexpr const char* kKernelArguments = "console=ttyS0 loglevel=1 panic=-1 ";
constexpr size_t kKernelCommandLineSize = 2048;  // x86, with its terminating zero

std::vector<std::string> QemuArguments(const std::string& guestParameter, const GuestDrives& drives,
                                       const std::string& monitorSocket)
{
    const std::string kit = KitDirectory();
    std::vector<std::string> args = {
        "qemu-system-x86_64", "-machine", "pc", "-accel", "tcg", "-m", "256", "-smp", "1",
        "-nodefaults", "-no-user-config", "-display", "none", "-serial", "stdio", "-no-reboot",
        // Both drives are 3½" 1.44M drives, whatever diskette is in them.
        "-global", "isa-fdc.fdtypeA=144", "-global", "isa-fdc.fdtypeB=144",
        "-kernel", kit + "/vmlinuz", "-initrd", kit + "/initramfs.cpio.gz",
        "-append", kKernelArguments + guestParameter,
        "-monitor", "unix:" + monitorSocket + ",server=on,wait=off"};
    for (size_t i = 0; i < drives.floppies.size(); ++i) {
        args.push_back("-drive");
        args.push_back(DriveOption(i, drives.floppies[i]));
    }
    if (!drives.usbDisks.empty())
        args.insert(args.end(), {"-device", "qemu-xhci,id=xhci"});
    for (size_t i = 0; i < drives.usbDisks.size(); ++i) {
        const std::string id = "usb" + std::to_string(i);
        const FloppySlot& disk = drives.usbDisks[i];
        args.insert(args.end(), {"-drive", "if=none,id=" + id + ",format=raw,file=" + disk.image +
                                               (disk.readOnly ? ",readonly=on" : ""),
                                 "-device", "usb-storage,bus=xhci.0,removable=on,drive=" + id});
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

// The arguments as init.sh takes them: each one's bytes in hex behind an "x", comma-separated.
std::string EncodedArguments(const std::vector<std::string>& args)
{
    std::string encoded;
    for (const std::string& arg : args) {
        encoded += encoded.empty() ? "x" : ",x";
        for (const char c : arg) {
            char digits[3];
            std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(c));
            encoded += digits;
        }
    }
    return encoded;
}

// The bytes of one of vokta-cli's streams, from the console lines "PREFIX HEX HEX ..."
// that init.sh printed for it.
std::string StreamFromConsole(const std::string& console, const std::string& prefix)
{
    std::string bytes;
    std::istringstream lines(console);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t at = line.find(prefix + " ");
        if (at == std::string::npos)
            continue;
        std::istringstream hex(line.substr(at + prefix.size() + 1));
        for (unsigned value = 0; hex >> std::hex >> value;)
            bytes += static_cast<char>(value);
    }
    return bytes;
}

GuestRun Boot(const std::string& guestParameter, const GuestDrives& drives, const MonitorRequests& requests,
              int timeoutSeconds)
{
    GuestRun run;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return run;
    char socketDir[] = "/tmp/vokta-qemu-XXXXXX";
    if (!mkdtemp(socketDir))
        return run;
    const std::string monitorSocket = std::string(socketDir) + "/monitor";
    std::set<std::string> served;
    const std::vector<std::string> args = QemuArguments(guestParameter, drives, monitorSocket);
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
        ServeRequests(run.console, requests, monitorSocket, served);
    }
    if (timedOut) {
        kill(pid, SIGKILL);
        run.console += "\n[the guest was killed after " + std::to_string(timeoutSeconds) + " s]\n";
    }
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.totalSeconds = SecondsSince(start);
    unlink(monitorSocket.c_str());
    rmdir(socketDir);
    ParseConsole(run);
    return run;
}

}  // namespace

std::string KitDirectory()
{
    return VOKTA_QEMU_KIT;
}

GuestRun BootGuest(const std::string& cases, const std::vector<FloppySlot>& drives, const MonitorRequests& requests,
                   int timeoutSeconds)
{
    return Boot("vokta.cases=" + cases, {drives, {}}, requests, timeoutSeconds);
}

GuestCliSequence RunCliSequenceInGuest(const std::vector<std::vector<std::string>>& lines, const GuestDrives& drives,
                                       int timeoutSeconds)
{
    GuestCliSequence run;
    std::string parameter = "vokta.cli=";
    for (size_t i = 0; i < lines.size(); ++i)
        parameter += (i ? "/" : "") + EncodedArguments(lines[i]);
    if (!drives.usbDisks.empty())
        parameter += " vokta.usbdisks=" + std::to_string(drives.usbDisks.size());
    if (drives.mountFirstUsbDisk)
        parameter += " vokta.mount=sda";
    run.cli.resize(lines.size());
    if (std::string(kKernelArguments).size() + parameter.size() >= kKernelCommandLineSize) {
        run.guest.console = "[the arguments do not fit on the kernel command line: the guest was not booted]\n";
        return run;
    }
    run.guest = Boot(parameter, drives, {}, timeoutSeconds);
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string prefix = "vokta-cli-" + std::to_string(i + 1);
        test::CliRun& cli = run.cli[i];
        const size_t exit = run.guest.console.find(prefix + "-exit ");
        if (exit != std::string::npos)
            cli.status = std::atoi(run.guest.console.c_str() + exit + prefix.size() + 6);
        cli.out = StreamFromConsole(run.guest.console, prefix + "-stdout");
        cli.err = StreamFromConsole(run.guest.console, prefix + "-stderr");
    }
    return run;
}

GuestCliRun RunCliInGuest(const std::vector<std::string>& args, const std::vector<FloppySlot>& drives,
                          int timeoutSeconds)
{
    GuestCliSequence sequence = RunCliSequenceInGuest({args}, {drives, {}}, timeoutSeconds);
    return {std::move(sequence.guest), std::move(sequence.cli.front())};
}

}  // namespace vokta::qemu
