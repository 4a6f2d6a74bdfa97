#pragma once

#include <memory>
#include <vector>

#include "drive/backend/emulateddrive.h"
#include "drive/diskdrive.h"
#include "drive/drivetable.h"

namespace vokta::test {

// An emulated drive bound to a letter of a private drive table.
struct EmulatedSetup {
    std::shared_ptr<EmulatedDrive> drive;
    DriveTable table;

    EmulatedSetup(char letter, DriveKind kind);
    std::unique_ptr<DiskDrive> Open(char letter = 'A') const;
};

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
