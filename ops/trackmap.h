// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vokta {

// What an operation did to a track, or to one of its sectors, as the track map shows it.
// A track takes the state of its sectors once it is done; InProgress only while it is
// being worked on.
enum class TrackState : uint8_t {
    NotYet,      // not reached yet
    InProgress,  // being read, written, compared or formatted now
    Good,        // read whole at the first try
    Recovered,   // read whole, some sectors only after retries
    Lost,        // some sectors could not be read
    SkippedBad,  // passed over: the FAT marks its cluster BAD
    Differs,     // a comparison found the diskette different from the image
    Written,
    Verified,  // written or formatted, then read back or verified by the drive
    Formatted,
};

constexpr int kTrackStateCount = 10;

struct TrackMapShape {
    uint16_t cylinders = 0;
    uint8_t heads = 0;
    uint16_t sectorsPerTrack = 0;
    bool operator==(const TrackMapShape&) const = default;
};

// One track's news: its state and the state of each of its sectors (sector 1 first).
// Sectors left empty take the track's state, all of them.
struct TrackReport {
    uint16_t cylinder = 0;
    uint8_t head = 0;
    TrackState state = TrackState::NotYet;
    std::vector<TrackState> sectors;
};

// The state of every track of a medium, and of every sector of each: every cylinder of
// the medium, every head. Reports for tracks outside it are ignored.
class TrackMap {
public:
    TrackMap() = default;
    explicit TrackMap(TrackMapShape shape);

    const TrackMapShape& shape() const { return shape_; }
    bool empty() const { return shape_.cylinders == 0 || shape_.heads == 0; }
    bool Holds(uint16_t cylinder, uint8_t head) const
    {
        return cylinder < shape_.cylinders && head < shape_.heads;
    }

    TrackState State(uint16_t cylinder, uint8_t head) const;
    // Sector 1 first; empty for a track outside the map.
    std::span<const TrackState> Sectors(uint16_t cylinder, uint8_t head) const;

    void Apply(const TrackReport& report);
    // The track's report as the map holds it now.
    TrackReport Report(uint16_t cylinder, uint8_t head) const;

    // How many tracks are in `state`.
    int Count(TrackState state) const;

    bool operator==(const TrackMap&) const = default;

private:
    size_t IndexOf(uint16_t cylinder, uint8_t head) const { return size_t{cylinder} * shape_.heads + head; }

    TrackMapShape shape_;
    std::vector<TrackState> tracks_;
    std::vector<TrackState> sectors_;
};

// The state a finished track takes from its sectors: the worst of them (lost before
// differs before skipped before recovered), else the first sector's.
TrackState TrackStateOfSectors(std::span<const TrackState> sectors);

// The state in words, as the legend and a track's details name it.
std::string TrackStateName(TrackState state);

}  // namespace vokta
