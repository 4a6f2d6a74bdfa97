// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/greaseweazleemulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <random>
#include <stdexcept>

namespace vokta::test {
namespace {

using namespace vokta::gw;

constexpr uint32_t kDefaultLinger = 36'000;  // 500 µs at 72 MHz
// How long the firmware waits for an index pulse before it gives up.
constexpr uint64_t kIndexTimeoutMicroseconds = 2'000'000;

uint64_t WriteTicks(const std::vector<uint32_t>& intervals)
{
    uint64_t ticks = 0;
    for (const uint32_t interval : intervals)
        ticks += interval;
    return ticks;
}

// The ticks of a track's transitions past the index pulse, in (0, revolution].
std::vector<uint64_t> TimesOf(const std::vector<uint32_t>& intervals)
{
    std::vector<uint64_t> times;
    uint64_t at = 0;
    for (const uint32_t interval : intervals)
        times.push_back(at += interval);
    return times;
}

std::vector<uint32_t> IntervalsOf(std::vector<uint64_t> times)
{
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    std::vector<uint32_t> intervals;
    uint64_t previous = 0;
    for (const uint64_t at : times) {
        intervals.push_back(static_cast<uint32_t>(at - previous));
        previous = at;
    }
    return intervals;
}

// The track's transitions outside the stretch of `ticks` after `start`, which may run past
// the index pulse.
std::vector<uint64_t> TimesOutside(const std::vector<uint32_t>& track, uint64_t start, uint64_t ticks,
                                   uint64_t revolution)
{
    std::vector<uint64_t> kept;
    if (ticks >= revolution)
        return kept;
    for (const uint64_t at : TimesOf(track)) {
        const uint64_t past = (at + revolution - start % revolution) % revolution;  // ticks after the start
        if (past == 0 || past > ticks)
            kept.push_back(at);
    }
    return kept;
}

}  // namespace

FluxDiskette FluxDiskette::Random(uint16_t cylinders, uint8_t heads, uint32_t revolutionTicks, unsigned seed)
{
    FluxDiskette diskette;
    diskette.revolutionTicks = revolutionTicks;
    diskette.cylinders = cylinders;
    diskette.heads = heads;
    std::mt19937 engine(seed);
    auto random = [&engine] { return static_cast<uint32_t>(engine()); };
    const uint32_t cell = revolutionTicks / 200'000;  // a microsecond, as a turn takes 200 ms
    for (int t = 0; t < cylinders * heads; ++t) {
        std::vector<uint32_t> intervals;
        uint64_t at = 0;
        for (;;) {
            const uint32_t pick = random() % 64;
            // 2, 3, 4 cells; now and then the two-byte, the spaced and the very long encodings.
            const uint32_t interval = pick == 0   ? 250 + random() % 1'275
                                      : pick == 1 ? 1'525 + random() % 18'475
                                      : pick == 2 && random() % 512 == 0 ? 3'000'000 + random() % 1'000
                                                                          : cell * (2 + random() % 3);
            if (at + interval >= revolutionTicks)
                break;
            intervals.push_back(interval);
            at += interval;
        }
        intervals.push_back(static_cast<uint32_t>(revolutionTicks - at));
        diskette.tracks.push_back(std::move(intervals));
    }
    return diskette;
}

GreaseweazleEmulator::GreaseweazleEmulator(GreaseweazleModel model) : model_(model)
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name) != 0)
        throw std::runtime_error("no pseudo-terminal");
    path_ = name;
    slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    int packet = 1;
    if (slave_ < 0 || ioctl(master_, TIOCPKT, &packet) != 0 || pipe2(stop_, O_CLOEXEC) != 0)
        throw std::runtime_error("pseudo-terminal not usable");
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    thread_ = std::thread([this] { Serve(); });
}

GreaseweazleEmulator::~GreaseweazleEmulator()
{
    const char stop = 1;
    (void)!write(stop_[1], &stop, 1);
    thread_.join();
    CloseMaster();
    for (const int fd : {slave_, stop_[0], stop_[1]})
        if (fd >= 0)
            close(fd);
}

void GreaseweazleEmulator::CloseMaster()
{
    std::lock_guard lock(mutex_);
    if (master_ >= 0)
        close(master_);
    master_ = -1;
}

void GreaseweazleEmulator::Insert(FluxDiskette diskette)
{
    std::lock_guard lock(mutex_);
    diskette_ = std::move(diskette);
    diskChanged_ = true;
}

