// SPDX-License-Identifier: GPL-3.0-or-later
// The FAT volume over FATs and directories of random and adversarial bytes: loops, directories
// that hold themselves, links outside the clusters, garbage entries and parameters.
// Every walk must end, nothing may be touched outside the tables (the sanitizer build
// watches that), and what the drive reports must hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>

#include "fat/fatdisk.h"
#include "fat/fatvolume.h"
#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::test;

namespace {

constexpr int kRounds = 300;

class Damage {
public:
    explicit Damage(uint32_t seed) : rng_(seed) {}

    uint32_t Below(uint32_t n) { return n == 0 ? 0 : std::uniform_int_distribution<uint32_t>(0, n - 1)(rng_); }
    bool OneIn(uint32_t n) { return Below(n) == 0; }
    uint8_t Byte() { return static_cast<uint8_t>(Below(256)); }

    // A small tree as a file system would lay it out: files and nested directories.
    std::vector<uint16_t> Populate(FatDisk& disk, uint16_t clusters)
    {
        std::vector<uint16_t> directories = {0};
        uint16_t next = 2;
        const uint32_t entries = 4 + Below(20);
        for (uint32_t i = 0; i < entries && next + 8 < clusters; ++i) {
            const uint16_t parent = directories[Below(static_cast<uint32_t>(directories.size()))];
            if (!disk.HasFreeSlot(parent))
                continue;
            std::vector<uint16_t> chain;
            const uint32_t length = 1 + Below(6);
            for (uint32_t k = 0; k < length; ++k)
                chain.push_back(next++);
            const std::string name = "F" + std::to_string(i);
            if (OneIn(3)) {
                disk.AddDirectory(parent, name, {chain.front()});
                directories.push_back(chain.front());
            } else {
                disk.AddFile(parent, name, chain);
            }
        }
        return directories;
    }

    void Corrupt(FatDisk& disk, const std::vector<uint16_t>& directories, uint16_t clusters)
    {
        const uint32_t blows = 1 + Below(8);
        for (uint32_t i = 0; i < blows; ++i) {
            const auto a = static_cast<uint16_t>(Below(clusters + 8));
            const auto b = static_cast<uint16_t>(Below(clusters + 8));
            const uint16_t dir = directories[Below(static_cast<uint32_t>(directories.size()))];
            const bool room = disk.HasFreeSlot(dir);
            switch (Below(9)) {
            case 0:  // a loop
                disk.SetEntry(a, b);
                disk.SetEntry(b, a);
                break;
            case 1:  // a link outside the clusters, or into the reserved values
                disk.SetEntry(a, static_cast<uint16_t>(OneIn(2) ? clusters + Below(3000) : 0xFF0 + Below(8)));
                break;
            case 2:  // a directory holding itself or an ancestor
                if (room)
                    disk.AddEntry(dir, "SELF", 0x10, directories[Below(static_cast<uint32_t>(directories.size()))]);
                break;
            case 3:  // a directory entry of random bytes
                if (room)
                    for (uint8_t& byte : disk.AddEntry(dir, "X", 0, 0))
                        byte = Byte();
                break;
            case 4:  // random bytes through a FAT copy
                for (uint32_t k = 0, n = 1 + Below(64); k < n; ++k)
                    disk.Fat(Below(2))[Below(static_cast<uint32_t>(disk.Fat(0).size()))] = Byte();
                break;
            case 5:  // a whole directory cluster of garbage
                if (disk.IsCluster(dir))
                    for (uint8_t& byte : disk.Cluster(dir))
                        byte = Byte();
                break;
            case 6:  // a media byte that makes the FAT 16-bit
                disk.Fat(0)[0] = 0xF8;
                break;
            case 7:  // a subdirectory entry pointing at a file's cluster
                if (room)
                    disk.AddEntry(dir, "FAKE", 0x10, a);
                break;
            default:  // a damaged parameter of the boot sector
                disk.bytes[11 + Below(25)] = Byte();
                break;
            }
        }
    }

private:
    std::mt19937 rng_;
};

void Exercise(FatVolume& volume, Damage& damage, uint16_t clusters, const MediaGeometry& g)
{
    const size_t fatBytes = volume.fat().size();
    const size_t rootBytes = volume.rootDir().size();
    for (int op = 0; op < 8; ++op) {
        (void)volume.drive().TakeError();
        const auto cluster = static_cast<uint16_t>(damage.Below(clusters + 16));
        switch (damage.Below(7)) {
        case 0:
            if (volume.MarkClusterBad(cluster)) {
                EXPECT_TRUE(volume.IsClusterBad(cluster)) << cluster;
            }
            break;
        case 1:
            static_cast<void>(volume.MarkTrackBadAtSector(damage.Below(uint32_t{g.totalSectors} + 64)));
            break;
        case 2:
            static_cast<void>(volume.MarkTrackBad(static_cast<uint16_t>(damage.Below(g.cylinders + 4)),
                               static_cast<uint16_t>(damage.Below(3))));
            break;
        case 3:
            static_cast<void>(volume.MarkCylinderBad(static_cast<uint16_t>(damage.Below(g.cylinders + 4))));
            break;
        case 4: {
            uint16_t moved = FatValue::NoEntry;
            if (volume.MoveCluster(cluster, &moved)) {
                EXPECT_TRUE(moved >= 2 && moved <= volume.lastCluster()) << moved;
            }
            break;
        }
        case 5: {
            if (const std::optional<Owner> owner = volume.FindOwner(cluster)) {
                EXPECT_LE(owner->firstCluster, volume.lastCluster());
            }
            break;
        }
        default:
            volume.FixChildParents(cluster, static_cast<uint16_t>(damage.Below(clusters)));
            break;
        }
        EXPECT_EQ(volume.fat().size(), fatBytes);
        EXPECT_EQ(volume.rootDir().size(), rootBytes);
    }
}

}  // namespace

