// SPDX-License-Identifier: GPL-3.0-or-later
#include "fat/fatdisk.h"

#include <algorithm>
#include <stdexcept>

#include "support/testdrives.h"

namespace vokta::test {

FatDisk::FatDisk(MediaType t) : type(t), bytes(ImageSizeOf(t), 0)
{
    const MediaGeometry g = *GeometryOf(t);
    sectorsPerCluster = g.sectorsPerCluster;
    sectorsPerFat = g.sectorsPerFat;
    rootSector = 1u + g.fatCount * g.sectorsPerFat;
    firstDataSector = rootSector + g.rootEntries / 16u;
    const std::vector<uint8_t> boot = BootSectorFor(t);
    std::copy(boot.begin(), boot.end(), bytes.begin());
    for (unsigned copy = 0; copy < 2; ++copy) {
        std::span<uint8_t> fat = Fat(copy);
        fat[0] = g.mediaDescriptor;
        fat[1] = 0xFF;
        fat[2] = 0xFF;
    }
}

FatDisk::FatDisk(MediaType t, std::vector<uint8_t> image) : FatDisk(t)
{
    bytes = std::move(image);
}

std::span<uint8_t> FatDisk::Sector(uint32_t sector)
{
    return std::span(bytes).subspan(size_t{sector} * 512, 512);
}

std::span<uint8_t> FatDisk::Fat(unsigned copy)
{
    return std::span(bytes).subspan((1 + size_t{copy} * sectorsPerFat) * 512, size_t{sectorsPerFat} * 512);
}

bool FatDisk::HasEntry(uint16_t cluster) const
{
    return size_t{cluster} * 3 / 2 + 1 < size_t{sectorsPerFat} * 512;
}

uint16_t FatDisk::Entry(uint16_t cluster, unsigned copy) const
{
    if (!HasEntry(cluster))
        return 0xFFF;
    const size_t at = (1 + size_t{copy} * sectorsPerFat) * 512 + cluster * 3 / 2;
    const unsigned word = bytes[at] | (bytes[at + 1] << 8);
    return static_cast<uint16_t>(cluster % 2 ? word >> 4 : word & 0xFFF);
}

void FatDisk::SetEntry(uint16_t cluster, uint16_t value)
{
    if (!HasEntry(cluster))
        return;
    value &= 0xFFF;
    for (unsigned copy = 0; copy < 2; ++copy) {
        const size_t at = (1 + size_t{copy} * sectorsPerFat) * 512 + cluster * 3 / 2;
        if (cluster % 2) {
            bytes[at] = static_cast<uint8_t>((bytes[at] & 0x0F) | (value << 4));
            bytes[at + 1] = static_cast<uint8_t>(value >> 4);
        } else {
            bytes[at] = static_cast<uint8_t>(value);
            bytes[at + 1] = static_cast<uint8_t>((bytes[at + 1] & 0xF0) | (value >> 8));
        }
    }
}

uint32_t FatDisk::SectorOf(uint16_t cluster) const
{
    return firstDataSector + (cluster - 2u) * sectorsPerCluster;
}

std::span<uint8_t> FatDisk::Cluster(uint16_t cluster)
{
    return std::span(bytes).subspan(size_t{SectorOf(cluster)} * 512, size_t{sectorsPerCluster} * 512);
}

std::span<uint8_t> FatDisk::RootEntry(size_t index)
{
    return std::span(bytes).subspan(size_t{rootSector} * 512 + index * 32, 32);
}

std::vector<uint8_t> FatDisk::Pattern(uint16_t cluster) const
{
    std::vector<uint8_t> data(size_t{sectorsPerCluster} * 512);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(cluster * 37 + i * 11 + 1);
    return data;
}

void PutName(std::span<uint8_t> entry, std::string_view name11)
{
    std::fill_n(entry.begin(), 11, ' ');
    std::copy(name11.begin(), name11.end(), entry.begin());
}

bool FatDisk::IsCluster(uint16_t cluster) const
{
    return cluster >= 2 && (size_t{SectorOf(cluster)} + sectorsPerCluster) * 512 <= bytes.size();
}

std::vector<std::span<uint8_t>> FatDisk::DirectoryAreas(uint16_t parent)
{
    std::vector<std::span<uint8_t>> areas;
    if (parent == 0) {
        areas.push_back(std::span(bytes).subspan(size_t{rootSector} * 512, (firstDataSector - rootSector) * 512));
        return areas;
    }
    // Bounded: a damaged FAT may loop.
    for (uint16_t c = parent; IsCluster(c) && areas.size() < 64; c = Entry(c))
        areas.push_back(Cluster(c));
    return areas;
}

bool FatDisk::HasFreeSlot(uint16_t parent)
{
    for (std::span<uint8_t> area : DirectoryAreas(parent))
        for (size_t at = 0; at + 32 <= area.size(); at += 32)
            if (area[at] == 0)
                return true;
    return false;
}

std::span<uint8_t> FatDisk::FreeSlot(uint16_t parent)
{
    for (std::span<uint8_t> area : DirectoryAreas(parent))
        for (size_t at = 0; at + 32 <= area.size(); at += 32)
            if (area[at] == 0)
                return area.subspan(at, 32);
    throw std::runtime_error("directory full");
}

std::span<uint8_t> FatDisk::AddEntry(uint16_t parent, std::string_view name11, uint8_t attribute, uint16_t start)
{
    std::span<uint8_t> entry = FreeSlot(parent);
    PutName(entry, name11);
    entry[11] = attribute;
    entry[26] = static_cast<uint8_t>(start);
    entry[27] = static_cast<uint8_t>(start >> 8);
    return entry;
}

void FatDisk::Chain(const std::vector<uint16_t>& clusters)
{
    for (size_t i = 0; i < clusters.size(); ++i)
        SetEntry(clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : 0xFFF);
}

std::span<uint8_t> FatDisk::AddFile(uint16_t parent, std::string_view name11, const std::vector<uint16_t>& clusters)
{
    std::span<uint8_t> entry = AddEntry(parent, name11, 0x20, clusters.empty() ? 0 : clusters.front());
    Chain(clusters);
    const uint32_t size = static_cast<uint32_t>(clusters.size() * sectorsPerCluster * 512);
    for (size_t i = 0; i < 4; ++i)
        entry[28 + i] = static_cast<uint8_t>(size >> (8 * i));
    for (uint16_t c : clusters) {
        const std::vector<uint8_t> pattern = Pattern(c);
        std::copy(pattern.begin(), pattern.end(), Cluster(c).begin());
    }
    return entry;
}

std::span<uint8_t> FatDisk::AddDirectory(uint16_t parent, std::string_view name11,
                                          const std::vector<uint16_t>& clusters)
{
    std::span<uint8_t> entry = AddEntry(parent, name11, 0x10, clusters.front());
    Chain(clusters);
    for (uint16_t c : clusters)
        std::fill_n(Cluster(c).begin(), Cluster(c).size(), 0);
    std::span<uint8_t> dot = Cluster(clusters.front()).subspan(0, 32);
    std::span<uint8_t> dotdot = Cluster(clusters.front()).subspan(32, 32);
    PutName(dot, ".");
    PutName(dotdot, "..");
    dot[11] = dotdot[11] = 0x10;
    dot[26] = static_cast<uint8_t>(clusters.front());
    dot[27] = static_cast<uint8_t>(clusters.front() >> 8);
    dotdot[26] = static_cast<uint8_t>(parent);
    dotdot[27] = static_cast<uint8_t>(parent >> 8);
    return entry;
}

}  // namespace vokta::test
