// SPDX-License-Identifier: GPL-3.0-or-later
#include "mfm/decode.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <optional>
#include <span>

#include "mfm/bitcells.h"
#include "mfm/crc.h"
#include "mfm/trackbytes.h"

namespace vokta::mfm {
namespace {

// The PLL's cell period stays within this fraction of the nominal one: a drive 10% off
// speed is followed, noise is not taken for a medium at another rate.
constexpr double kPeriodRange = 0.25;
// How much of a transition's phase error moves the clock, and how much of it per cell
// moves the period: quick enough for the drift of a worn drive, steady through jitter.
constexpr double kPhaseGain = 0.6;
constexpr double kFrequencyGain = 0.05;
// Transitions further apart than this many cells are no MFM: a dropout or noise, which
// must not pull the frequency.
constexpr size_t kLongestRun = 4;
// The fewest reader ticks a cell must span to be timed at all.
constexpr double kFewestTicksPerCell = 4;
// A data field further than this from the end of its address field belongs to none.
constexpr size_t kLongestGap2Bytes = 64;
// Three A1h syncs, each with its missing clock.
constexpr uint64_t kSyncRun = 0x448944894489;
constexpr uint64_t kSyncRunMask = 0xFFFFFFFFFFFF;
constexpr size_t kSyncRunCells = 3 * kCellsPerByte;

struct CellStream {
    BitCells cells;
    std::vector<size_t> syncs;             // the cell after each run of three A1h syncs
    std::vector<size_t> revolutionStarts;  // the cell at each revolution's index
};

// The data bits of one byte's 16 cells (clock, data, clock, data, ...).
constexpr std::array<uint8_t, 256> MakeDataNibbles()
{
    std::array<uint8_t, 256> table{};
    for (unsigned cells = 0; cells < 256; ++cells)
        table[cells] = static_cast<uint8_t>(((cells >> 3) & 8) | ((cells >> 2) & 4) | ((cells >> 1) & 2) | (cells & 1));
    return table;
}
constexpr std::array<uint8_t, 256> kDataNibbles = MakeDataNibbles();

uint8_t DataByte(uint16_t cells)
{
    return static_cast<uint8_t>(kDataNibbles[cells >> 8] << 4 | kDataNibbles[cells & 0xFF]);
}

uint8_t ByteAt(const BitCells& cells, size_t cell)
{
    return DataByte(cells.Word16At(cell));
}

// Works in cells: each interval is scaled by the cells a tick is thought to hold. The
// scale follows each transition's error two transitions late, which keeps any division
// out of the loop and the loop's chain of dependent steps short.
class Pll {
public:
    Pll(const TrackFlux& flux, Recording recording)
        : slowest_(CellsPerSecond(recording) / flux.tickHz / (1 + kPeriodRange)),
          fastest_(CellsPerSecond(recording) / flux.tickHz / (1 - kPeriodRange)),
          scale_(CellsPerSecond(recording) / flux.tickHz)
    {
        // The first revolution's length tells a drive that turns off speed.
        const double cellsPerRevolution = CellsPerSecond(recording) * 60 / recording.rpm;
        if (!flux.revolutions.empty() && flux.revolutions[0].indexTicks != 0) {
            const double measured = cellsPerRevolution / static_cast<double>(flux.revolutions[0].indexTicks);
            if (measured >= slowest_ && measured <= fastest_)
                scale_ = measured;
        }
        nextScale_ = scale_;
        cellsPerRevolution_ = CellsPerRevolution(recording);
        limit_ = (flux.revolutions.size() + 1) * cellsPerRevolution_ * 3 / 2;
    }

    CellStream Run(const TrackFlux& flux)
    {
        CellStream out;
        Output output{out.cells.OpenForWriting(limit_), 0, {}, 0};
        // Three syncs take 48 cells and the next can end 16 cells on.
        output.syncs.reset(new size_t[limit_ / kCellsPerByte + 2]);
        double index = 0;
        for (const Revolution& revolution : flux.revolutions) {
            out.revolutionStarts.push_back(CellAt(index, output.cells, out.revolutionStarts));
            const uint64_t before = now_;
            if (!Follow(revolution.intervals, output))
                break;
            index += static_cast<double>(revolution.indexTicks != 0 ? revolution.indexTicks : now_ - before);
        }
        out.cells.CloseAt(output.cells);
        out.syncs.assign(output.syncs.get(), output.syncs.get() + output.syncCount);
        return out;
    }

private:
    // Where the loop writes, without a call that would push its state out of registers.
    struct Output {
        uint64_t* words;
        size_t cells;
        std::unique_ptr<size_t[]> syncs;
        size_t syncCount;
    };

