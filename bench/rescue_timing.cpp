// SPDX-License-Identifier: GPL-3.0-or-later
// Modelled seconds of a rescue read of a 1.44M diskette with 20 bad sectors on 8 tracks,
// 3 passes and 3 retries, on the emulated drive, whose model clock charges every request
// and every head move what the drive and controller would take. Beside it the mechanical
// minimum: every track read once in one sweep from a standing motor, and every further
// read the job asks of a bad sector one revolution, a retry's head moves out and back on
// top (the recalibrate to track 0, or the step to the next cylinder). And the count of the
// reads of sectors that had read well already, which a rescue never needs. No wall time
// is measured. The controller tries a failing sector 3 times, a revolution each, before it
// answers; the last row has it give up at the first failure, as the minimum does.
#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "drive/backend/emulated/emulateddrive.h"
#include "drive/drivetable.h"
#include "drive/media.h"
#include "mechanicalminimum.h"
#include "quiethost.h"
#include "rescue/rescue.h"
#include "support/tempdir.h"
#include "support/testdrives.h"

using namespace vokta;

namespace {

constexpr unsigned kPasses = 3;
constexpr unsigned kRetries = 3;
// The rescue's time over the minimum that holds.
constexpr double kTarget = 1.5;

struct BadTrack {
    uint16_t cylinder;
    uint8_t head;
    std::vector<uint8_t> sectors;
};

// 20 sectors on 8 tracks spread over the diskette, clear of the system area.
const std::vector<BadTrack> kBadTracks = {
    {5, 0, {2, 9, 17}},  {12, 1, {2, 9, 17}}, {23, 0, {2, 9, 17}}, {34, 1, {2, 9, 17}},
    {45, 0, {5, 14}},    {56, 1, {5, 14}},    {67, 0, {5, 14}},    {78, 1, {5, 14}},
};

// A sector that reads after this many failed reads; 0 for one that never reads.
using Faults = std::map<PhysicalSector, unsigned>;

Faults FaultsOf(bool halfTransient)
{
    Faults faults;
    size_t i = 0;
    for (const BadTrack& t : kBadTracks)
        for (const uint8_t number : t.sectors)
            faults[{t.cylinder, t.head, number}] = halfTransient && i++ % 2 == 1 ? 1 : 0;
    return faults;
}

struct Measured {
    DriveCounters counted;
    double minimumMs = 0;
    // Passes of the head over a sector's data after it had read well there, whether or not
    // the request delivered it (a track request that fails delivers none of its sectors).
    uint64_t goodRereads = 0;
    // Requests for a sector the rescue already held, once its start had read the boot sector.
    int heldRereads = 0;
    uint32_t recovered = 0;
    uint32_t unread = 0;
    size_t expectedUnread = 0;
    int result = 0;
};

// The minimum of reading every track once, and of each further read the job asks of the
// bad sectors: a sector that never reads is read again in every later pass, once and on
// each retry; one that fails n reads is read n more times.
double MinimumMs(const Mechanics& m, const MediaGeometry& g, const Faults& faults)
{
    double ms = vokta::MinimumMs(m, g, {double(g.cylinders) * g.heads, 1}, 0);
    for (const auto& [at, failures] : faults) {
        if (failures != 0) {
            ms += failures * m.revolutionMs;
            continue;
        }
        for (unsigned pass = 2; pass <= kPasses; ++pass) {
            ms += m.revolutionMs;
            for (unsigned retry = 1; retry <= kRetries; ++retry) {
                const int away = retry % 2 == 1 ? at.cylinder : 1;
                ms += m.revolutionMs + 2 * m.MoveMs(away);
            }
        }
    }
    return ms;
}

// The reads beyond those a sector needed to read well once.
uint64_t GoodRereads(const std::map<PhysicalSector, unsigned>& reads, const Faults& faults)
{
    uint64_t rereads = 0;
    for (const auto& [at, count] : reads) {
        const auto fault = faults.find(at);
        if (fault != faults.end() && fault->second == 0)
            continue;
        const unsigned needed = fault == faults.end() ? 1 : fault->second + 1;
        rereads += count > needed ? count - needed : 0;
    }
    return rereads;
}

Measured Rescue(const Faults& faults, int controllerAttempts)
{
    const MediaGeometry g = *GeometryOf(kMedia144M);
    auto drive = std::make_shared<EmulatedDrive>(DriveKind::Floppy35HD, 1);
    EmulatedMedium medium = EmulatedMedium::FromImage(kMedia144M, test::FatImage(kMedia144M));
    for (const auto& [at, failures] : faults) {
        if (failures == 0)
            medium.defects.insert(at);
        else
            medium.transientDefects[at] = failures;
    }
    drive->Insert(std::move(medium));
    drive->clock.m.failedSectorAttempts = controllerAttempts;
    DriveTable table;
    const std::shared_ptr<test::RecordingService> requests = test::BindRecorded(table, 'A', ShareService(drive));
    QuietHost host;
    host.rest = [&drive](int ms) { drive->clock.Idle(ms); };
    const test::TempDir dir;
    RescueJob job;
    job.driveText = "A:";
    job.imagePath = dir.File("rescue.img");
    job.passes = kPasses;
    job.retries = kRetries;
    job.drives = table;

    // The rescue starts after a pause of the user's: the motor has stopped.
    drive->clock.Idle(60000);
    drive->clock.ResetCounters();
    drive->sectorReads.clear();
    const OperationOutcome outcome = RescueWorker(std::move(job), host);
    const DriveMechanics& d = drive->clock.m;
    const Mechanics m{d.motorStartMs, d.StepMs(), d.settleMs, d.RevolutionMs()};
    Measured measured;
    measured.counted = drive->clock.counters();
    measured.minimumMs = MinimumMs(m, g, faults);
    measured.goodRereads = GoodRereads(drive->sectorReads, faults);
    measured.heldRereads = test::RereadsOfSectorsReadWell(
        test::ReadsAfterLayoutCheck(*requests, g.sectorsPerTrack, g.heads), g.sectorsPerTrack, g.heads);
    measured.recovered = outcome.figures.sectorsRecovered;
    measured.unread = outcome.figures.sectorsIgnored;
    measured.expectedUnread = static_cast<size_t>(std::ranges::count(faults, 0u, &Faults::value_type::second));
    measured.result = outcome.result;
    return measured;
}

void PrintRow(const char* name, const Measured& m)
{
    const double ratio = m.counted.milliseconds / m.minimumMs;
    std::printf("%-26s %8.1f %6.0f %6llu %8.1f %6.2f %-11s %6d %-9s %7llu %9u %3u of %-3zu %3d\n", name,
                m.counted.milliseconds / 1000, m.counted.revolutions,
                static_cast<unsigned long long>(m.counted.steps), m.minimumMs / 1000, ratio,
                (std::string("<=1.50 ") + Verdict(ratio, kTarget)).c_str(), m.heldRereads,
                m.heldRereads == 0 ? "0 held" : "0 MISSED", static_cast<unsigned long long>(m.goodRereads),
                m.recovered, m.unread, m.expectedUnread, m.result);
}

}  // namespace

int main()
{
    std::printf("Rescue of a 1.44M diskette, 20 bad sectors on 8 tracks, %u passes, %u retries\n", kPasses, kRetries);
    std::printf("%-26s %8s %6s %6s %8s %6s %-11s %6s %-9s %7s %9s %-10s %3s\n", "bad sectors", "seconds", "revs",
                "steps", "minimum", "ratio", "target", "reread", "target", "passes", "recovered", "unread", "res");
    PrintRow("all persistent", Rescue(FaultsOf(false), 3));
    PrintRow("half transient", Rescue(FaultsOf(true), 3));
    PrintRow("all persistent, 1 attempt", Rescue(FaultsOf(false), 1));
    return 0;
}
