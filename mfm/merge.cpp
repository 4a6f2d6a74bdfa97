// SPDX-License-Identifier: GPL-3.0-or-later
#include "mfm/merge.h"

#include <algorithm>
#include <array>

namespace vokta::mfm {
namespace {

bool SameId(const SectorRead& a, const SectorRead& b)
{
    return a.cylinder == b.cylinder && a.head == b.head && a.sector == b.sector && a.sizeCode == b.sizeCode;
}

void KeepStray(std::vector<SectorRead>& strays, const SectorRead& read)
{
    const auto known = std::find_if(strays.begin(), strays.end(), [&](const SectorRead& s) { return SameId(s, read); });
    if (known == strays.end())
        strays.push_back(read);
    else if (!known->dataCrcOk && read.dataCrcOk)
        *known = read;
}

// Takes one revolution's reads of a sector into what the earlier revolutions gave.
void Take(MergedSector& merged, const SectorRead& read, int revolution)
{
    merged.foundTwice = merged.foundTwice || read.foundTwice;
    if (!read.hasData || !read.dataCrcOk) {
        if (!merged.good && merged.data.empty() && read.hasData) {
            merged.data = read.data;
            merged.deleted = read.deleted;
        }
        return;
    }
    if (!merged.good) {
        merged.good = true;
        merged.fromRevolution = revolution;
        merged.data = read.data;
        merged.deleted = read.deleted;
    } else if (merged.data != read.data || merged.deleted != read.deleted) {
        merged.copiesDiffer = true;
    }
}

}  // namespace

const MergedSector* MergedTrack::Find(uint8_t sector) const
{
    const auto it = std::find_if(sectors.begin(), sectors.end(), [&](const MergedSector& s) { return s.sector == sector; });
    return it == sectors.end() ? nullptr : &*it;
}

MergedTrack MergeRevolutions(const TrackRead& read)
{
    MergedTrack track;
    std::array<int, 256> slotOf{};
    slotOf.fill(-1);
    std::vector<MergedSector> found;
    std::vector<unsigned> sightings;  // revolutions that found each
    const auto revolutions = static_cast<unsigned>(read.revolutions.size());
    for (unsigned r = 0; r < revolutions; ++r) {
        // Which sectors this revolution found, and whether any of its reads was good.
        std::array<uint8_t, 256> seen{};
        std::array<bool, 256> goodHere{};
        for (const SectorRead& s : read.revolutions[r].sectors) {
            if (!s.idCrcOk) {
                ++track.badAddressFields;
                continue;
            }
            if (s.wrongTrack || s.wrongSize) {
                KeepStray(track.strays, s);
                continue;
            }
            if (slotOf[s.sector] < 0) {
                slotOf[s.sector] = static_cast<int>(found.size());
                found.push_back({s.sector});
                sightings.push_back(0);
            }
            Take(found[static_cast<size_t>(slotOf[s.sector])], s, static_cast<int>(r));
            seen[s.sector] = 1;
            goodHere[s.sector] = goodHere[s.sector] || (s.hasData && s.dataCrcOk);
        }
        for (size_t i = 0; i < found.size(); ++i) {
            const uint8_t number = found[i].sector;
            sightings[i] += seen[number];
            if (seen[number] && !goodHere[number])
                ++found[i].badReads;
        }
    }
    for (size_t i = 0; i < found.size(); ++i)
        found[i].missed = revolutions - sightings[i];
    std::sort(found.begin(), found.end(), [](const MergedSector& a, const MergedSector& b) { return a.sector < b.sector; });
    track.sectors = std::move(found);
    return track;
}

}  // namespace vokta::mfm
