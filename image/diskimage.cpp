// SPDX-License-Identifier: GPL-3.0-or-later
#include "image/diskimage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>

#include "boot/bootsector.h"
#include "drive/backend/files/imdfile.h"
#include "drive/backend/files/virtualdrive.h"
#include "drive/bytes.h"
#include "drive/diskdrive.h"
#include "drive/replacementfile.h"
#include "res/codepage.h"
#include "res/strings.h"

namespace vokta {
namespace {

// A file error as the user should read it: the refusal, if any, then the file and the cause.
void TellFileError(MessageBoxHost& boxes, const std::string& path, const std::string& cause,
                   const std::string& refusal = {})
{
    boxes.MessageBox(refusal + path + ": " + cause, LoadString(Str::Error), Buttons::Ok, Icon::Error);
}

// Reads up to `out.size()` bytes from the start of the file; the count read, or -1.
ssize_t ReadPrefix(int fd, std::span<uint8_t> out)
{
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

// Why a file that is neither a regular file nor a folder holds no image: it has no
// beginning to read from, or reading it never ends.
std::string NotAnImageFileCause(mode_t mode)
{
    if (S_ISFIFO(mode))
        return LoadString(Str::NamedPipeNotImage);
    if (S_ISSOCK(mode))
        return LoadString(Str::SocketNotImage);
    return LoadString(Str::DeviceNotImage);
}

// A file longer than the diskette its boot sector describes holds something else as well;
// a shorter one is loaded only when the user, told what is missing, wants it.
bool FileFitsItsMedium(const std::string& path, uint64_t fileSize, int32_t mediaType, MessageBoxHost& boxes)
{
    const uint64_t mediumSize = ImageSizeOf(static_cast<MediaType>(mediaType));
    const std::string media(GetMediaTypeName(mediaType));
    if (fileSize > mediumSize) {
        TellFileError(boxes, path,
                      FormatString(Str::ImageLongerThanMedium, media, static_cast<long>(mediumSize),
                                   static_cast<long>(fileSize), static_cast<long>(fileSize - mediumSize)));
        return false;
    }
    if (fileSize == mediumSize)
        return true;
    const uint64_t missingSectors = (mediumSize - fileSize + kSectorSize - 1) / kSectorSize;
    const std::string question =
        path + ":\n" + FormatString(Str::ImageShorterThanMedium, media, static_cast<long>(mediumSize),
                                    static_cast<long>(fileSize), static_cast<long>(missingSectors));
    return boxes.MessageBox(question, LoadString(Str::Warning), Buttons::YesNo, Icon::Warning) == Answer::Yes;
}

// The media type of the image whose boot sector this is: a plausible boot sector of one of
// the five media. Nothing, after telling why, for any other.
std::optional<int32_t> MediaOfImage(DiskImage& image, const std::string& path, std::span<const uint8_t> boot,
                                    MessageBoxHost& boxes)
{
    if (const auto failed = static_cast<BootCheckResult>(ValidateBootSector(boot) & BootCheck::NotAnImage)) {
        std::string why;
        for (const std::string& line : BootCheckLines(failed))
            why += (why.empty() ? "" : " ") + line;
        TellFileError(boxes, path, why, LoadString(Str::NotADiskImage));
        return std::nullopt;
    }
    const int32_t mediaType = MediaTypeFromBootSector(boot);
    if (mediaType == kMediaUnknown) {
        image.mediaType = kMediaUnknown;
        TellFileError(boxes, path, FormatString(Str::ImageTotalOfNoMedia, long{GetU16(boot, BootSector::TotalSectors16)}),
                      LoadString(Str::ImageMediaNotSupported));
        return std::nullopt;
    }
    return mediaType;
}

// A zeroed block for the whole diskette of this media, else told.
bool TakeImageBlock(DiskImage& image, int32_t mediaType, MessageBoxHost& boxes)
{
    image.mediaType = mediaType;
    if (image.TakeBlock(MediaTotalSectors(mediaType) * kSectorSize))
        return true;
    image.mediaType = kMediaUnknown;
    boxes.MessageBox(LoadString(Str::InsufficientMemory), LoadString(Str::FatalError), Buttons::Ok, Icon::Error);
    return false;
}

void TakeLabelAndSerial(DiskImage& image, const BootSector& boot)
{
    image.label = Windows1252ToUtf8(boot.text(BootSector::VolumeLabel, BootSector::kLabelSize));
    image.serialText = SerialText(boot.u32(BootSector::SerialNumber));
}

// An ImageDisk file: its sectors in logical order, those it records with a data error or
// does not hold at all kept as unreadable, and told.
int LoadImageDiskFile(DiskImage& image, const std::string& path, int fd, uint64_t fileSize, MessageBoxHost& boxes)
{
    std::vector<uint8_t> bytes(static_cast<size_t>(fileSize));
    if (const ssize_t got = ReadPrefix(fd, bytes); got != static_cast<ssize_t>(bytes.size())) {
        TellFileError(boxes, path, got < 0 ? std::strerror(errno) : LoadString(Str::FileShorterThanItsSize));
        return 1;
    }
    ImdReadResult imd = ReadImd(bytes, MediumDensity::High);
    if (!imd.medium) {
        TellFileError(boxes, path, imd.error);
        return 1;
    }
    const SectorRecord* first = imd.medium->Find(0, 0, 1);
    BootSector boot;
    if (first && first->data.size() >= BootSector::kSize)
        std::copy_n(first->data.begin(), BootSector::kSize, boot.bytes.begin());
    const std::optional<int32_t> mediaType = MediaOfImage(image, path, boot.span(), boxes);
    if (!mediaType || !TakeImageBlock(image, *mediaType, boxes))
        return 1;
    uint32_t sector = 0;
    for (const SectorRecord* s : imd.medium->LogicalSectors(static_cast<MediaType>(*mediaType))) {
        if (s && s->data.size() == kSectorSize)
            std::ranges::copy(s->data, image.data.begin() + static_cast<std::ptrdiff_t>(sector * kSectorSize));
        if (!s || s->data.size() != kSectorSize || s->dataError)
            image.unreadable.insert(sector);
        ++sector;
    }
    TakeLabelAndSerial(image, boot);
    if (!image.unreadable.empty())
        boxes.MessageBox(path + ":\n" + FormatString(Str::ImageRecordsUnreadable,
                                                     static_cast<long>(image.unreadable.size())),
                         LoadString(Str::Warning), Buttons::Ok, Icon::Warning);
    return 0;
}

// The image as an ImageDisk file, its unreadable sectors recorded with a data error.
std::vector<uint8_t> ImageDiskBytes(const DiskImage& image)
{
    const auto type = static_cast<MediaType>(image.mediaType);
    EmulatedMedium medium = EmulatedMedium::FromImage(type, image.data);
    const std::vector<SectorRecord*> sectors = medium.LogicalSectors(type);
    for (uint32_t s : image.unreadable)
        if (s < sectors.size())
            sectors[s]->dataError = true;
    return WriteImd(medium, ImdStampNow(), kImdComment);
}

}  // namespace

bool DiskImage::TakeBlock(uint32_t bytes)
{
    unreadable.clear();
    if (data.size() == bytes) {
        std::fill(data.begin(), data.end(), 0);
        return true;
    }
    data.clear();
    data.shrink_to_fit();
    try {
        data.resize(bytes);
    } catch (const std::bad_alloc&) {
        data.clear();
        return false;
    }
    size = bytes;
    return true;
}

uint32_t MediaTotalSectors(int32_t mediaType)
{
    auto row = GeometryOf(mediaType);
    return row ? row->totalSectors : 0;
}

int32_t MediaTypeFromBootSector(std::span<const uint8_t> bootSector)
{
    const uint16_t total = GetU16(bootSector, BootSector::TotalSectors16);
    if (total == 0)
        return kMediaUnknown;
    for (int32_t type = kMedia720K; type <= kMedia172M; ++type)
        if (MediaTotalSectors(type) == total)
            return type;
    return kMediaUnknown;
}

std::string SerialText(uint32_t serial)
{
    char text[16];
    std::snprintf(text, sizeof text, "%X", serial);
    return text;
}

int LoadImageFile(DiskImage& image, const std::string& path, MessageBoxHost& boxes)
{
    if (path.empty())
        return 1;
    // Without O_NONBLOCK a named pipe would hold the open until some writer came along.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int error = errno;
        // A socket cannot be opened at all; say what it is rather than what open says.
        struct stat st {};
        const bool socket = stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
        TellFileError(boxes, path, socket ? NotAnImageFileCause(st.st_mode) : std::strerror(error));
        return 1;
    }
    struct FdCloser {
        int fd;
        ~FdCloser() { close(fd); }
    } closer{fd};

