// SPDX-License-Identifier: GPL-3.0-or-later
#include "rescue/rescuetarget.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <utility>

#include "drive/backend/files/imdfile.h"
#include "drive/backend/files/virtualdrive.h"
#include "drive/diskdrive.h"
#include "drive/replacementfile.h"
#include "res/strings.h"

namespace vokta {
namespace {

// A map of a diskette is a few hundred kilobytes at the very most.
constexpr off_t kLargestMap = 4 << 20;

std::string LocalTimeNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

bool Exists(const std::string& path)
{
    struct stat st{};
    return lstat(path.c_str(), &st) == 0;
}

// The whole file, at most `limit` bytes; false with errno's words in `error`.
bool ReadWholeFile(const std::string& path, off_t limit, std::vector<uint8_t>& bytes, std::string& error)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat st{};
    int problem = fstat(fd, &st) != 0 ? errno : !S_ISREG(st.st_mode) ? EINVAL : st.st_size > limit ? EFBIG : 0;
    if (problem == 0) {
        bytes.resize(static_cast<size_t>(st.st_size));
        for (size_t done = 0; done < bytes.size() && problem == 0;) {
            const ssize_t n = pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
            if (n > 0)
                done += static_cast<size_t>(n);
            else if (n == 0 || errno != EINTR)
                problem = n == 0 ? EIO : errno;
        }
    }
    close(fd);
    if (problem != 0)
        error = std::strerror(problem);
    return problem == 0;
}

}  // namespace

RescueTarget::~RescueTarget()
{
    if (fd_ >= 0)
        close(fd_);
}

std::unique_ptr<RescueTarget> RescueTarget::Open(const std::string& imagePath, const std::string& mapPath,
                                                 int32_t mediaType, std::string& error)
{
    std::unique_ptr<RescueTarget> target(new RescueTarget());
    target->imagePath_ = imagePath;
    target->mapPath_ = mapPath;
    target->imageDisk_ = FormatForName(imagePath) == DisketteFileFormat::Imd;
    target->startTime_ = LocalTimeNow();
    target->image_.mediaType = mediaType;
    const uint32_t sectors = MediaTotalSectors(mediaType);
    target->image_.size = sectors * kSectorSize;
    target->image_.data.assign(target->image_.size, 0);
    target->map_.sectors.assign(sectors, SectorRescue::NonTried);
    for (const std::string& path : {imagePath, mapPath})
        if (const std::optional<std::string> refusal = SaveTargetRefusal(path)) {
            error = path + ": " + *refusal;
            return nullptr;
        }
    const bool imageThere = Exists(imagePath);
    const bool mapThere = Exists(mapPath);
    if (imageThere && !mapThere) {
        error = FormatString(Str::RescueImageWithoutMap, imagePath, mapPath);
        return nullptr;
    }
    if (mapThere && !imageThere) {
        error = FormatString(Str::RescueMapWithoutImage, mapPath, imagePath);
        return nullptr;
    }
    if (imageThere ? !target->LoadEarlierRun(error) : !target->Begin(error))
        return nullptr;
    return target;
}

bool RescueTarget::LoadEarlierRun(std::string& error)
{
    std::vector<uint8_t> mapBytes;
    if (!ReadWholeFile(mapPath_, kLargestMap, mapBytes, error)) {
        error = FormatString(Str::RescueMapUnreadable, mapPath_, error);
        return false;
    }
    ParsedRescueMap parsed = ParseRescueMap(std::string_view(reinterpret_cast<const char*>(mapBytes.data()), mapBytes.size()),
                                            kSectorSize, static_cast<uint32_t>(map_.sectors.size()));
    if (!parsed.map) {
        error = mapPath_ + ": " + parsed.error;
        return false;
    }
    map_ = std::move(*parsed.map);
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(imagePath_, off_t{8} << 20, bytes, error)) {
        error = FormatString(Str::RescueImageUnreadable, imagePath_, error);
        return false;
    }
    if (imageDisk_) {
        ImdReadResult imd = ReadImd(bytes, MediumDensity::High);
        if (!imd.medium) {
            error = FormatString(Str::RescueImageUnreadable, imagePath_, imd.error);
            return false;
        }
        // Every sector the map says was read must be in the file, read well.
        const auto type = static_cast<MediaType>(image_.mediaType);
        const std::vector<const SectorRecord*> sectors = std::as_const(*imd.medium).LogicalSectors(type);
        for (size_t s = 0; s < map_.sectors.size(); ++s)
            if (map_.sectors[s] == SectorRescue::Finished &&
                (s >= sectors.size() || !sectors[s] || sectors[s]->dataError || sectors[s]->data.size() != kSectorSize))
                bytes.clear();
        if (!bytes.empty())
            bytes = imd.medium->ToImage(type);
    }
    if (bytes.size() != image_.data.size()) {
        error = FormatString(Str::RescueImageSize, imagePath_, static_cast<long>(bytes.size()),
                             static_cast<long>(image_.data.size()));
        return false;
    }
    image_.data = std::move(bytes);
    if (!imageDisk_) {
        fd_ = open(imagePath_.c_str(), O_RDWR | O_CLOEXEC);
        if (fd_ < 0) {
            error = FormatString(Str::RescueImageNotWritten, imagePath_, std::string(std::strerror(errno)));
            return false;
        }
    }
    resumed_ = true;
    mapChanged_ = false;
    return true;
}

