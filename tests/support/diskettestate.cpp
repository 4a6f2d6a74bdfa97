// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/diskettestate.h"

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "drive/backend/files/imdfile.h"
#include "drive/fatlayout.h"
#include "support/tempdir.h"

namespace vokta::test {

namespace {

// What a sector that does not read holds in the copy the tools look at: deleted directory
// entries (what a directory sector named is gone with it) whose text marks a file that holds
// it, so that such a file does not count as copied out.
constexpr char kUnreadableMark[] = "\xE5UNREADABLE-SECTOR-MARK-";
constexpr size_t kMarkLength = sizeof kUnreadableMark - 1;

std::vector<uint8_t> MarkedSector()
{
    std::vector<uint8_t> sector(512, ' ');
    for (size_t at = 0; at < sector.size(); at += 32)
        std::copy_n(kUnreadableMark, kMarkLength, sector.begin() + static_cast<std::ptrdiff_t>(at));
    return sector;
}

// The bytes the tools look at: the FAT copies keep what the sectors were recorded with (a
// reader takes a FAT sector from the other copy), every other sector that does not read is
// marked.
std::vector<uint8_t> ReadableBytes(const DisketteState& state)
{
    std::vector<uint8_t> bytes = state.bytes;
    const std::optional<FatLayout> layout = FatLayout::FromBootSector(bytes);
    const std::vector<uint8_t> mark = MarkedSector();
    for (uint32_t s : state.unreadable) {
        const bool fat = layout && s >= layout->firstFatSector && s < layout->rootFirstSector;
        if (!fat && (size_t{s} + 1) * 512 <= bytes.size())
            std::copy(mark.begin(), mark.end(), bytes.begin() + static_cast<std::ptrdiff_t>(size_t{s} * 512));
    }
    return bytes;
}

bool HoldsMark(const std::vector<uint8_t>& file)
{
    const std::vector<uint8_t> mark(kUnreadableMark, kUnreadableMark + kMarkLength);
    return std::search(file.begin(), file.end(), mark.begin(), mark.end()) != file.end();
}

}  // namespace

DisketteState ReadDisketteFile(const std::string& path, MediaType type)
{
    DisketteState state;
    const std::vector<uint8_t> file = ReadFile(path);
    if (!LooksLikeImd(file)) {
        state.bytes = file;
        return state;
    }
    const ImdReadResult imd =
        ReadImd(file, type == kMedia720K ? MediumDensity::Double : MediumDensity::High);
    if (!imd.medium)
        return state;
    state.bytes = imd.medium->ToImage(type);
    const std::vector<const SectorRecord*> sectors = imd.medium->LogicalSectors(type);
    for (uint32_t s = 0; s < sectors.size(); ++s)
        if (!sectors[s] || sectors[s]->dataError)
            state.unreadable.insert(s);
    return state;
}

int ComplaintLines(const std::string& report)
{
    std::istringstream lines(report);
    int complaints = 0;
    for (std::string line; std::getline(lines, line);) {
        const bool summary = line.find(" files, ") != std::string::npos && line.ends_with(" clusters");
        // An indented line tells more of the complaint above it.
        if (!line.empty() && line[0] != ' ' && !line.starts_with("fsck.fat ") && !summary &&
            line != "Leaving filesystem unchanged.")
            ++complaints;
    }
    return complaints;
}

void Examine(DisketteState& state, const std::string& scratch)
{
    const std::string image = scratch + "/examined.img", out = scratch + "/examined.files";
    WriteFile(image, ReadableBytes(state));
    state.checkerReport.clear();
    Shell("fsck.fat -n " + ShellQuoted(image) + " 2>&1", &state.checkerReport);
    state.complaints = ComplaintLines(state.checkerReport);
    std::filesystem::remove_all(out);
    std::filesystem::create_directory(out);
    Shell("MTOOLS_SKIP_CHECK=1 mcopy -s -n -i " + ShellQuoted(image) + " '::*' " + ShellQuoted(out) + " >/dev/null 2>&1");
    state.files.clear();
    for (const auto& entry : std::filesystem::recursive_directory_iterator(out))
        if (entry.is_regular_file()) {
            std::vector<uint8_t> bytes = ReadFile(entry.path().string());
            if (!HoldsMark(bytes))
                state.files[std::filesystem::relative(entry.path(), out).string()] = std::move(bytes);
        }
    std::filesystem::remove_all(out);
}

std::string WhatGotWorse(const DisketteState& before, const DisketteState& after)
{
    std::string worse;
    if (after.complaints > before.complaints)
        worse += "fsck.fat complaints " + std::to_string(before.complaints) + " -> " + std::to_string(after.complaints) +
                 "; ";
    for (const auto& [path, bytes] : before.files) {
        const auto now = after.files.find(path);
        if (now == after.files.end())
            worse += path + " gone; ";
        else if (now->second != bytes)
            worse += path + " differs; ";
    }
    return worse;
}

}  // namespace vokta::test
