// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <vector>

#include "drive/backend/emulated/emulateddrive.h"
#include "drive/diskdrive.h"
#include "drive/drivetable.h"
#include "support/recordingservice.h"

namespace vokta::test {

// Binds `letter` of `table` to `service` behind a recorder, which every drive object
// opened on the letter shares; the recorder lives as long as its last user.
std::shared_ptr<RecordingService> BindRecorded(DriveTable& table, char letter, std::unique_ptr<DiskService> service,
                                               SystemDriveType type = SystemDriveType::Removable);

// An emulated drive bound to a letter of a private drive table through a recorder: the
// drive is the physical world (diskette, defects, protection), the recorder what was
// asked of it and the faults a test injects.
struct EmulatedSetup {
    std::shared_ptr<EmulatedDrive> drive;
    DriveTable table;
    std::shared_ptr<RecordingService> recorder;

    EmulatedSetup(char letter, DriveKind kind);
    std::unique_ptr<DiskDrive> Open(char letter = 'A') const;
};

// A diskette file opened as the drive of `letter` and bound behind a recorder; empty when
// the file is no diskette. The file's drive, and its last save, end with the recorder and
// the drive objects opened on the letter.
std::shared_ptr<RecordingService> BindRecordedFile(DriveTable& table, char letter, const std::string& path,
                                                   DriveKind kind);

// A diskette of a standard geometry whose sector i is filled with a pattern of i, with
// a valid boot sector (BPB of the media table) in sector 0.
EmulatedMedium PatternDiskette(MediaType type);
std::vector<uint8_t> PatternImage(MediaType type);

// A 512-byte boot sector whose BPB is the media table's row for `type`.
std::vector<uint8_t> BootSectorFor(MediaType type);

}  // namespace vokta::test

namespace vokta::test {

// A FAT diskette: the pattern diskette with two empty FAT copies and an empty root
// directory, so the data area is free. `bad` clusters are marked BAD (FF7h) in both FATs,
// `used` clusters as end of chain.
std::vector<uint8_t> FatImage(MediaType type, const std::vector<uint16_t>& bad = {},
                              const std::vector<uint16_t>& used = {});

}  // namespace vokta::test