    // The cell at tick `at`, no earlier than the last transition's nor the last index's.
    size_t CellAt(double at, size_t cellCount, const std::vector<size_t>& starts) const
    {
        if (cellCount == 0)
            return 0;
        const double cells =
            std::clamp((at - static_cast<double>(now_)) * scale_ + 0.5, 0.0, static_cast<double>(limit_));
        const size_t cell = cellCount - 1 + static_cast<size_t>(cells);
        return starts.empty() ? cell : std::max(cell, starts.back());
    }

    // Turns the intervals into cells. False when the stream has grown past any track's length.
    bool Follow(std::span<const uint32_t> intervals, Output& out)
    {
        // The loop's state in locals, so that it stays in registers.
        double scale = scale_;
        double nextScale = nextScale_;
        double since = sinceCentre_;
        uint64_t shift = shift_;
        uint64_t now = now_;
        size_t cellCount = out.cells;
        size_t syncCount = out.syncCount;
        uint64_t* const words = out.words;
        size_t* const syncs = out.syncs.get();
        const double slowest = slowest_;
        const double fastest = fastest_;
        const double limit = static_cast<double>(limit_);
        bool fits = true;
        for (const uint32_t interval : intervals) {
            now += interval;
            double elapsed = since + interval * scale;
            scale = nextScale;
            if (elapsed > limit)
                elapsed = limit;
            // Rounded to the nearest whole cell by the floating-point unit itself.
            const double cells = (elapsed + kRounder) - kRounder;
            // A second transition within the same cell is noise.
            if (cells < 1) {
                since = elapsed;
                continue;
            }
            const double error = elapsed - cells;
            const auto run = static_cast<size_t>(cells);
            if (run <= kLongestRun)
                nextScale = std::clamp(scale * (1 - kFrequencyGain * error * kInverse[run]), slowest, fastest);
            since = error * (1 - kPhaseGain);

            if (cellCount + run > limit_) {
                fits = false;
                break;
            }
            const size_t last = cellCount + run - 1;
            words[last >> 6] |= uint64_t{1} << (63 - (last & 63));
            cellCount += run;
            shift = run >= 64 ? 1 : (shift << run) | 1;
            syncs[syncCount] = cellCount;
            syncCount += (shift & kSyncRunMask) == kSyncRun;
        }
        scale_ = scale;
        nextScale_ = nextScale;
        sinceCentre_ = since;
        shift_ = shift;
        now_ = now;
        out.cells = cellCount;
        out.syncCount = syncCount;
        return fits;
    }

    static constexpr double kRounder = 4503599627370496.0;  // 2^52
    static constexpr double kInverse[kLongestRun + 1] = {0, 1, 1.0 / 2, 1.0 / 3, 1.0 / 4};

    double slowest_;  // cells a tick, at the slowest and fastest the medium may pass
    double fastest_;
    double scale_;
    double nextScale_ = 0;
    double sinceCentre_ = 0.5;  // cells since the middle of the last transition's cell
    uint64_t now_ = 0;          // ticks since the first index
    size_t cellsPerRevolution_ = 0;
    size_t limit_ = 0;  // more cells than any track of this many revolutions holds
    uint64_t shift_ = 0;
};

struct PendingAddress {
    size_t revolution;
    size_t slot;
    size_t end;  // the cell after its CRC
};

class FieldReader {
public:
    FieldReader(const CellStream& stream, TrackRead& read) : stream_(stream), read_(read) {}

    void ReadAll()
    {
        for (const size_t sync : stream_.syncs) {
            if (!Fits(sync, 1))
                continue;
            const uint8_t mark = ByteAt(stream_.cells, sync);
            if (mark == kAddressMark)
                AddressField(sync);
            else if (mark == kDataMark || mark == kDeletedDataMark)
                DataField(sync, mark);
        }
    }

private:
    bool Fits(size_t cell, size_t bytes) const { return cell + bytes * kCellsPerByte <= stream_.cells.size(); }

    size_t RevolutionOf(size_t cell) const
    {
        const auto& starts = stream_.revolutionStarts;
        const auto after = std::upper_bound(starts.begin(), starts.end(), cell);
        return after == starts.begin() ? 0 : static_cast<size_t>(after - starts.begin() - 1);
    }

