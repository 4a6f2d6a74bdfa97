// SPDX-License-Identifier: GPL-3.0-or-later
#include "ops/trackmap.h"

#include <algorithm>

#include "res/strings.h"

namespace vokta {

TrackMap::TrackMap(TrackMapShape shape)
    : shape_(shape),
      tracks_(size_t{shape.cylinders} * shape.heads, TrackState::NotYet),
      sectors_(tracks_.size() * shape.sectorsPerTrack, TrackState::NotYet)
{
}

TrackState TrackMap::State(uint16_t cylinder, uint8_t head) const
{
    return Holds(cylinder, head) ? tracks_[IndexOf(cylinder, head)] : TrackState::NotYet;
}

std::span<const TrackState> TrackMap::Sectors(uint16_t cylinder, uint8_t head) const
{
    if (!Holds(cylinder, head))
        return {};
    return std::span<const TrackState>(sectors_).subspan(IndexOf(cylinder, head) * shape_.sectorsPerTrack,
                                                          shape_.sectorsPerTrack);
}

void TrackMap::Apply(const TrackReport& report)
{
    if (!Holds(report.cylinder, report.head))
        return;
    const size_t index = IndexOf(report.cylinder, report.head);
    tracks_[index] = report.state;
    const auto first = sectors_.begin() + static_cast<ptrdiff_t>(index * shape_.sectorsPerTrack);
    if (report.sectors.empty()) {
        // In progress says nothing yet about the sectors: they keep what they were.
        if (report.state != TrackState::InProgress)
            std::fill_n(first, shape_.sectorsPerTrack, report.state);
        return;
    }
    std::copy_n(report.sectors.begin(), std::min<size_t>(report.sectors.size(), shape_.sectorsPerTrack), first);
}

TrackReport TrackMap::Report(uint16_t cylinder, uint8_t head) const
{
    const std::span<const TrackState> sectors = Sectors(cylinder, head);
    return {cylinder, head, State(cylinder, head), {sectors.begin(), sectors.end()}};
}

int TrackMap::Count(TrackState state) const
{
    return static_cast<int>(std::ranges::count(tracks_, state));
}

TrackState TrackStateOfSectors(std::span<const TrackState> sectors)
{
    if (sectors.empty())
        return TrackState::NotYet;
    for (TrackState worst : {TrackState::Lost, TrackState::Differs, TrackState::SkippedBad, TrackState::Recovered})
        if (std::ranges::find(sectors, worst) != sectors.end())
            return worst;
    return sectors.front();
}

std::string TrackStateName(TrackState state)
{
    constexpr Str kNames[kTrackStateCount] = {
        Str::TrackNotYet,     Str::TrackInProgress, Str::TrackGood,    Str::TrackRecovered, Str::TrackLost,
        Str::TrackSkippedBad, Str::TrackDiffers,    Str::TrackWritten, Str::TrackVerified,  Str::TrackFormatted,
    };
    return LoadString(kNames[static_cast<size_t>(state)]);
}

}  // namespace vokta
