// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fluxfile/fluxbytes.h"

namespace vokta {

// SuperCard Pro flux files (.scp): a 16-byte header, a table of 168 track offsets, and per
// track a "TRK" header giving each revolution's index time, flux count and data offset;
// the flux cells are 16-bit big-endian tick counts, where 0 stands for 65536 ticks more in
// the next cell. Track n of the table is cylinder n / 2, head n % 2.

// The header's flags (byte 8).
inline constexpr uint8_t kScpIndexCued = 0x01;   // every track starts at the index pulse
inline constexpr uint8_t kScp96Tpi = 0x02;
inline constexpr uint8_t kScp360Rpm = 0x04;      // clear: 300 rpm
inline constexpr uint8_t kScpNormalised = 0x08;
inline constexpr uint8_t kScpReadWrite = 0x10;   // padded for rewriting, no checksum
inline constexpr uint8_t kScpFooter = 0x20;
inline constexpr uint8_t kScpFluxCreator = 0x80; // captured by another device than the card

// Disk types (byte 4) of PC diskettes, and of any other.
inline constexpr uint8_t kScpDiskPc720K = 0x31;
inline constexpr uint8_t kScpDiskPc1200K = 0x32;
inline constexpr uint8_t kScpDiskPc1440K = 0x33;
inline constexpr uint8_t kScpDiskOther = 0x80;

// The cylinders and heads an SCP track table has room for.
inline constexpr unsigned kScpTrackEntries = 168;

struct FluxRevolution {
    uint32_t indexTicks = 0;          // index pulse to index pulse
    std::vector<uint32_t> intervals;  // between flux transitions, in ticks
    bool operator==(const FluxRevolution&) const = default;
};

struct FluxTrack {
    uint8_t cylinder = 0;
    uint8_t head = 0;
    std::vector<FluxRevolution> revolutions;
    bool operator==(const FluxTrack&) const = default;
};

struct ScpImage {
    uint8_t version = 0x25;  // (major << 4) | minor of the format the writer follows
    uint8_t diskType = kScpDiskOther;
    uint8_t flags = kScpIndexCued | kScp96Tpi;
    uint8_t resolution = 0;       // a tick lasts 25 ns × (resolution + 1)
    std::vector<FluxTrack> tracks;  // by cylinder, then head

    uint32_t TickNanoseconds() const { return 25u * (resolution + 1u); }
    bool operator==(const ScpImage&) const = default;
};

struct ScpReadResult {
    std::optional<ScpImage> image;
    std::vector<std::string> warnings;  // read, but something is not as it should be
    std::string error;                  // why the file is refused
};

bool LooksLikeScp(std::span<const uint8_t> file);

// Tracks whose heads field names one side but whose table entries run consecutively (as
// older writers made them) are read as cylinder n of that side. A checksum that does not
// match is a warning: the flux may still decode to sectors whose own checks pass.
ScpReadResult ReadScp(std::span<const uint8_t> file);

// Every track holds the same number of revolutions. The file has no timestamp or footer,
// its flags never claim either, and an interval the cells cannot hold (0 ticks, or a whole
// multiple of 65536) is written one tick longer.
FluxFileWrite WriteScp(const ScpImage& image);

}  // namespace vokta
