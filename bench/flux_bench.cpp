// SPDX-License-Identifier: GPL-3.0-or-later
// Encodes every track of a whole diskette of each format in the optimized layout to three
// revolutions of flux at a Greaseweazle's 72 MHz, with a few ticks of jitter, and decodes
// and merges them back, timed in the processor time of its one thread (other programs on the
// machine do not count). Flux is counted at two bytes an interval, as
// an SCP file stores it. The 1.44M diskette is held to its targets: decoded in under
// 0.5 s, at over 20 MB of flux a second.
#include <ctime>
#include <cstdio>
#include <vector>

#include "drive/media.h"
#include "drive/tracklayout.h"
#include "mfm/encode.h"
#include "mfm/merge.h"
#include "mfm/trackbytes.h"

using namespace vokta;
using namespace vokta::mfm;

namespace {

constexpr double kTickHz = 72e6;
constexpr size_t kRevolutions = 3;
constexpr MediaType kMediaOf[] = {kMedia720K, kMedia12M, kMedia144M, kMedia168M, kMedia172M};

struct Figures {
    double encodeMs = 0;
    double decodeMs = 0;
    size_t intervals = 0;
    size_t goodSectors = 0;
    size_t sectors = 0;
};

double ThreadMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

Figures Run(const MediumFormat& f, MediaType type)
{
    const MediaGeometry g = *GeometryOf(type);
    Figures figures;
    std::vector<TrackFlux> tracks;
    std::vector<uint8_t> data(size_t{f.sectorsPerTrack} * SectorBytes(f.sizeCode));
    uint32_t seed = 1;
    double start = ThreadMs();
    for (uint8_t c = 0; c < f.cylinders; ++c)
        for (uint8_t h = 0; h < 2; ++h) {
            for (uint8_t& byte : data)
                byte = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
            const auto order = OptimizedTrackOrder(g.sectorsPerTrack, g.skew, g.interleave, c, h);
            const EncodedTrack track = EncodeTrack(f.recording, f.gap3, *SlotsInOrder(c, h, f.sizeCode, order, data));
            tracks.push_back(CellsToFlux(track.cells, f.recording, kTickHz, kRevolutions));
            figures.sectors += order.size();
        }
    figures.encodeMs = ThreadMs() - start;

    // A drive's flux is never exact: every transition a few ticks early or late.
    for (TrackFlux& flux : tracks)
        for (Revolution& r : flux.revolutions)
            for (uint32_t& interval : r.intervals) {
                interval += (seed = seed * 1103515245 + 12345) >> 29;
                interval -= 3;
                ++figures.intervals;
            }

    start = ThreadMs();
    size_t index = 0;
    for (uint8_t c = 0; c < f.cylinders; ++c)
        for (uint8_t h = 0; h < 2; ++h) {
            const MergedTrack merged = MergeRevolutions(DecodeTrack(tracks[index++], f.recording, {c, h, f.sizeCode}));
            for (const MergedSector& s : merged.sectors)
                figures.goodSectors += s.good && !s.copiesDiffer;
        }
    figures.decodeMs = ThreadMs() - start;
    return figures;
}

}  // namespace

int main()
{
    std::printf("%-6s %11s %11s %12s %13s %9s\n", "format", "encode ms", "decode ms", "flux MB/s", "transitions/s",
                "sectors");
    bool held = true;
    for (size_t i = 0; i < kMediumFormats.size(); ++i) {
        const MediumFormat& f = kMediumFormats[i];
        const Figures r = Run(f, kMediaOf[i]);
        const double seconds = r.decodeMs / 1000;
        const double megabytes = static_cast<double>(r.intervals) * 2 / 1e6;
        std::printf("%-6s %11.1f %11.1f %12.1f %12.1fM %4zu/%zu\n", f.name, r.encodeMs, r.decodeMs, megabytes / seconds,
                    static_cast<double>(r.intervals) / seconds / 1e6, r.goodSectors, r.sectors);
        held = held && r.goodSectors == r.sectors;
        if (f.sectorsPerTrack == k1440K.sectorsPerTrack) {
            const bool fast = seconds < 0.5 && megabytes / seconds > 20;
            std::printf("       1.44M targets (under 500 ms, over 20 MB/s): %s\n", fast ? "held" : "MISSED");
            held = held && fast;
        }
    }
    return held ? 0 : 1;
}
