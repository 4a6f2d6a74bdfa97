// SPDX-License-Identifier: GPL-3.0-or-later
// The FAT volume over a diskette of the fuzzer's bytes: load the FAT, look for owners, mark
// clusters, tracks and cylinders BAD and move what was on them. Every walk must end, the
// tables keep their size, what is answered lies in the volume, and the boot sector is
// never written.
#include <algorithm>
#include <random>

#include "fat/fatvolume.h"
#include "fuzzinput.h"

using namespace vokta;
using namespace vokta::fuzz;

namespace {

void Exercise(FatVolume& volume, std::minstd_rand& rng, const MediaGeometry& g)
{
    const auto below = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
    const size_t fatBytes = volume.fat().size();
    const size_t rootBytes = volume.rootDir().size();
    const uint32_t clusters = uint32_t{volume.lastCluster()} + 16;
    for (int op = 0; op < 6; ++op) {
        (void)volume.drive().TakeError();
        const auto cluster = static_cast<uint16_t>(below(clusters));
        switch (below(7)) {
        case 0:
            if (volume.MarkClusterBad(cluster))
                Require(volume.IsClusterBad(cluster), "a cluster marked BAD reads BAD");
            break;
        case 1:
            static_cast<void>(volume.MarkTrackBadAtSector(below(uint32_t{g.totalSectors} + 64)));
            break;
        case 2:
            static_cast<void>(volume.MarkTrackBad(static_cast<uint16_t>(below(g.cylinders + 4u)), static_cast<uint16_t>(below(3))));
            break;
        case 3:
            static_cast<void>(volume.MarkCylinderBad(static_cast<uint16_t>(below(g.cylinders + 4u))));
            break;
        case 4: {
            uint16_t moved = FatValue::NoEntry;
            if (volume.MoveCluster(cluster, &moved))
                Require(moved >= 2 && moved <= volume.lastCluster(), "a cluster moves onto a data cluster");
            break;
        }
        case 5: {
            if (const std::optional<Owner> owner = volume.FindOwner(cluster))
                Require(owner->firstCluster <= volume.lastCluster(), "an owner's chain starts in the volume");
            break;
        }
        default:
            volume.FixChildParents(cluster, static_cast<uint16_t>(below(clusters)));
            break;
        }
        Require(volume.fat().size() == fatBytes && volume.rootDir().size() == rootBytes, "the tables keep their size");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzDiskette disk({data, size});
    const MediaGeometry g = *GeometryOf(disk.type);
    std::minstd_rand rng(disk.seed + 1u);
    {
        DiskDrive drive('A', disk.table);
        FatVolume volume(drive);
        if (!drive.SelectMedia(disk.seed & 1 ? kMediaUnknown : disk.type, false))
            return 0;
        (void)drive.TakeError();
        if (volume.Load())
            Exercise(volume, rng, g);
    }
    std::vector<uint8_t> before(512, 0);
    std::copy_n(disk.start.begin(), std::min<size_t>(disk.start.size(), 512), before.begin());
    Require(disk.BootSectorNow() == before, "the boot sector is never written");
    return 0;
}
