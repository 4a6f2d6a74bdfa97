// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The fault sweep: one disk operation at a time, run on the emulated drive with one fault
// at one sector of a diskette holding a real file tree, every question answered one way,
// and what the operation left behind checked against what it reported. The gtest cases
// sample the sectors; bench/fault_sweep runs them all. Both go through this code only.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "drive/fatlayout.h"
#include "drive/media.h"

namespace vokta::test::sweep {

// The formats and Write verify unless named otherwise; a repair has its data choice in its
// name, and its other choices write a new boot sector and reformat a failing system track.
enum class Operation {
    Read, Write, Compare, QuickFormat, FullFormat,
    RepairFormat, RepairMarkTrack, RepairMarkCylinder, RepairStop,
    WriteWithoutVerify, Info,
};

enum class Fault {
    PersistentCrc,  // the sector never reads (a defect of the coating)
    TransientCrc,   // the first read of the sector fails, the next ones succeed
    WriteError,     // the first write of the sector fails and leaves its old bytes
    StuckSector,    // writes of the sector say they succeeded, yet it keeps its old bytes
    NotReady,       // the diskette is taken out as the sector is reached, then put back
    Swapped,        // the diskette is taken out as the sector is reached, and another put in
    Differs,        // the diskette holds other bytes in the sector than the image
};

// How the questions are answered once the fault has struck.
enum class Answers {
    Refuse,      // Abort, No, Cancel
    Accept,      // Ignore, Yes, OK; Retry where nothing else goes on
    RetryFirst,  // Retry a few times, then Abort or Cancel
};

struct Diskette {
    MediaType type = kMediaUnknown;
    std::vector<uint8_t> bytes;
};

// A file of a diskette as its FAT and directories give it: its path, its bytes, the sectors
// they lie in, and the directory sectors on the way to its entry.
struct TreeFile {
    std::string path;
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> sectors;
    std::vector<uint32_t> entrySectors;
};

// Every file of a FAT12 diskette of a standard geometry, read with a decoding of its own;
// a chain that breaks (a loop, a free or BAD link, a cluster beyond the diskette) ends the
// file where it breaks.
std::vector<TreeFile> FilesOf(const Diskette& diskette);

// How the FAT tools lay the diskettes out: mkfs.fat (mformat for 21-sector media) with its
// defaults for the media, or with options of its own that give another layout.
struct Layout {
    MediaType type = kMediaUnknown;
    bool mformat = false;
    std::string options;  // added to the tool's command line
    std::string name;
};

// mkfs.fat's 1.44M, mformat's 1.72M.
Layout DefaultLayout(MediaType type);
// Two 1.44M diskettes whose layouts are not the media table's: mkfs.fat with four reserved
// sectors and one FAT, mformat with one FAT.
std::vector<Layout> OtherLayouts();

// A diskette holding a tree of directories and files, and an empty one of the same media
// and layout with another serial number, both made by the FAT tools.
struct Diskettes {
    Diskette tree;
    Diskette empty;
    std::vector<TreeFile> files;  // those of the tree
    FatLayout layout;             // the tree's, as its boot sector says
};

// Makes the two diskettes in `folder`; empty when a tool is missing or fails, with the
// cause in `why`.
std::optional<Diskettes> MakeDiskettes(const Layout& layout, const std::string& folder, std::string& why);
std::optional<Diskettes> MakeDiskettes(MediaType type, const std::string& folder, std::string& why);

struct Run {
    Operation operation;
    Fault fault;
    Answers answers;
    uint32_t sector;  // logical sector of the diskette
};

struct Figures {
    uint64_t runs = 0;
    uint64_t faultsInjected = 0;  // runs in which the operation reached the faulty sector
    uint64_t invariants = 0;
    uint64_t failures = 0;
    std::vector<std::string> broken;  // the first broken invariants, each with its run
    // When set, told of every run: its result, the boxes and how they were answered.
    std::function<void(const std::string&)> trace;
};

bool Applies(Operation operation, Fault fault);
bool IsRepair(Operation operation);
// Whether the operation asks a question about the fault, so that each answer is a run of its own.
bool Asked(Operation operation, Fault fault);
std::string Describe(const Run& run);

// Runs one operation with one fault and checks what it left behind.
void RunOne(const Diskettes& diskettes, const Run& run, Figures& figures);

// The sectors a sweep visits: every `step`-th, and the first of each system area (boot
// sector, each FAT copy, root directory, data area), where a fault weighs most.
std::vector<uint32_t> Positions(MediaType type, uint32_t step);
std::vector<uint32_t> Positions(const Diskettes& diskettes, uint32_t step);

// Every fault that applies to the operation, answered every way, at each position.
void Sweep(const Diskettes& diskettes, Operation operation, uint32_t step, Figures& figures);
// Every fault that applies to the operation, answered every way, at one sector.
void SweepAt(const Diskettes& diskettes, Operation operation, uint32_t sector, Figures& figures);

}  // namespace vokta::test::sweep
