// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "drive/backend/emulated/emulatedmedium.h"

namespace vokta {

// ImageDisk files: a text header ending in 1Ah, then one record per formatted track with
// its sectors in physical order, their address fields and data (compressed when every
// byte is the same, flagged when recorded with a data error or a deleted-data mark).
struct ImdReadResult {
    std::optional<EmulatedMedium> medium;
    std::string comment;
    std::string error;  // why the file is not a usable ImageDisk file
};

bool LooksLikeImd(std::span<const uint8_t> file);

// `density` is the medium's when the file holds no track to tell it.
ImdReadResult ReadImd(std::span<const uint8_t> file, MediumDensity density);

// The comment of the ImageDisk files written here, after the header line.
inline constexpr char kImdComment[] = "Vokta diskette image\r\n";

// This moment, local time, as the header's "dd/mm/yyyy hh:mm:ss".
std::string ImdStampNow();

// `stamp` is the header's "dd/mm/yyyy hh:mm:ss".
std::vector<uint8_t> WriteImd(const EmulatedMedium& medium, const std::string& stamp,
                              const std::string& comment);

}  // namespace vokta
