// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vokta {

// How many records are kept until told; older ones are dropped and counted.
constexpr size_t kLostWorkKept = 16;

// Changes that a drive object could only try to make last at its end, when no operation
// was left to fail with them (a diskette file that could not be saved, FAT copies that
// could not be written). Recorded here so that whoever hosts the work tells the user.
void RecordLostWork(const std::string& text);

// What was recorded since the last call, oldest first, and a last line saying how many
// older ones were dropped, if any; the record is then empty.
std::vector<std::string> TakeLostWork();

}  // namespace vokta