bool RescueTarget::Begin(std::string& error)
{
    if (!imageDisk_) {
        fd_ = open(imagePath_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 || ftruncate(fd_, static_cast<off_t>(image_.data.size())) != 0) {
            error = FormatString(Str::RescueImageNotWritten, imagePath_, std::string(std::strerror(errno)));
            if (fd_ >= 0)
                unlink(imagePath_.c_str());
            return false;
        }
    }
    // The first checkpoint makes both files, so a run stopped before any read resumes.
    kept_.clear();
    if (!Checkpoint(error)) {
        if (fd_ >= 0)
            unlink(imagePath_.c_str());
        return false;
    }
    return true;
}

void RescueTarget::Keep(uint32_t first, std::span<const uint8_t> bytes)
{
    const size_t offset = size_t{first} * kSectorSize;
    const size_t length = std::min(bytes.size(), image_.data.size() - std::min(offset, image_.data.size()));
    std::copy_n(bytes.begin(), length, image_.data.begin() + static_cast<ptrdiff_t>(offset));
    const uint32_t count = static_cast<uint32_t>(length / kSectorSize);
    for (uint32_t s = first; s < first + count; ++s)
        kept_.insert(s);
    Mark(first, count, SectorRescue::Finished);
}

void RescueTarget::Mark(uint32_t first, uint32_t count, SectorRescue status)
{
    for (uint32_t s = first; s < first + count && s < map_.sectors.size(); ++s)
        if (map_.sectors[s] != status) {
            map_.sectors[s] = status;
            mapChanged_ = true;
        }
}

void RescueTarget::SetPhase(SectorRescue status, unsigned pass)
{
    if (map_.currentStatus == status && map_.currentPass == pass)
        return;
    map_.currentStatus = status;
    map_.currentPass = pass;
    mapChanged_ = true;
}

bool RescueTarget::WriteImage(std::string& reason)
{
    if (imageDisk_) {
        image_.unreadable.clear();
        for (uint32_t s = 0; s < map_.sectors.size(); ++s)
            if (map_.sectors[s] != SectorRescue::Finished)
                image_.unreadable.insert(s);
        return SaveWholeFile(imagePath_, ImageFileBytes(image_, imagePath_), reason);
    }
    for (uint32_t s : kept_) {
        const size_t offset = size_t{s} * kSectorSize;
        if (pwrite(fd_, image_.data.data() + offset, kSectorSize, static_cast<off_t>(offset)) != static_cast<ssize_t>(kSectorSize)) {
            reason = FormatString(Str::RescueImageNotWritten, imagePath_, std::string(std::strerror(errno ? errno : ENOSPC)));
            return false;
        }
    }
    if (fdatasync(fd_) != 0) {
        reason = FormatString(Str::RescueImageNotWritten, imagePath_, std::string(std::strerror(errno)));
        return false;
    }
    return true;
}

bool RescueTarget::Checkpoint(std::string& reason)
{
    if (!mapChanged_ && kept_.empty())
        return true;
    if (!WriteImage(reason))
        return false;
    kept_.clear();
    const std::string text = RescueMapText(map_, kSectorSize, commandLine_, startTime_, LocalTimeNow());
    if (!SaveWholeFile(mapPath_, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()), reason))
        return false;
    mapChanged_ = false;
    return true;
}

}  // namespace vokta