    struct stat st {};
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        TellFileError(boxes, path, S_ISDIR(st.st_mode) ? LoadString(Str::ImageIsAFolder) : std::strerror(errno));
        return 1;
    }
    if (!S_ISREG(st.st_mode)) {
        TellFileError(boxes, path, NotAnImageFileCause(st.st_mode));
        return 1;
    }
    const auto fileSize = static_cast<uint64_t>(st.st_size);
    uint8_t magic[4] = {};
    const bool imageDisk = ReadPrefix(fd, magic) == static_cast<ssize_t>(sizeof magic) && LooksLikeImd(magic);
    if (imageDisk && fileSize <= kLargestDisketteFile)
        return LoadImageDiskFile(image, path, fd, fileSize, boxes);
    if (fileSize > ImageSizeOf(kMedia172M)) {
        TellFileError(boxes, path, FormatString(Str::FileLargerThanAnyDiskette, static_cast<long>(fileSize)));
        return 1;
    }
    BootSector boot;
    const ssize_t got = ReadPrefix(fd, boot.bytes);
    if (got < 0) {
        TellFileError(boxes, path, std::strerror(errno));
        return 1;
    }
    if (got < static_cast<ssize_t>(BootSector::kSize)) {
        TellFileError(boxes, path, FormatString(Str::ImageShorterThanSector, static_cast<long>(got)));
        return 1;
    }
    const std::optional<int32_t> mediaType = MediaOfImage(image, path, boot.span(), boxes);
    // Refused here, the image held before is still held.
    if (!mediaType || !FileFitsItsMedium(path, fileSize, *mediaType, boxes) ||
        !TakeImageBlock(image, *mediaType, boxes))
        return 1;
    // A shorter file leaves the rest of the image zero, never another diskette's bytes.
    if (ReadPrefix(fd, image.data) < 0) {
        image.mediaType = kMediaUnknown;
        TellFileError(boxes, path, std::strerror(errno));
        return 1;
    }
    TakeLabelAndSerial(image, boot);
    return 0;
}

