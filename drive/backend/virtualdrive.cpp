#include "drive/backend/virtualdrive.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>

#include "drive/backend/imdfile.h"
#include "drive/diskdrive.h"

namespace vokta {
namespace {

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string Directory(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool ReadWholeFile(int fd, std::vector<uint8_t>& out, std::string& error)
{
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "not a regular file";
        return false;
    }
    out.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? std::strerror(errno) : "file shorter than its size";
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

MediumDensity NativeDensity(DriveKind kind)
{
    return kind == DriveKind::Floppy35DD ? MediumDensity::Double : MediumDensity::High;
}

// The standard geometry that best describes what is on the diskette: the sectors per
// track of most formatted tracks, and 82 cylinders for 21-sector tracks past cylinder 79.
std::optional<MediaType> RawTypeOf(const EmulatedMedium& medium)
{
    std::map<size_t, int> votes;
    bool beyond80 = false;
    for (uint16_t c = 0; c < medium.cylinders; ++c)
        for (uint8_t h = 0; h < medium.heads; ++h) {
            const Track& t = medium.track(c, h);
            if (!t.formatted())
                continue;
            ++votes[t.sectors.size()];
            if (c >= 80)
                beyond80 = true;
        }
    if (votes.empty())
        return std::nullopt;
    const size_t spt = std::max_element(votes.begin(), votes.end(),
                                        [](const auto& a, const auto& b) { return a.second < b.second; })->first;
    if (spt <= 9)
        return kMedia720K;
    if (spt <= 15)
        return kMedia12M;
    if (spt <= 18)
        return kMedia144M;
    return beyond80 ? kMedia172M : kMedia168M;
}

std::string Timestamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%d/%m/%Y %H:%M:%S", &local);
    return text;
}

bool WriteAll(int fd, const std::vector<uint8_t>& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

DisketteFileFormat FormatForName(const std::string& path)
{
    const std::string lower = Lower(path);
    return lower.size() >= 4 && lower.compare(lower.size() - 4, 4, ".imd") == 0 ? DisketteFileFormat::Imd
                                                                                 : DisketteFileFormat::Raw;
}

std::optional<DriveKind> DriveKindOfTypeName(const std::string& name)
{
    const std::string lower = Lower(name);
    if (lower == "720k")
        return DriveKind::Floppy35DD;
    if (lower == "1.2m")
        return DriveKind::Floppy525HD;
    if (lower == "1.44m")
        return DriveKind::Floppy35HD;
    return std::nullopt;
}

VirtualDrive::VirtualDrive(std::string path, DriveKind kind, uint8_t driveNumber)
    : EmulatedDrive(kind, driveNumber), path_(std::move(path)), format_(FormatForName(path_))
{
}

DriveOpenResult VirtualDrive::Open(const std::string& path, DriveKind kind, uint8_t driveNumber)
{
    std::unique_ptr<VirtualDrive> v(new VirtualDrive(path, kind, driveNumber));
    bool writable = true;
    v->fd_ = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (v->fd_ < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
        writable = false;
        v->fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    }
    if (v->fd_ < 0) {
        if (errno == ENOENT)
            return {std::move(v), Err::None, {}};  // an empty drive
        return {nullptr, Err::AccessDenied, path + ": " + std::strerror(errno)};
    }
    // Saving goes through a new file beside this one.
    if (access(Directory(path).c_str(), W_OK) != 0)
        writable = false;

    std::vector<uint8_t> bytes;
    std::string error;
    if (!ReadWholeFile(v->fd_, bytes, error))
        return {nullptr, Err::AccessDenied, path + ": " + error};

    if (LooksLikeImd(bytes)) {
        v->format_ = DisketteFileFormat::Imd;
        ImdReadResult imd = ReadImd(bytes, NativeDensity(kind));
        if (!imd.medium)
            return {nullptr, Err::InvalidData, path + ": " + imd.error};
        v->Insert(std::move(*imd.medium));
    } else if (bytes.empty()) {
        v->Insert(EmulatedMedium(NativeDensity(kind)));
    } else if (v->format_ == DisketteFileFormat::Imd) {
        return {nullptr, Err::InvalidData, path + ": not an ImageDisk file (no \"IMD\" header)"};
    } else if (std::optional<MediaType> type = MediaTypeOfImageSize(bytes.size())) {
        v->Insert(EmulatedMedium::FromImage(*type, bytes));
    } else {
        return {nullptr, Err::InvalidData,
                path + ": " + std::to_string(bytes.size()) +
                    " bytes is not the size of a 720K, 1.2M, 1.44M, 1.68M or 1.72M diskette image"};
    }
    v->medium()->writeProtected = !writable;
    v->modified = false;
    return {std::move(v), Err::None, {}};
}

VirtualDrive::~VirtualDrive()
{
    SaveOrComplain();
    UnlockFile();
    if (fd_ >= 0)
        close(fd_);
}

void VirtualDrive::SaveOrComplain()
{
    std::string error;
    if (!Save(error))
        std::fprintf(stderr, "vokta: the diskette file %s could not be saved: %s\n", path_.c_str(), error.c_str());
}

DiskError VirtualDrive::TakeVolume()
{
    if (const DiskError held = EmulatedDrive::TakeVolume())
        return held;
    if (locked_ || fd_ < 0)
        return Err::None;
    if (flock(fd_, LOCK_EX | LOCK_NB) != 0)
        return Err::AccessDenied;
    locked_ = true;
    return Err::None;
}

// The last lock given back is the end of the drive object's work: the changes go to the file.
DiskError VirtualDrive::ReleaseVolume()
{
    SaveOrComplain();
    UnlockFile();
    return Err::None;
}

void VirtualDrive::UnlockFile()
{
    if (locked_ && fd_ >= 0)
        flock(fd_, LOCK_UN);
    locked_ = false;
}

bool VirtualDrive::VolumeHeldElsewhere() const
{
    if (EmulatedDrive::VolumeHeldElsewhere())
        return true;
    if (locked_ || fd_ < 0)
        return false;
    if (flock(fd_, LOCK_EX | LOCK_NB) != 0)
        return true;
    flock(fd_, LOCK_UN);
    return false;
}

bool VirtualDrive::Save(std::string& error)
{
    const EmulatedMedium* disk = medium();
    if (!modified || !disk)
        return true;
    std::vector<uint8_t> bytes;
    if (format_ == DisketteFileFormat::Imd) {
        bytes = WriteImd(*disk, Timestamp(), "Vokta diskette image\r\n");
    } else if (std::optional<MediaType> type = RawTypeOf(*disk)) {
        bytes = disk->ToImage(*type);
    }

    std::string temp = path_ + ".XXXXXX";
    const int out = mkstemp(temp.data());
    if (out < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (fd_ >= 0 && fstat(fd_, &st) == 0)
        fchmod(out, st.st_mode & 07777);
    else
        fchmod(out, 0644);
    const bool written = WriteAll(out, bytes) && fsync(out) == 0;
    const int savedErrno = errno;
    close(out);
    if (!written || rename(temp.c_str(), path_.c_str()) != 0) {
        error = std::strerror(written ? errno : savedErrno);
        unlink(temp.c_str());
        return false;
    }
    // The lock now lives on the new file, which replaced the one we held.
    const bool relock = locked_;
    UnlockFile();
    if (fd_ >= 0)
        close(fd_);
    fd_ = open(path_.c_str(), O_RDWR | O_CLOEXEC);
    if (relock && fd_ >= 0 && flock(fd_, LOCK_EX | LOCK_NB) == 0)
        locked_ = true;
    modified = false;
    return true;
}

DriveBinding VirtualDriveBinding(char letter, const std::string& path, DriveKind kind)
{
    const auto number = static_cast<uint8_t>(NormalizeDriveLetter(letter) - 0x40);
    return DriveBinding{letter, SystemDriveType::Removable, path,
                        [=] { return VirtualDrive::Open(path, kind, number); }};
}

}  // namespace vokta
