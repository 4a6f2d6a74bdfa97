// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "drive/media.h"

namespace vokta::test {

// A diskette file as the FAT tools see it: its sectors (one that does not read with the
// bytes it was recorded with), the sectors that do not read, and, once examined, how many
// complaints `fsck.fat -n` has about it and the files that `mcopy` copies out of it.
struct DisketteState {
    std::vector<uint8_t> bytes;
    std::set<uint32_t> unreadable;
    int complaints = 0;
    std::string checkerReport;
    // By path; a file that holds a sector which does not read does not copy out.
    std::map<std::string, std::vector<uint8_t>> files;

    bool SameSectors(const DisketteState& other) const
    {
        return bytes == other.bytes && unreadable == other.unreadable;
    }
};

// The sectors of a raw or ImageDisk diskette file of `type`.
DisketteState ReadDisketteFile(const std::string& path, MediaType type);

// Runs fsck.fat -n and mcopy over the state's sectors, in files of the folder `scratch`. They
// see a FAT sector that does not read as recorded, any other as deleted directory entries
// that no file copies out with.
void Examine(DisketteState& state, const std::string& scratch);

// What is worse in `after` than in `before` (both examined): more complaints, a file that
// no longer copies out or copies out other bytes; empty when nothing is.
std::string WhatGotWorse(const DisketteState& before, const DisketteState& after);

// The complaints of an fsck.fat -n report: its lines but for the banner, the summary, the
// note that it left the file system unchanged, and the indented lines that go on with one.
int ComplaintLines(const std::string& report);

}  // namespace vokta::test
