// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "boot/bootsector.h"
#include "boot/localclock.h"
#include "drive/deviceparams.h"
#include "drive/fatlayout.h"
#include "drive/volume.h"

namespace vokta {

class DiskDrive;

constexpr std::string_view kBuilderOemName = "VOKTA1.0";
constexpr std::string_view kNoLabel = "NO NAME    ";
constexpr uint8_t kVolumeLabelAttribute = 0x28;  // volume label and archive
constexpr size_t kDirectoryEntrySize = 32;

// Year, month, day, day of week, hour, minute and second ORed together at their shifts,
// in 32 bits with the overflow dropped.
uint32_t VolumeSerialNumber(const LocalTime& t);

// The FAT directory-entry time (two-second steps) and date (years from 1980).
uint16_t DirectoryTime(const LocalTime& t);
uint16_t DirectoryDate(const LocalTime& t);

// The 11 bytes of a volume label: the first 11 characters of the (UTF-8) label in code
// page 1252, blank-padded, ASCII letters upper-cased; "NO NAME    " for an empty label.
// The label ends at an embedded NUL.
std::string VolumeLabelField(std::string_view label);

// A name whose first byte is E5h would read as a deleted entry: a directory entry stores
// that byte as 05h.
constexpr uint8_t kEscapedDeletedMark = 0x05;

// Makes the 32 bytes of `entry` a volume-label entry holding `field` (the 11 bytes that
// VolumeLabelField gives), dated `now`.
void PutVolumeLabelEntry(std::span<uint8_t> entry, std::string_view field, const LocalTime& now);

// Whether a live directory entry names the volume: the 08h attribute without 10h, and not a
// long-name piece, which carries 08h too.
bool IsVolumeLabelEntry(std::span<const uint8_t> entry);

// A good boot sector for the media described by `params` (and `mediaType`: 0 gets a
// hard disk's drive number and a 16-bit FAT), with the boot code block. A media
// descriptor the check refuses is replaced by the media table's.
BootSector BuildBootSector(const DeviceParams& params, int32_t mediaType, std::string_view label,
                           const LocalTime& now);

// A good boot sector for the volume as it is: its confirmed layout (reserved sectors, FAT
// count and size, root entries, cluster size, total and media byte) on the geometry of
// `params`, with the system's code, OEM name and `label`.
BootSector BuildVolumeBootSector(const ConfirmedVolume& volume, const DeviceParams& params, int32_t mediaType,
                                 std::string_view label, const LocalTime& now);

// Sectors of the system area that a built boot sector describes (its `layout`, whatever
// the diskette's old boot sector said): the FAT copies, the root directory and the first
// data sector.
uint32_t SystemAreaSectors(const FatLayout& layout);

// Fills `area` (SystemAreaSectors × 512 bytes, from the first FAT sector on) with empty
// FATs that begin with the media descriptor, and an empty root directory with a
// volume-label entry when a label is given.
void FillSystemArea(std::span<uint8_t> area, const FatLayout& layout, uint8_t mediaDescriptor,
                    std::string_view label, const LocalTime& now);

// A good boot sector for the media selected in `drive`, written to sector 0. Fails when
// the media is not determined or the write fails.
DiskStatus WriteBootSector(DiskDrive& drive, const std::string& label);
// A good boot sector for the confirmed volume in `drive`, written to sector 0.
DiskStatus WriteVolumeBootSector(DiskDrive& drive, const ConfirmedVolume& volume, const std::string& label);

// The label the volume already has: the first label entry of its root directory; empty
// when it has none. A new boot sector names it: any other label would contradict the
// volume, and the disk checkers would take it out again.
std::string RootDirectoryLabel(DiskDrive& drive, const FatLayout& layout);
// The boot sector a format leaves: a good one without a label.
DiskStatus WriteUnlabelledBootSector(DiskDrive& drive);
// The empty system area of the good boot sector for the selected media, written from its
// first FAT sector on. A failure found before writing (no layout, too little memory) is
// the outcome only, not latched in the drive.
DiskStatus WriteSystemArea(DiskDrive& drive, const std::string& label);

}  // namespace vokta
