// SPDX-License-Identifier: GPL-3.0-or-later
// Recognition of files chosen as images or diskettes: the same bytes loaded as an image
// file (Read/Write's "Load Image") and opened as a diskette file under a raw name, an
// ImageDisk name and the names of the two flux files. An image is loaded whole or not at
// all, a raw file of a standard size is always a diskette, and a flux file's diskette
// saved as that kind of file again reads back the same.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <string>

#include "drive/backend/files/fluxmedium.h"
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

bool SameSectors(const Track& a, const Track& b)
{
    return std::equal(a.sectors.begin(), a.sectors.end(), b.sectors.begin(), b.sectors.end(),
                      [](const SectorRecord& x, const SectorRecord& y) {
                          return x.cylinder == y.cylinder && x.head == y.head && x.number == y.number &&
                                 x.sizeCode == y.sizeCode && x.data == y.data && x.dataError == y.dataError &&
                                 x.deleted == y.deleted;
                      });
}

// The diskette as its own kind of flux file, read back: every track as it was. A diskette
// the file cannot hold (a track too long, rates an HFE file cannot mix) is refused.
void SavesAndReadsBack(const EmulatedMedium& medium, DisketteFileFormat format)
{
    constexpr DriveKind kKind = DriveKind::Floppy35HD;
    const FluxFileWrite written =
        format == DisketteFileFormat::Scp ? WriteScpMedium(medium, kKind) : WriteHfeMedium(medium, kKind);
    if (!written.error.empty())
        return;
    const FluxMediumRead read = format == DisketteFileFormat::Scp
                                    ? ReadScpMedium(written.bytes, medium.density)
                                    : ReadHfeMedium(written.bytes, kKind, medium.density);
    Require(read.medium.has_value(), "a flux file the system wrote reads back");
    for (uint16_t c = 0; c < medium.cylinders; ++c)
        for (uint8_t h = 0; h < medium.heads; ++h) {
            const Track& before = medium.track(c, h);
            static const Track kUnformatted;
            const Track& after = read.medium->HasTrack(c, h) ? read.medium->track(c, h) : kUnformatted;
            Require(SameSectors(before, after), "a saved flux file holds the sectors it was saved with");
        }
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
    const DisketteFileFormat format = drive->format();
    if (drive->medium() != nullptr && (format == DisketteFileFormat::Scp || format == DisketteFileFormat::Hfe))
        SavesAndReadsBack(*drive->medium(), format);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> bytes(data, size);
    for (const char* name : {"/d.img", "/d.imd", "/d.scp", "/d.hfe"}) {
        const std::string path = FolderPath() + name;
        const uint64_t fileSize = WriteFile(path, bytes);
        if (name[3] == 'm' && name[4] == 'g')
            LoadAsImage(path, bytes);
        OpenAsDiskette(path, bytes, fileSize);
        unlink(path.c_str());
    }
    return 0;
}