void GreaseweazleEmulator::Eject()
{
    std::lock_guard lock(mutex_);
    diskette_.reset();
    diskChanged_ = true;
}

std::optional<FluxDiskette> GreaseweazleEmulator::diskette() const
{
    std::lock_guard lock(mutex_);
    return diskette_;
}

void GreaseweazleEmulator::SetWriteProtected(bool on)
{
    std::lock_guard lock(mutex_);
    if (diskette_)
        diskette_->writeProtected = on;
}

void GreaseweazleEmulator::SetAnswerDelay(int milliseconds)
{
    std::lock_guard lock(mutex_);
    answerDelayMs_ = milliseconds;
}

void GreaseweazleEmulator::DropDuring(uint8_t command, size_t afterBytes)
{
    std::lock_guard lock(mutex_);
    drop_ = {command, afterBytes};
}

int GreaseweazleEmulator::cylinder() const
{
    std::lock_guard lock(mutex_);
    return cylinder_;
}

bool GreaseweazleEmulator::motorOn() const
{
    std::lock_guard lock(mutex_);
    return motor_[0];
}

uint64_t GreaseweazleEmulator::elapsedTicks() const
{
    std::lock_guard lock(mutex_);
    return elapsed_;
}

int GreaseweazleEmulator::clears() const
{
    std::lock_guard lock(mutex_);
    return clears_;
}

std::vector<uint8_t> GreaseweazleEmulator::commands() const
{
    std::lock_guard lock(mutex_);
    return commands_;
}

std::vector<GreaseweazleEmulator::FluxReadAsked> GreaseweazleEmulator::fluxReads() const
{
    std::lock_guard lock(mutex_);
    return fluxReads_;
}

// The thread.

bool GreaseweazleEmulator::Receive(std::vector<uint8_t>& input, bool& cleared)
{
    std::array<uint8_t, 4097> chunk{};
    const ssize_t n = read(master_, chunk.data(), chunk.size());
    if (n <= 0)
        return n < 0 && errno == EAGAIN;
    // Packet mode: a status byte leads every read; a flush of the line by the host is the
    // order to clear it.
    if (chunk[0] != TIOCPKT_DATA) {
        if ((chunk[0] & (TIOCPKT_FLUSHREAD | TIOCPKT_FLUSHWRITE)) != 0) {
            cleared = true;
            input.clear();
            std::lock_guard lock(mutex_);
            ++clears_;
            inWrite_ = false;
        }
        return true;
    }
    input.insert(input.end(), chunk.begin() + 1, chunk.begin() + n);
    return true;
}

void GreaseweazleEmulator::Serve()
{
    std::vector<uint8_t> input;
    for (;;) {
        pollfd fds[2] = {{stop_[0], POLLIN, 0}, {master_, POLLIN, 0}};
        const int n = poll(fds, master_ >= 0 ? 2 : 1, -1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || fds[0].revents != 0)
            return;
        bool cleared = false;
        if (!Receive(input, cleared))
            return;
        for (;;) {
            Reply reply;
            if (inWrite_) {
                const auto end = std::find(input.begin(), input.end(), kStreamEnd);
                if (end == input.end())
                    break;
                const std::vector<uint8_t> stream(input.begin(), end + 1);
                input.erase(input.begin(), end + 1);
                reply = FinishWrite(stream);
            } else {
                if (input.size() < 2 || input.size() < input[1])
                    break;
                reply = Execute(input);
            }
            const Sent sent = Send(reply, input);
            if (sent == Sent::Stopped)
                return;
            if (sent == Sent::Cleared || master_ < 0)
                break;
        }
    }
}

