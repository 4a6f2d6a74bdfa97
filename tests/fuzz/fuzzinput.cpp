#include "fuzzinput.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>

#include "drive/diskservice.h"

namespace vokta::fuzz {

void Broken(const char* what)
{
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

namespace {

struct Choice {
    MediaType type;
    DriveKind kind;
};
constexpr std::array kChoices = {
    Choice{kMedia720K, DriveKind::Floppy35HD}, Choice{kMedia12M, DriveKind::Floppy525HD},
    Choice{kMedia144M, DriveKind::Floppy35HD}, Choice{kMedia168M, DriveKind::Floppy35HD},
    Choice{kMedia172M, DriveKind::Floppy35HD},
};

}  // namespace

FuzzDiskette::FuzzDiskette(std::span<const uint8_t> input)
{
    Bytes bytes(input);
    const Choice choice = kChoices[bytes.Take() % kChoices.size()];
    type = choice.type;
    const uint8_t defectCylinder = bytes.Take();
    const uint8_t defectPlace = bytes.Take();
    seed = bytes.Take();

    image.assign(ImageSizeOf(type), 0);
    const std::span<const uint8_t> rest = bytes.Rest();
    std::copy_n(rest.begin(), std::min(rest.size(), image.size()), image.begin());

    drive = std::make_shared<EmulatedDrive>(choice.kind, 1);
    EmulatedMedium medium = EmulatedMedium::FromImage(type, image);
    // A defect only where the header asks for one (a zero place is none): a read that
    // fails in the middle of a walk is what the salvaging paths are for.
    if (defectPlace != 0) {
        const MediaGeometry g = *GeometryOf(type);
        medium.defects.insert({static_cast<uint16_t>(defectCylinder % g.cylinders),
                               static_cast<uint8_t>(defectPlace >> 7),
                               static_cast<uint8_t>(1 + (defectPlace & 0x7F) % g.sectorsPerTrack)});
    }
    drive->Insert(std::move(medium));
    table.Bind(DriveBinding{'A', SystemDriveType::Removable, "", [d = drive] {
                                return DriveOpenResult{ShareService(d), Err::None, {}};
                            }});
}

std::vector<uint8_t> FuzzDiskette::Now() const
{
    return drive->medium()->ToImage(type);
}

}  // namespace vokta::fuzz
