// SPDX-License-Identifier: GPL-3.0-or-later
#include "mfm/encode.h"

#include <algorithm>
#include <array>

#include "mfm/crc.h"
#include "mfm/trackbytes.h"

namespace vokta::mfm {
namespace {

constexpr std::array<uint16_t, 256> MakeMfmTable()
{
    std::array<uint16_t, 256> table{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        unsigned word = 0;
        unsigned previous = 0;
        for (int bit = 7; bit >= 0; --bit) {
            const unsigned data = (byte >> bit) & 1;
            const unsigned clock = (previous | data) ? 0 : 1;
            word = (word << 2) | (clock << 1) | data;
            previous = data;
        }
        table[byte] = static_cast<uint16_t>(word);
    }
    return table;
}

// Each byte's cells after a 0 data bit; after a 1 its first clock cell is empty.
constexpr std::array<uint16_t, 256> kMfm = MakeMfmTable();

class TrackWriter {
public:
    explicit TrackWriter(BitCells& cells) : cells_(cells) {}

    void Byte(uint8_t byte)
    {
        const uint16_t word = lastData_ ? static_cast<uint16_t>(kMfm[byte] & 0x7FFF) : kMfm[byte];
        cells_.Append(word, 16);
        lastData_ = byte & 1;
    }

    void Fill(uint8_t byte, size_t count)
    {
        for (size_t i = 0; i < count; ++i)
            Byte(byte);
    }

    // Three sync bytes with their missing clock, then the mark; returns the CRC so far.
    uint16_t Mark(uint16_t syncCells, uint8_t syncByte, uint8_t mark)
    {
        for (int i = 0; i < 3; ++i)
            cells_.Append(syncCells, 16);
        lastData_ = syncByte & 1;
        Byte(mark);
        uint16_t crc = kCrcPreset;
        for (int i = 0; i < 3; ++i)
            crc = Crc16Byte(syncByte, crc);
        return Crc16Byte(mark, crc);
    }

    uint16_t Field(std::span<const uint8_t> bytes, uint16_t crc)
    {
        for (const uint8_t byte : bytes)
            Byte(byte);
        return Crc16(bytes, crc);
    }

    void Crc(uint16_t crc)
    {
        Byte(static_cast<uint8_t>(crc >> 8));
        Byte(static_cast<uint8_t>(crc));
    }

