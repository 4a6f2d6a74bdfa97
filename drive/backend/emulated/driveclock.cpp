// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/backend/emulated/driveclock.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace vokta {

uint8_t StandardFormatGap(uint16_t sectorsPerTrack)
{
    if (sectorsPerTrack <= 9)
        return 0x50;
    if (sectorsPerTrack <= 15)
        return 0x54;
    if (sectorsPerTrack <= 18)
        return 0x6C;
    return 0x13;
}

double DriveClock::SlotMs(const TrackShape& track) const
{
    return (DriveMechanics::kSectorFraming + track.sectorBytes + track.gap) * m.ByteMs();
}

double DriveClock::AddressFieldAt(const TrackShape& track, size_t slot) const
{
    // A crowded track (21 sectors) leaves less than the full preamble before sector 1.
    const double sectors = static_cast<double>(track.order.size()) * SlotMs(track);
    const double preamble =
        std::min(DriveMechanics::kIndexPreamble * m.ByteMs(), std::max(0.0, m.RevolutionMs() - sectors));
    // The controller looks for the address mark that follows the sync bytes.
    return preamble + static_cast<double>(slot) * SlotMs(track) + 12 * m.ByteMs();
}

void DriveClock::Spin(double ms, bool waiting)
{
    now_ += ms;
    counters_.milliseconds += ms;
    counters_.revolutions += ms / m.RevolutionMs();
    if (waiting)
        counters_.waitRevolutions += ms / m.RevolutionMs();
}

void DriveClock::WaitForAngle(double offsetMs)
{
    const double rev = m.RevolutionMs();
    const double angle = std::fmod(now_, rev);
    double wait = offsetMs - angle;
    if (wait < -1e-9)
        wait += rev;
    Spin(std::max(0.0, wait), true);
}

void DriveClock::BeginCommand()
{
    ++counters_.requests;
    Spin(m.commandOverheadMs, false);
    if (now_ - lastRequestEnd_ >= m.motorOffAfterMs) {
        ++counters_.motorStarts;
        Spin(m.motorStartMs, false);
    }
}

void DriveClock::MoveHead(uint16_t cylinder)
{
    if (cylinder == cylinder_)
        return;
    const int steps = std::abs(int{cylinder} - int{cylinder_});
    counters_.steps += static_cast<uint64_t>(steps);
    Spin(steps * m.StepMs() + m.settleMs, false);
    cylinder_ = cylinder;
}

void DriveClock::StartRequest(uint16_t cylinder)
{
    BeginCommand();
    MoveHead(cylinder);
}

void DriveClock::Transfer(uint16_t cylinder, const TrackShape& track, uint16_t first, uint16_t count,
                          uint16_t failing)
{
    StartRequest(cylinder);
    const double addressToDataEnd = SlotMs(track) - (12 + track.gap) * m.ByteMs();
    for (uint16_t number = first; number < first + count; ++number) {
        const auto at = std::find(track.order.begin(), track.order.end(), number);
        if (at == track.order.end()) {
            // The controller gives up on a missing sector after two index pulses.
            Spin(2 * m.RevolutionMs(), true);
            break;
        }
        WaitForAngle(AddressFieldAt(track, static_cast<size_t>(at - track.order.begin())));
        if (number == failing) {
            Spin(m.failedSectorAttempts * m.RevolutionMs(), true);
            break;
        }
        Spin(addressToDataEnd, false);
    }
    lastRequestEnd_ = now_;
}

void DriveClock::Format(uint16_t cylinder)
{
    StartRequest(cylinder);
    WaitForAngle(0);
    Spin(m.RevolutionMs(), false);
    lastRequestEnd_ = now_;
}

void DriveClock::Seek(uint16_t cylinder)
{
    StartRequest(cylinder);
    lastRequestEnd_ = now_;
}

void DriveClock::Recalibrate()
{
    do {
        BeginCommand();
        MoveHead(static_cast<uint16_t>(cylinder_ - std::min<int>(cylinder_, DriveMechanics::kRecalibrateSteps)));
        lastRequestEnd_ = now_;
    } while (cylinder_ != 0);
}

}  // namespace vokta
