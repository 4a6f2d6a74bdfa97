// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>

#include "drive/media.h"

namespace vokta {

// The work an operation has to do whatever the request pattern: track passes, each costing
// at least one revolution, and sweeps over the cylinders, each costing its steps and settles
// (a second sweep starts with the seek back to cylinder 0).
struct Work {
    double trackPasses;
    int sweeps;
};

// What the minimum is made of: a drive's motor start, step, settle and revolution.
struct Mechanics {
    double motorStartMs;
    double stepMs;
    double settleMs;
    double revolutionMs;

    // A move of the head over `cylinders` cylinders and its settle; none for no move.
    double MoveMs(int cylinders) const { return cylinders == 0 ? 0 : cylinders * stepMs + settleMs; }
};

// `from` is where the head stands when the operation starts.
inline double MinimumMs(const Mechanics& m, const MediaGeometry& g, Work w, uint16_t from)
{
    const double cylinderSteps = g.cylinders - 1;
    const double sweep = cylinderSteps * (m.stepMs + m.settleMs);
    const double back = cylinderSteps * m.stepMs + m.settleMs;
    return m.motorStartMs + m.MoveMs(from) + w.trackPasses * m.revolutionMs + w.sweeps * sweep +
           std::max(0, w.sweeps - 1) * back;
}

inline const char* Verdict(double ratio, double target)
{
    return ratio <= target ? "held" : "MISSED";
}

}  // namespace vokta