    // Gap 4b: 4Eh up to the end of the revolution, the last byte cut where it ends.
    void FillTo(size_t cells)
    {
        while (cells_.size() + 16 <= cells)
            Byte(kGapByte);
        const unsigned rest = static_cast<unsigned>(cells - cells_.size());
        const uint16_t word = lastData_ ? static_cast<uint16_t>(kMfm[kGapByte] & 0x7FFF) : kMfm[kGapByte];
        cells_.Append(word >> (16 - rest), rest);
    }

private:
    BitCells& cells_;
    bool lastData_ = false;
};

struct Preamble {
    size_t gap4a;
    size_t gap1;
};

// The standard preamble when it fits beside the sectors; else gap 4a and gap 1 shortened
// in proportion, each kept to a few bytes for the PLL to settle. Nothing when even that
// does not fit.
std::optional<Preamble> PreambleFor(size_t revolutionBytes, size_t sectorBytes)
{
    constexpr size_t kGapsStandard = kGap4a + kGap1;
    if (sectorBytes + kIndexFieldBytes + 2 * kShortestGap > revolutionBytes)
        return std::nullopt;
    const size_t room = revolutionBytes - sectorBytes - kIndexFieldBytes;
    if (room >= kGapsStandard)
        return Preamble{kGap4a, kGap1};
    const size_t gap1 = std::max(kShortestGap, room * kGap1 / kGapsStandard);
    return Preamble{room - gap1, gap1};
}

}  // namespace

std::optional<std::vector<SectorImage>> SlotsInOrder(uint8_t cylinder, uint8_t head, uint8_t sizeCode,
                                                     std::span<const uint16_t> order,
                                                     std::span<const uint8_t> trackData)
{
    if (sizeCode > kLargestSizeCode)
        return std::nullopt;
    const size_t size = SectorBytes(sizeCode);
    std::vector<SectorImage> slots;
    slots.reserve(order.size());
    for (const uint16_t number : order) {
        if (number == 0 || number > 0xFF || number * size > trackData.size())
            return std::nullopt;
        const auto data = trackData.subspan((number - 1) * size, size);
        slots.push_back({cylinder, head, static_cast<uint8_t>(number), sizeCode, {data.begin(), data.end()}});
    }
    return slots;
}

EncodedTrack EncodeTrack(Recording recording, uint8_t gap3, std::span<const SectorImage> slots)
{
    EncodedTrack track;
    if (!IsPlausible(recording)) {
        track.refusal = EncodeRefusal::RecordingImplausible;
        return track;
    }
    track.cellsPerRevolution = CellsPerRevolution(recording);
    size_t sectorBytes = 0;
    for (const SectorImage& s : slots) {
        if (s.sizeCode > kLargestSizeCode || s.data.size() != SectorBytes(s.sizeCode)) {
            track.refusal = EncodeRefusal::DataSizeMismatch;
            return track;
        }
        sectorBytes += kSectorFramingBytes + s.data.size() + gap3;
    }
    const std::optional<Preamble> preamble = PreambleFor(track.cellsPerRevolution / kCellsPerByte, sectorBytes);
    track.cellsNeeded = (sectorBytes + kIndexFieldBytes + 2 * kShortestGap) * kCellsPerByte;
    if (!preamble) {
        track.refusal = EncodeRefusal::TrackTooLong;
        return track;
    }

    track.cells.reserve(track.cellsPerRevolution);
    TrackWriter out(track.cells);
    out.Fill(kGapByte, preamble->gap4a);
    out.Fill(0x00, kSyncBytes);
    out.Mark(kIndexSyncCells, kIndexSyncByte, kIndexMark);
    out.Fill(kGapByte, preamble->gap1);
    for (const SectorImage& s : slots) {
        out.Fill(0x00, kSyncBytes);
        track.addressMarks.push_back(track.cells.size());
        const std::array<uint8_t, 4> id{s.cylinder, s.head, s.sector, s.sizeCode};
        out.Crc(out.Field(id, out.Mark(kSyncCells, kSyncByte, kAddressMark)));
        out.Fill(kGapByte, kGap2);
        out.Fill(0x00, kSyncBytes);
        const uint16_t crc = out.Field(s.data, out.Mark(kSyncCells, kSyncByte, s.deleted ? kDeletedDataMark : kDataMark));
        out.Crc(s.badDataCrc ? static_cast<uint16_t>(~crc) : crc);
        out.Fill(kGapByte, gap3);
    }
    out.FillTo(track.cellsPerRevolution);
    return track;
}

void AppendRevolution(TrackFlux& flux, const BitCells& cells, Recording recording)
{
    const double cellTicks = flux.tickHz / CellsPerSecond(recording);
    const double revolutionTicks = flux.tickHz * 60 / recording.rpm;
    // Ticks are counted from the first index, rounded where each transition falls, so that
    // no rounding adds up over the revolutions.
    const auto tickAt = [](double at) { return static_cast<uint64_t>(at + 0.5); };
    uint64_t last = 0;
    for (const Revolution& earlier : flux.revolutions)
        for (const uint32_t interval : earlier.intervals)
            last += interval;
    const double start = static_cast<double>(flux.revolutions.size()) * revolutionTicks;
    Revolution& revolution = flux.revolutions.emplace_back();
    revolution.indexTicks = tickAt(start + revolutionTicks) - tickAt(start);
    revolution.intervals.reserve(cells.Transitions());
    cells.ForEachTransition([&](size_t cell) {
        const uint64_t at = tickAt(start + (static_cast<double>(cell) + 0.5) * cellTicks);
        revolution.intervals.push_back(static_cast<uint32_t>(at - last));
        last = at;
    });
}

TrackFlux CellsToFlux(const BitCells& cells, Recording recording, double tickHz, size_t revolutions)
{
    TrackFlux flux{tickHz, {}};
    for (size_t r = 0; r < revolutions; ++r)
        AppendRevolution(flux, cells, recording);
    return flux;
}

}  // namespace vokta::mfm
