// SPDX-License-Identifier: GPL-3.0-or-later
// A track read as a turn and a sector's length from wherever the disk stands: every
// sector of every format once, in its place, whatever the angle the read began at.
#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "drive/backend/files/fluxmedium.h"
#include "drive/backend/greaseweazle/gwdrive.h"
#include "mfm/encode.h"

using namespace vokta;

namespace {

constexpr double kTickHz = 72e6;

// The sectors in `order`, each filled with its own number.
Track TrackOf(const mfm::MediumFormat& format, const std::vector<uint8_t>& order)
{
    Track track;
    track.rate = format.recording.dataRateKbit == 250 ? DataRate::k250 : DataRate::k500;
    track.gap = format.gap3;
    for (const uint8_t number : order)
        track.sectors.push_back({5, 1, number, 2, std::vector<uint8_t>(512, number), false, false});
    return track;
}

// What a read of `ticks` begun `start` ticks past an index gets from the turning track.
gw::FluxRead CaptureFrom(const mfm::Revolution& turn, uint64_t start, uint64_t ticks)
{
    gw::FluxRead read;
    uint64_t at = 0;
    uint64_t previous = start;
    for (uint64_t base = 0; base < start + ticks; base += turn.indexTicks) {
        if (base > start)
            read.indexes.push_back(base - start);
        at = base;
        for (const uint32_t interval : turn.intervals) {
            at += interval;
            if (at <= start)
                continue;
            if (at > start + ticks)
                return read;
            read.intervals.push_back(static_cast<uint32_t>(at - previous));
            previous = at;
        }
    }
    return read;
}

std::vector<uint8_t> Interleaved(uint8_t sectors, int step)
{
    std::vector<uint8_t> order(sectors, 0);
    size_t slot = 0;
    for (uint8_t r = 1; r <= sectors; ++r) {
        while (order[slot] != 0)
            slot = (slot + 1) % sectors;
        order[slot] = r;
        slot = (slot + step) % sectors;
    }
    return order;
}

}  // namespace

TEST(GreaseweazleCapture, EverySectorOnceInItsPlaceFromAnyAngle)
{
    constexpr int kAngles = 41;
    for (const mfm::MediumFormat& format : mfm::kMediumFormats)
        for (const int step : {1, 2}) {
            SCOPED_TRACE(std::string(format.name) + " interleave " + std::to_string(step));
            std::vector<uint8_t> order = Interleaved(format.sectorsPerTrack, step);
            const Track written = TrackOf(format, order);
            const DriveKind kind = format.recording.rpm == 360 ? DriveKind::Floppy525HD : DriveKind::Floppy35HD;
            const mfm::EncodedTrack encoded = EncodeMediumTrack(written, kind);
            ASSERT_TRUE(encoded.ok());
            const mfm::TrackFlux flux = mfm::CellsToFlux(encoded.cells, format.recording, kTickHz, 1);
            const mfm::Revolution& turn = flux.revolutions.front();
            const uint64_t sectorTicks = 614 * 8 * static_cast<uint64_t>(kTickHz) / (format.recording.dataRateKbit * 1000);
            const CaptureRead how{kTickHz, turn.indexTicks, format.recording.rpm, {5, 1, 2}};
            const DataRate rates[] = {written.rate};
            for (int a = 0; a < kAngles; ++a) {
                const uint64_t start = turn.indexTicks * a / kAngles;
                const std::optional<Track> read =
                    DecodeCapture(CaptureFrom(turn, start, turn.indexTicks + sectorTicks), how, rates);
                ASSERT_TRUE(read) << "from " << start;
                std::vector<uint8_t> found;
                for (const SectorRecord& s : read->sectors) {
                    found.push_back(s.number);
                    EXPECT_FALSE(s.dataError) << "sector " << int{s.number} << " from " << start;
                    EXPECT_EQ(s.data, std::vector<uint8_t>(512, s.number)) << "from " << start;
                }
                EXPECT_EQ(found, order) << "from " << start;
            }
        }
}
