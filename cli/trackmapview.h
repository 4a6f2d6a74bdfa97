// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

#include "ops/trackmap.h"

namespace vokta::cli {

// The character a track's state is drawn with: plain ASCII, so that any terminal and any
// log shows it.
char TrackStateChar(TrackState state);

// The map for an 80-column terminal: blocks of 40 cylinders, each a header line with the
// cylinder numbers at every tenth cylinder and a line per head ("H0", "H1"), one character
// per track.
std::vector<std::string> TrackMapLines(const TrackMap& map);

// One line per head, one character per cylinder: the map as a JSON report carries it.
std::vector<std::string> TrackMapRows(const TrackMap& map);

// The legend: each state that appears on the map, its character, its name and how many
// tracks are in it, in lines of at most 80 columns.
std::vector<std::string> TrackMapLegend(const TrackMap& map);

}  // namespace vokta::cli
