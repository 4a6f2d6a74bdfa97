// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/backend/files/fluxmedium.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "fluxfile/hfefile.h"
#include "fluxfile/scpfile.h"
#include "mfm/recording.h"
#include "mfm/trackbytes.h"
#include "res/strings.h"

namespace vokta {
namespace {

// HFE cells become flux in the 25 ns ticks SCP files count in, for the decoder.
constexpr double kFluxTickHz = 40e6;

// The rates a track is tried at when decoding, most common first.
constexpr DataRate kDecodeRates[] = {DataRate::k500, DataRate::k250, DataRate::k300, DataRate::k1000};

DataRate NearestRate(uint32_t kbit)
{
    DataRate best = DataRate::k500;
    for (const DataRate rate : kDecodeRates)
        if (std::abs(static_cast<long>(KbitOf(rate)) - kbit) < std::abs(static_cast<long>(KbitOf(best)) - kbit))
            best = rate;
    return best;
}

uint32_t RpmOf(DriveKind kind)
{
    return kind == DriveKind::Floppy525HD ? 360 : 300;
}

// The standard rotation nearest to what the flux's first revolution took.
uint32_t RpmOfFlux(const mfm::TrackFlux& flux)
{
    const mfm::Revolution& first = flux.revolutions.front();
    uint64_t ticks = first.indexTicks;
    if (ticks == 0)
        for (const uint32_t interval : first.intervals)
            ticks += interval;
    if (ticks == 0)
        return 300;
    const double rpm = 60.0 * flux.tickHz / static_cast<double>(ticks);
    return std::abs(rpm - 360) < std::abs(rpm - 300) ? 360 : 300;
}

// The format gap of the standard format of the track's sectors per track and rate.
uint8_t StandardGap(const Track& track)
{
    for (const mfm::MediumFormat& format : mfm::kMediumFormats)
        if (format.sectorsPerTrack == track.sectors.size() && format.recording.dataRateKbit == KbitOf(track.rate))
            return format.gap3;
    return 0x54;
}

// Where a sector of the track passed the head in the first revolution that found it.
size_t PositionOf(const mfm::TrackRead& read, uint8_t sector)
{
    for (const mfm::RevolutionRead& revolution : read.revolutions)
        for (const mfm::SectorRead& s : revolution.sectors)
            if (s.sector == sector && !s.wrongTrack && !s.wrongSize)
                return s.position;
    return 0;
}

bool FoundAnySector(const mfm::TrackRead& read)
{
    for (const mfm::RevolutionRead& revolution : read.revolutions)
        for (const mfm::SectorRead& s : revolution.sectors)
            if (s.idCrcOk)
                return true;
    return false;
}

mfm::TrackId IdOf(uint16_t cylinder, uint8_t head)
{
    return {static_cast<uint8_t>(cylinder), head, 2};
}

// The last cylinder holding a formatted track, plus one.
uint16_t UsedCylinders(const EmulatedMedium& medium)
{
    uint16_t used = 0;
    for (uint16_t c = 0; c < medium.cylinders; ++c)
        for (uint8_t h = 0; h < medium.heads; ++h)
            if (medium.track(c, h).formatted())
                used = static_cast<uint16_t>(c + 1);
    return used;
}

std::string EncodeFailure(const mfm::EncodedTrack& encoded, uint16_t cylinder, uint8_t head)
{
    return FormatString(encoded.refusal == mfm::EncodeRefusal::TrackTooLong ? Str::FluxTrackTooLong
                                                                             : Str::FluxTrackUnrecordable,
                        static_cast<long>(cylinder), static_cast<long>(head));
}

// Decodes the track into the medium, or says why it cannot.
std::string DecodeInto(EmulatedMedium& medium, const mfm::TrackFlux& flux, uint16_t cylinder, uint8_t head,
                       DataRate& rate)
{
    if (!medium.HasTrack(cylinder, head))
        return FormatString(Str::FluxCylinderBeyondDrive, static_cast<long>(cylinder),
                            static_cast<long>(medium.cylinders));
    std::optional<Track> track = DecodeFluxTrack(flux, IdOf(cylinder, head), rate);
    if (!track)
        return FormatString(Str::FluxTrackUndecodable, static_cast<long>(cylinder), static_cast<long>(head));
    if (track->formatted() && KbitOf(track->rate) >= 500 && medium.density == MediumDensity::Double)
        medium.density = MediumDensity::High;
    medium.track(cylinder, head) = std::move(*track);
    return {};
}

BitCells ToFileCells(const mfm::BitCells& cells)
{
    BitCells out;
    out.bits = cells.size();
    out.bytes.assign((cells.size() + 7) / 8, 0);
    cells.ForEachTransition([&](size_t cell) { out.bytes[cell / 8] |= static_cast<uint8_t>(0x80 >> (cell % 8)); });
    return out;
}

mfm::BitCells FromFileCells(const BitCells& cells)
{
    mfm::BitCells out;
    out.reserve(cells.bits);
    const size_t bits = std::min(cells.bits, cells.bytes.size() * 8);
    for (size_t at = 0; at < bits; at += 8) {
        const auto n = static_cast<unsigned>(std::min<size_t>(8, bits - at));
        out.Append(static_cast<uint64_t>(cells.bytes[at / 8] >> (8 - n)), n);
    }
    return out;
}

}  // namespace

mfm::Recording RecordingOf(DataRate rate, DriveKind kind)
{
    return {KbitOf(rate), RpmOf(kind)};
}

std::vector<mfm::SectorImage> SlotsOf(const Track& track)
{
    std::vector<mfm::SectorImage> slots;
    slots.reserve(track.sectors.size());
    for (const SectorRecord& s : track.sectors)
        slots.push_back({s.cylinder, s.head, s.number, s.sizeCode, s.data, s.deleted, s.dataError});
    return slots;
}

mfm::EncodedTrack EncodeMediumTrack(const Track& track, DriveKind kind)
{
    const std::vector<mfm::SectorImage> slots = SlotsOf(track);
    const mfm::Recording recording = RecordingOf(track.rate, kind);
    mfm::EncodedTrack encoded = mfm::EncodeTrack(recording, track.gap ? track.gap : StandardGap(track), slots);
    // A track of no standard layout keeps its sectors with the narrower gaps that let them fit.
    for (const uint8_t gap : {uint8_t{0x1B}, uint8_t{0x0C}, uint8_t{0x01}}) {
        if (encoded.refusal != mfm::EncodeRefusal::TrackTooLong || track.gap != 0)
            break;
        encoded = mfm::EncodeTrack(recording, gap, slots);
    }
    return encoded;
}

Track TrackFromRead(const mfm::TrackRead& read, const mfm::MergedTrack& merged, mfm::TrackId id, DataRate rate)
{
    std::vector<std::pair<size_t, SectorRecord>> found;
    for (const mfm::MergedSector& s : merged.sectors) {
        SectorRecord record{id.cylinder, id.head, s.sector, id.sizeCode, s.data, !s.good, s.deleted};
        found.emplace_back(PositionOf(read, s.sector), std::move(record));
    }
    for (const mfm::SectorRead& s : merged.strays) {
        if (!s.idCrcOk || s.sizeCode > mfm::kLargestSizeCode)
            continue;
        SectorRecord record{s.cylinder, s.head, s.sector, s.sizeCode, {}, !(s.hasData && s.dataCrcOk), s.deleted};
        if (s.hasData)
            record.data = s.data;
        found.emplace_back(s.position, std::move(record));
    }
    std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    Track track;
    track.rate = rate;
    for (auto& slot : found) {
        slot.second.data.resize(slot.second.size(), 0);
        track.sectors.push_back(std::move(slot.second));
    }
    return track;
}

std::optional<Track> DecodeFluxTrack(const mfm::TrackFlux& flux, mfm::TrackId id, DataRate& rate)
{
    Track unformatted;
    unformatted.rate = rate;
    if (flux.revolutions.empty())
        return unformatted;
    const uint32_t rpm = RpmOfFlux(flux);
    std::vector<DataRate> order{rate};
    for (const DataRate other : kDecodeRates)
        if (other != rate)
            order.push_back(other);
    bool decoded = false;
    for (const DataRate tried : order) {
        const mfm::TrackRead read = mfm::DecodeTrack(flux, {KbitOf(tried), rpm}, id);
        if (!read.ok())
            continue;
        decoded = true;
        if (!FoundAnySector(read))
            continue;
        rate = tried;
        return TrackFromRead(read, mfm::MergeRevolutions(read), id, tried);
    }
    if (!decoded)
        return std::nullopt;
    return unformatted;
}

FluxMediumRead ReadScpMedium(std::span<const uint8_t> file, MediumDensity density)
{
    FluxMediumRead result;
    ScpReadResult scp = ReadScp(file);
    if (!scp.image) {
        result.error = scp.error;
        return result;
    }
    EmulatedMedium medium(density);
    DataRate rate = density == MediumDensity::Double ? DataRate::k250 : DataRate::k500;
    const double tickHz = 1e9 / scp.image->TickNanoseconds();
    for (const FluxTrack& t : scp.image->tracks) {
        mfm::TrackFlux flux{tickHz, {}};
        for (const FluxRevolution& r : t.revolutions)
            flux.revolutions.push_back({r.intervals, r.indexTicks});
        if (std::string error = DecodeInto(medium, flux, t.cylinder, t.head, rate); !error.empty()) {
            result.error = std::move(error);
            return result;
        }
    }
    result.medium = std::move(medium);
    return result;
}

FluxMediumRead ReadHfeMedium(std::span<const uint8_t> file, DriveKind kind, MediumDensity density)
{
    FluxMediumRead result;
    HfeReadResult hfe = ReadHfe(file);
    if (!hfe.image) {
        result.error = hfe.error;
        return result;
    }
    const HfeImage& image = *hfe.image;
    const mfm::Recording recording{image.bitRateKbps, mfm::IsPlausible({image.bitRateKbps, image.rpm})
                                                          ? uint32_t{image.rpm}
                                                          : RpmOf(kind)};
    EmulatedMedium medium(density);
    for (size_t c = 0; c < image.cylinders.size(); ++c)
        for (uint8_t h = 0; h < image.sides && h < 2; ++h) {
            DataRate rate = NearestRate(image.bitRateKbps);
            // Two passes of the cells: a sector written across the index reads whole in the second.
            const mfm::TrackFlux flux =
                mfm::CellsToFlux(FromFileCells(image.cylinders[c].sides[h]), recording, kFluxTickHz, 2);
            if (std::string error = DecodeInto(medium, flux, static_cast<uint16_t>(c), h, rate); !error.empty()) {
                result.error = std::move(error);
                return result;
            }
        }
    result.medium = std::move(medium);
    return result;
}

FluxFileWrite WriteScpMedium(const EmulatedMedium& medium, DriveKind kind)
{
    FluxFileWrite result;
    ScpImage image;
    image.diskType = kind == DriveKind::Floppy35DD ? kScpDiskPc720K
                     : kind == DriveKind::Floppy525HD ? kScpDiskPc1200K
                                                      : kScpDiskPc1440K;
    if (RpmOf(kind) == 360)
        image.flags |= kScp360Rpm;
    const double tickHz = 1e9 / image.TickNanoseconds();
    const uint16_t used = UsedCylinders(medium);
    for (uint16_t c = 0; c < used; ++c)
        for (uint8_t h = 0; h < medium.heads; ++h) {
            const Track& track = medium.track(c, h);
            FluxTrack out{static_cast<uint8_t>(c), h, {}};
            if (track.formatted()) {
                const mfm::EncodedTrack encoded = EncodeMediumTrack(track, kind);
                if (!encoded.ok()) {
                    result.error = EncodeFailure(encoded, c, h);
                    return result;
                }
                mfm::TrackFlux flux = mfm::CellsToFlux(encoded.cells, RecordingOf(track.rate, kind), tickHz, 1);
                mfm::Revolution& r = flux.revolutions.front();
                out.revolutions.push_back({static_cast<uint32_t>(r.indexTicks), std::move(r.intervals)});
            } else {
                // An unformatted track is a revolution with no flux transition at all.
                const auto ticks = static_cast<uint32_t>(tickHz * 60 / RpmOf(kind));
                out.revolutions.push_back({ticks, {}});
            }
            image.tracks.push_back(std::move(out));
        }
    return WriteScp(image);
}

FluxFileWrite WriteHfeMedium(const EmulatedMedium& medium, DriveKind kind)
{
    FluxFileWrite result;
    HfeImage image;
    image.rpm = static_cast<uint16_t>(RpmOf(kind));
    std::optional<DataRate> rate;
    const uint16_t used = UsedCylinders(medium);
    image.cylinders.resize(used);
    for (uint16_t c = 0; c < used; ++c)
        for (uint8_t h = 0; h < 2 && h < medium.heads; ++h) {
            const Track& track = medium.track(c, h);
            if (!track.formatted())
                continue;
            // The file gives one bit rate for all its tracks.
            if (rate && *rate != track.rate) {
                result.error = FormatString(Str::HfeOneDataRate, static_cast<long>(c), static_cast<long>(h));
                return result;
            }
            rate = track.rate;
            const mfm::EncodedTrack encoded = EncodeMediumTrack(track, kind);
            if (!encoded.ok()) {
                result.error = EncodeFailure(encoded, c, h);
                return result;
            }
            image.cylinders[c].sides[h] = ToFileCells(encoded.cells);
        }
    image.bitRateKbps = static_cast<uint16_t>(KbitOf(rate.value_or(DataRate::k500)));
    image.interfaceMode = image.bitRateKbps >= 500 ? kHfeInterfaceIbmPcHd : kHfeInterfaceIbmPcDd;
    return WriteHfe(image);
}

}  // namespace vokta
