// SPDX-License-Identifier: GPL-3.0-or-later
// The Greaseweazle client against the emulated device on a pseudo-terminal, what its
// failures come to, and finding devices in a sysfs tree.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "drive/backend/files/fluxmedium.h"
#include "drive/backend/greaseweazle/greaseweazle.h"
#include "mfm/decode.h"
#include "mfm/encode.h"
#include "support/fluxdiskettes.h"
#include "support/greaseweazleemulator.h"
#include "support/tempdir.h"
#include "support/unprivileged.h"

using namespace vokta;
using namespace vokta::gw;
using namespace vokta::test;

namespace {

using Kind = GwStatus::Kind;
constexpr uint32_t kTurn = 14'400'000;

struct Greaseweazle : ::testing::Test {
    GreaseweazleEmulator emulator;
    std::unique_ptr<GreaseweazleDevice> device;
    FluxDiskette disk = FluxDiskette::Random(3, 2, kTurn, 7);

    explicit Greaseweazle(GreaseweazleModel model = {}) : emulator(model) {}

    void SetUp() override
    {
        emulator.Insert(disk);
        GreaseweazleDevice::Opened opened = GreaseweazleDevice::Open(emulator.path(), {2'000, 3});
        ASSERT_TRUE(opened.device) << opened.detail;
        device = std::move(opened.device);
    }
    // Bus, unit 0, motor on, at `cylinder` and `head`.
    void Ready(int cylinder = 0, uint8_t head = 0)
    {
        ASSERT_TRUE(device->SetBusType(BusType::IbmPc));
        ASSERT_TRUE(device->Select(0));
        ASSERT_TRUE(device->Motor(0, true));
        ASSERT_TRUE(device->Seek(cylinder));
        ASSERT_TRUE(device->Head(head));
    }
};

TEST_F(Greaseweazle, OpeningClearsTheLineAndReadsTheFirmware)
{
    EXPECT_GT(emulator.clears(), 0);
    EXPECT_EQ(device->info().sampleHz, 72'000'000u);
    EXPECT_EQ(device->info().major, 1);
    EXPECT_EQ(device->info().minor, 4);
    EXPECT_EQ(ModelName(device->info()), "Greaseweazle F7");
    EXPECT_EQ(emulator.commands(), (std::vector<uint8_t>{Cmd::GetInfo}));
}

TEST_F(Greaseweazle, ReadsGiveBackTheRevolutionsOnTheTrack)
{
    const std::pair<int, int> tracks[] = {{0, 0}, {2, 1}, {1, 0}};
    for (const auto& [cylinder, head] : tracks) {
        Ready(cylinder, static_cast<uint8_t>(head));
        for (const size_t turns : {1u, 2u, 3u}) {
            SCOPED_TRACE(::testing::Message() << "cylinder " << cylinder << " head " << head << ", " << turns);
            FluxRead flux;
            ASSERT_TRUE(device->ReadFlux({static_cast<uint16_t>(turns), 0}, flux));
            EXPECT_EQ(flux.indexes.size(), turns + 1);
            const std::vector<Revolution> revolutions = CutRevolutions(flux);
            ASSERT_EQ(revolutions.size(), turns);
            for (const Revolution& r : revolutions) {
                EXPECT_EQ(r.ticks, kTurn);
                EXPECT_TRUE(r.intervals == disk.track(static_cast<uint16_t>(cylinder), static_cast<uint8_t>(head)));
            }
        }
    }
    EXPECT_EQ(emulator.cylinder(), 1);
}

TEST_F(Greaseweazle, AReadOfTicksStopsThere)
{
    Ready();
    FluxRead flux;
    ASSERT_TRUE(device->ReadFlux({0, kTurn / 4}, flux));
    uint64_t total = 0;
    for (const uint32_t interval : flux.intervals)
        total += interval;
    EXPECT_LE(total, kTurn / 4);
    EXPECT_FALSE(flux.intervals.empty());
}

TEST_F(Greaseweazle, WhatIsWrittenReadsBack)
{
    Ready(1, 1);
    // Data all round, no gap long enough for the device to write it as a no-flux area.
    std::vector<uint32_t> track;
    uint64_t total = 0;
    for (uint32_t i = 0; kTurn - total >= 10'000 + 144; ++i) {
        track.push_back(i % 101 == 0 ? 9'000 + i % 1'000 : i % 7 == 0 ? 300 + i % 1'200 : 144 + (i % 3) * 72);
        total += track.back();
    }
    track.push_back(static_cast<uint32_t>(kTurn - total));
    ASSERT_TRUE(device->WriteFlux(track, {true, true}));
    EXPECT_TRUE(emulator.diskette()->track(1, 1) == track);
    FluxRead flux;
    ASSERT_TRUE(device->ReadFlux({2, 0}, flux));
    for (const Revolution& r : CutRevolutions(flux))
        EXPECT_TRUE(r.intervals == track);
    // The other tracks are as they were.
    EXPECT_TRUE(emulator.diskette()->track(1, 0) == disk.track(1, 0));
}

TEST_F(Greaseweazle, AnEraseLeavesNoFluxBehind)
{
    Ready(2, 0);
    ASSERT_TRUE(device->Erase(2 * kTurn));
    EXPECT_TRUE(emulator.diskette()->track(2, 0).empty());
    FluxRead flux;
    ASSERT_TRUE(device->ReadFlux({1, 0}, flux));
    EXPECT_TRUE(flux.intervals.empty());
}

struct Refusal {
    const char* what;
    std::function<void(GreaseweazleEmulator&)> arrange;
    std::function<GwStatus(GreaseweazleDevice&)> act;
    uint8_t ack;
    DiskError error;
    GreaseweazleModel model{};
};

TEST_F(Greaseweazle, RefusalsComeBackAsTheirAckAndDiskError)
{
    auto ready = [](GreaseweazleDevice& d) {
        return d.SetBusType(BusType::IbmPc) && d.Select(0) && d.Motor(0, true) && d.Seek(0);
    };
    const std::vector<uint32_t> some{144, 216, 288};
    const Refusal cases[] = {
        {"select without a bus", nullptr, [](GreaseweazleDevice& d) { return d.Select(0); }, Ack::NoBus, Err::InvalidDrive},
        {"select of unit 2", nullptr,
         [](GreaseweazleDevice& d) { return d.SetBusType(BusType::IbmPc) ? d.Select(2) : GwStatus(); }, Ack::BadUnit,
         Err::InvalidDrive},
        {"seek without a unit", nullptr, [](GreaseweazleDevice& d) { return d.Seek(3); }, Ack::NoUnit, Err::InvalidDrive},
        {"seek past the last cylinder", nullptr,
         [&](GreaseweazleDevice& d) { return ready(d) ? d.Seek(84) : GwStatus(); }, Ack::BadCylinder, Err::EndOfDisk},
        {"seek below 0", nullptr, [&](GreaseweazleDevice& d) { return ready(d) ? d.Seek(-1) : GwStatus(); },
         Ack::BadCylinder, Err::EndOfDisk},
        {"seek beyond a signed byte", nullptr, [&](GreaseweazleDevice& d) { return d.Seek(300); }, Ack::BadCylinder,
         Err::EndOfDisk},
        {"head 2", nullptr, [](GreaseweazleDevice& d) { return d.Head(2); }, Ack::BadCommand, Err::InvalidFunction},
        {"a read without end", nullptr,
         [](GreaseweazleDevice& d) {
             FluxRead flux;
             return d.ReadFlux({0, 0}, flux);
         },
         Ack::BadCommand, Err::InvalidFunction},
        {"read without a diskette", [](GreaseweazleEmulator& e) { e.Eject(); },
         [&](GreaseweazleDevice& d) {
             FluxRead flux;
             return ready(d) ? d.ReadFlux({1, 0}, flux) : GwStatus();
         },
         Ack::NoIndex, Err::NotReady},
        {"read with the motor off", nullptr,
         [&](GreaseweazleDevice& d) {
             FluxRead flux;
             return ready(d) && d.Motor(0, false) ? d.ReadFlux({1, 0}, flux) : GwStatus();
         },
         Ack::NoIndex, Err::NotReady},
        {"write without a diskette", [](GreaseweazleEmulator& e) { e.Eject(); },
         [&](GreaseweazleDevice& d) { return ready(d) ? d.WriteFlux(some) : GwStatus(); }, Ack::NoIndex, Err::NotReady},
        {"write on a protected diskette", [](GreaseweazleEmulator& e) { e.SetWriteProtected(true); },
         [&](GreaseweazleDevice& d) { return ready(d) ? d.WriteFlux(some) : GwStatus(); }, Ack::WriteProtected,
         Err::WriteProtect},
        {"erase of a protected diskette", [](GreaseweazleEmulator& e) { e.SetWriteProtected(true); },
         [&](GreaseweazleDevice& d) { return ready(d) ? d.Erase(1000) : GwStatus(); }, Ack::WriteProtected,
         Err::WriteProtect},
        {"read of revolutions from a drive without index pulses", nullptr,
         [&](GreaseweazleDevice& d) {
             FluxRead flux;
             return ready(d) ? d.ReadFlux({1, 0}, flux) : GwStatus();
         },
         Ack::NoIndex, Err::NotReady, GreaseweazleModel{.indexPulse = false}},
        {"write cued at the index of a drive without index pulses", nullptr,
         [&](GreaseweazleDevice& d) { return ready(d) ? d.WriteFlux(some) : GwStatus(); }, Ack::NoIndex, Err::NotReady,
         GreaseweazleModel{.indexPulse = false}},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.what);
        GreaseweazleEmulator fresh(c.model);
        fresh.Insert(disk);
        if (c.arrange)
            c.arrange(fresh);
        GreaseweazleDevice::Opened opened = GreaseweazleDevice::Open(fresh.path(), {2'000, 3});
        ASSERT_TRUE(opened.device);
        const GwStatus status = c.act(*opened.device);
        EXPECT_TRUE(status.Refused(c.ack)) << status.Text();
        EXPECT_EQ(status.error(), c.error);
        EXPECT_FALSE(status.Text().empty());
    }
}

TEST_F(Greaseweazle, ProtectedDisketteKeepsItsFlux)
{
    emulator.SetWriteProtected(true);
    Ready();
    bool protectedTab = false;
    ASSERT_TRUE(device->WriteProtected(protectedTab));
    EXPECT_TRUE(protectedTab);
    EXPECT_FALSE(device->WriteFlux(std::vector<uint32_t>{144, 144}));
    EXPECT_FALSE(device->Erase(kTurn));
    EXPECT_TRUE(emulator.diskette()->track(0, 0) == disk.track(0, 0));
    emulator.SetWriteProtected(false);
    ASSERT_TRUE(device->WriteProtected(protectedTab));
    EXPECT_FALSE(protectedTab);
}

// What the model's clock charges at 72 MHz: every command its latency, a seek 3 ms a
// cylinder and 15 ms to settle, the motor 500 ms to spin up, flux transfers their length,
// and the firmware's two seconds when it waits for an index pulse in vain.
constexpr uint64_t kCommand = 7'919;
constexpr uint64_t kStep = 216'000;
constexpr uint64_t kSettle = 1'080'000;
constexpr uint64_t kSpinUp = 36'000'000;
constexpr uint64_t kIndexWait = 144'000'000;
constexpr uint64_t kLinger = 36'000;
constexpr uint64_t kFinal = 7'200;  // the interval a write ends with, never written

// Ticks from a command that arrives at `before` to the next index pulse: what a cued
// write waits (none when it comes on the pulse), and where a read sees its first (a pulse
// at the very start is no pulse the read counts).
uint64_t ToIndex(uint64_t before)
{
    return (kTurn - (before + kCommand) % kTurn) % kTurn;
}
uint64_t ToPulse(uint64_t before)
{
    return kTurn - (before + kCommand) % kTurn;
}

struct Charge {
    const char* what;
    std::function<bool(GreaseweazleDevice&)> arrange;
    std::function<bool(GreaseweazleDevice&)> act;
    std::function<uint64_t(uint64_t)> cost;  // of the act, from the clock before it
};

TEST_F(Greaseweazle, EveryCommandIsChargedWhatItTakesOnADrive)
{
    auto at = [](int cylinder) {
        return [cylinder](GreaseweazleDevice& d) {
            return d.SetBusType(BusType::IbmPc) && d.Select(0) && d.Motor(0, true) && d.Seek(cylinder);
        };
    };
    auto constant = [](uint64_t ticks) { return [ticks](uint64_t) { return ticks; }; };
    std::vector<uint32_t> half(kTurn / 2 / 288, 288);
    const Charge cases[] = {
        {"a seek of 5 cylinders out", at(0), [](GreaseweazleDevice& d) { return bool(d.Seek(5)); },
         constant(kCommand + 5 * kStep + kSettle)},
        {"a seek of 2 cylinders in", at(5), [](GreaseweazleDevice& d) { return bool(d.Seek(3)); },
         constant(kCommand + 2 * kStep + kSettle)},
        {"a seek to where the head is", at(2), [](GreaseweazleDevice& d) { return bool(d.Seek(2)); },
         constant(kCommand)},
        {"the motor from standstill",
         [](GreaseweazleDevice& d) { return d.SetBusType(BusType::IbmPc) && d.Select(0); },
         [](GreaseweazleDevice& d) { return bool(d.Motor(0, true)); }, constant(kCommand + kSpinUp)},
        {"the motor already on", at(0), [](GreaseweazleDevice& d) { return bool(d.Motor(0, true)); },
         constant(kCommand)},
        {"the motor off", at(0), [](GreaseweazleDevice& d) { return bool(d.Motor(0, false)); }, constant(kCommand)},
        {"a head switch", at(1), [](GreaseweazleDevice& d) { return bool(d.Head(1)); }, constant(kCommand)},
        {"a read of a quarter turn and its status", at(0),
         [](GreaseweazleDevice& d) {
             FluxRead flux;
             return bool(d.ReadFlux({0, kTurn / 4}, flux));
         },
         constant(kCommand + kTurn / 4 + kCommand)},
        {"a read of two turns: to the index, two turns, the linger", at(1),
         [](GreaseweazleDevice& d) {
             FluxRead flux;
             return bool(d.ReadFlux({2, 0}, flux));
         },
         [](uint64_t before) { return kCommand + ToPulse(before) + 2 * kTurn + kLinger + kCommand; }},
        {"a read with the motor off waits for the index in vain", at(0),
         [](GreaseweazleDevice& d) {
             FluxRead flux;
             return d.Motor(0, false) && d.ReadFlux({1, 0}, flux).Refused(Ack::NoIndex);
         },
         constant(kCommand + kCommand + kIndexWait + kCommand)},
        {"an erase of two turns", at(0), [](GreaseweazleDevice& d) { return bool(d.Erase(2 * kTurn)); },
         constant(kCommand + 2 * kTurn + kCommand)},
        {"a write cued at the index", at(1),
         [&half](GreaseweazleDevice& d) { return bool(d.WriteFlux(half, {true, false})); },
         [](uint64_t before) { return kCommand + ToIndex(before) + kTurn / 2 + kFinal + kCommand; }},
        {"a write from where the head is", at(1),
         [&half](GreaseweazleDevice& d) { return bool(d.WriteFlux(half, {false, false})); },
         constant(kCommand + kTurn / 2 + kFinal + kCommand)},
        {"a write that stops at the index", at(1),
         [](GreaseweazleDevice& d) { return bool(d.WriteFlux(std::vector<uint32_t>(kTurn / 144, 288), {true, true})); },
         [](uint64_t before) { return kCommand + ToIndex(before) + kTurn + kCommand; }},
    };
    for (const Charge& c : cases) {
        SCOPED_TRACE(c.what);
        GreaseweazleEmulator fresh;
        fresh.Insert(disk);
        GreaseweazleDevice::Opened opened = GreaseweazleDevice::Open(fresh.path(), {3'000, 0});
        ASSERT_TRUE(opened.device);
        ASSERT_TRUE(c.arrange(*opened.device));
        const uint64_t before = fresh.elapsedTicks();
        ASSERT_TRUE(c.act(*opened.device));
        EXPECT_EQ(fresh.elapsedTicks() - before, c.cost(before));
    }
}

TEST_F(Greaseweazle, TheIndexComesWhenTheClockSaysTheDiskIsRound)
{
    Ready(1);
    // Reads of many lengths leave the disk at many angles; each one's first pulse is where
    // the clock puts it, and each read costs what it saw.
    for (const uint32_t ticks : {kTurn / 3, kTurn / 7, 1'234'567u, kTurn - 5u, 99u}) {
        SCOPED_TRACE(ticks);
        FluxRead flux;
        ASSERT_TRUE(device->ReadFlux({0, ticks}, flux));
        const uint64_t before = emulator.elapsedTicks();
        ASSERT_TRUE(device->ReadFlux({1, 0}, flux));
        ASSERT_EQ(flux.indexes.size(), 2u);
        EXPECT_EQ(flux.indexes[0], ToPulse(before));
        EXPECT_EQ((before + kCommand + flux.indexes[0]) % kTurn, 0u);
        EXPECT_EQ(emulator.elapsedTicks(), before + kCommand + flux.indexes[1] + kLinger + kCommand);
    }
}

TEST_F(Greaseweazle, DiskChangeHoldsUntilAStepWithADisketteIn)
{
    ASSERT_TRUE(device->SetBusType(BusType::IbmPc));
    ASSERT_TRUE(device->Select(0));
    std::optional<bool> changed;
    ASSERT_TRUE(device->DiskChanged(changed));
    EXPECT_EQ(changed, true);
    ASSERT_TRUE(device->Seek(1));
    ASSERT_TRUE(device->DiskChanged(changed));
    EXPECT_EQ(changed, false);
    emulator.Eject();
    ASSERT_TRUE(device->Seek(0));
    ASSERT_TRUE(device->DiskChanged(changed));
    EXPECT_EQ(changed, true);
    bool high = false;
    ASSERT_TRUE(device->GetPin(Pin::Track0, high));
    EXPECT_FALSE(high);
}

struct WithoutDiskChangeLine : Greaseweazle {
    WithoutDiskChangeLine() : Greaseweazle(GreaseweazleModel{.readsDiskChange = false}) {}
};

TEST_F(WithoutDiskChangeLine, TheChangeIsUnknownNotAFailure)
{
    ASSERT_TRUE(device->SetBusType(BusType::IbmPc));
    ASSERT_TRUE(device->Select(0));
    std::optional<bool> changed = true;
    EXPECT_TRUE(device->DiskChanged(changed));
    EXPECT_FALSE(changed.has_value());
}

struct WithoutDrive : Greaseweazle {
    WithoutDrive() : Greaseweazle(GreaseweazleModel{.drive = false}) {}
};

TEST_F(WithoutDrive, SeekFindsNoTrack0)
{
    ASSERT_TRUE(device->SetBusType(BusType::IbmPc));
    ASSERT_TRUE(device->Select(0));
    const GwStatus status = device->Seek(0);
    EXPECT_TRUE(status.Refused(Ack::NoTrack0));
    EXPECT_EQ(status.error(), Err::NotReady);
}

struct WithoutIndexPulse : Greaseweazle {
    WithoutIndexPulse() : Greaseweazle(GreaseweazleModel{.indexPulse = false}) {}
};

TEST_F(WithoutIndexPulse, ReadsOfTicksGoOnAndWhatWaitsForThePulseGivesUp)
{
    Ready(1);
    FluxRead flux;
    ASSERT_TRUE(device->ReadFlux({0, kTurn}, flux));
    EXPECT_TRUE(flux.indexes.empty());
    EXPECT_GT(flux.intervals.size(), 1'000u);
    // The firmware's two seconds, and the flux that passed in them, then NoIndex.
    uint64_t before = emulator.elapsedTicks();
    EXPECT_TRUE(device->ReadFlux({2, 0}, flux).Refused(Ack::NoIndex));
    EXPECT_EQ(emulator.elapsedTicks() - before, kCommand + kIndexWait + kCommand);
    // A write cued at the pulse writes nothing; one that starts where the head is lands.
    const std::vector<uint32_t> written(kTurn / 2 / 288, 288);
    before = emulator.elapsedTicks();
    EXPECT_TRUE(device->WriteFlux(written, {true, false}).Refused(Ack::NoIndex));
    EXPECT_EQ(emulator.elapsedTicks() - before, kCommand + kIndexWait + kCommand);
    EXPECT_TRUE(emulator.diskette()->track(1, 0) == disk.track(1, 0));
    ASSERT_TRUE(device->WriteFlux(written, {false, true}));
    EXPECT_FALSE(emulator.diskette()->track(1, 0) == disk.track(1, 0));
}

// Reads `turns` revolutions of the track under the head and decodes each on its own; the
// clock's number of the first is in `first`.
std::vector<mfm::RevolutionRead> ReadTurns(GreaseweazleDevice& device, const GreaseweazleEmulator& emulator,
                                           uint16_t turns, uint16_t cylinder, uint8_t head, uint64_t& first)
{
    const uint64_t before = emulator.elapsedTicks();
    FluxRead flux;
    EXPECT_TRUE(device.ReadFlux({turns, 0}, flux));
    if (flux.indexes.empty())
        return {};
    // The first pulse is where the clock completes a revolution.
    EXPECT_EQ((before + kCommand + flux.indexes[0]) % kTurn, 0u);
    first = (before + kCommand + flux.indexes[0]) / kTurn;
    std::vector<mfm::RevolutionRead> reads;
    for (Revolution& r : CutRevolutions(flux)) {
        const mfm::TrackFlux one{static_cast<double>(kGreaseweazleHz), {{std::move(r.intervals), r.ticks}}};
        const mfm::TrackRead read = mfm::DecodeTrack(one, {500, 300}, {static_cast<uint8_t>(cylinder), head, 2});
        reads.push_back(read.revolutions.empty() ? mfm::RevolutionRead{} : read.revolutions.front());
    }
    return reads;
}

TEST(GreaseweazleWeakStretch, TheSectorReadsBadInTheRevolutionsItIsDisturbedAndWellInTheOthers)
{
    const struct {
        uint32_t bad;
        uint32_t every;
        size_t slot;
        uint16_t turns;
    } cases[] = {
        {1, 2, 0, 6}, {2, 3, 7, 6}, {1, 3, 17, 6}, {3, 4, 4, 8}, {1, 1, 9, 3}, {0, 2, 9, 3},
    };
    const EmulatedMedium medium = EmulatedMedium::FromImage(kMedia144M, RandomBytes(1'474'560, 5));
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.bad << " of " << c.every << ", slot " << c.slot);
        FluxDiskette diskette = FluxDisketteOf(medium, DriveKind::Floppy35HD);
        diskette.weak.push_back(WeakSectorData(medium, DriveKind::Floppy35HD, 2, 1, c.slot, c.bad, c.every));
        GreaseweazleEmulator emulator;
        emulator.Insert(diskette);
        GreaseweazleDevice::Opened opened = GreaseweazleDevice::Open(emulator.path(), {3'000, 0});
        ASSERT_TRUE(opened.device);
        GreaseweazleDevice& device = *opened.device;
        ASSERT_TRUE(device.SetBusType(BusType::IbmPc) && device.Select(0) && device.Motor(0, true) &&
                    device.Seek(2) && device.Head(1));
        uint64_t first = 0;
        const std::vector<mfm::RevolutionRead> reads = ReadTurns(device, emulator, c.turns, 2, 1, first);
        ASSERT_EQ(reads.size(), c.turns);
        const uint8_t weak = medium.track(2, 1).sectors[c.slot].number;
        for (size_t i = 0; i < reads.size(); ++i) {
            SCOPED_TRACE(::testing::Message() << "revolution " << first + i);
            ASSERT_EQ(reads[i].sectors.size(), 18u);
            const bool disturbed = (first + i) % c.every < c.bad;
            for (const mfm::SectorRead& s : reads[i].sectors) {
                EXPECT_TRUE(s.idCrcOk);
                EXPECT_EQ(s.dataCrcOk, s.sector != weak || !disturbed) << "sector " << int{s.sector};
            }
        }
        // A write of the track does not cure the spot.
        const mfm::TrackFlux again = mfm::CellsToFlux(EncodeMediumTrack(medium.track(2, 1), DriveKind::Floppy35HD).cells,
                                                      {500, 300}, kGreaseweazleHz, 1);
        ASSERT_TRUE(device.WriteFlux(again.revolutions.front().intervals, {true, true}));
        const std::vector<mfm::RevolutionRead> after = ReadTurns(device, emulator, static_cast<uint16_t>(c.every), 2, 1, first);
        size_t bad = 0;
        for (const mfm::RevolutionRead& r : after)
            for (const mfm::SectorRead& s : r.sectors)
                bad += s.dataCrcOk ? 0 : 1;
        EXPECT_EQ(bad, c.bad);
    }
}

TEST_F(Greaseweazle, ADevicePulledOutMidReadIsGoneForGood)
{
    Ready();
    emulator.DropDuring(Cmd::ReadFlux, 5'000);
    FluxRead flux;
    const GwStatus status = device->ReadFlux({3, 0}, flux);
    EXPECT_EQ(status.kind(), Kind::Gone) << status.Text();
    EXPECT_EQ(status.error(), Err::NotReady);
    EXPECT_FALSE(status.Text().empty());
    EXPECT_EQ(device->Select(0).kind(), Kind::Gone);
}

TEST_F(Greaseweazle, ADevicePulledOutMidWriteIsGone)
{
    Ready();
    emulator.DropDuring(Cmd::WriteFlux, 0);
    EXPECT_EQ(device->WriteFlux(disk.track(0, 1)).kind(), Kind::Gone);
}

TEST_F(Greaseweazle, ASilentDeviceTimesOutAndTheNextCommandStartsClean)
{
    device.reset();  // one host on the line at a time
    GreaseweazleDevice::Opened opened = GreaseweazleDevice::Open(emulator.path(), {400, 0});
    ASSERT_TRUE(opened.device);
    GreaseweazleDevice& impatient = *opened.device;
    ASSERT_TRUE(impatient.SetBusType(BusType::IbmPc));
    ASSERT_TRUE(impatient.Select(0));
    emulator.SetAnswerDelay(60'000);
    const GwStatus status = impatient.Seek(2);
    EXPECT_EQ(status.kind(), Kind::TimedOut);
    EXPECT_EQ(status.error(), Err::NotReady);
    emulator.SetAnswerDelay(0);
    const int clears = emulator.clears();
    bool high = true;
    ASSERT_TRUE(impatient.GetPin(Pin::Track0, high));
    EXPECT_GT(emulator.clears(), clears);
    // The late answer to the seek never reached the pin's.
    EXPECT_EQ(high, emulator.cylinder() != 0);
}

TEST_F(Greaseweazle, ASlowDeviceWithinTheTimeOutIsFine)
{
    Ready();
    emulator.SetAnswerDelay(30);
    FluxRead flux;
    ASSERT_TRUE(device->ReadFlux({1, 0}, flux));
    EXPECT_EQ(CutRevolutions(flux).size(), 1u);
}

TEST(GreaseweazleOpen, WhatIsNoGreaseweazleSaysWhy)
{
    TempDir dir;
    std::ofstream(dir.File("plain")) << "x";
    GreaseweazleEmulator bootloader(GreaseweazleModel{.info = {1, 0, false, 22, 0, 7, 0, 0}});
    // A tty nobody answers on.
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string silent = ptsname(master);
    const struct {
        std::string path;
        int timeoutMs;
        DiskError error;
        std::string words;
    } cases[] = {
        {dir.File("missing"), 2'000, Err::InvalidDrive, "no such device"},
        {dir.File("plain"), 2'000, Err::InvalidDrive, "not a Greaseweazle"},
        {silent, 200, Err::InvalidDrive, "not a Greaseweazle"},
        {bootloader.path(), 2'000, Err::NotReady, "update mode"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const GreaseweazleDevice::Opened opened = GreaseweazleDevice::Open(c.path, {c.timeoutMs, 0});
        EXPECT_FALSE(opened.device);
        EXPECT_EQ(opened.error, c.error);
        EXPECT_NE(opened.detail.find(c.words), std::string::npos) << opened.detail;
        EXPECT_EQ(opened.detail.rfind(c.path, 0), 0u) << opened.detail;
    }
    close(master);
}

TEST(GreaseweazleOpen, APermissionFailureNamesTheGroupAndTheRule)
{
    GreaseweazleEmulator emulator;
    ASSERT_EQ(chmod(emulator.path().c_str(), 0660), 0);
    const std::optional<std::string> detail =
        RunAsNobody([&] { return GreaseweazleDevice::Open(emulator.path()).detail; });
    ASSERT_TRUE(detail.has_value());
    EXPECT_NE(detail->find("permission denied"), std::string::npos) << *detail;
    EXPECT_NE(detail->find("70-vokta-floppy.rules"), std::string::npos) << *detail;
    EXPECT_NE(GreaseweazleOpenFailure("/dev/ttyACM0", EACCES, "dialout").find("\"dialout\""), std::string::npos);
}

TEST(GreaseweazleStatus, EveryAckHasItsDiskErrorAndWords)
{
    const struct {
        GwStatus status;
        DiskError error;
        const char* words;
    } cases[] = {
        {GwStatus::Refusal(Ack::NoIndex), Err::NotReady, "no index pulse"},
        {GwStatus::Refusal(Ack::NoTrack0), Err::NotReady, "track 0"},
        {GwStatus::Refusal(Ack::WriteProtected), Err::WriteProtect, "write-protected"},
        {GwStatus::Refusal(Ack::FluxOverflow), Err::AccessDenied, "overflow"},
        {GwStatus::Refusal(Ack::FluxUnderflow), Err::AccessDenied, "underflow"},
        {GwStatus::Refusal(Ack::OutOfFlash), Err::InsufficientBuffer, "memory"},
        {GwStatus::Refusal(99), Err::UnknownError, "99"},
        {GwStatus::Of(Kind::TimedOut), Err::NotReady, "stopped answering"},
        {GwStatus::Of(Kind::Gone, EIO), Err::NotReady, "disconnected (Input/output error)"},
        {GwStatus::Of(Kind::Garbled), Err::UnknownError, "protocol"},
        {GwStatus(), Err::None, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.words);
        EXPECT_EQ(c.status.error(), c.error);
        EXPECT_NE(c.status.Text().find(c.words), std::string::npos) << c.status.Text();
    }
}

// A sysfs tree as the kernel lays out CDC-ACM ttys: each below its USB interface, below
// the USB device that carries the ids, and /sys/class/tty holding links to them.
struct FakeTtys {
    TempDir dir;
    int ports = 0;

    void Acm(const std::string& name, const std::string& vendor, const std::string& product,
             const std::string& serial = "")
    {
        namespace fs = std::filesystem;
        const std::string usb = "devices/pci0000:00/usb1/1-" + std::to_string(++ports);
        const std::string interface = usb + "/1-" + std::to_string(ports) + ":1.0";
        fs::create_directories(dir.File(interface + "/tty/" + name));
        std::ofstream(dir.File(usb + "/idVendor")) << vendor << "\n";
        std::ofstream(dir.File(usb + "/idProduct")) << product << "\n";
        if (!serial.empty())
            std::ofstream(dir.File(usb + "/serial")) << serial << "\n";
        fs::create_directories(dir.File("class/tty"));
        fs::create_symlink("../../" + interface + "/tty/" + name, dir.File("class/tty/" + name));
        fs::create_symlink("../..", dir.File(interface + "/tty/" + name + "/device"));
    }
    void Plain(const std::string& name) { std::filesystem::create_directories(dir.File("class/tty/" + name)); }
};

TEST(GreaseweazlePorts, OnlyTheirUsbIdsCountInTheOrderOfTheirNumbers)
{
    FakeTtys sysfs;
    sysfs.Acm("ttyACM10", "1209", "0001");
    sysfs.Acm("ttyACM0", "1209", "4d69", "GW0123");
    sysfs.Acm("ttyACM1", "2341", "0043");  // another CDC-ACM device
    sysfs.Acm("ttyACM2", "1209", "4d68");  // another product of the same vendor
    sysfs.Acm("ttyACM3", "1209", "4D69");
    sysfs.Plain("ttyS0");
    sysfs.Plain("ttyACM4");  // no device behind it
    EXPECT_EQ(FindGreaseweazles(sysfs.dir.path(), "/dev"),
              (std::vector<GreaseweazlePort>{{"/dev/ttyACM0", kUsbProduct, "GW0123"},
                                             {"/dev/ttyACM3", kUsbProduct, ""},
                                             {"/dev/ttyACM10", kUsbProductOld, ""}}));
    EXPECT_TRUE(FindGreaseweazles(sysfs.dir.File("nothing")).empty());
}

}  // namespace
