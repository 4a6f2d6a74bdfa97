// SPDX-License-Identifier: GPL-3.0-or-later
#include "fuzzinput.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "drive/diskservice.h"

// AddressSanitizer holds freed memory back for 256 MB by default, so every buffer a walk
// takes lands on a page not touched yet, and page faults take most of a run. A run frees
// far less than 16 MB: a use after free within it is still caught.
extern "C" const char* __asan_default_options()
{
    return "quarantine_size_mb=16";
}

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

// A formatted diskette per media, kept between runs and only refilled: making 2880
// sectors anew each run would take most of the run. The sector list stays valid while
// the medium is moved between the cache and the drive (its tracks keep their storage);
// a run that changed the tracks' shape gets a new diskette next time.
class MediumCache {
public:
    EmulatedMedium Take(MediaType type, std::span<const uint8_t> start)
    {
        Entry& e = entries_[type];
        if (!e.medium || Shape(*e.medium) != e.shape) {
            e.medium = EmulatedMedium::Formatted(type);
            e.sectors = e.medium->LogicalSectors(type);
            e.shape = Shape(*e.medium);
            e.dirtyBytes = 0;
        }
        // Past the old run's first bytes, a medium nobody wrote to is still all zeros.
        const size_t clear = std::max(start.size(), e.dirtyBytes);
        size_t at = 0;
        for (SectorRecord* sector : e.sectors) {
            if (at >= clear)
                break;
            const size_t n = at < start.size() ? std::min(sector->data.size(), start.size() - at) : 0;
            if (n != 0)  // no image at all has no bytes to copy from, not even a pointer
                std::memcpy(sector->data.data(), start.data() + at, n);
            std::memset(sector->data.data() + n, 0, sector->data.size() - n);
            sector->dataError = false;
            sector->deleted = false;
            at += sector->data.size();
        }
        e.medium->defects.clear();
        e.medium->unformattable.clear();
        e.medium->writeProtected = false;
        e.dirtyBytes = start.size();
        EmulatedMedium medium = std::move(*e.medium);
        e.medium.reset();
        return medium;
    }

    void Give(MediaType type, std::optional<EmulatedMedium> medium, bool written)
    {
        Entry& e = entries_[type];
        e.medium = std::move(medium);
        if (written)
            e.dirtyBytes = SIZE_MAX;
    }

private:
    struct Entry {
        std::optional<EmulatedMedium> medium;
        std::vector<SectorRecord*> sectors;
        uint64_t shape = 0;
        size_t dirtyBytes = 0;
    };

    // Every sector's address field and size, folded together.
    static uint64_t Shape(const EmulatedMedium& m)
    {
        uint64_t shape = 0;
        for (uint16_t c = 0; c < m.cylinders; ++c)
            for (uint8_t h = 0; h < m.heads; ++h)
                for (const SectorRecord& r : m.track(c, h).sectors)
                    shape = shape * 1000003 + (r.data.size() << 24 | size_t{r.cylinder} << 16 | size_t{r.head} << 8 | r.number);
        return shape;
    }

    std::array<Entry, kMediaUnknown> entries_;
};

MediumCache& Cache()
{
    static MediumCache cache;
    return cache;
}

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

    drive = std::make_shared<EmulatedDrive>(choice.kind, 1);
    EmulatedMedium medium = Cache().Take(type, start);
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

FuzzDiskette::~FuzzDiskette()
{
    const bool written = drive->modified;
    Cache().Give(type, drive->Eject(), written);
}

std::vector<uint8_t> FuzzDiskette::BootSectorNow() const
{
    const SectorRecord* boot = drive->medium()->Find(0, 0, 1);
    return boot ? boot->data : std::vector<uint8_t>{};
}

}  // namespace vokta::fuzz
