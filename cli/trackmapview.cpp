// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/trackmapview.h"

#include <algorithm>

namespace vokta::cli {
namespace {

constexpr uint16_t kBlockCylinders = 40;
constexpr size_t kColumns = 80;
constexpr std::string_view kHeadMargin = "   ";  // "H0 "

std::string HeaderLine(uint16_t first, uint16_t count)
{
    std::string line(kHeadMargin.size() + count, ' ');
    for (uint16_t c = first; c < first + count; ++c) {
        if (c % 10 != 0)
            continue;
        const std::string number = std::to_string(c);
        line.replace(kHeadMargin.size() + (c - first), number.size(), number);
    }
    line.resize(kHeadMargin.size() + count);
    line.erase(line.find_last_not_of(' ') + 1);
    return line;
}

}  // namespace

char TrackStateChar(TrackState state)
{
    constexpr char kChars[kTrackStateCount] = {'.', '>', '+', 'r', 'X', 'B', 'D', 'w', 'v', 'f'};
    return kChars[static_cast<size_t>(state)];
}

std::vector<std::string> TrackMapRows(const TrackMap& map)
{
    std::vector<std::string> rows;
    for (uint8_t h = 0; h < map.shape().heads; ++h) {
        std::string row;
        for (uint16_t c = 0; c < map.shape().cylinders; ++c)
            row += TrackStateChar(map.State(c, h));
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<std::string> TrackMapLines(const TrackMap& map)
{
    std::vector<std::string> lines;
    const std::vector<std::string> rows = TrackMapRows(map);
    for (uint16_t first = 0; first < map.shape().cylinders; first += kBlockCylinders) {
        const auto count = static_cast<uint16_t>(std::min<int>(kBlockCylinders, map.shape().cylinders - first));
        lines.push_back(HeaderLine(first, count));
        for (size_t h = 0; h < rows.size(); ++h)
            lines.push_back("H" + std::to_string(h) + " " + rows[h].substr(first, count));
    }
    return lines;
}

std::vector<std::string> TrackMapLegend(const TrackMap& map)
{
    std::vector<std::string> lines;
    std::string line;
    for (int s = 0; s < kTrackStateCount; ++s) {
        const auto state = static_cast<TrackState>(s);
        const int count = map.Count(state);
        if (count == 0)
            continue;
        const std::string entry =
            std::string(1, TrackStateChar(state)) + " " + TrackStateName(state) + " (" + std::to_string(count) + ")";
        if (!line.empty() && line.size() + 3 + entry.size() > kColumns) {
            lines.push_back(line);
            line.clear();
        }
        line += (line.empty() ? "" : "   ") + entry;
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

}  // namespace vokta::cli
