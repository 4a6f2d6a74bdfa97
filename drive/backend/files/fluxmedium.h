// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "drive/backend/emulated/emulateddrive.h"
#include "drive/backend/emulated/emulatedmedium.h"
#include "fluxfile/fluxbytes.h"
#include "mfm/decode.h"
#include "mfm/encode.h"
#include "mfm/flux.h"
#include "mfm/merge.h"

namespace vokta {

// How a track of this data rate passes the head of a drive of this kind: 5¼" high-density
// drives turn at 360 rpm, the others at 300.
mfm::Recording RecordingOf(DataRate rate, DriveKind kind);

// The track's sectors as the encoder takes them, slot by slot; a data error is recorded
// as a wrong data CRC, so that it reads back as one.
std::vector<mfm::SectorImage> SlotsOf(const Track& track);

// The formatted track as bit cells of one revolution, or the encoder's refusal.
mfm::EncodedTrack EncodeMediumTrack(const Track& track, DriveKind kind);

// The track the revolutions show: its sectors in the order they passed the head, each
// with its own address field; a sector no revolution read with a good data CRC is a data
// error holding the best bytes read (zeros when no data field was found). No sector is an
// unformatted track. `id` names the track's own sectors.
Track TrackFromRead(const mfm::TrackRead& read, const mfm::MergedTrack& merged, mfm::TrackId id, DataRate rate);

// Decodes one track's flux at the data rates drives record at, `rate` first; `rate` is
// then the one the sectors were found at. Nothing when the flux is no drive's recording.
std::optional<Track> DecodeFluxTrack(const mfm::TrackFlux& flux, mfm::TrackId id, DataRate& rate);

struct FluxMediumRead {
    std::optional<EmulatedMedium> medium;
    std::string error;  // why the file is refused
};

// `density` is the medium's unless a track is recorded at a high density rate.
FluxMediumRead ReadScpMedium(std::span<const uint8_t> file, MediumDensity density);
FluxMediumRead ReadHfeMedium(std::span<const uint8_t> file, DriveKind kind, MediumDensity density);

// Every formatted track, one revolution of it; cylinders past the last formatted one are
// left out.
FluxFileWrite WriteScpMedium(const EmulatedMedium& medium, DriveKind kind);
FluxFileWrite WriteHfeMedium(const EmulatedMedium& medium, DriveKind kind);

}  // namespace vokta
