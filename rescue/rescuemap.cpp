// SPDX-License-Identifier: GPL-3.0-or-later
#include "rescue/rescuemap.h"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cstdio>

#include "res/strings.h"

namespace vokta {
namespace {

constexpr std::string_view kStatuses = "?*/-+";

// The words of a line, split at blanks; a '#' ends the line.
std::vector<std::string_view> Words(std::string_view line)
{
    if (const size_t hash = line.find('#'); hash != std::string_view::npos)
        line = line.substr(0, hash);
    std::vector<std::string_view> words;
    size_t at = 0;
    while (true) {
        at = line.find_first_not_of(" \t\r", at);
        if (at == std::string_view::npos)
            return words;
        const size_t end = std::min(line.find_first_of(" \t\r", at), line.size());
        words.push_back(line.substr(at, end - at));
        at = end;
    }
}

// A number as ddrescue writes and reads them: hexadecimal after "0x", else decimal.
std::optional<uint64_t> Number(std::string_view word)
{
    int base = 10;
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
        base = 16;
        word.remove_prefix(2);
    }
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value, base);
    if (error != std::errc() || end != word.data() + word.size() || word.empty())
        return std::nullopt;
    return value;
}

std::optional<SectorRescue> Status(std::string_view word)
{
    if (word.size() != 1 || kStatuses.find(word[0]) == std::string_view::npos)
        return std::nullopt;
    return static_cast<SectorRescue>(word[0]);
}

// The status line's phase may also be one ddrescue has and this program does not use.
bool IsCurrentStatus(std::string_view word)
{
    return word.size() == 1 && std::string_view("?*/-FG+").find(word[0]) != std::string_view::npos;
}

std::string LineError(size_t lineNumber, Str what)
{
    return FormatString(Str::RescueMapLine, static_cast<long>(lineNumber)) + LoadString(what);
}

}  // namespace

uint32_t RescueMap::Count(SectorRescue status) const
{
    return static_cast<uint32_t>(std::ranges::count(sectors, status));
}

ParsedRescueMap ParseRescueMap(std::string_view text, uint32_t sectorSize, uint32_t sectorCount)
{
    RescueMap map;
    map.sectors.assign(sectorCount, SectorRescue::NonTried);
    const uint64_t mediumBytes = uint64_t{sectorCount} * sectorSize;
    // Finished bytes counted per sector: a sector is finished when all of them are.
    std::vector<uint32_t> finishedBytes(sectorCount, 0);
    std::vector<bool> stated(sectorCount, false);
    bool statusSeen = false;
    uint64_t covered = 0;  // the end of the last block
    size_t lineNumber = 0;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        const std::vector<std::string_view> words = Words(text.substr(at, end - at));
        at = end + 1;
        ++lineNumber;
        if (words.empty())
            continue;
        if (!statusSeen) {
            const std::optional<uint64_t> position = Number(words[0]);
            if (words.size() < 2 || words.size() > 3 || !position || !IsCurrentStatus(words[1]))
                return {std::nullopt, LineError(lineNumber, Str::RescueMapBadStatusLine)};
            const std::optional<uint64_t> pass = words.size() == 3 ? Number(words[2]) : 1;
            if (!pass || *pass == 0 || *pass > 1000)
                return {std::nullopt, LineError(lineNumber, Str::RescueMapBadStatusLine)};
            map.currentPosition = *position;
            map.currentStatus = Status(words[1]).value_or(SectorRescue::NonTried);
            map.currentPass = static_cast<unsigned>(*pass);
            statusSeen = true;
            continue;
        }
        const std::optional<uint64_t> position = words.size() == 3 ? Number(words[0]) : std::nullopt;
        const std::optional<uint64_t> size = words.size() == 3 ? Number(words[1]) : std::nullopt;
        const std::optional<SectorRescue> status = words.size() == 3 ? Status(words[2]) : std::nullopt;
        if (!position || !size || !status)
            return {std::nullopt, LineError(lineNumber, Str::RescueMapBadBlockLine)};
        if (*size == 0 || *position < covered)
            return {std::nullopt, LineError(lineNumber, Str::RescueMapBlocksOutOfOrder)};
        if (*position > mediumBytes || *size > mediumBytes - *position)
            return {std::nullopt, FormatString(Str::RescueMapBeyondMedium, static_cast<long>(lineNumber),
                                               static_cast<long>(mediumBytes))};
        covered = *position + *size;
        for (uint64_t s = *position / sectorSize; s * sectorSize < covered; ++s) {
            const uint64_t from = std::max(*position, s * sectorSize);
            const uint64_t to = std::min(covered, (s + 1) * sectorSize);
            if (*status == SectorRescue::Finished)
                finishedBytes[s] += static_cast<uint32_t>(to - from);
            else if (!stated[s]) {
                map.sectors[s] = *status;
                stated[s] = true;
            }
        }
    }
    if (!statusSeen)
        return {std::nullopt, LoadString(Str::RescueMapNoStatusLine)};
    for (uint32_t s = 0; s < sectorCount; ++s)
        if (finishedBytes[s] == sectorSize)
            map.sectors[s] = SectorRescue::Finished;
    return {std::move(map), {}};
}

std::string RescueMapText(const RescueMap& map, uint32_t sectorSize, const std::string& commandLine,
                          const std::string& startTime, const std::string& currentTime)
{
    std::string text = "# Rescue map of a diskette, in bytes. Created by Vokta\n";
    text += "# Command line: " + commandLine + "\n";
    text += "# Start time:   " + startTime + "\n";
    text += "# Current time: " + currentTime + "\n";
    if (map.Done())
        text += "# Finished\n";
    text += "# current_pos  current_status  current_pass\n";
    char line[96];
    std::snprintf(line, sizeof line, "0x%08" PRIX64 "     %c               %u\n", map.currentPosition,
                  static_cast<char>(map.currentStatus), map.currentPass);
    text += line;
    text += "#      pos        size  status\n";
    for (size_t s = 0; s < map.sectors.size();) {
        size_t run = s + 1;
        while (run < map.sectors.size() && map.sectors[run] == map.sectors[s])
            ++run;
        std::snprintf(line, sizeof line, "0x%08" PRIX64 "  0x%08" PRIX64 "  %c\n", uint64_t{s} * sectorSize,
                      uint64_t{run - s} * sectorSize, static_cast<char>(map.sectors[s]));
        text += line;
        s = run;
    }
    return text;
}

}  // namespace vokta
