// SPDX-License-Identifier: GPL-3.0-or-later
// Modelled seconds and revolutions of each whole-diskette operation on a real PC drive, per
// medium and layout: the real operations run on the emulated drive, whose model clock
// charges every request what the drive and controller would take, and on a drive of an
// emulated Greaseweazle, whose clock charges every command what the device and its drive
// would take. Beside each figure, the mechanical minimum of the same work: one revolution a
// track pass (as many as the layout's interleave on a controller, which reads a track's
// sectors in number order), the steps and settling of each sweep over the cylinders, one
// motor start. No wall time is measured.
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "drive/backend/emulated/emulateddrive.h"
#include "drive/drivetable.h"
#include "drive/media.h"
#include "fat/repair.h"
#include "format/format.h"
#include "image/duplicate.h"
#include "mechanicalminimum.h"
#include "quiethost.h"
#include "drive/backend/greaseweazle/gwdrive.h"
#include "support/fluxdiskettes.h"
#include "support/greaseweazleemulator.h"

using namespace vokta;

namespace {

struct Medium {
    MediaType type;
    DriveKind drive;
    MediumDensity density;
    double rateKbit;
};

// The emulated Greaseweazle's sample clock.
constexpr double kFluxTicksPerMs = 72'000;

struct Measured {
    std::string operation;
    DriveCounters counted;
    double minimumMs;
    double target;  // the highest ratio to the minimum that holds; 0 for none
    int result;
};

struct Row {
    const Medium* medium;
    bool optimized;
    Measured m;
};

// A drive on an emulated Greaseweazle with a blank diskette in it.
std::unique_ptr<test::GreaseweazleEmulator> FluxDevice(DriveKind kind)
{
    auto device = std::make_unique<test::GreaseweazleEmulator>();
    device->Insert(test::FluxDisketteOf(EmulatedMedium(MediumDensity::High), kind));
    return device;
}

class Bench {
public:
    enum class Through { Controller, Greaseweazle };

    Bench(const Medium& medium, bool optimized, Through through = Through::Controller)
        : medium_(medium), g_(*GeometryOf(medium.type)), optimized_(optimized),
          drive_(std::make_shared<EmulatedDrive>(medium.drive, 1))
    {
        if (through == Through::Greaseweazle) {
            flux_ = FluxDevice(medium.drive);
            table_.Bind(GreaseweazleBinding('A', flux_->path(), medium.drive));
            return;
        }
        drive_->Insert(EmulatedMedium(medium.density));
        table_.Bind(DriveBinding{'A', SystemDriveType::Removable, "", [d = drive_] {
                                     return DriveOpenResult{ShareService(d), Err::None, {}};
                                 }});
        host_.rest = [this](int ms) { drive_->clock.Idle(ms); };
    }

    std::vector<Measured> Run()
    {
        const double tracks = double(g_.cylinders) * g_.heads;
        std::vector<Measured> rows;
        // A flux device writes a track from the index and reads it back at once: no
        // revolution waits for a sector to come round.
        const double formatTarget = flux_ ? 1.10 : 1.15;
        rows.push_back(Measure("Format + verify", {2 * tracks, 2}, formatTarget, [&] { return Format(true); }));
        rows.push_back(Measure("Quick format", {SystemAreaTrackPasses(), 0}, 0, [&] { return Format(false); }));
        rows.push_back(Measure("Read Disk", {tracks, 1}, 1.10, [&] { return ReadDiskWorker(Job(true), host_).result; }));
        ChangeDataArea();
        // A flux device reads every track it wrote back.
        rows.push_back(Measure("Write Disk", {flux_ ? 2 * tracks : tracks, 1}, flux_ ? 0 : 1.10,
                               [&] { return WriteDiskWorker(Job(false), host_).result; }));
        ChangeDataArea();
        rows.push_back(Measure("Write + verify", {flux_ ? 3 * tracks : 2 * tracks, 1}, 0,
                               [&] { return WriteDiskWorker(Job(true), host_).result; }));
        rows.push_back(Measure("Compare", {tracks, 1}, 1.10, [&] { return CompareWorker(Job(true), host_).result; }));
        rows.push_back(Measure("Repair (clean)", {tracks, 1}, 0, [&] { return Repair(); }));
        return rows;
    }

