// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace vokta::gw {

enum class LineResult : uint8_t { Ok, TimedOut, Gone };

// A serial device in raw mode that never blocks: every wait has a time-out, and a device that
// has gone away (hung up, EIO, ENODEV) says so instead of blocking or reading nothing.
class SerialLine {
public:
    // The line, or nullptr with errno in `error`.
    static std::unique_ptr<SerialLine> Open(const std::string& path, int& error);
    ~SerialLine();
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;

    // Each time-out counts from the last byte that moved.
    LineResult Write(std::span<const uint8_t> bytes, int timeoutMs);
    // Exactly as many bytes as `bytes` holds.
    LineResult Read(std::span<uint8_t> bytes, int timeoutMs);
    // Bytes up to and including the first `end`, appended to `out`.
    LineResult ReadThrough(uint8_t end, std::vector<uint8_t>& out, int timeoutMs);
    // Drops whatever the device was doing and every byte in flight either way: the device
    // takes a switch to its clear-comms line speed and back as that order.
    LineResult ClearComms();
    // The errno that told the device was gone; 0 when it hung up.
    int goneError() const { return goneError_; }

private:
    explicit SerialLine(int fd) : fd_(fd) {}
    LineResult Wait(short events, int timeoutMs);
    // Reads what is there into `buffered_`.
    LineResult Fill(int timeoutMs);
    LineResult Gone(int error);

    int fd_ = -1;
    bool gone_ = false;
    int goneError_ = 0;
    std::vector<uint8_t> buffered_;
};

// Sets the line to any number of baud, standard or not; 0 or errno.
int SetLineSpeed(int fd, unsigned baud);

}  // namespace vokta::gw
