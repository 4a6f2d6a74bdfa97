// SPDX-License-Identifier: GPL-3.0-or-later
#include "fat/diskchecker.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <optional>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <vector>

#include "drive/backend/files/imdfile.h"
#include "drive/diskdrive.h"
#include "fat/volumemap.h"
#include "res/strings.h"

extern char** environ;

namespace vokta {
namespace {

constexpr const char* kChecker = "fsck.fat";

DiskCheckerRun NotStarted(std::string reason)
{
    DiskCheckerRun run;
    run.reason = std::move(reason);
    return run;
}

// An ImageDisk file keeps sector headers and data marks beside the data, which the
// checker does not understand. Only regular files are looked into: reading a device
// would spin up its drive.
bool IsImageDiskFile(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::array<uint8_t, 4> magic{};
    const bool read = pread(fd, magic.data(), magic.size(), 0) == static_cast<ssize_t>(magic.size());
    close(fd);
    return read && LooksLikeImd(magic);
}

bool WriteAll(int fd, const std::vector<uint8_t>& bytes)
{
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// The diskette read sector by sector through its drive, as a raw image in a temporary
// file only this user may read, removed with this object.
class RawCopy {
public:
    RawCopy() = default;
    RawCopy(const RawCopy&) = delete;
    RawCopy& operator=(const RawCopy&) = delete;
    ~RawCopy()
    {
        if (!path_.empty())
            unlink(path_.c_str());
    }

    const std::string& path() const { return path_; }
    // The sectors that could not be read, and what they hold.
    const LostSectors& unread() const { return unread_; }

    // False with the reason in words.
    bool Take(char letter, const DriveTable& drives, std::string& reason)
    {
        std::vector<uint8_t> image;
        if (!ReadDiskette(letter, drives, image, reason))
            return false;
        const char* tmp = std::getenv("TMPDIR");
        std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/vokta-check-XXXXXX";
        const int fd = mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0) {
            reason = FormatString(Str::CheckerCopyNotWritten, std::string(std::strerror(errno)));
            return false;
        }
        path_ = name;
        const bool written = WriteAll(fd, image);
        const int error = errno;
        if (close(fd) != 0 || !written) {
            reason = FormatString(Str::CheckerCopyNotWritten, std::string(std::strerror(written ? errno : error)));
            return false;
        }
        return true;
    }

private:
    // Every sector of the diskette; a sector that cannot be read is left as zeros, so
    // that the checker still sees everything else where it belongs.
    bool ReadDiskette(char letter, const DriveTable& drives, std::vector<uint8_t>& image, std::string& reason)
    {
        DiskDrive drive(letter, drives);
        if (!DetectMediaSayingWhy(drive, reason))
            return false;
        image.assign(static_cast<size_t>(drive.params.totalSectors()) * kSectorSize, 0);
        const std::vector<uint32_t> failed = ReadSectorsOneByOne(drive, 0, image);
        const std::set<uint32_t> unread(failed.begin(), failed.end());
        const VolumeMap map = VolumeMap::OfImage(FatLayout::FromParams(drive.params), image, unread);
        for (uint32_t s : unread)
            unread_.Add(s, map.OwnerOf(s));
        return true;
    }

    std::string path_;
    LostSectors unread_;
};

// The checker names what it was given: the raw copy's temporary path becomes the drive's
// name. Lines are handed on whole, so that no path is split between two pieces.
class Renaming {
public:
    Renaming(std::string from, std::string to, const std::function<void(std::string_view)>& output)
        : from_(std::move(from)), to_(std::move(to)), output_(output)
    {
    }

    void operator()(std::string_view chunk)
    {
        if (from_.empty()) {
            output_(chunk);
            return;
        }
        pending_.append(chunk);
        const size_t lineEnd = pending_.rfind('\n');
        if (lineEnd == std::string::npos)
            return;
        Hand(pending_.substr(0, lineEnd + 1));
        pending_.erase(0, lineEnd + 1);
    }

    void Flush()
    {
        if (!pending_.empty())
            Hand(pending_);
        pending_.clear();
    }

private:
    void Hand(std::string text) const
    {
        for (size_t at = text.find(from_); at != std::string::npos; at = text.find(from_, at + to_.size()))
            text.replace(at, from_.size(), to_);
        output_(text);
    }

