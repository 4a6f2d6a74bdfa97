// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/fluxdiskettes.h"

#include <stdexcept>
#include <string>

#include "drive/backend/files/fluxmedium.h"
#include "mfm/encode.h"

namespace vokta::test {
namespace {

std::string TrackName(uint16_t cylinder, uint8_t head)
{
    return "cylinder " + std::to_string(cylinder) + " head " + std::to_string(head);
}

uint32_t RevolutionTicks(DriveKind kind, uint32_t sampleHz)
{
    return static_cast<uint32_t>(uint64_t{sampleHz} * 60 / RecordingOf(DataRate::k500, kind).rpm);
}

// Two turns of a track: the second's first interval runs on from the first's last
// transition across the index.
mfm::TrackFlux TwoTurns(const std::vector<uint32_t>& intervals, uint32_t revolutionTicks, uint32_t sampleHz)
{
    mfm::TrackFlux flux{static_cast<double>(sampleHz), {}};
    if (intervals.empty())
        return flux;
    uint64_t sum = 0;
    for (const uint32_t interval : intervals)
        sum += interval;
    flux.revolutions.push_back({intervals, revolutionTicks});
    mfm::Revolution second{intervals, revolutionTicks};
    second.intervals.front() += static_cast<uint32_t>(revolutionTicks - sum);
    flux.revolutions.push_back(std::move(second));
    return flux;
}

}  // namespace

WeakStretch WeakSectorData(const EmulatedMedium& medium, DriveKind kind, uint16_t cylinder, uint8_t head, size_t slot,
                           uint32_t bad, uint32_t every, uint32_t sampleHz)
{
    const Track& track = medium.track(cylinder, head);
    const mfm::EncodedTrack encoded = EncodeMediumTrack(track, kind);
    if (!encoded.ok() || slot >= encoded.addressMarks.size())
        throw std::invalid_argument("no sector " + std::to_string(slot) + " on " + TrackName(cylinder, head));
    // From the address mark: its field (10 bytes), gap 2 (22), sync (12) and the data mark (4).
    constexpr size_t kToData = (10 + 22 + 12 + 4) * 16;
    const size_t middle = encoded.addressMarks[slot] + kToData + track.sectors[slot].size() / 2 * 16;
    const double cellTicks = sampleHz / mfm::CellsPerSecond(RecordingOf(track.rate, kind));
    return {cylinder, head, static_cast<uint32_t>(static_cast<double>(middle) * cellTicks),
            static_cast<uint32_t>(4 * 16 * cellTicks), bad, every};
}

FluxDiskette FluxDisketteOf(const EmulatedMedium& medium, DriveKind kind, uint32_t sampleHz)
{
    FluxDiskette diskette;
    diskette.revolutionTicks = RevolutionTicks(kind, sampleHz);
    diskette.cylinders = medium.cylinders;
    diskette.heads = medium.heads;
    diskette.writeProtected = medium.writeProtected;
    for (uint16_t c = 0; c < medium.cylinders; ++c)
        for (uint8_t h = 0; h < medium.heads; ++h) {
            const Track& track = medium.track(c, h);
            std::vector<uint32_t>& flux = diskette.tracks.emplace_back();
            if (!track.formatted())
                continue;
            const mfm::EncodedTrack encoded = EncodeMediumTrack(track, kind);
            if (!encoded.ok())
                throw std::invalid_argument("cannot record " + TrackName(c, h));
            const mfm::TrackFlux turn =
                mfm::CellsToFlux(encoded.cells, RecordingOf(track.rate, kind), sampleHz, 1);
            flux = turn.revolutions.front().intervals;
        }
    return diskette;
}

EmulatedMedium MediumOf(const FluxDiskette& diskette, MediumDensity density, uint32_t sampleHz)
{
    EmulatedMedium medium(density, diskette.cylinders, diskette.heads);
    medium.writeProtected = diskette.writeProtected;
    DataRate rate = density == MediumDensity::Double ? DataRate::k250 : DataRate::k500;
    for (uint16_t c = 0; c < diskette.cylinders; ++c)
        for (uint8_t h = 0; h < diskette.heads; ++h) {
            const mfm::TrackFlux flux = TwoTurns(diskette.track(c, h), diskette.revolutionTicks, sampleHz);
            std::optional<Track> track = DecodeFluxTrack(flux, {static_cast<uint8_t>(c), h, 2}, rate);
            if (!track)
                throw std::invalid_argument("cannot decode " + TrackName(c, h));
            medium.track(c, h) = std::move(*track);
        }
    return medium;
}

}  // namespace vokta::test
