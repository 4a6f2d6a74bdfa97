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

    const std::span<const uint8_t> rest = bytes.Rest();
    start.assign(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(std::min(rest.size(), ImageSizeOf(type))));

    // Sector by sector rather than through a whole image: the runs a second depend on it.
    drive = std::make_shared<EmulatedDrive>(choice.kind, 1);
    EmulatedMedium medium = EmulatedMedium::Formatted(type);
    size_t at = 0;
    for (SectorRecord* sector : medium.LogicalSectors(type)) {
        if (at >= start.size())
            break;
        const size_t n = std::min(sector->data.size(), start.size() - at);
        std::copy_n(start.begin() + static_cast<std::ptrdiff_t>(at), n, sector->data.begin());
        at += n;
    }
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

std::vector<uint8_t> FuzzDiskette::BootSectorNow() const
{
    const SectorRecord* boot = drive->medium()->Find(0, 0, 1);
    return boot ? boot->data : std::vector<uint8_t>{};
}

}  // namespace vokta::fuzz
