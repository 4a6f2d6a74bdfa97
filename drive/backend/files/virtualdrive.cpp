// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/backend/files/virtualdrive.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/uio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <span>
#include <utility>

#include "drive/backend/files/fluxmedium.h"
#include "drive/backend/files/imdfile.h"
#include "drive/diskdrive.h"
#include "drive/lostwork.h"
#include "drive/replacementfile.h"
#include "fluxfile/hfefile.h"
#include "fluxfile/scpfile.h"
#include "res/strings.h"

namespace vokta {
namespace {

// Flux files hold several revolutions of every track: larger than any sector image.
constexpr uint64_t kLargestFluxFile = 256 * 1024 * 1024;

// The file name extensions that choose a format.
constexpr std::pair<const char*, DisketteFileFormat> kFormatExtensions[] = {
    {".imd", DisketteFileFormat::Imd},
    {".scp", DisketteFileFormat::Scp},
    {".hfe", DisketteFileFormat::Hfe},
};

// The `type=` values and the drive kinds they stand for.
constexpr std::pair<const char*, DriveKind> kDriveTypeNames[] = {
    {"720k", DriveKind::Floppy35DD},
    {"1.2m", DriveKind::Floppy525HD},
    {"1.44m", DriveKind::Floppy35HD},
};

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool ReadWholeFile(int fd, size_t size, std::vector<uint8_t>& out, std::string& error)
{
    out.resize(size);
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? std::strerror(errno) : LoadString(Str::FileShorterThanItsSize);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Moves the sectors of a raw image file, in logical order, with one call a few hundred
// sectors: no copy of the whole diskette in between.
bool TransferRawSectors(int fd, std::span<const iovec> sectors, bool write)
{
    off_t at = 0;
    while (!sectors.empty()) {
        const size_t count = std::min<size_t>(sectors.size(), IOV_MAX);
        ssize_t n = write ? pwritev(fd, sectors.data(), static_cast<int>(count), at)
                          : preadv(fd, sectors.data(), static_cast<int>(count), at);
        if (n < 0 && errno == EINTR)
            continue;
        size_t expected = 0;
        for (size_t i = 0; i < count; ++i)
            expected += sectors[i].iov_len;
        if (n >= 0 && static_cast<size_t>(n) != expected)
            errno = EIO;  // a short transfer of a file we sized ourselves: an I/O fault
        if (n < 0 || static_cast<size_t>(n) != expected)
            return false;
        at += n;
        sectors = sectors.subspan(count);
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

// Why a file of no format's signature is not a file of the format its name chose.
std::string NotOfFormat(DisketteFileFormat format, uint64_t fileSize)
{
    switch (format) {
    case DisketteFileFormat::Imd: return LoadString(Str::NotAnImageDiskFile);
    case DisketteFileFormat::Scp: return LoadString(Str::ScpNotScp);
    case DisketteFileFormat::Hfe: return LoadString(Str::HfeNotHfe);
    case DisketteFileFormat::Raw: break;
    }
    return FormatString(Str::NotADisketteSize, static_cast<long>(fileSize));
}

}  // namespace

DisketteFileFormat FormatForName(const std::string& path)
{
    const std::string lower = Lower(path);
    for (const auto& [extension, format] : kFormatExtensions)
        if (lower.ends_with(extension))
            return format;
    return DisketteFileFormat::Raw;
}

// Such a file is never opened as a diskette: a named pipe would hold the open until a
// writer came, and a device's open may act on the device.
std::optional<Str> NotADisketteFile(mode_t mode)
{
    if (S_ISFIFO(mode))
        return Str::NamedPipeNotDiskette;
    if (S_ISSOCK(mode))
        return Str::SocketNotDiskette;
    if (S_ISCHR(mode))
        return Str::CharacterDeviceNotDiskette;
    if (S_ISBLK(mode))
        return Str::BlockDeviceNotDiskette;
    return std::nullopt;
}

std::optional<DriveKind> DriveKindOfTypeName(const std::string& name)
{
    const std::string lower = Lower(name);
    for (const auto& [typeName, kind] : kDriveTypeNames)
        if (lower == typeName)
            return kind;
    return std::nullopt;
}

std::string TypeNameOfDriveKind(DriveKind kind)
{
    for (const auto& [typeName, named] : kDriveTypeNames)
        if (named == kind)
            return typeName;
    return {};
}

VirtualDrive::VirtualDrive(std::string path, DriveKind kind, uint8_t driveNumber)
    : EmulatedDrive(kind, driveNumber), path_(std::move(path)), format_(FormatForName(path_))
{
}

DriveOpenResult VirtualDrive::Open(const std::string& path, DriveKind kind, uint8_t driveNumber)
{
    std::unique_ptr<VirtualDrive> v(new VirtualDrive(path, kind, driveNumber));
    std::string detail;
    if (const DiskError failed = v->Load(detail); failed != Err::None)
        return {nullptr, failed, detail};
    return {std::move(v), Err::None, {}};
}

DiskError VirtualDrive::Load(std::string& detail)
{
    const bool wasLocked = locked_;
    CloseFile();
    Eject();
    struct stat st {};
    if (const std::optional<Str> notADiskette = stat(path_.c_str(), &st) == 0 ? NotADisketteFile(st.st_mode)
                                                                                : std::nullopt) {
        detail = path_ + ": " + LoadString(*notADiskette);
        return Err::AccessDenied;
    }
    bool writable = true;
    // Non-blocking still, should a named pipe have taken the file's place since.
    fd_ = open(path_.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
        writable = false;
        fd_ = open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    }
    if (fd_ < 0) {
        if (errno == ENOENT)
            return Err::None;  // an empty drive
        detail = path_ + ": " + std::strerror(errno);
        return Err::AccessDenied;
    }
    RelockFile(wasLocked);
    char* resolved = realpath(path_.c_str(), nullptr);
    target_ = resolved ? resolved : path_;
    std::free(resolved);
    // Saving goes through a new file beside the one it replaces.
    if (access(FolderOf(target_).c_str(), W_OK) != 0)
        writable = false;

    if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        const std::optional<Str> notADiskette = NotADisketteFile(st.st_mode);
        detail = path_ + ": " + LoadString(S_ISDIR(st.st_mode) ? Str::IsADirectory
                                           : notADiskette       ? *notADiskette
                                                                : Str::NotARegularFile);
        return Err::AccessDenied;
    }
    device_ = st.st_dev;
    inode_ = st.st_ino;
    // Root may open any file for writing: a file nobody may write is write-protected for
    // everyone, as the diskette with its tab open would be.
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        writable = false;

    // A raw image of a standard size goes straight into the sectors of the diskette.
    uint8_t magic[512] = {};
    const ssize_t magicRead = pread(fd_, magic, sizeof magic, 0);
    const std::span<const uint8_t> head(magic, magicRead > 0 ? static_cast<size_t>(magicRead) : 0);
    const bool imageDisk = LooksLikeImd(head);
    const std::optional<MediaType> rawType = MediaTypeOfImageSize(static_cast<uint64_t>(st.st_size));
    // A raw image's boot sector may start with any bytes, a flux file's signature among them.
    const bool rawByName = rawType && format_ == DisketteFileFormat::Raw;
    const bool scp = !rawByName && LooksLikeScp(head);
    const bool hfe = !rawByName && LooksLikeHfe(head);
    const bool tagged = imageDisk || scp || hfe;
    if (!tagged && rawByName) {
        EmulatedMedium disk = EmulatedMedium::Formatted(*rawType);
        std::vector<iovec> sectors;
        for (SectorRecord* s : disk.LogicalSectors(*rawType))
            sectors.push_back({s->data.data(), s->data.size()});
        if (!TransferRawSectors(fd_, sectors, false)) {
            detail = path_ + ": " + std::strerror(errno);
            return Err::AccessDenied;
        }
        Insert(std::move(disk));
        medium()->writeProtected = !writable;
        modified = false;
        return Err::None;
    }

    // A file of no diskette's size is told by its size alone: nothing of it is read.
    const auto fileSize = static_cast<uint64_t>(st.st_size);
    if (fileSize > (scp || hfe ? kLargestFluxFile : kLargestDisketteFile)) {
        detail = path_ + ": " + FormatString(Str::FileLargerThanAnyDiskette, static_cast<long>(fileSize));
        return Err::InvalidData;
    }
    if (!tagged && fileSize != 0) {
        detail = path_ + ": " + NotOfFormat(format_, fileSize);
        return Err::InvalidData;
    }
    std::vector<uint8_t> bytes;
    std::string error;
    if (!ReadWholeFile(fd_, static_cast<size_t>(fileSize), bytes, error)) {
        detail = path_ + ": " + error;
        return Err::AccessDenied;
    }
    const MediumDensity density = NativeDensity(kind());
    if (bytes.empty()) {
        Insert(EmulatedMedium(density));
    } else if (scp || hfe) {
        format_ = scp ? DisketteFileFormat::Scp : DisketteFileFormat::Hfe;
        FluxMediumRead flux = scp ? ReadScpMedium(bytes, density) : ReadHfeMedium(bytes, kind(), density);
        if (!flux.medium) {
            detail = path_ + ": " + flux.error;
            return Err::InvalidData;
        }
        Insert(std::move(*flux.medium));
    } else {
        format_ = DisketteFileFormat::Imd;
        ImdReadResult imd = ReadImd(bytes, density);
        if (!imd.medium) {
            detail = path_ + ": " + imd.error;
            return Err::InvalidData;
        }
        // The file's own comment follows the header line; it is kept on saving.
        const size_t lineEnd = imd.comment.find("\r\n");
        imdComment_ = lineEnd == std::string::npos ? std::string() : imd.comment.substr(lineEnd + 2);
        Insert(std::move(*imd.medium));
    }
    medium()->writeProtected = !writable;
    modified = false;
    return Err::None;
}

VirtualDrive::~VirtualDrive()
{
    SaveAtEnd();
    CloseFile();
}

void VirtualDrive::CloseFile()
{
    UnlockFile();
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
    DiscardTemporary();
}

void VirtualDrive::DiscardTemporary()
{
    temp_.Discard();
}

std::string VirtualDrive::LostWorkText(const std::string& reason) const
{
    const std::string drive{static_cast<char>('A' + driveNumber_ - 1), ':'};
    return FormatString(Str::ChangesLost, drive, reason);
}

void VirtualDrive::SaveAtEnd()
{
    std::string reason;
    if (!Save(reason)) {
        RecordLostWork(LostWorkText(reason));
        modified = false;
    }
    if (!lostReason_.empty())
        RecordLostWork(LostWorkText(std::exchange(lostReason_, {})));
}

void VirtualDrive::LoseChanges(const std::string& reason)
{
    lostReason_ = reason;
    modified = false;
}

bool VirtualDrive::Flush(std::string& reason)
{
    reason.clear();
    if (!Save(reason))
        return false;
    if (lostReason_.empty())
        return true;
    reason = std::exchange(lostReason_, {});
    return false;
}

bool VirtualDrive::IsDriveReady()
{
    // The work waits for the user: the file catches up before the diskette may go.
    std::string saveFailure;
    const bool unsaved = !Save(saveFailure);
    struct stat st {};
    if (stat(path_.c_str(), &st) != 0) {
        if (medium()) {
            if (unsaved)
                LoseChanges(saveFailure);
            CloseFile();
            Eject();
        }
        return false;
    }
    if (medium() && st.st_dev == device_ && st.st_ino == inode_)
        return true;
    if (unsaved)
        LoseChanges(saveFailure);
    std::string detail;
    return Load(detail) == Err::None && medium() != nullptr;
}

int VirtualDrive::ReserveTemporary()
{
    // Room for the largest diskette file, ImageDisk headers included; one revolution of
    // every track of a 1.72M diskette takes some 25 MB as SCP, 4 MB as HFE.
    const off_t reserve = format_ == DisketteFileFormat::Scp   ? off_t{32} * 1024 * 1024
                          : format_ == DisketteFileFormat::Hfe ? off_t{8} * 1024 * 1024
                                                               : off_t{2} * 1024 * 1024;
    return temp_.Reserve(target_.empty() ? path_ : target_, reserve);
}

DiskError VirtualDrive::PrepareToModify()
{
    const int error = ReserveTemporary();
    if (error == 0)
        return Err::None;
    if (error == ENOSPC || error == EDQUOT)
        return Err::HostDiskFull;
    return error == EROFS || error == EACCES || error == EPERM ? Err::WriteProtect : Err::AccessDenied;
}

DiskError VirtualDrive::TakeVolume()
{
    if (const DiskError held = EmulatedDrive::TakeVolume(); held != Err::None)
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
    SaveAtEnd();
    UnlockFile();
    return Err::None;
}

void VirtualDrive::UnlockFile()
{
    if (locked_ && fd_ >= 0)
        flock(fd_, LOCK_UN);
    locked_ = false;
}

void VirtualDrive::RelockFile(bool wasLocked)
{
    if (wasLocked && fd_ >= 0 && flock(fd_, LOCK_EX | LOCK_NB) == 0)
        locked_ = true;
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

bool VirtualDrive::WriteContents(const EmulatedMedium& disk, std::string& reason)
{
    off_t size = 0;
    bool written = true;
    if (format_ == DisketteFileFormat::Scp || format_ == DisketteFileFormat::Hfe) {
        const FluxFileWrite flux =
            format_ == DisketteFileFormat::Scp ? WriteScpMedium(disk, kind()) : WriteHfeMedium(disk, kind());
        if (!flux.error.empty()) {
            reason = target_ + ": " + flux.error;
            return false;
        }
        written = WriteAllAt0(temp_.fd(), flux.bytes);
        size = static_cast<off_t>(flux.bytes.size());
    } else if (format_ == DisketteFileFormat::Imd) {
        const std::vector<uint8_t> bytes =
            WriteImd(disk, ImdStampNow(), imdComment_.empty() ? kImdComment : imdComment_);
        written = WriteAllAt0(temp_.fd(), bytes);
        size = static_cast<off_t>(bytes.size());
    } else if (std::optional<MediaType> type = RawTypeOf(disk)) {
        static const std::vector<uint8_t> kMissing(EmulatedMedium::kLogicalSectorSize, 0);
        std::vector<iovec> sectors;
        for (const SectorRecord* s : disk.LogicalSectors(*type)) {
            const std::vector<uint8_t>& data = s && s->data.size() == kMissing.size() ? s->data : kMissing;
            sectors.push_back({const_cast<uint8_t*>(data.data()), data.size()});
        }
        written = TransferRawSectors(temp_.fd(), sectors, true);
        size = static_cast<off_t>(ImageSizeOf(*type));
    }
    if (!written || ftruncate(temp_.fd(), size) != 0) {
        reason = target_ + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool VirtualDrive::Save(std::string& reason)
{
    const EmulatedMedium* disk = medium();
    if (!modified || !disk)
        return true;
    if (const int error = ReserveTemporary()) {
        reason = target_ + ": " + std::strerror(error);
        return false;
    }
    struct stat st {};
    if (fd_ >= 0 && fstat(fd_, &st) == 0) {
        fchmod(temp_.fd(), st.st_mode & 07777);
        if (fchown(temp_.fd(), st.st_uid, st.st_gid) != 0) {
            // Only the owner's own group and user can be given by others: keep ours.
        }
    } else {
        fchmod(temp_.fd(), 0644);
    }
    if (!WriteContents(*disk, reason)) {
        // The temporary file stays for the next try: its room is still ours.
        return false;
    }
    int error = 0;
    switch (temp_.Replace(target_, error)) {
    case ReplacementFile::Outcome::Rewrite: return Save(reason);
    case ReplacementFile::Outcome::Failed: reason = target_ + ": " + std::strerror(error); return false;
    case ReplacementFile::Outcome::Replaced: break;
    }
    // The lock now lives on the new file, which replaced the one we held.
    const bool wasLocked = locked_;
    UnlockFile();
    if (fd_ >= 0)
        close(fd_);
    fd_ = open(target_.c_str(), O_RDWR | O_CLOEXEC);
    RelockFile(wasLocked);
    if (fd_ >= 0 && fstat(fd_, &st) == 0) {
        device_ = st.st_dev;
        inode_ = st.st_ino;
    }
    modified = false;
    if (error != 0) {
        reason = target_ + ": " + std::strerror(error);
        return false;
    }
    return true;
}

DriveBinding VirtualDriveBinding(char letter, const std::string& path, DriveKind kind)
{
    const auto number = static_cast<uint8_t>(NormalizeDriveLetter(letter) - 0x40);
    return DriveBinding{letter, SystemDriveType::Removable, path,
                        [=] { return VirtualDrive::Open(path, kind, number); }};
}

}  // namespace vokta
