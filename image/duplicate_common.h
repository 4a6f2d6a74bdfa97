// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Pieces the three duplication operations share.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "drive/diskdrive.h"
#include "image/duplicate.h"
#include "steps/session.h"
#include "res/strings.h"

namespace vokta::dup {

inline Answer Box(MessageBoxHost& host, Str text, Str caption, Buttons buttons, Icon icon)
{
    return host.MessageBox(LoadString(text), LoadString(caption), buttons, icon);
}

// The drive letter of the job's drive entry.
char DriveLetter(const DuplicateJob& job);

// The shared start with the duplication's caption: the drive opened, else told.
bool Opened(OperationSession& session, DiskDrive& drive);

// The part of the image that cylinder c covers: a whole cylinder, or less (or nothing) at
// the end of an image that the diskette's cylinders do not divide.
template <typename Byte>
std::span<Byte> CylinderOf(std::span<Byte> data, uint16_t cylinder, size_t cylinderBytes)
{
    const size_t start = std::min(data.size(), size_t{cylinder} * cylinderBytes);
    return data.subspan(start, std::min(cylinderBytes, data.size() - start));
}

// The whole sectors of a cylinder's bytes that head h covers, as far as they reach: a
// transfer never reaches past the image.
template <typename Byte>
std::span<Byte> TrackOf(std::span<Byte> cylinder, uint16_t head, const DeviceParams& params)
{
    const size_t trackBytes = size_t{params.sectorsPerTrack()} * kSectorSize;
    const size_t start = std::min(cylinder.size(), size_t{head} * trackBytes);
    return cylinder.subspan(start, std::min(trackBytes, cylinder.size() - start) / kSectorSize * kSectorSize);
}

// One track between the drive and its part of the cylinder's bytes.
bool ReadTrack(DiskDrive& drive, uint16_t cylinder, uint16_t head, std::span<uint8_t> track);

// What becomes of a track that failed as a whole, decided with its error still pending.
enum class TrackFailure {
    Retry,     // read the whole cylinder again from head 0
    PassOver,  // leave the track as it is and go on with the next head
    Salvage,   // keep what can be read of it, sector by sector, and go on
    Stop,      // end the cylinder's reading
};

// Reads cylinder c head by head into `buffer`, as far as it reaches, asking `decide`
// about every track that fails. The byte offsets within the cylinder of salvaged sectors
// that could not be read are listed in `unread`. Each track goes in progress on the
// session's map as its read starts; what its read found, sector by sector, is listed in
// `found` (head 0 first), for the caller to show once the cylinder is settled. False when
// `decide` stopped it.
bool ReadCylinderTracks(DiskDrive& drive, OperationSession& session, uint16_t cylinder, std::span<uint8_t> buffer,
                        const std::function<TrackFailure()>& decide, std::vector<size_t>& unread,
                        std::vector<TrackReport>& found);

// Every track of `reports` on the session's map.
void ShowTracks(OperationSession& session, const std::vector<TrackReport>& reports);

// One cylinder's sectors, head by head, between the drive and `buffer`, as far as the
// buffer reaches; false at the first failing track.
bool ReadCylinder(DiskDrive& drive, uint16_t cylinder, std::span<uint8_t> buffer);
bool WriteCylinder(DiskDrive& drive, uint16_t cylinder, std::span<const uint8_t> buffer);

size_t CylinderBytes(const DeviceParams& params);

// False, after telling why, when the diskette's boot sector describes a layout other than
// the media the drive reads it as: an image in that media's layout would not be the diskette.
bool LayoutFitsMedia(DiskDrive& drive, OperationHost& host, const std::string& caption);

// The start every operation that reads a whole diskette makes: the drive opened, a
// diskette waited for, its media detected and its layout checked, the media on the upper
// line. Nullopt when the reading may begin, else the result to end with, told already.
std::optional<int> StartReading(OperationSession& session, DiskDrive& drive);

// The volume label and serial number of the diskette, from its media identification.
bool ReadMediaId(DiskDrive& drive, std::string& label, std::string& serial);

}  // namespace vokta::dup