    // Reads `bytes` bytes from `cell` on into `out`; returns their CRC after `crc`.
    uint16_t Bytes(size_t cell, size_t bytes, uint8_t* out, uint16_t crc) const
    {
        for (size_t i = 0; i < bytes; ++i) {
            out[i] = ByteAt(stream_.cells, cell + i * kCellsPerByte);
            crc = Crc16Byte(out[i], crc);
        }
        return crc;
    }

    uint16_t CrcAt(size_t cell) const
    {
        return static_cast<uint16_t>(ByteAt(stream_.cells, cell) << 8 | ByteAt(stream_.cells, cell + kCellsPerByte));
    }

    void AddressField(size_t sync)
    {
        pending_.reset();
        if (!Fits(sync, 7))
            return;
        std::array<uint8_t, 4> id{};
        const uint16_t crc = Bytes(sync + kCellsPerByte, id.size(), id.data(), Crc16Byte(kAddressMark, kCrcAfterSync));
        const size_t start = sync - kSyncRunCells;
        const size_t revolution = RevolutionOf(start);
        SectorRead sector;
        sector.cylinder = id[0];
        sector.head = id[1];
        sector.sector = id[2];
        sector.sizeCode = id[3];
        sector.idCrcOk = crc == CrcAt(sync + 5 * kCellsPerByte);
        sector.position = start - stream_.revolutionStarts[revolution];
        std::vector<SectorRead>& sectors = read_.revolutions[revolution].sectors;
        sectors.push_back(std::move(sector));
        pending_ = PendingAddress{revolution, sectors.size() - 1, sync + 7 * kCellsPerByte};
    }

    void DataField(size_t sync, uint8_t mark)
    {
        const std::optional<PendingAddress> address = pending_;
        pending_.reset();
        if (!address || sync < address->end || sync - address->end > kLongestGap2Bytes * kCellsPerByte) {
            ++read_.revolutions[RevolutionOf(sync)].orphanDataFields;
            return;
        }
        SectorRead& sector = read_.revolutions[address->revolution].sectors[address->slot];
        // Which sector a field behind a damaged address belongs to is anybody's guess.
        if (!sector.idCrcOk || sector.sizeCode > kLargestSizeCode)
            return;
        const size_t size = SectorBytes(sector.sizeCode);
        if (!Fits(sync, 1 + size + 2))
            return;
        sector.data.resize(size);
        const uint16_t crc = Bytes(sync + kCellsPerByte, size, sector.data.data(), Crc16Byte(mark, kCrcAfterSync));
        sector.hasData = true;
        sector.deleted = mark == kDeletedDataMark;
        sector.dataCrcOk = crc == CrcAt(sync + (1 + size) * kCellsPerByte);
    }

    const CellStream& stream_;
    TrackRead& read_;
    std::optional<PendingAddress> pending_;
};

void MarkSuspects(RevolutionRead& revolution, TrackId expected)
{
    std::array<uint8_t, 256> seen{};
    for (SectorRead& s : revolution.sectors) {
        if (!s.idCrcOk)
            continue;
        s.wrongTrack = s.cylinder != expected.cylinder || s.head != expected.head;
        s.wrongSize = s.sizeCode != expected.sizeCode;
        if (!s.wrongTrack && !s.wrongSize && seen[s.sector] < 2)
            ++seen[s.sector];
    }
    for (SectorRead& s : revolution.sectors)
        s.foundTwice = s.idCrcOk && !s.wrongTrack && !s.wrongSize && seen[s.sector] > 1;
}

}  // namespace

TrackRead DecodeTrack(const TrackFlux& flux, Recording recording, TrackId expected)
{
    TrackRead read;
    if (!IsPlausible(recording)) {
        read.refusal = DecodeRefusal::RecordingImplausible;
        return read;
    }
    if (!(flux.tickHz / CellsPerSecond(recording) >= kFewestTicksPerCell) || !std::isfinite(flux.tickHz)) {
        read.refusal = DecodeRefusal::TickRateUnusable;
        return read;
    }
    read.revolutions.resize(flux.revolutions.size());
    if (flux.revolutions.empty())
        return read;
    const CellStream stream = Pll(flux, recording).Run(flux);
    FieldReader(stream, read).ReadAll();
    for (RevolutionRead& revolution : read.revolutions)
        MarkSuspects(revolution, expected);
    return read;
}

}  // namespace vokta::mfm
