// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/backend/emulated/emulatedmedium.h"

#include <algorithm>
#include <utility>

namespace vokta {

DataRate RateForSectorsPerTrack(uint16_t sectorsPerTrack, bool fiveAndAQuarterInch)
{
    if (sectorsPerTrack <= 10)
        return fiveAndAQuarterInch ? DataRate::k300 : DataRate::k250;
    if (sectorsPerTrack <= 21)
        return DataRate::k500;
    return DataRate::k1000;
}

uint32_t KbitOf(DataRate rate)
{
    switch (rate) {
    case DataRate::k250: return 250;
    case DataRate::k300: return 300;
    case DataRate::k500: return 500;
    case DataRate::k1000: return 1000;
    }
    return 500;
}

EmulatedMedium::EmulatedMedium(MediumDensity d, uint16_t cyl, uint8_t h)
    : density(d), cylinders(cyl), heads(h), tracks_(size_t{cyl} * h)
{
}

bool EmulatedMedium::Supports(DataRate rate) const
{
    switch (density) {
    case MediumDensity::Double: return rate == DataRate::k250 || rate == DataRate::k300;
    case MediumDensity::High: return rate != DataRate::k1000;
    case MediumDensity::Extra: return true;
    }
    return false;
}

Track& EmulatedMedium::track(uint16_t cylinder, uint8_t head)
{
    return tracks_[size_t{cylinder} * heads + head];
}

const Track& EmulatedMedium::track(uint16_t cylinder, uint8_t head) const
{
    return tracks_[size_t{cylinder} * heads + head];
}

SectorRecord* EmulatedMedium::Find(uint16_t cylinder, uint8_t head, uint8_t number)
{
    return const_cast<SectorRecord*>(std::as_const(*this).Find(cylinder, head, number));
}

const SectorRecord* EmulatedMedium::Find(uint16_t cylinder, uint8_t head, uint8_t number) const
{
    if (!HasTrack(cylinder, head))
        return nullptr;
    for (const SectorRecord& s : track(cylinder, head).sectors)
        if (s.cylinder == static_cast<uint8_t>(cylinder) && s.head == head && s.number == number)
            return &s;
    return nullptr;
}

EmulatedMedium EmulatedMedium::Formatted(MediaType type)
{
    const MediaGeometry g = *GeometryOf(type);
    EmulatedMedium medium(type == kMedia720K ? MediumDensity::Double : MediumDensity::High,
                          std::max<uint16_t>(g.cylinders, kDisketteTracks), static_cast<uint8_t>(g.heads));
    const DataRate rate = RateForSectorsPerTrack(g.sectorsPerTrack, false);
    for (uint16_t c = 0; c < g.cylinders; ++c) {
        for (uint8_t h = 0; h < g.heads; ++h) {
            Track& t = medium.track(c, h);
            t.rate = rate;
            t.sectors.reserve(g.sectorsPerTrack);
            for (uint16_t r = 1; r <= g.sectorsPerTrack; ++r)
                t.sectors.push_back({static_cast<uint8_t>(c), h, static_cast<uint8_t>(r), 2,
                                     std::vector<uint8_t>(g.bytesPerSector, 0), false, false});
        }
    }
    return medium;
}

std::vector<const SectorRecord*> EmulatedMedium::LogicalSectors(MediaType type) const
{
    const MediaGeometry g = *GeometryOf(type);
    std::vector<const SectorRecord*> sectors;
    sectors.reserve(g.totalSectors);
    for (uint16_t c = 0; c < g.cylinders; ++c)
        for (uint8_t h = 0; h < g.heads; ++h)
            for (uint16_t r = 1; r <= g.sectorsPerTrack; ++r)
                sectors.push_back(Find(c, h, static_cast<uint8_t>(r)));
    return sectors;
}

std::vector<SectorRecord*> EmulatedMedium::LogicalSectors(MediaType type)
{
    std::vector<SectorRecord*> sectors;
    for (const SectorRecord* s : std::as_const(*this).LogicalSectors(type))
        sectors.push_back(const_cast<SectorRecord*>(s));
    return sectors;
}

EmulatedMedium EmulatedMedium::FromImage(MediaType type, std::span<const uint8_t> image)
{
    EmulatedMedium medium = Formatted(type);
    size_t offset = 0;
    for (SectorRecord* s : medium.LogicalSectors(type)) {
        std::vector<uint8_t>& data = s->data;
        const size_t n = offset < image.size() ? std::min(data.size(), image.size() - offset) : 0;
        std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(offset), n, data.begin());
        offset += data.size();
    }
    return medium;
}

std::vector<uint8_t> EmulatedMedium::ToImage(MediaType type) const
{
    std::vector<uint8_t> image(ImageSizeOf(type), 0);
    size_t offset = 0;
    for (const SectorRecord* s : LogicalSectors(type)) {
        if (s)
            std::copy_n(s->data.begin(), std::min<size_t>(s->data.size(), kLogicalSectorSize),
                        image.begin() + static_cast<std::ptrdiff_t>(offset));
        offset += kLogicalSectorSize;
    }
    return image;
}

bool EmulatedMedium::ReadFails(PhysicalSector sector)
{
    if (IsDefective(sector.cylinder, sector.head, sector.number))
        return true;
    const auto transient = transientDefects.find(sector);
    if (transient == transientDefects.end() || transient->second == 0)
        return false;
    --transient->second;
    return true;
}

}  // namespace vokta
