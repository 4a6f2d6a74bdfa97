// SPDX-License-Identifier: GPL-3.0-or-later
#include "fluxfile/scpfile.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <limits>
#include <tuple>

#include "res/strings.h"

namespace vokta {
namespace {

constexpr size_t kHeaderSize = 16;
constexpr size_t kTableSize = kScpTrackEntries * 4;
constexpr size_t kRevolutionEntrySize = 12;  // index time, flux count, data offset
constexpr size_t kTrackHeaderSize = 4;       // "TRK" and the track number
constexpr uint64_t kEscapeTicks = 65536;

enum HeaderField : size_t {
    kVersion = 3,
    kDiskType = 4,
    kRevolutions = 5,
    kStartTrack = 6,
    kEndTrack = 7,
    kFlags = 8,
    kCellWidth = 9,
    kHeads = 10,
    kResolution = 11,
    kChecksum = 12,
};

// The heads field: which heads the file holds.
constexpr uint8_t kBothHeads = 0;
constexpr uint8_t kHeadZeroOnly = 1;
constexpr uint8_t kHeadOneOnly = 2;

// Both widths mean 16-bit cells: 0 is the usual way of saying it.
bool SixteenBitCells(uint8_t width)
{
    return width == 0 || width == 16;
}

uint32_t ByteSum(std::span<const uint8_t> bytes)
{
    uint32_t sum = 0;
    for (uint8_t b : bytes)
        sum += b;
    return sum;
}

std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08" PRIX32 "h", value);
    return text;
}

struct Revolution {
    uint32_t indexTicks;
    uint64_t cellsAt;  // in the file
    uint32_t cells;
};

struct TrackEntry {
    unsigned number;  // in the table
    uint64_t at;      // of its "TRK" header
    std::vector<Revolution> revolutions;
};

// Where each track's header and flux cells lie, all checked to be inside the file.
struct Layout {
    std::vector<TrackEntry> tracks;
    std::vector<FileExtent> extents;
    std::string error;
};

Layout ReadLayout(std::span<const uint8_t> file, unsigned revolutions)
{
    Layout layout;
    // Some writers keep the table shorter than 168 entries: it ends where the first track
    // header starts.
    uint64_t firstTrackAt = std::numeric_limits<uint64_t>::max();
    size_t tableEnd = kHeaderSize;
    for (unsigned n = 0; n < kScpTrackEntries && tableEnd < firstTrackAt; ++n, tableEnd += 4) {
        if (!FileHas(file, tableEnd, 4)) {
            layout.error = LoadString(Str::ScpTableTruncated);
            return layout;
        }
        const uint32_t at = LittleEndianAt<uint32_t>(file, tableEnd);
        if (at != 0) {
            layout.tracks.push_back({n, at, {}});
            firstTrackAt = std::min<uint64_t>(firstTrackAt, at);
        }
    }
    layout.extents.push_back({0, tableEnd, FileExtent::kFileItself});

    const uint64_t headerSize = kTrackHeaderSize + uint64_t{revolutions} * kRevolutionEntrySize;
    for (TrackEntry& track : layout.tracks) {
        const long number = track.number;
        if (!FileHas(file, track.at, headerSize)) {
            layout.error = FormatString(Str::ScpTrackHeaderOutside, number);
            return layout;
        }
        const size_t at = static_cast<size_t>(track.at);
        if (!std::equal(file.begin() + at, file.begin() + at + 3, "TRK")) {
            layout.error = FormatString(Str::ScpTrackSignature, number, static_cast<long>(at));
            return layout;
        }
        if (file[at + 3] != track.number) {
            layout.error = FormatString(Str::ScpTrackNumber, number, static_cast<long>(file[at + 3]));
            return layout;
        }
        layout.extents.push_back({track.at, track.at + headerSize, number});
        for (unsigned r = 0; r < revolutions; ++r) {
            const size_t entry = at + kTrackHeaderSize + r * kRevolutionEntrySize;
            const uint32_t cells = LittleEndianAt<uint32_t>(file, entry + 4);
            const uint64_t cellsAt = track.at + LittleEndianAt<uint32_t>(file, entry + 8);
            if (!FileHas(file, cellsAt, uint64_t{cells} * 2)) {
                layout.error = FormatString(Str::ScpFluxOutside, number, static_cast<long>(r) + 1);
                return layout;
            }
            layout.extents.push_back({cellsAt, cellsAt + uint64_t{cells} * 2, number});
            track.revolutions.push_back({LittleEndianAt<uint32_t>(file, entry), cellsAt, cells});
        }
    }
    return layout;
}

// The heads field names one head while the table's entries run consecutively: a single
// side written the old way, one entry a cylinder.
bool ConsecutiveSingleSide(uint8_t heads, const std::vector<TrackEntry>& tracks)
{
    if (heads == kBothHeads)
        return false;
    const unsigned head = heads - 1u;
    return std::any_of(tracks.begin(), tracks.end(),
                       [head](const TrackEntry& t) { return t.number % 2 != head; });
}

}  // namespace

