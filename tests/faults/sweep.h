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

#include "drive/media.h"

namespace vokta::test::sweep {

enum class Operation { Read, Write, Compare, QuickFormat, FullFormat };  // the formats with verify

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

// A diskette holding a tree of directories and files, and an empty one of the same media
// with another serial number, both made by the FAT tools.
struct Diskettes {
    Diskette tree;
    Diskette empty;
};

// Makes the two diskettes in `folder`; empty when a tool is missing or fails, with the
// cause in `why`.
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
std::string Describe(const Run& run);

// Runs one operation with one fault and checks what it left behind.
void RunOne(const Diskettes& diskettes, const Run& run, Figures& figures);

// The sectors a sweep visits: every `step`-th, and the first of each system area (boot
// sector, each FAT copy, root directory, data area), where a fault weighs most.
std::vector<uint32_t> Positions(MediaType type, uint32_t step);

// Every fault that applies to the operation, answered every way, at each position.
void Sweep(const Diskettes& diskettes, Operation operation, uint32_t step, Figures& figures);

}  // namespace vokta::test::sweep
