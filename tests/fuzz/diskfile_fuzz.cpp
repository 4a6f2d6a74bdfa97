// SPDX-License-Identifier: GPL-3.0-or-later
// Recognition of files chosen as images or diskettes: the same bytes loaded as an image
// file (Read/Write's "Load Image") and opened as a diskette file under a raw name and an
// ImageDisk name. An image is loaded whole or not at all, and a raw file of a standard
// size is always a diskette.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <string>

#include "drive/backend/files/imdfile.h"
#include "drive/backend/files/virtualdrive.h"
#include "fuzzinput.h"
#include "image/diskimage.h"

using namespace vokta;
using namespace vokta::fuzz;

namespace {

class CountingBoxes : public MessageBoxHost {
public:
    Answer MessageBox(const std::string&, const std::string&, Buttons, Icon) override
    {
        ++count;
        return Answer::Ok;
    }
    int count = 0;
};

// One private folder for the whole run, so that a target run beside others never meets
// their files; it goes when the run ends.
class Folder {
public:
    Folder()
    {
        if (!mkdtemp(path_.data()))
            Broken("no temporary folder");
    }
    ~Folder() { rmdir(path_.c_str()); }
    const std::string& path() const { return path_; }

private:
    std::string path_ = "/tmp/vokta-fuzz-XXXXXX";
};

const std::string& FolderPath()
{
    static const Folder folder;
    return folder.path();
}

// The bytes as the file's beginning; a last byte of F1h..F5h stretches the file (zeros) to
// the size of a standard diskette, so that the raw path is reached with short inputs.
uint64_t WriteFile(const std::string& path, std::span<const uint8_t> bytes)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        Broken("cannot write the input file");
    uint64_t size = bytes.size();
    if (!bytes.empty() && bytes.back() >= 0xF1 && bytes.back() <= 0xF5) {
        const uint64_t stretched = ImageSizeOf(static_cast<MediaType>(bytes.back() - 0xF0));
        if (stretched > size) {
            if (ftruncate(fd, static_cast<off_t>(stretched)) != 0)
                Broken("cannot stretch the input file");
            size = stretched;
        }
    }
    close(fd);
    return size;
}

void LoadAsImage(const std::string& path, std::span<const uint8_t> bytes)
{
    DiskImage image;
    CountingBoxes boxes;
    if (LoadImageFile(image, path, boxes) != 0) {
        Require(boxes.count == 1, "a refused image is told once");
        return;
    }
    Require(boxes.count == 0 && image.IsValid(), "a loaded image is a valid one, loaded silently");
    Require(image.data.size() == MediaTotalSectors(image.mediaType) * size_t{512}, "the image is of its media's size");
    const size_t same = std::min(bytes.size(), image.data.size());
    Require(std::equal(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(same), image.data.begin()),
            "the image holds the file's bytes");
}

void OpenAsDiskette(const std::string& path, std::span<const uint8_t> bytes, uint64_t size)
{
    DriveOpenResult opened = VirtualDrive::Open(path, DriveKind::Floppy35HD, 1);
    const bool imageDisk = bytes.size() >= 4 && LooksLikeImd(bytes.first(4));
    if (!imageDisk && FormatForName(path) == DisketteFileFormat::Raw && MediaTypeOfImageSize(size))
        Require(opened.service != nullptr, "a raw file of a standard size is a diskette");
    if (!opened.service) {
        Require(opened.error != Err::None, "a refusal gives its error");
        return;
    }
    auto* drive = static_cast<VirtualDrive*>(opened.service.get());
    if (size > 0 && drive->IsDriveReady())
        Require(drive->medium() != nullptr, "a ready drive holds a diskette");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> bytes(data, size);
    for (const char* name : {"/d.img", "/d.imd"}) {
        const std::string path = FolderPath() + name;
        const uint64_t fileSize = WriteFile(path, bytes);
        if (name[3] == 'm' && name[4] == 'g')
            LoadAsImage(path, bytes);
        OpenAsDiskette(path, bytes, fileSize);
        unlink(path.c_str());
    }
    return 0;
}