bool LooksLikeScp(std::span<const uint8_t> file)
{
    return file.size() >= kHeaderSize && std::equal(file.begin(), file.begin() + 3, "SCP");
}

ScpReadResult ReadScp(std::span<const uint8_t> file)
{
    ScpReadResult result;
    if (!LooksLikeScp(file)) {
        result.error = LoadString(Str::ScpNotScp);
        return result;
    }
    const unsigned revolutions = file[kRevolutions];
    if (revolutions == 0) {
        result.error = LoadString(Str::ScpNoRevolutions);
        return result;
    }
    if (!SixteenBitCells(file[kCellWidth])) {
        result.error = FormatString(Str::ScpCellWidth, static_cast<long>(file[kCellWidth]));
        return result;
    }
    const uint8_t heads = file[kHeads];
    if (heads > kHeadOneOnly) {
        result.error = FormatString(Str::ScpHeadsField, static_cast<long>(heads));
        return result;
    }
    Layout layout = ReadLayout(file, revolutions);
    if (layout.error.empty()) {
        if (const std::optional<long> track = OverlappingTrack(std::move(layout.extents)))
            layout.error = FormatString(Str::ScpOverlap, *track);
    }
    if (!layout.error.empty()) {
        result.error = std::move(layout.error);
        return result;
    }

    ScpImage image;
    image.version = file[kVersion];
    image.diskType = file[kDiskType];
    image.flags = file[kFlags];
    image.resolution = file[kResolution];
    const bool consecutive = ConsecutiveSingleSide(heads, layout.tracks);
    for (const TrackEntry& entry : layout.tracks) {
        FluxTrack track;
        track.cylinder = static_cast<uint8_t>(consecutive ? entry.number : entry.number / 2);
        track.head = static_cast<uint8_t>(consecutive ? heads - 1u : entry.number % 2);
        // A run of escapes carries over into the next revolution: the revolutions are
        // one stretch of flux, cut at the index pulses.
        uint64_t pending = 0;
        for (const Revolution& r : entry.revolutions) {
            FluxRevolution revolution{r.indexTicks, {}};
            revolution.intervals.reserve(r.cells);
            for (uint32_t i = 0; i < r.cells; ++i) {
                const size_t at = static_cast<size_t>(r.cellsAt) + size_t{i} * 2;
                const uint32_t cell = (uint32_t{file[at]} << 8) | file[at + 1];
                pending += cell == 0 ? kEscapeTicks : cell;
                if (cell == 0)
                    continue;
                if (pending > std::numeric_limits<uint32_t>::max()) {
                    result.error = FormatString(Str::ScpIntervalTooLong, static_cast<long>(entry.number),
                                                static_cast<long>(track.revolutions.size()) + 1);
                    return result;
                }
                revolution.intervals.push_back(static_cast<uint32_t>(pending));
                pending = 0;
            }
            track.revolutions.push_back(std::move(revolution));
        }
        if (pending != 0)
            result.warnings.push_back(FormatString(Str::ScpOpenInterval, static_cast<long>(entry.number)));
        image.tracks.push_back(std::move(track));
    }
    std::stable_sort(image.tracks.begin(), image.tracks.end(), [](const FluxTrack& a, const FluxTrack& b) {
        return std::tie(a.cylinder, a.head) < std::tie(b.cylinder, b.head);
    });

    const uint32_t stored = LittleEndianAt<uint32_t>(file, kChecksum);
    const uint32_t computed = ByteSum(file.subspan(kHeaderSize));
    const bool unchecked = stored == 0 && (image.flags & kScpReadWrite);
    if (stored != computed && !unchecked)
        result.warnings.push_back(FormatString(Str::ScpChecksumMismatch, Hex(stored), Hex(computed)));
    result.image = std::move(image);
    return result;
}

