// SPDX-License-Identifier: GPL-3.0-or-later
// Read Disk, Write Disk with and without verify, Compare, quick and full Format with verify, Repair with each data
// choice and the information report, each under every fault at every sector
// (`--all`) or every 97th (default) of a 1.44M and a 1.72M diskette holding a file tree, and of two
// 1.44M diskettes of other layouts (four reserved sectors and one FAT; one FAT).
// `--op NAME` (read, write, compare, quick, full, reformat, marktrack,
// markcyl, stop, write-nv, info) runs one operation, `--step N` every Nth sector, `--at N`
// sector N only;
// `--trace` tells every run. Prints runs, faults injected, invariants checked and failures per medium and operation;
// exits non-zero when an invariant broke.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <cstring>
#include <utility>
#include <vector>

#include "faults/sweep.h"
#include "support/tempdir.h"

using namespace vokta;
using namespace vokta::test;
using namespace vokta::test::sweep;

int main(int argc, char** argv)
{
    bool all = false, trace = false;
    std::string only;
    uint32_t step = 97;
    std::optional<uint32_t> at;
    for (int i = 1; i < argc; ++i) {
        all |= std::strcmp(argv[i], "--all") == 0;
        trace |= std::strcmp(argv[i], "--trace") == 0;
        if (std::strcmp(argv[i], "--op") == 0 && i + 1 < argc)
            only = argv[++i];
        if (std::strcmp(argv[i], "--at") == 0 && i + 1 < argc)
            at = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        if (std::strcmp(argv[i], "--step") == 0 && i + 1 < argc)
            step = static_cast<uint32_t>(std::max(1L, std::strtol(argv[++i], nullptr, 10)));
    }
    if (all)
        step = 1;
    uint64_t failures = 0;
    std::printf("%-6s %-8s %8s %8s %11s %8s\n", "medium", "op", "runs", "faults", "invariants", "failures");
    std::vector<Layout> layouts = {DefaultLayout(kMedia144M), DefaultLayout(kMedia172M)};
    for (const Layout& other : OtherLayouts())
        layouts.push_back(other);
    for (const Layout& layout : layouts) {
        const char* name = layout.name.c_str();
        TempDir dir;
        std::string why;
        const std::optional<Diskettes> diskettes = MakeDiskettes(layout, dir.path(), why);
        if (!diskettes) {
            std::fprintf(stderr, "%s: %s\n", name, why.c_str());
            return 2;
        }
        for (const auto& [operation, op] :
             {std::pair{Operation::Read, "read"}, std::pair{Operation::Write, "write"}, std::pair{Operation::Compare, "compare"},
              std::pair{Operation::QuickFormat, "quick"}, std::pair{Operation::FullFormat, "full"},
              std::pair{Operation::RepairFormat, "reformat"}, std::pair{Operation::RepairMarkTrack, "marktrack"},
              std::pair{Operation::RepairMarkCylinder, "markcyl"}, std::pair{Operation::RepairStop, "stop"},
              std::pair{Operation::WriteWithoutVerify, "write-nv"}, std::pair{Operation::Info, "info"}}) {
            if (!only.empty() && only != op)
                continue;
            Figures f;
            if (trace)
                f.trace = [](const std::string& line) { std::printf("  %s\n", line.c_str()); };
            if (at)
                SweepAt(*diskettes, operation, *at, f);
            else
                Sweep(*diskettes, operation, step, f);
            std::printf("%-6s %-8s %8llu %8llu %11llu %8llu\n", name, op, static_cast<unsigned long long>(f.runs),
                        static_cast<unsigned long long>(f.faultsInjected), static_cast<unsigned long long>(f.invariants),
                        static_cast<unsigned long long>(f.failures));
            for (const std::string& broken : f.broken)
                std::printf("  %s\n", broken.c_str());
            std::fflush(stdout);
            failures += f.failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
