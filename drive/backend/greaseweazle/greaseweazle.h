// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "drive/backend/greaseweazle/fluxstream.h"
#include "drive/backend/greaseweazle/protocol.h"
#include "drive/backend/greaseweazle/serialline.h"
#include "drive/diskerror.h"

namespace vokta::gw {

// What a request to the device came to: done, refused with the firmware's ACK code, no
// answer within the time-out, the device gone, or an answer that breaks the protocol.
class [[nodiscard]] GwStatus {
public:
    enum class Kind : uint8_t { Ok, Refused, TimedOut, Gone, Garbled };

    constexpr GwStatus() = default;
    static constexpr GwStatus Refusal(uint8_t ack) { return {Kind::Refused, ack, 0}; }
    static constexpr GwStatus Of(Kind kind, int goneError = 0) { return {kind, Ack::Okay, goneError}; }

    constexpr explicit operator bool() const { return kind_ == Kind::Ok; }
    constexpr Kind kind() const { return kind_; }
    constexpr uint8_t ack() const { return ack_; }
    constexpr bool Refused(uint8_t ack) const { return kind_ == Kind::Refused && ack_ == ack; }
    // The system's disk error code for it, and what happened in words.
    DiskError error() const;
    std::string Text() const;

private:
    constexpr GwStatus(Kind kind, uint8_t ack, int goneError) : kind_(kind), ack_(ack), goneError_(goneError) {}
    Kind kind_ = Kind::Ok;
    uint8_t ack_ = Ack::Okay;
    int goneError_ = 0;
};

// GET_INFO's firmware block.
struct FirmwareInfo {
    uint8_t major = 0;
    uint8_t minor = 0;
    bool mainFirmware = true;  // false: the update bootloader, which takes no drive commands
    uint8_t maxCommand = 0;
    uint32_t sampleHz = 0;
    uint8_t model = 0;
    uint8_t submodel = 0;
    uint8_t usbSpeed = 0;  // 0 full speed, 1 high speed

    static FirmwareInfo Parse(std::span<const uint8_t, kInfoSize> block);
};

// "Greaseweazle F7", or the model's numbers when the table does not know them.
std::string ModelName(const FirmwareInfo& info);

// What to read: so many whole revolutions, or so many ticks, whichever ends first when
// both are given; one of them at least.
struct ReadRequest {
    uint16_t revolutions = 0;
    uint32_t ticks = 0;
};

struct WriteOptions {
    bool cueAtIndex = true;         // start at the index pulse
    bool terminateAtIndex = false;  // stop at the next index pulse, whatever is left
};

// A Greaseweazle on its serial device, through its command protocol. Requests answer a
// GwStatus; none blocks beyond its time-out, and once the device is gone every one says so.
class GreaseweazleDevice {
public:
    struct Options {
        int timeoutMs = 5'000;  // the firmware waits 2 s for an index pulse before it gives up
        int retries = 3;        // reads that overflow and writes that underflow go again
    };
    struct Opened {
        std::unique_ptr<GreaseweazleDevice> device;
        DiskError error = Err::None;
        std::string detail;  // why not, in words
    };
    static Opened Open(const std::string& path, Options options);
    static Opened Open(const std::string& path) { return Open(path, Options{}); }

    const FirmwareInfo& info() const { return info_; }

    GwStatus SetBusType(BusType bus);
    GwStatus Select(uint8_t unit);
    GwStatus Deselect();
    GwStatus Motor(uint8_t unit, bool on);
    // Cylinders below 0 reach the tracks a flippy drive has outside track 0.
    GwStatus Seek(int cylinder);
    GwStatus Head(uint8_t head);
    GwStatus ReadFlux(const ReadRequest& request, FluxRead& flux);
    GwStatus WriteFlux(std::span<const uint32_t> intervals, const WriteOptions& options = {});
    GwStatus Erase(uint32_t ticks);
    // The outcome of the last read, write or erase.
    GwStatus FluxStatus();
    // The level of a drive interface pin: true high.
    GwStatus GetPin(uint8_t pin, bool& high);
    GwStatus WriteProtected(bool& prot);
    // nullopt when the firmware does not read the disk change line.
    GwStatus DiskChanged(std::optional<bool>& changed);
    // The device's power-on state: no bus, no unit, motors off.
    GwStatus Reset();

private:
    GreaseweazleDevice(std::unique_ptr<SerialLine> line, Options options)
        : line_(std::move(line)), options_(options)
    {
    }
    // Sends a command (its length filled in), takes its ACK and `reply` bytes after it.
    GwStatus Command(std::vector<uint8_t> command, std::span<uint8_t> reply = {});
    // A failure of the line, as a status; after a time-out the next command clears the line.
    GwStatus LineFailure(LineResult result);
    // The status byte that ends a write or an erase, then the flux status.
    GwStatus FinishFluxCommand();
    GwStatus ReadFluxOnce(const ReadRequest& request, FluxRead& flux);
    GwStatus WriteFluxOnce(std::span<const uint8_t> stream, const WriteOptions& options);
    WriteEncoding Encoding() const;

    std::unique_ptr<SerialLine> line_;
    Options options_;
    FirmwareInfo info_;
    bool unsettled_ = false;  // a reply may still be on its way
};

// A Greaseweazle found on the system: its tty, and which of the USB ids it carries.
struct GreaseweazlePort {
    std::string device;  // /dev/ttyACM0
    uint16_t product = kUsbProduct;
    std::string serial;  // empty when the device gives none
    friend bool operator==(const GreaseweazlePort&, const GreaseweazlePort&) = default;
};

// The Greaseweazles among the CDC-ACM ttys of the sysfs tree at `sysfs`, in the order of
// their numbers; their nodes are named under `devices`.
std::vector<GreaseweazlePort> FindGreaseweazles(const std::filesystem::path& sysfs = "/sys",
                                                const std::string& devices = "/dev");

// Why `path` could not be opened (errno `error`), in words; `group` owns the node.
std::string GreaseweazleOpenFailure(const std::string& path, int error, const std::string& group);

}  // namespace vokta::gw
