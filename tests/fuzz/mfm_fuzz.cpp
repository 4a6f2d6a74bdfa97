// SPDX-License-Identifier: GPL-3.0-or-later
// The MFM decoder and the merge of revolutions over any flux: a track of one of the
// formats encoded and then disturbed by the fuzzer's bytes, or flux made of the bytes
// alone. Whatever comes in, the reads keep their promises, and an undisturbed track
// reads back whole.
#include "fuzzinput.h"
#include "mfm/encode.h"
#include "mfm/merge.h"
#include "mfm/trackbytes.h"

using namespace vokta;
using namespace vokta::fuzz;
using namespace vokta::mfm;

namespace {

constexpr double kTickRates[] = {40e6, 72e6, 84e6, 25e6};

// Bytes below C0h are MFM-like runs of 2, 3 or 4 cells with some jitter; the others are
// gaps of up to 126 cells, FFh a dropout of a whole revolution.
uint32_t IntervalOf(uint8_t byte, double cell)
{
    if (byte == 0xFF)
        return static_cast<uint32_t>(cell * 250000);
    if (byte >= 0xC0)
        return static_cast<uint32_t>(cell * 2 * (byte - 0xC0));
    const double jitter = (byte / 3 % 8 - 4) * cell / 32;
    return static_cast<uint32_t>(cell * (2 + byte % 3) + jitter);
}

TrackFlux RawFlux(Bytes& bytes, double tickHz, Recording recording)
{
    const double cell = tickHz / CellsPerSecond(recording);
    const size_t revolutions = 1 + bytes.Take() % 3;
    const bool indexGiven = bytes.Take() & 1;
    const std::span<const uint8_t> rest = bytes.Rest();
    TrackFlux flux{tickHz, {}};
    const size_t share = rest.size() / revolutions + 1;
    for (size_t r = 0; r < revolutions; ++r) {
        Revolution& revolution = flux.revolutions.emplace_back();
        for (size_t i = r * share; i < std::min(rest.size(), (r + 1) * share); ++i)
            revolution.intervals.push_back(IntervalOf(rest[i], cell));
        if (indexGiven)
            revolution.indexTicks = static_cast<uint64_t>(tickHz * 60 / recording.rpm);
    }
    return flux;
}

void CheckRead(const TrackRead& read, size_t revolutions)
{
    Require(read.ok(), "a plausible recording and clock are read");
    Require(read.revolutions.size() == revolutions, "one read per revolution");
    for (const RevolutionRead& revolution : read.revolutions)
        for (const SectorRead& s : revolution.sectors) {
            Require(!s.hasData || s.data.size() == SectorBytes(s.sizeCode), "data is as long as its size code says");
            Require(s.hasData || s.data.empty(), "no data without a data field");
            Require(!s.dataCrcOk || s.hasData, "a good CRC has data behind it");
            Require(s.idCrcOk || !(s.wrongTrack || s.wrongSize || s.foundTwice || s.hasData),
                    "a damaged address field is judged no further");
        }
    const MergedTrack merged = MergeRevolutions(read);
    for (size_t i = 0; i < merged.sectors.size(); ++i) {
        const MergedSector& m = merged.sectors[i];
        Require(i == 0 || merged.sectors[i - 1].sector < m.sector, "each sector once, in order");
        Require(m.good == (m.fromRevolution >= 0), "a good sector names its revolution");
        Require(m.fromRevolution < static_cast<int>(revolutions), "the revolution is one of the track's");
        Require(m.badReads + m.missed <= revolutions, "no more bad or missed reads than revolutions");
        Require(m.good || m.badReads > 0, "a sector found and never read good was read badly");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Bytes bytes({data, size});
    const uint8_t mode = bytes.Take();
    const MediumFormat& f = kMediumFormats[mode % kMediumFormats.size()];
    const double tickHz = kTickRates[(mode >> 4) & 3];
    if (mode & 0x08) {
        const TrackFlux flux = RawFlux(bytes, tickHz, f.recording);
        CheckRead(DecodeTrack(flux, f.recording, {0, 0, f.sizeCode}), flux.revolutions.size());
        return 0;
    }

    // A track of the format, its sectors filled from the bytes, one of them marked.
    const auto cylinder = static_cast<uint8_t>(bytes.Take() % f.cylinders);
    const uint8_t marked = bytes.Take();
    std::vector<uint16_t> order(f.sectorsPerTrack);
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<uint16_t>((i + cylinder) % order.size() + 1);
    std::vector<uint8_t> sectors(f.sectorsPerTrack * SectorBytes(f.sizeCode));
    for (size_t i = 0; i < sectors.size(); ++i)
        sectors[i] = static_cast<uint8_t>(i * 7 + marked);
    std::vector<SectorImage> slots = *SlotsInOrder(cylinder, 1, f.sizeCode, order, sectors);
    SectorImage& odd = slots[marked % slots.size()];
    odd.badDataCrc = marked & 0x40;
    odd.deleted = marked & 0x80;
    const EncodedTrack track = EncodeTrack(f.recording, f.gap3, slots);
    Require(track.ok(), "every format's track fits");
    TrackFlux flux = CellsToFlux(track.cells, f.recording, tickHz, 2);

    // The rest moves transitions: two bytes pick one, the third is how far.
    std::vector<uint32_t>& intervals = flux.revolutions[0].intervals;
    const bool disturbed = !bytes.Rest().empty();
    while (!bytes.Rest().empty()) {
        const size_t high = bytes.Take();
        const size_t at = (high << 8 | bytes.Take()) * 7 % intervals.size();
        const int shift = static_cast<int>(bytes.Take()) - 128;
        intervals[at] = static_cast<uint32_t>(std::max<int64_t>(1, int64_t{intervals[at]} + shift * 4));
    }
    const TrackRead read = DecodeTrack(flux, f.recording, {cylinder, 1, f.sizeCode});
    CheckRead(read, 2);
    if (disturbed)
        return 0;
    const MergedTrack merged = MergeRevolutions(read);
    Require(merged.sectors.size() == slots.size(), "an undisturbed track gives every sector");
    for (const SectorImage& s : slots) {
        const MergedSector* m = merged.Find(s.sector);
        Require(m && m->good == !s.badDataCrc && m->deleted == s.deleted && m->data == s.data,
                "an undisturbed sector reads back as written");
    }
    return 0;
}