    // Read Disk of this bench's image on a diskette whose tracks lie as `order` gives.
    Measured ReadLaidOut(const std::function<std::vector<uint16_t>(uint16_t, uint16_t)>& order)
    {
        EmulatedMedium medium = EmulatedMedium::FromImage(medium_.type, image_->data);
        for (uint16_t c = 0; c < g_.cylinders; ++c)
            for (uint16_t h = 0; h < g_.heads; ++h) {
                std::vector<SectorRecord> laidOut;
                for (uint16_t number : order(c, h))
                    laidOut.push_back(*medium.Find(c, static_cast<uint8_t>(h), static_cast<uint8_t>(number)));
                medium.track(c, static_cast<uint8_t>(h)).sectors = std::move(laidOut);
            }
        drive_->Insert(std::move(medium));
        const double tracks = double(g_.cylinders) * g_.heads;
        return Measure("Read Disk", {tracks, 1}, 1.10, [&] { return ReadDiskWorker(Job(true), host_).result; });
    }

private:
    Measured Measure(const char* name, Work work, double target, const std::function<int()>& run)
    {
        if (flux_)
            return MeasureFlux(name, work, target, run);
        // Each operation starts after a pause of the user's: the motor has stopped.
        drive_->clock.Idle(60000);
        drive_->clock.ResetCounters();
        const uint16_t from = drive_->clock.cylinder();
        const int result = run();
        DriveMechanics m = drive_->clock.m;
        m.dataRateKbit = medium_.rateKbit;
        // A controller reads a track's sectors in number order: an interleave of 2 takes two turns.
        work.trackPasses *= g_.interleave;
        const Mechanics minimum{m.motorStartMs, m.StepMs(), m.settleMs, m.RevolutionMs()};
        return {name, drive_->clock.counters(), MinimumMs(minimum, g_, work, from), target, result};
    }

    // The device's clock from its first command of the operation to its last; the drive's
    // motor stops when the operation lets the drive go.
    Measured MeasureFlux(const char* name, Work work, double target, const std::function<int()>& run)
    {
        const uint64_t start = flux_->elapsedTicks();
        const auto from = static_cast<uint16_t>(flux_->cylinder());
        const int result = run();
        const test::GreaseweazleModel model;
        const double revolutionMs = medium_.drive == DriveKind::Floppy525HD ? 1000.0 / 6 : 200;
        DriveCounters counted;
        counted.milliseconds = static_cast<double>(flux_->elapsedTicks() - start) / kFluxTicksPerMs;
        counted.revolutions = counted.milliseconds / revolutionMs;
        const Mechanics minimum{model.spinUpMicroseconds / 1000.0, model.stepMicroseconds / 1000.0,
                                model.settleMicroseconds / 1000.0, revolutionMs};
        return {name, counted, MinimumMs(minimum, g_, work, from), target, result};
    }

    int Format(bool full)
    {
        FormatJob job;
        job.inputs->driveText = "A:";
        job.inputs->media = medium_.type;
        job.inputs->optimized = optimized_;
        job.inputs->full = full;
        job.inputs->verify = full;
        job.drives = table_;
        return FormatWorker(std::move(job), host_).result;
    }

    int Repair()
    {
        RepairJob job;
        job.inputs->driveText = "A:";
        job.drives = table_;
        return RepairWorker(std::move(job), host_).result;
    }

    DuplicateJob Job(bool verify)
    {
        DuplicateJob job;
        job.driveText = "A:";
        job.image = image_;
        job.verifyAfterWrite = verify;
        job.drives = table_;
        return job;
    }

    // The boot sector, FATs and root directory; the 21-sector media also format cylinder 0.
    double SystemAreaTrackPasses() const
    {
        const double system = g_.reservedSectors + double(g_.fatCount) * g_.sectorsPerFat + g_.rootEntries * 32.0 / 512;
        return std::ceil(system / g_.sectorsPerTrack) + (g_.sectorsPerTrack == 21 ? g_.heads : 0);
    }

    // Every write then changes every data sector, as a copy of another diskette would.
    void ChangeDataArea()
    {
        const size_t from = 512 * (g_.reservedSectors + size_t{g_.fatCount} * g_.sectorsPerFat + g_.rootEntries / 16);
        for (size_t i = from; i < image_->data.size(); ++i)
            image_->data[i] = static_cast<uint8_t>(image_->data[i] + i * 7 + 1);
    }

