// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "boot/bootbuilder.h"
#include "support/testdrives.h"

namespace vokta::test {

// A freshly formatted diskette (every sector present, the data area holding the format's
// filler) given our boot sector and system area through the drive, as a raw image.
inline std::vector<uint8_t> BuiltDisketteImage(MediaType type, const std::string& label)
{
    EmulatedSetup setup('A', type == kMedia12M ? DriveKind::Floppy525HD : DriveKind::Floppy35HD);
    setup.drive->Insert(EmulatedMedium::FromImage(type, std::vector<uint8_t>(ImageSizeOf(type), 0xF6)));
    auto drive = setup.Open();
    EXPECT_TRUE(drive->SelectMedia(type, false));
    EXPECT_TRUE(WriteBootSector(*drive, label));
    EXPECT_TRUE(WriteSystemArea(*drive, label));
    return setup.drive->medium()->ToImage(type);
}

}  // namespace vokta::test