namespace {

// The cells of one interval: a 0 for every 65536 ticks, then the rest, which must not be 0.
void AppendCells(std::vector<uint8_t>& out, uint32_t interval)
{
    if (interval % kEscapeTicks == 0)
        ++interval;
    for (uint32_t escapes = interval >> 16; escapes > 0; --escapes) {
        out.push_back(0);
        out.push_back(0);
    }
    out.push_back(static_cast<uint8_t>(interval >> 8));
    out.push_back(static_cast<uint8_t>(interval));
}

// The heads field for the heads the tracks use.
uint8_t HeadsField(const std::vector<const FluxTrack*>& tracks)
{
    const bool zero = std::any_of(tracks.begin(), tracks.end(), [](const FluxTrack* t) { return t->head == 0; });
    const bool one = std::any_of(tracks.begin(), tracks.end(), [](const FluxTrack* t) { return t->head == 1; });
    if (zero == one)
        return kBothHeads;
    return zero ? kHeadZeroOnly : kHeadOneOnly;
}

unsigned TrackNumber(const FluxTrack& track)
{
    return track.cylinder * 2u + track.head;
}

}  // namespace

FluxFileWrite WriteScp(const ScpImage& image)
{
    FluxFileWrite result;
    std::vector<const FluxTrack*> tracks;
    for (const FluxTrack& t : image.tracks)
        tracks.push_back(&t);
    std::sort(tracks.begin(), tracks.end(),
              [](const FluxTrack* a, const FluxTrack* b) { return TrackNumber(*a) < TrackNumber(*b); });
    const size_t revolutions = tracks.empty() ? 1 : tracks.front()->revolutions.size();
    for (size_t i = 0; i < tracks.size(); ++i) {
        const FluxTrack& t = *tracks[i];
        const long cylinder = t.cylinder, head = t.head;
        if (t.head > 1 || TrackNumber(t) >= kScpTrackEntries) {
            result.error = FormatString(Str::ScpNoPlaceForTrack, cylinder, head);
            return result;
        }
        if (i > 0 && TrackNumber(t) == TrackNumber(*tracks[i - 1])) {
            result.error = FormatString(Str::ScpTrackTwice, cylinder, head);
            return result;
        }
        if (t.revolutions.size() != revolutions || revolutions == 0 || revolutions > 255) {
            result.error = FormatString(Str::ScpRevolutionCount, static_cast<long>(TrackNumber(t)),
                                        static_cast<long>(t.revolutions.size()));
            return result;
        }
    }

    std::vector<uint8_t>& out = result.bytes;
    out.assign(kHeaderSize + kTableSize, 0);
    std::copy_n("SCP", 3, out.begin());
    out[kVersion] = image.version;
    out[kDiskType] = image.diskType;
    out[kRevolutions] = static_cast<uint8_t>(revolutions);
    out[kStartTrack] = static_cast<uint8_t>(tracks.empty() ? 0 : TrackNumber(*tracks.front()));
    out[kEndTrack] = static_cast<uint8_t>(tracks.empty() ? 0 : TrackNumber(*tracks.back()));
    out[kFlags] = static_cast<uint8_t>(image.flags & ~(kScpReadWrite | kScpFooter));
    out[kCellWidth] = 0;
    out[kHeads] = HeadsField(tracks);
    out[kResolution] = image.resolution;

    std::vector<uint8_t> cells;
    for (const FluxTrack* t : tracks) {
        const size_t at = out.size();
        StoreLittleEndian(out, kHeaderSize + TrackNumber(*t) * 4, static_cast<uint32_t>(at));
        out.insert(out.end(), {'T', 'R', 'K', static_cast<uint8_t>(TrackNumber(*t))});
        const size_t entries = out.size();
        out.resize(out.size() + revolutions * kRevolutionEntrySize);
        for (size_t r = 0; r < revolutions; ++r) {
            const FluxRevolution& revolution = t->revolutions[r];
            cells.clear();
            for (uint32_t interval : revolution.intervals)
                AppendCells(cells, interval);
            const size_t entry = entries + r * kRevolutionEntrySize;
            StoreLittleEndian(out, entry, revolution.indexTicks);
            StoreLittleEndian(out, entry + 4, static_cast<uint32_t>(cells.size() / 2));
            StoreLittleEndian(out, entry + 8, static_cast<uint32_t>(out.size() - at));
            if (out.size() + cells.size() > std::numeric_limits<uint32_t>::max()) {
                result.bytes.clear();
                result.error = LoadString(Str::ScpTooLarge);
                return result;
            }
            out.insert(out.end(), cells.begin(), cells.end());
        }
    }
    StoreLittleEndian(out, kChecksum, ByteSum(std::span<const uint8_t>(out).subspan(kHeaderSize)));
    return result;
}

}  // namespace vokta
