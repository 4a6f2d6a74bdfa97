// Modelled seconds and revolutions of a whole-diskette pass on a real PC drive, per medium
// and layout, beside the mechanical minimum (one revolution a track plus the steps no
// layout hides). The drive model's clock only: no wall time is measured.
#include <cstdio>
#include <string>
#include <vector>

#include "drive/backend/driveclock.h"
#include "drive/media.h"
#include "drive/tracklayout.h"

using namespace vokta;

namespace {

struct Medium {
    MediaType type;
    double rpm;
    double rate;
};

TrackShape ShapeOf(const MediaGeometry& g, bool optimized, uint16_t c, uint16_t h)
{
    const bool forced = g.sectorsPerTrack == 21;  // the BIOS path lays these out always
    return TrackShape{optimized || forced ? OptimizedTrackOrder(g.sectorsPerTrack, g.skew, g.interleave, c, h)
                                          : StandardTrackOrder(g.sectorsPerTrack),
                      StandardFormatGap(g.sectorsPerTrack), 512};
}

// One request per track, cylinder after cylinder (Read Disk, Compare, Write without verify);
// with `readBack` every cylinder is read back after it was written; `format` formats first.
DriveCounters Pass(const Medium& m, bool optimized, bool readBack, bool format)
{
    const MediaGeometry g = *GeometryOf(m.type);
    DriveMechanics mech;
    mech.rpm = m.rpm;
    mech.dataRateKbit = m.rate;
    DriveClock clock(mech);
    for (uint16_t c = 0; c < g.cylinders; ++c)
        for (uint16_t pass = 0; pass < (readBack ? 2 : 1); ++pass)
            for (uint16_t h = 0; h < g.heads; ++h) {
                if (format)
                    clock.Format(c);
                else
                    clock.Transfer(c, ShapeOf(g, optimized, c, h), 1, g.sectorsPerTrack);
            }
    return clock.counters();
}

}  // namespace

int main()
{
    const Medium media[] = {{kMedia720K, 300, 250}, {kMedia12M, 360, 500}, {kMedia144M, 300, 500},
                            {kMedia168M, 300, 500}, {kMedia172M, 300, 500}};
    std::printf("%-15s %-9s %-22s %9s %7s %9s %6s\n", "medium", "layout", "operation", "seconds", "revs",
                "min revs", "ratio");
    for (const Medium& m : media) {
        const MediaGeometry g = *GeometryOf(m.type);
        const double tracks = double(g.cylinders) * g.heads;
        for (bool optimized : {false, true}) {
            struct Row {
                const char* name;
                DriveCounters counted;
                double minimum;
                double target;  // 0: none
            } rows[] = {
                {"Read / Compare", Pass(m, optimized, false, false), tracks, 1.10},
                {"Write + verify", Pass(m, optimized, true, false), 2 * tracks, 0},
                {"Format (no verify)", Pass(m, optimized, false, true), tracks, 0},
            };
            for (const Row& r : rows) {
                const double ratio = r.counted.revolutions / r.minimum;
                std::printf("%-15s %-9s %-22s %9.1f %7.0f %9.0f %6.2f %s\n",
                            std::string(GetMediaTypeName(m.type)).c_str(), optimized ? "optimized" : "standard",
                            r.name, r.counted.milliseconds / 1000, r.counted.revolutions, r.minimum, ratio,
                            r.target == 0 || !optimized ? "" : ratio <= r.target ? "held" : "MISSED");
            }
        }
    }
    return 0;
}