    const std::string from_;
    const std::string to_;
    const std::function<void(std::string_view)>& output_;
    std::string pending_;
};

// Everything readable from `fd` until its end, handed on as it comes.
void Relay(int fd, Renaming& output)
{
    std::array<char, 4096> chunk{};
    for (;;) {
        const ssize_t n = read(fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        output(std::string_view(chunk.data(), static_cast<size_t>(n)));
    }
    output.Flush();
}

// The checker's stdin is /dev/null, so that it never waits for an answer; its stdout and
// stderr both go into the pipe.
int PrepareActions(posix_spawn_file_actions_t& actions, int pipeIn)
{
    int error = posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (error == 0)
        error = posix_spawn_file_actions_adddup2(&actions, pipeIn, STDOUT_FILENO);
    if (error == 0)
        error = posix_spawn_file_actions_adddup2(&actions, pipeIn, STDERR_FILENO);
    return error;
}

// The checker lives in the system's administration folders, which an ordinary user's PATH
// leaves out: they are searched after PATH. An empty PATH finds nothing.
std::optional<std::string> FindChecker()
{
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
    if (folders.empty())
        return std::nullopt;
    folders += ":/usr/local/sbin:/usr/sbin:/sbin";
    for (size_t start = 0; start <= folders.size();) {
        const size_t colon = std::min(folders.find(':', start), folders.size());
        const std::string folder = folders.substr(start, colon - start);
        start = colon + 1;
        if (folder.empty())
            continue;
        const std::string candidate = folder + "/" + kChecker;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::nullopt;
}

// Starts the checker; its id, or -1 with the errno of the failure in `error`.
pid_t StartChecker(const std::string& target, int pipeIn, int& error)
{
    posix_spawn_file_actions_t actions;
    error = posix_spawn_file_actions_init(&actions);
    if (error != 0)
        return -1;
    std::string name = kChecker, checkOnly = "-n", verbose = "-v", path = target;
    char* argv[] = {name.data(), checkOnly.data(), verbose.data(), path.data(), nullptr};
    pid_t child = -1;
    const std::optional<std::string> program = FindChecker();
    error = program ? PrepareActions(actions, pipeIn) : ENOENT;
    if (error == 0)
        error = posix_spawn(&child, program->c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? child : -1;
}

// `preface` goes before the checker's report, once the checker runs.
DiskCheckerRun Check(const std::string& target, Renaming& output, const std::string& preface = {})
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return NotStarted(std::strerror(errno));
    int error = 0;
    const pid_t child = StartChecker(target, fds[1], error);
    close(fds[1]);
    if (child < 0) {
        close(fds[0]);
        return NotStarted(FormatString(Str::CheckerNotStarted, std::string(std::strerror(error))));
    }
    if (!preface.empty())
        output(preface);
    Relay(fds[0], output);
    close(fds[0]);

    DiskCheckerRun run;
    run.started = true;
    int status = 0;
    pid_t waited = -1;
    do
        waited = waitpid(child, &status, 0);
    while (waited < 0 && errno == EINTR);
    if (waited != child)
        run.reason = std::strerror(errno);
    else if (WIFEXITED(status))
        run.exitStatus = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        run.exitStatus = 128 + WTERMSIG(status);
    return run;
}

}  // namespace

DiskCheckerRun RunDiskChecker(char letter, const DriveTable& drives,
                              const std::function<void(std::string_view)>& output)
{
    const DriveBinding* binding = drives.Find(letter);
    if (!binding || binding->path.empty())
        return NotStarted(FormatString(Str::CheckerNothingToCheck, std::string(1, NormalizeDriveLetter(letter))));
    if (!IsImageDiskFile(binding->path)) {
        Renaming asItIs({}, {}, output);
        return Check(binding->path, asItIs);
    }
    RawCopy copy;
    std::string reason;
    if (!copy.Take(letter, drives, reason))
        return NotStarted(reason);
    // "A: (disk.imd)"
    const std::string drive(1, NormalizeDriveLetter(letter));
    const std::string name = drive + ": (" + std::filesystem::path(binding->path).filename().string() + ")";
    const std::string unread = copy.unread().Empty() ? std::string()
                                                     : FormatString(Str::CheckerUnreadableSectors, name) +
                                                           copy.unread().Lines(drive + ":") + "\n\n";
    Renaming renamed(copy.path(), name, output);
    DiskCheckerRun run = Check(copy.path(), renamed, unread);
    run.unreadSectors = copy.unread().Count();
    return run;
}

}  // namespace vokta