    const Medium& medium_;
    MediaGeometry g_;
    bool optimized_;
    std::shared_ptr<EmulatedDrive> drive_;
    std::unique_ptr<test::GreaseweazleEmulator> flux_;
    DriveTable table_;
    QuietHost host_;
    std::shared_ptr<DiskImage> image_ = std::make_shared<DiskImage>();
};

// The Linux floppy driver's format (drivers/block/floppy.c, setup_format_params): sector 1
// of a track lies at slot (track_shift * cylinder + head_shift * head) mod n, with
// head_shift = (n + 5) / 6 and track_shift = 2 * head_shift + 3; interleave 1 up to 18
// sectors.
std::vector<uint16_t> LinuxFormatOrder(uint16_t n, uint16_t cylinder, uint16_t head)
{
    const unsigned headShift = (n + 5u) / 6;
    const unsigned trackShift = 2 * headShift + 3;
    const unsigned first = (trackShift * cylinder + headShift * head) % n;
    std::vector<uint16_t> order(n);
    for (uint16_t r = 1; r <= n; ++r)
        order[(first + r - 1) % n] = r;
    return order;
}

void PrintRow(const Medium& medium, const char* layout, const Measured& m, bool judged)
{
    const double revMs = m.counted.milliseconds / m.counted.revolutions;
    const double ratio = m.counted.milliseconds / m.minimumMs;
    std::string target;
    if (m.target != 0 && judged)
        target = std::string(Verdict(ratio, m.target)) + " " + std::to_string(std::lround((m.target - 1) * 100)) + "%";
    std::printf("%-15s %-9s %-16s %8.1f %6.0f %5llu %6.1f %5.0f %6.2f %-11s%s\n",
                std::string(GetMediaTypeName(medium.type)).c_str(), layout, m.operation.c_str(),
                m.counted.milliseconds / 1000, m.counted.revolutions, static_cast<unsigned long long>(m.counted.steps),
                m.minimumMs / 1000, m.minimumMs / revMs, ratio, target.c_str(),
                m.result == kResultDone ? "" : "  (the operation did not end OK)");
}

}  // namespace

int main()
{
    const Medium media[] = {
        {kMedia720K, DriveKind::Floppy35HD, MediumDensity::Double, 250},
        {kMedia12M, DriveKind::Floppy525HD, MediumDensity::High, 500},
        {kMedia144M, DriveKind::Floppy35HD, MediumDensity::High, 500},
        {kMedia168M, DriveKind::Floppy35HD, MediumDensity::High, 500},
        {kMedia172M, DriveKind::Floppy35HD, MediumDensity::High, 500},
    };
    std::vector<Row> rows;
    std::printf("%-15s %-9s %-16s %8s %6s %5s %6s %5s %6s %s\n", "medium", "layout", "operation", "seconds", "revs",
                "steps", "min s", "min", "ratio", "target");
    for (const Medium& medium : media)
        for (bool optimized : {false, true}) {
            Bench bench(medium, optimized);
            for (const Measured& m : bench.Run()) {
                rows.push_back({&medium, optimized, m});
                PrintRow(medium, optimized ? "optimized" : "standard", m, optimized);
            }
            if (medium.type == kMedia144M && optimized)
                PrintRow(medium, "Linux fmt", bench.ReadLaidOut([](uint16_t c, uint16_t h) {
                    return LinuxFormatOrder(18, c, h);
                }), false);
        }

    std::printf("\nThrough a Greaseweazle\n");
    for (const Medium& medium : media)
        for (bool optimized : {false, true}) {
            Bench bench(medium, optimized, Bench::Through::Greaseweazle);
            for (const Measured& m : bench.Run())
                PrintRow(medium, optimized ? "optimized" : "standard", m, true);
        }

    std::printf("\nThe optimized layout's saving against the standard layout\n");
    for (const Row& standard : rows) {
        if (standard.optimized)
            continue;
        for (const Row& optimized : rows) {
            if (!optimized.optimized || optimized.medium != standard.medium || optimized.m.operation != standard.m.operation)
                continue;
            const double saving = 1 - optimized.m.counted.milliseconds / standard.m.counted.milliseconds;
            const bool targeted = standard.medium->type == kMedia144M && standard.m.operation == "Read Disk";
            std::printf("%-15s %-16s %5.0f%%%s\n", std::string(GetMediaTypeName(standard.medium->type)).c_str(),
                        standard.m.operation.c_str(), saving * 100,
                        targeted ? (saving >= 0.25 ? "  target 25%: held" : "  target 25%: MISSED") : "");
        }
    }
    return 0;
}