GreaseweazleEmulator::Sent GreaseweazleEmulator::Send(const Reply& reply, std::vector<uint8_t>& input)
{
    int delayMs = 0;
    size_t limit = reply.bytes.size();
    bool drop = false;
    {
        std::lock_guard lock(mutex_);
        delayMs = answerDelayMs_;
        if (drop_ && drop_->first == reply.command) {
            limit = std::min(limit, drop_->second);
            drop = true;
            drop_.reset();
        }
    }
    // The answer waits, but a stop or a clear of the line does not.
    for (int waited = 0; waited < delayMs;) {
        pollfd fds[2] = {{stop_[0], POLLIN, 0}, {master_, POLLIN, 0}};
        const int step = std::min(delayMs - waited, 10);
        if (poll(fds, 2, step) > 0) {
            if (fds[0].revents != 0)
                return Sent::Stopped;
            bool cleared = false;
            if (!Receive(input, cleared))
                return Sent::Stopped;
            if (cleared)
                return Sent::Cleared;
        }
        waited += step;
    }
    size_t sent = 0;
    while (sent < limit) {
        pollfd fds[2] = {{stop_[0], POLLIN, 0}, {master_, POLLIN | POLLOUT, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return Sent::Stopped;
        }
        if (fds[0].revents != 0)
            return Sent::Stopped;
        if ((fds[1].revents & POLLIN) != 0) {
            bool cleared = false;
            if (!Receive(input, cleared))
                return Sent::Stopped;
            if (cleared)
                return Sent::Cleared;
        }
        if ((fds[1].revents & POLLOUT) != 0) {
            const ssize_t n = write(master_, reply.bytes.data() + sent, std::min<size_t>(limit - sent, 4096));
            if (n > 0)
                sent += static_cast<size_t>(n);
            else if (n < 0 && errno != EAGAIN)
                return Sent::Stopped;
        }
    }
    // Pulled out: the host's end of the line hangs up.
    if (drop)
        CloseMaster();
    return Sent::Done;
}

bool GreaseweazleEmulator::Spinning() const
{
    return model_.drive && diskette_ && unit_ == 0 && motor_[0];
}

std::vector<uint32_t>* GreaseweazleEmulator::CurrentTrack()
{
    if (!diskette_ || cylinder_ < 0 || cylinder_ >= diskette_->cylinders || head_ >= diskette_->heads)
        return nullptr;
    return &diskette_->track(static_cast<uint16_t>(cylinder_), head_);
}

uint64_t GreaseweazleEmulator::Revolution() const
{
    return diskette_ ? diskette_->revolutionTicks : FluxDiskette{}.revolutionTicks;
}

bool GreaseweazleEmulator::Disturbed(uint64_t at, uint64_t revolution) const
{
    const auto cylinder = static_cast<uint16_t>(cylinder_);
    return std::any_of(diskette_->weak.begin(), diskette_->weak.end(),
                       [&](const WeakStretch& w) { return w.Disturbs(cylinder, head_, at, revolution); });
}

uint64_t GreaseweazleEmulator::TicksOf(uint64_t microseconds) const
{
    return microseconds * model_.info.sampleHz / 1'000'000;
}

GreaseweazleEmulator::Reply GreaseweazleEmulator::Execute(std::vector<uint8_t>& input)
{
    std::lock_guard lock(mutex_);
    const uint8_t command = input[0];
    const size_t length = input[1];
    const std::vector<uint8_t> args(input.begin() + std::min<size_t>(2, length), input.begin() + std::max<size_t>(length, 2));
    // Like the firmware, whatever came with the command is dropped with it.
    input.clear();
    commands_.push_back(command);
    Pass(model_.ticksPerCommand);
    Reply reply{command, {command, Ack::Okay}};
    auto ack = [&reply](uint8_t code) { reply.bytes[1] = code; };
    auto busUnit = [this](uint8_t unit) -> uint8_t {
        if (bus_ == BusType::None)
            return Ack::NoBus;
        return unit >= 2 ? Ack::BadUnit : Ack::Okay;
    };
    switch (command) {
    case Cmd::GetInfo:
        if (length != 3 || args[0] != kInfoFirmware) {
            ack(Ack::BadCommand);
            break;
        }
        reply.bytes.resize(2 + kInfoSize);
        reply.bytes[2] = model_.info.major;
        reply.bytes[3] = model_.info.minor;
        reply.bytes[4] = model_.info.mainFirmware;
        reply.bytes[5] = model_.info.maxCommand;
        for (int i = 0; i < 4; ++i)
            reply.bytes[6 + i] = static_cast<uint8_t>(model_.info.sampleHz >> (8 * i));
        reply.bytes[10] = model_.info.model;
        reply.bytes[11] = model_.info.submodel;
        reply.bytes[12] = model_.info.usbSpeed;
        break;
    case Cmd::SetBusType:
        if (length != 3 || args[0] > static_cast<uint8_t>(BusType::Shugart)) {
            ack(Ack::BadCommand);
        } else if (args[0] != static_cast<uint8_t>(bus_)) {
            bus_ = static_cast<BusType>(args[0]);
            unit_ = -1;
            motor_[0] = motor_[1] = false;
        }
        break;
    case Cmd::Select:
        if (length != 3)
            ack(Ack::BadCommand);
        else if (const uint8_t code = busUnit(args[0]); code != Ack::Okay)
            ack(code);
        else
            unit_ = args[0];
        break;
    case Cmd::Deselect:
        if (length != 2)
            ack(Ack::BadCommand);
        else
            unit_ = -1;
        break;
    case Cmd::Motor:
        if (length != 4 || args[1] > 1)
            ack(Ack::BadCommand);
        else if (const uint8_t code = busUnit(args[0]); code != Ack::Okay)
            ack(code);
        else {
            if (args[1] != 0 && !motor_[args[0]])
                Pass(TicksOf(model_.spinUpMicroseconds));
            motor_[args[0]] = args[1] != 0;
        }
        break;
    case Cmd::Seek: {
        const int cylinder = length == 3 ? static_cast<int8_t>(args[0]) : 0;
        if (length != 3)
            ack(Ack::BadCommand);
        else if (unit_ < 0)
            ack(Ack::NoUnit);
        else if (!model_.drive || unit_ != 0)
            ack(Ack::NoTrack0);
        else if (cylinder < 0 || cylinder > model_.maxCylinder)
            ack(Ack::BadCylinder);
        else {
            if (cylinder != cylinder_) {
                // A step with a diskette in the drive ends its disk change signal.
                if (diskette_)
                    diskChanged_ = false;
                const auto steps = static_cast<uint64_t>(std::abs(cylinder - cylinder_));
                Pass(TicksOf(steps * model_.stepMicroseconds + model_.settleMicroseconds));
            }
            cylinder_ = cylinder;
        }
        break;
    }
    case Cmd::Head:
        if (length != 3 || args[0] > 1)
            ack(Ack::BadCommand);
        else
            head_ = args[0];
        break;
    case Cmd::GetPin: {
        if (length != 3) {
            ack(Ack::BadCommand);
            break;
        }
        const bool here = model_.drive && unit_ == 0;
        std::optional<bool> asserted;
        switch (args[0]) {
        case Pin::Track0: asserted = here && cylinder_ == 0; break;
        case Pin::WriteProtect: asserted = here && diskette_ && diskette_->writeProtected; break;
        case Pin::DiskChange:
            if (model_.readsDiskChange)
                asserted = here && diskChanged_;
            break;
        default: break;
        }
        if (!asserted)
            ack(Ack::BadPin);
        else
            reply.bytes.push_back(static_cast<uint8_t>(*asserted ? 0 : 1));  // the lines are active low
        break;
    }
    case Cmd::Reset:
        if (length != 2) {
            ack(Ack::BadCommand);
            break;
        }
        bus_ = BusType::None;
        unit_ = -1;
        motor_[0] = motor_[1] = false;
        break;
    case Cmd::GetFluxStatus:
        if (length != 2)
            ack(Ack::BadCommand);
        else
            ack(fluxStatus_);
        break;
    case Cmd::ReadFlux: {
        if (length < 8 || length > 12) {
            ack(Ack::BadCommand);
            break;
        }
        const uint32_t ticks = LittleEndian32(args, 0);
        const uint16_t pulses = static_cast<uint16_t>(args[4] | args[5] << 8);
        const uint32_t linger = length == 12 ? LittleEndian32(args, 6) : kDefaultLinger;
        fluxReads_.push_back({ticks, pulses, cylinder_});
        const std::vector<uint8_t> stream = ReadStream(ticks, pulses, linger);
        reply.bytes.insert(reply.bytes.end(), stream.begin(), stream.end());
        break;
    }
    case Cmd::WriteFlux:
        if (length != 4) {
            ack(Ack::BadCommand);
        } else if (diskette_ && diskette_->writeProtected && unit_ == 0) {
            ack(Ack::WriteProtected);
        } else {
            inWrite_ = true;
            writeCue_ = args[0] != 0;
            writeTerminate_ = args[1] != 0;
        }
        break;
    case Cmd::EraseFlux:
        if (length != 6) {
            ack(Ack::BadCommand);
        } else if (diskette_ && diskette_->writeProtected && unit_ == 0) {
            ack(Ack::WriteProtected);
        } else {
            const uint32_t ticks = LittleEndian32(args, 0);
            if (Spinning())
                EraseWindow(Angle(), ticks);
            Pass(ticks);
            fluxStatus_ = Ack::Okay;
            reply.bytes.push_back(fluxStatus_);
        }
        break;
    default: ack(Ack::BadCommand); break;
    }
    return reply;
}

std::vector<uint8_t> GreaseweazleEmulator::ReadStream(uint32_t ticks, uint16_t pulses, uint32_t linger)
{
    fluxStatus_ = Ack::Okay;
    const bool spinning = Spinning();
    const bool indexes = spinning && model_.indexPulse;
    const uint64_t revolution = Revolution();
    const uint64_t angle = Angle();
    // A read bounded by neither is bounded here.
    uint64_t stop = ticks != 0 ? ticks : 16 * revolution;
    if (pulses != 0 && indexes) {
        stop = std::min<uint64_t>(stop, (revolution - angle) + (pulses - 1) * revolution + linger);
    } else if (pulses != 0 && stop > TicksOf(kIndexTimeoutMicroseconds)) {
        // The firmware gives up after two seconds without an index pulse.
        stop = TicksOf(kIndexTimeoutMicroseconds);
        fluxStatus_ = Ack::NoIndex;
    }
    FluxRead flux;
    const std::vector<uint32_t>* track = spinning ? CurrentTrack() : nullptr;
    const std::vector<uint64_t> times = track ? TimesOf(*track) : std::vector<uint64_t>{};
    const uint64_t firstTurn = elapsed_ / revolution;
    uint64_t previous = 0;
    // Turn 0 is the part of the revolution the read starts in; each turn ends where its
    // pulse is, whether the drive gives it or not.
    for (uint64_t turn = 0;; ++turn) {
        for (const uint64_t at : times) {
            const uint64_t when = turn * revolution + at;
            if (when <= angle || Disturbed(at, firstTurn + turn))
                continue;
            if (when - angle > stop)
                break;
            flux.intervals.push_back(static_cast<uint32_t>(when - angle - previous));
            previous = when - angle;
        }
        const uint64_t pulse = (turn + 1) * revolution - angle;
        if (pulse > stop)
            break;
        if (indexes)
            flux.indexes.push_back(pulse);
    }
    Pass(stop);
    return EncodeReadStream(flux);
}

GreaseweazleEmulator::Reply GreaseweazleEmulator::FinishWrite(std::span<const uint8_t> stream)
{
    std::lock_guard lock(mutex_);
    inWrite_ = false;
    const DecodedWrite decoded = DecodeWriteStream(stream, model_.minPulse);
    if (decoded.fault != StreamFault::None) {
        fluxStatus_ = Ack::BadCommand;
    } else if (writeCue_ && !(Spinning() && model_.indexPulse)) {
        // Cued at an index pulse that never comes: two seconds, then this.
        fluxStatus_ = Ack::NoIndex;
        Pass(TicksOf(kIndexTimeoutMicroseconds));
    } else if (!Spinning()) {
        fluxStatus_ = Ack::Okay;
        Pass(WriteTicks(decoded.intervals));
    } else {
        const uint64_t ticks = WriteTicks(decoded.intervals);
        // The last interval is the one the device takes in as it stops: never written.
        std::vector<uint32_t> written(decoded.intervals.begin(),
                                      decoded.intervals.empty() ? decoded.intervals.end() : decoded.intervals.end() - 1);
        Store(written, ticks, writeCue_, writeTerminate_);
        fluxStatus_ = Ack::Okay;
    }
    return {Cmd::WriteFlux, {fluxStatus_}};
}

void GreaseweazleEmulator::EraseWindow(uint64_t start, uint64_t ticks)
{
    if (std::vector<uint32_t>* track = CurrentTrack())
        *track = IntervalsOf(TimesOutside(*track, start, ticks, diskette_->revolutionTicks));
}

void GreaseweazleEmulator::Store(const std::vector<uint32_t>& intervals, uint64_t ticks, bool cue, bool terminate)
{
    const uint64_t revolution = Revolution();
    if (cue)
        Pass((revolution - Angle()) % revolution);
    const uint64_t start = Angle();
    // The device writes until the next index pulse or to the end of the flux; the track
    // keeps at most one revolution of it.
    const uint64_t writing = terminate && model_.indexPulse ? std::min(ticks, revolution - start) : ticks;
    const uint64_t span = std::min(writing, revolution);
    if (std::vector<uint32_t>* track = CurrentTrack()) {
        std::vector<uint64_t> times = TimesOutside(*track, start, span, revolution);
        uint64_t at = start;
        for (const uint32_t interval : intervals) {
            at += interval;
            if (at - start > span)
                break;
            times.push_back((at - 1) % revolution + 1);
        }
        *track = IntervalsOf(std::move(times));
    }
    Pass(writing);
}

}  // namespace vokta::test
