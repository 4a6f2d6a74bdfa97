// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vokta {

// The mechanics of a PC diskette drive and its controller, as the model clock charges
// them. Every figure can be set (the benchmark varies them); the defaults are the
// published ones named beside each.
struct DriveMechanics {
    // 3½" drives, and 5¼" drives with double-density media (drive data sheets); 360 for
    // a 5¼" high-density drive with 1.2M media.
    double rpm = 300;
    // MFM data rate in kbit/s: 250 for double density, 500 for high density.
    double dataRateKbit = 500;
    // The specify command's first byte (SRT in the high nibble): DFh in the diskette
    // parameter table of the PC BIOS and in ours for 21-sector media. The controller's
    // data sheet gives the step time as (16 - SRT) ms at 500 kbit/s, twice that at 250.
    uint8_t specifyByte = 0xDF;
    // Head settle time: byte 9 of the PC BIOS diskette parameter table (0Fh = 15 ms).
    double settleMs = 15;
    // Controller command phase plus the operating system's path to it, per request.
    double commandOverheadMs = 1.5;
    // Spin-up before a transfer when the motor was off (3½" drive data sheets: 500 ms).
    double motorStartMs = 500;
    // The motor goes off this long after the last request (parameter table byte 1,
    // 25h timer ticks of 55 ms, about 2 s).
    double motorOffAfterMs = 2000;
    // Attempts the BIOS diskette service makes at a failing sector, each one waiting a
    // whole revolution for the sector to come round again.
    int failedSectorAttempts = 3;

    // Step pulses one recalibrate command gives at most before the controller calls it a
    // failure (the 765's data sheet); a head further out takes a second command.
    static constexpr int kRecalibrateSteps = 77;

    // Bytes of one MFM sector besides its data and its gap 3: sync 12, address field 10
    // (3 A1h, FEh, C H R N, CRC), gap 2 22, sync 12, data mark 4, CRC 2.
    static constexpr int kSectorFraming = 12 + 10 + 22 + 12 + 4 + 2;
    // Bytes from the index to the first sector's sync: gap 4a 80, sync 12, index mark 4,
    // gap 1 50 (the controller's data sheet, IBM System 34 format).
    static constexpr int kIndexPreamble = 80 + 12 + 4 + 50;

    double RevolutionMs() const { return 60000.0 / rpm; }
    double ByteMs() const { return 8.0 / dataRateKbit; }
    double StepMs() const { return (16 - (specifyByte >> 4)) * (500.0 / dataRateKbit); }
};

// The standard format gap 3 for a track of this many 512-byte sectors: 50h for 9
// (720K), 54h for 15 (1.2M), 6Ch for 18 (1.44M) as in the PC BIOS parameter tables,
// 13h for 21 (our table for the 21-sector media).
uint8_t StandardFormatGap(uint16_t sectorsPerTrack);

// What the clock counted since the last Reset of the counters.
struct DriveCounters {
    double milliseconds = 0;
    double revolutions = 0;      // time the disk turned under requests, in revolutions
    double waitRevolutions = 0;  // of which waiting for a sector or the index to come round
    uint64_t steps = 0;
    uint64_t motorStarts = 0;
    uint64_t requests = 0;
};

// A track as the clock sees it: sector numbers in physical order and its gap 3.
struct TrackShape {
    std::vector<uint16_t> order;
    uint8_t gap = 0x6C;
    uint16_t sectorBytes = 512;
};

// The model clock of one drive: never wall time, only what each request would take.
// The disk's angle is a function of the clock; the index passes at whole revolutions.
class DriveClock {
public:
    explicit DriveClock(DriveMechanics mechanics = {}) : m(mechanics) {}

    DriveMechanics m;

    double now() const { return now_; }
    const DriveCounters& counters() const { return counters_; }
    void ResetCounters() { counters_ = {}; }
    uint16_t cylinder() const { return cylinder_; }
    // Time passing with no request (the motor may stop).
    void Idle(double ms) { now_ += ms; }

    // Millisecond offsets from the index of slot `slot`'s address field and data end.
    double AddressFieldAt(const TrackShape& track, size_t slot) const;
    double SlotMs(const TrackShape& track) const;

    // A read, write or verify of `count` sectors numbered from `first` on `cylinder`:
    // overhead, motor, seek, then each sector waited for in the order it lies on the
    // track. `failing` (a sector number, 0 for none) costs the retries and ends it.
    void Transfer(uint16_t cylinder, const TrackShape& track, uint16_t first, uint16_t count,
                  uint16_t failing = 0);
    // A format of a track on `cylinder`: waits for the index, takes one revolution.
    void Format(uint16_t cylinder);
    // A seek command: the steps to `cylinder` and the settle, nothing read.
    void Seek(uint16_t cylinder);
    // Recalibrate commands: the head steps out until the track 0 sensor, at most
    // kRecalibrateSteps a command, then settles.
    void Recalibrate();

private:
    void StartRequest(uint16_t cylinder);
    void BeginCommand();
    void MoveHead(uint16_t cylinder);
    // Waits until the angle reaches `offsetMs` after the index.
    void WaitForAngle(double offsetMs);
    void Spin(double ms, bool waiting);

    double now_ = 0;
    double lastRequestEnd_ = -1e18;  // the motor stands until a request comes
    uint16_t cylinder_ = 0;
    DriveCounters counters_;
};

}  // namespace vokta
