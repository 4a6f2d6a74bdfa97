// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "drive/backend/emulated/emulatedmedium.h"
#include "fat/repair.h"
#include "support/recordingservice.h"
#include "support/scriptedhost.h"
#include "support/tempdir.h"
#include "support/testdrives.h"

namespace vokta::test {

// The 1.44M geometry most repair cases use.
constexpr uint32_t kSpt = 18;
constexpr uint32_t kFirstDataSector = 33;  // boot, 2 × 9 FAT sectors, 14 root sectors
constexpr uint16_t kCylinders = 80;

// The files lie where mcopy puts them on an empty diskette, one after the other from
// cluster 2. On a 1.44M diskette: FIRST.BIN on clusters 2..5, so on the track where the
// root directory ends (sectors 33..35 are clusters 2..4), BIG.BIN from cluster 6 over
// cylinders 1 to 4, NOTE.TXT on 124 and 125.
struct SourceFile {
    std::string name;
    std::vector<uint8_t> bytes;
};

constexpr uint16_t ClusterOfSector(uint32_t sector)
{
    return static_cast<uint16_t>(sector - kFirstDataSector + 2);
}

// The clusters of the root directory's file with this 8.3 name (blank-padded, without
// the dot) on a diskette image, in chain order; empty when there is no such file.
std::vector<uint16_t> ChainOf(const std::vector<uint8_t>& image, const std::string& name11,
                              MediaType type = kMedia144M);

// The clusters marked BAD in one FAT copy of a diskette image.
std::vector<uint16_t> BadClusters(const std::vector<uint8_t>& image, unsigned copy, MediaType type = kMedia144M);

// A track read or write as the drive was asked for it, in absolute sectors.
struct TrackTransfer {
    uint32_t first;
    uint32_t count;
    bool failed;
    bool operator==(const TrackTransfer&) const = default;
};

void PrintTo(const TrackTransfer& t, std::ostream* os);

// A diskette made by mkfs.fat and filled by mcopy, then damaged as a case says (sectors
// recorded with a data error, clusters already marked BAD) and kept in an ImageDisk file,
// which holds the damage, for the repair operation to work on in drive A:.
struct DamagedDiskette : ::testing::Test {
    MediaType type = kMedia144M;  // set before Make
    TempDir dir;
    std::string made = dir.File("made.img");
    std::string damaged = dir.File("damaged.imd");
    std::string repaired = dir.File("repaired.img");
    std::vector<SourceFile> files;
    std::vector<uint8_t> before;  // the diskette as the tools made it, before any damage
    std::vector<uint8_t> after;   // the diskette after the repair, in sector order
    std::optional<EmulatedMedium> afterMedium;
    std::optional<uint32_t> lostSector;

    ScriptedHost host;
    RepairJob job;
    // Injected by the recorder in front of the diskette file, where the file cannot say it.
    std::function<std::optional<InjectedFault>(const DiskRequest&)> faultHook;
    // Runs once the damaged diskette file is written, before drive A: is bound to it.
    std::function<void()> beforeBinding;
    std::vector<LoggedRequest> log;
    OperationOutcome outcome;
    // The drives the job sees; they outlive the run.
    DriveTable table;
    std::unique_ptr<EmulatedSetup> emulated;

    static constexpr const char* kSound = "repaired.wav";

    void SetUp() override;

    // mkfs.fat (mformat for 21-sector media) with this label (none when empty), then the
    // three files, each checked to begin right after the one before.
    void Make(const std::string& label = "");
    // Marks clusters BAD in both FAT copies of the made diskette.
    void MarkBad(const std::vector<uint16_t>& clusters);
    // The sector is recorded with a data error.
    void Lose(uint32_t sector) { lostSector = sector; }
    // The sector reads well once, then fails with a data error at every later read: a
    // marginal sector, which a diskette file cannot hold. The system-area pass reads the
    // whole track where the root directory ends, so only such a sector brings the data
    // pass an error on that track.
    void Weaken(uint32_t sector);
    // Changes the made diskette's sector 0.
    void EditBootSector(const std::function<void(std::span<uint8_t>)>& edit);

    // Runs the repair on the damaged diskette file in drive A: and reads the file back.
    OperationOutcome Run();
    // Runs it on an emulated drive holding the damaged diskette, with `defects` added to
    // the medium (what no diskette file keeps).
    OperationOutcome RunInEmulatedDrive(const std::function<void(EmulatedMedium&)>& defects);

    // The sectors of the made and the repaired diskette.
    std::span<const uint8_t> Before(uint32_t sector) const;
    std::span<const uint8_t> After(uint32_t sector) const;
    // The sectors that differ between the made and the repaired diskette.
    std::vector<uint32_t> ChangedSectors() const;

    std::vector<TrackTransfer> Transfers(uint8_t minor) const;
    // The tracks formatted, as (cylinder, head).
    std::vector<std::pair<int, int>> FormattedTracks() const;

    const SourceFile& File(const std::string& name) const;

private:
    void ReadBack();
};

// Bytes that are neither zero nor any sector's content: what the track buffer held
// before the operation.
constexpr uint8_t kStaleByte = 0xA5;

}  // namespace vokta::test
