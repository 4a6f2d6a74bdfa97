// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "drive/backend/greaseweazle/greaseweazle.h"

namespace vokta::test {

// A stretch of a track that a read finds disturbed in `bad` of every `every` revolutions,
// those whose number (whole revolutions of the model's clock) modulo `every` is below
// `bad`: its transitions are gone there, as over a worn spot. No write cures it.
struct WeakStretch {
    uint16_t cylinder = 0;
    uint8_t head = 0;
    uint32_t from = 0;  // ticks past the index pulse
    uint32_t ticks = 0;
    uint32_t bad = 1;
    uint32_t every = 2;

    bool Disturbs(uint16_t c, uint8_t h, uint64_t at, uint64_t revolution) const
    {
        return c == cylinder && h == head && at >= from && at - from < ticks && every != 0 && revolution % every < bad;
    }
};

// A diskette as flux: for each cylinder and head, one revolution as the intervals between
// its transitions in sample ticks, the first from the index pulse. A track's intervals add
// up to at most the revolution; a transition at its very end sits on the index pulse.
struct FluxDiskette {
    uint32_t revolutionTicks = 14'400'000;  // 300 rpm at 72 MHz
    uint16_t cylinders = 80;
    uint8_t heads = 2;
    bool writeProtected = false;
    std::vector<std::vector<uint32_t>> tracks;
    std::vector<WeakStretch> weak;

    std::vector<uint32_t>& track(uint16_t cylinder, uint8_t head) { return tracks.at(cylinder * heads + head); }
    const std::vector<uint32_t>& track(uint16_t cylinder, uint8_t head) const
    {
        return tracks.at(cylinder * heads + head);
    }
    // Tracks of seeded pseudo-random intervals: mostly the 2, 3 and 4 µs of double-density
    // MFM, now and then one that needs the longer encodings; each ends on the index pulse.
    static FluxDiskette Random(uint16_t cylinders, uint8_t heads, uint32_t revolutionTicks, unsigned seed);
};

// The device and the one drive on its unit 0.
struct GreaseweazleModel {
    gw::FirmwareInfo info{1, 4, true, 22, 72'000'000, 7, 0, 0};
    uint8_t maxCylinder = 83;
    bool drive = true;                      // false: nothing on the cable
    bool readsDiskChange = true;            // false: GET_PIN 34 is refused, as on the F1
    uint32_t minPulse = 57;                 // 800 ns: shorter pulses join the next
    uint32_t ticksPerCommand = 7'919;       // a command's own latency on the device
    uint32_t stepMicroseconds = 3'000;      // a 3½" drive's step time, per cylinder moved
    uint32_t settleMicroseconds = 15'000;   // head settle, once a seek
    uint32_t spinUpMicroseconds = 500'000;  // the motor from standstill to speed
    bool indexPulse = true;                 // false: the index sensor gives no pulse
};

// A Greaseweazle on a pseudo-terminal: a thread answers its protocol on the master side
// over a model of a drive and the diskette in it, while the device under test opens the
// slave by `path()`. Faults on order: no diskette, write protection, an answer that takes
// its time, the device pulled out in the middle of an answer; weak stretches of the
// diskette (FluxDiskette::weak) and a drive without index pulses (the model). The thread
// ends with the object.
class GreaseweazleEmulator {
public:
    explicit GreaseweazleEmulator(GreaseweazleModel model = {});
    ~GreaseweazleEmulator();
    GreaseweazleEmulator(const GreaseweazleEmulator&) = delete;
    GreaseweazleEmulator& operator=(const GreaseweazleEmulator&) = delete;

    const std::string& path() const { return path_; }

    void Insert(FluxDiskette diskette);
    void Eject();
    // The diskette as it is now (written tracks included); nullopt when there is none.
    std::optional<FluxDiskette> diskette() const;
    void SetWriteProtected(bool on);
    // Every answer waits so long first; the wait ends early when the host clears the line.
    void SetAnswerDelay(int milliseconds);
    // The device goes away (the master closes) once it has sent `afterBytes` bytes of its
    // answer to the next `command`.
    void DropDuring(uint8_t command, size_t afterBytes);

    int cylinder() const;
    bool motorOn() const;
    // The model's clock: ticks of the sample clock since the device started, each command
    // charged what it takes on a real drive. The disk's angle is this modulo the revolution.
    uint64_t elapsedTicks() const;
    // How often the host cleared the line (a flush of the line counts).
    int clears() const;
    // The command codes received, in order.
    std::vector<uint8_t> commands() const;
    // What each flux read asked for: its bound in ticks and in index pulses (0: none).
    struct FluxReadAsked {
        uint32_t ticks = 0;
        uint16_t pulses = 0;
        int cylinder = 0;
    };
    std::vector<FluxReadAsked> fluxReads() const;

private:
    enum class Sent : uint8_t { Done, Cleared, Stopped };
    struct Reply {
        uint8_t command = 0;
        std::vector<uint8_t> bytes;
    };

    void Serve();
    // New bytes from the host into `input`; false when the thread is to end.
    bool Receive(std::vector<uint8_t>& input, bool& cleared);
    Sent Send(const Reply& reply, std::vector<uint8_t>& input);
    // The answer to the command at the head of `input`, which it consumes.
    Reply Execute(std::vector<uint8_t>& input);
    Reply FinishWrite(std::span<const uint8_t> stream);
    std::vector<uint8_t> ReadStream(uint32_t ticks, uint16_t pulses, uint32_t linger);
    void Store(const std::vector<uint32_t>& intervals, uint64_t ticks, bool cue, bool terminate);
    void EraseWindow(uint64_t start, uint64_t ticks);
    bool Spinning() const;
    std::vector<uint32_t>* CurrentTrack();
    uint64_t Revolution() const;
    // Whether a weak stretch takes the transition `at` ticks past the index of the current
    // track in the clock's revolution `revolution`.
    bool Disturbed(uint64_t at, uint64_t revolution) const;
    uint64_t Angle() const { return elapsed_ % Revolution(); }
    uint64_t TicksOf(uint64_t microseconds) const;
    void Pass(uint64_t ticks) { elapsed_ += ticks; }
    void CloseMaster();

    GreaseweazleModel model_;
    std::string path_;
    int master_ = -1;
    int slave_ = -1;  // held, so that the master reads nothing but the host's bytes
    int stop_[2] = {-1, -1};

    mutable std::mutex mutex_;
    std::optional<FluxDiskette> diskette_;
    int answerDelayMs_ = 0;
    std::optional<std::pair<uint8_t, size_t>> drop_;
    int clears_ = 0;
    std::vector<uint8_t> commands_;
    std::vector<FluxReadAsked> fluxReads_;
    // The drive and the device.
    gw::BusType bus_ = gw::BusType::None;
    int unit_ = -1;
    bool motor_[2] = {false, false};
    int cylinder_ = 0;
    uint8_t head_ = 0;
    bool diskChanged_ = true;
    uint64_t elapsed_ = 0;
    uint8_t fluxStatus_ = gw::Ack::Okay;
    bool writeCue_ = false;
    bool writeTerminate_ = false;
    bool inWrite_ = false;

    std::thread thread_;
};

}  // namespace vokta::test