std::vector<uint8_t> ImageFileBytes(const DiskImage& image, const std::string& path)
{
    return FormatForName(path) == DisketteFileFormat::Imd ? ImageDiskBytes(image) : image.data;
}

bool SaveImageFile(const DiskImage& image, const std::string& path, MessageBoxHost& boxes)
{
    std::string reason;
    if (SaveWholeFile(path, ImageFileBytes(image, path), reason))
        return true;
    boxes.MessageBox(reason, LoadString(Str::Error), Buttons::Ok, Icon::Error);
    return false;
}

std::string ProposeNextFileName(const std::string& fileName)
{
    // Only the file's own name counts: a "." in a folder's name is no extension.
    const size_t slash = fileName.find_last_of('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = fileName.find_last_of('.');
    if (fileName.empty() || dot == std::string::npos || dot < nameStart)
        return fileName;
    size_t start = dot;
    while (start > 0 && std::isdigit(static_cast<unsigned char>(fileName[start - 1])))
        --start;
    if (start == dot)
        return fileName;
    // A run too long for a number is left as it is rather than overflowing.
    if (dot - start > 9)
        return fileName;
    const long n = std::stol(fileName.substr(start, dot - start));
    return fileName.substr(0, start) + std::to_string(n + 1) + fileName.substr(dot);
}

}  // namespace vokta