TEST(FatFuzz, DamagedDiskettesNeverHangNorTouchWhatIsNotTheirs)
{
    Damage damage(0x5EED'FA7u);
    constexpr std::array kTypes = {kMedia720K, kMedia144M, kMedia168M, kMedia172M};
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        const MediaType type = kTypes[damage.Below(static_cast<uint32_t>(kTypes.size()))];
        const MediaGeometry g = *GeometryOf(type);
        FatDisk disk(type);
        const auto clusters =
            static_cast<uint16_t>((g.totalSectors - disk.firstDataSector) / g.sectorsPerCluster + 2);
        const std::vector<uint16_t> directories = damage.Populate(disk, clusters);
        damage.Corrupt(disk, directories, clusters);

        EmulatedSetup setup('A', DriveKind::Floppy35HD);
        setup.drive->Insert(EmulatedMedium::FromImage(type, disk.bytes));
        for (uint32_t d = damage.Below(3); d > 0; --d)
            setup.drive->medium()->defects.insert(
                {static_cast<uint16_t>(damage.Below(g.cylinders)), static_cast<uint8_t>(damage.Below(2)),
                 static_cast<uint8_t>(1 + damage.Below(g.sectorsPerTrack))});
        {
            DiskDrive drive('A', setup.table);
            FatVolume volume(drive);
            if (!drive.SelectMedia(damage.OneIn(2) ? kMediaUnknown : type, false))
                continue;
            (void)drive.TakeError();
            if (volume.Load())
                Exercise(volume, damage, clusters, g);
        }
        const std::vector<uint8_t> after = setup.drive->medium()->ToImage(type);
        ASSERT_EQ(after.size(), disk.bytes.size());
        EXPECT_TRUE(std::equal(after.begin(), after.begin() + 512, disk.bytes.begin()))
            << "the boot sector is never written";
    }
}
