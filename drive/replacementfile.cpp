// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/replacementfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>

#include "res/strings.h"

namespace vokta {
namespace {

// 0 or the errno of the failure; a file system that cannot sync a folder has nothing to lose.
int SyncFolder(const std::string& folder)
{
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int error = fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
    close(fd);
    return error;
}

}  // namespace

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAllAt0(int fd, std::span<const uint8_t> bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            errno = EIO;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

int ReplacementFile::Reserve(const std::string& target, off_t room)
{
    if (fd_ >= 0)
        return 0;
    path_.clear();
    fd_ = anonymous_ ? open(FolderOf(target).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600) : -1;
    if (fd_ < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL))
        anonymous_ = false;
    if (fd_ < 0 && !anonymous_) {
        path_ = target + ".XXXXXX";
        fd_ = mkstemp(path_.data());
    }
    int error = fd_ < 0 ? errno : room > 0 ? posix_fallocate(fd_, 0, room) : 0;
    if (error == EOPNOTSUPP || error == EINVAL)
        error = 0;  // a file system without reservations: the write will tell
    if (error != 0)
        Discard();
    return error;
}

void ReplacementFile::Discard()
{
    if (fd_ < 0)
        return;
    close(fd_);
    if (!path_.empty())
        unlink(path_.c_str());
    path_.clear();
    fd_ = -1;
}

ReplacementFile::Outcome ReplacementFile::Replace(const std::string& target, int& error)
{
    error = 0;
    if (fsync(fd_) != 0) {
        error = errno;
        return Outcome::Failed;
    }
    const bool nameless = path_.empty();
    if (nameless) {
        if ((error = Name(target)) != 0) {
            if (anonymous_)
                return Outcome::Failed;
            Discard();
            error = 0;
            return Outcome::Rewrite;
        }
    }
    if (rename(path_.c_str(), target.c_str()) != 0) {
        error = errno;
        if (nameless) {
            unlink(path_.c_str());
            path_.clear();
        }
        return Outcome::Failed;
    }
    close(fd_);
    fd_ = -1;
    path_.clear();
    // The new name is on disk only once the folder is: before that a power cut could bring
    // back the old file, or none.
    error = SyncFolder(FolderOf(target));
    return Outcome::Replaced;
}

int ReplacementFile::Name(const std::string& target)
{
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    std::random_device entropy;
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = target + ".";
        for (int i = 0; i < 6; ++i)
            name += kLetters[entropy() % (sizeof kLetters - 1)];
        if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            path_ = std::move(name);
            return 0;
        }
        if (errno == EEXIST)
            continue;
        // No process file system, or one that cannot link such files: named files from now on.
        if (errno == ENOENT || errno == EXDEV || errno == EOPNOTSUPP || errno == EPERM)
            anonymous_ = false;
        return errno;
    }
    return EEXIST;
}

std::optional<std::string> SaveTargetRefusal(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode))
        return std::nullopt;
    if (S_ISDIR(st.st_mode))
        return LoadString(Str::FolderNoSave);
    if (S_ISFIFO(st.st_mode))
        return LoadString(Str::NamedPipeNoSave);
    if (S_ISSOCK(st.st_mode))
        return LoadString(Str::SocketNoSave);
    return LoadString(Str::DeviceNoSave);
}

bool SaveWholeFile(const std::string& path, std::span<const uint8_t> bytes, std::string& reason)
{
    if (const std::optional<std::string> refusal = SaveTargetRefusal(path)) {
        reason = path + ": " + *refusal;
        return false;
    }
    char* resolved = realpath(path.c_str(), nullptr);
    const std::string target = resolved ? resolved : path;
    std::free(resolved);
    struct stat st {};
    const mode_t mode = stat(target.c_str(), &st) == 0 ? st.st_mode & 07777 : 0644;
    ReplacementFile file;
    for (;;) {
        int error = file.Reserve(target, static_cast<off_t>(bytes.size()));
        if (error == 0) {
            fchmod(file.fd(), mode);
            if (!WriteAllAt0(file.fd(), bytes) || ftruncate(file.fd(), static_cast<off_t>(bytes.size())) != 0)
                error = errno;
        }
        ReplacementFile::Outcome outcome = ReplacementFile::Outcome::Failed;
        if (error == 0)
            outcome = file.Replace(target, error);
        if (outcome == ReplacementFile::Outcome::Rewrite)
            continue;
        if (error != 0)
            reason = path + ": " + std::strerror(error);
        return error == 0;
    }
}

}  // namespace vokta
