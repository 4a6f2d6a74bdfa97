// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/backend/greaseweazle/serialline.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "drive/backend/greaseweazle/protocol.h"

namespace vokta::gw {
namespace {

// After a clear-comms order, bytes the device had already sent may still come: the line
// counts as clear once it has been quiet this long.
constexpr int kQuietMs = 20;
constexpr int kMaxDrainRounds = 50;

bool IsGoneError(int error)
{
    return error == EIO || error == ENODEV || error == ENXIO || error == EPIPE || error == EBADF;
}

}  // namespace

std::unique_ptr<SerialLine> SerialLine::Open(const std::string& path, int& error)
{
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    struct termios line {};
    if (tcgetattr(fd, &line) != 0) {
        error = errno == EINVAL ? ENOTTY : errno;
        close(fd);
        return nullptr;
    }
    // Bytes as they are: no echo, no line editing, no CR/LF translation, no flow control.
    cfmakeraw(&line);
    line.c_cflag |= CLOCAL | CREAD;
    line.c_cc[VMIN] = 1;
    line.c_cc[VTIME] = 0;
    cfsetspeed(&line, B9600);
    if (tcsetattr(fd, TCSANOW, &line) != 0) {
        error = errno;
        close(fd);
        return nullptr;
    }
    // Other programs keep off while we talk to the device; not every tty takes it.
    (void)ioctl(fd, TIOCEXCL);
    return std::unique_ptr<SerialLine>(new SerialLine(fd));
}

SerialLine::~SerialLine()
{
    // The exclusive mark outlives this descriptor while another holds the tty open.
    (void)ioctl(fd_, TIOCNXCL);
    close(fd_);
}

LineResult SerialLine::Gone(int error)
{
    gone_ = true;
    goneError_ = error;
    return LineResult::Gone;
}

LineResult SerialLine::Wait(short events, int timeoutMs)
{
    if (gone_)
        return LineResult::Gone;
    pollfd p{fd_, events, 0};
    for (;;) {
        const int n = poll(&p, 1, timeoutMs);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Gone(errno);
        if (n == 0)
            return LineResult::TimedOut;
        // A device pulled out hangs its tty up: nothing more will come.
        if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
            return Gone(0);
        return LineResult::Ok;
    }
}

LineResult SerialLine::Write(std::span<const uint8_t> bytes, int timeoutMs)
{
    while (!bytes.empty()) {
        const ssize_t n = write(fd_, bytes.data(), bytes.size());
        if (n > 0) {
            bytes = bytes.subspan(static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return Gone(errno);
        if (const LineResult r = Wait(POLLOUT, timeoutMs); r != LineResult::Ok)
            return r;
    }
    return LineResult::Ok;
}

LineResult SerialLine::Fill(int timeoutMs)
{
    std::array<uint8_t, 4096> chunk{};
    for (;;) {
        const ssize_t n = read(fd_, chunk.data(), chunk.size());
        if (n > 0) {
            buffered_.insert(buffered_.end(), chunk.begin(), chunk.begin() + n);
            return LineResult::Ok;
        }
        // Without O_NONBLOCK's "nothing yet" (EAGAIN), an empty read is a hung-up line.
        if (n == 0)
            return Gone(0);
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            return Gone(errno);
        if (const LineResult r = Wait(POLLIN, timeoutMs); r != LineResult::Ok)
            return r;
    }
}

LineResult SerialLine::Read(std::span<uint8_t> bytes, int timeoutMs)
{
    while (buffered_.size() < bytes.size())
        if (const LineResult r = Fill(timeoutMs); r != LineResult::Ok)
            return r;
    std::copy_n(buffered_.begin(), bytes.size(), bytes.begin());
    buffered_.erase(buffered_.begin(), buffered_.begin() + static_cast<ptrdiff_t>(bytes.size()));
    return LineResult::Ok;
}

LineResult SerialLine::ReadThrough(uint8_t end, std::vector<uint8_t>& out, int timeoutMs)
{
    for (;;) {
        const auto found = std::find(buffered_.begin(), buffered_.end(), end);
        if (found != buffered_.end()) {
            out.insert(out.end(), buffered_.begin(), found + 1);
            buffered_.erase(buffered_.begin(), found + 1);
            return LineResult::Ok;
        }
        out.insert(out.end(), buffered_.begin(), buffered_.end());
        buffered_.clear();
        if (const LineResult r = Fill(timeoutMs); r != LineResult::Ok)
            return r;
    }
}

LineResult SerialLine::ClearComms()
{
    if (gone_)
        return LineResult::Gone;
    tcflush(fd_, TCOFLUSH);
    for (const unsigned baud : {kBaudClearComms, kBaudNormal})
        if (const int error = SetLineSpeed(fd_, baud); IsGoneError(error))
            return Gone(error);
    tcflush(fd_, TCIFLUSH);
    buffered_.clear();
    for (int round = 0; round < kMaxDrainRounds; ++round) {
        const LineResult r = Fill(kQuietMs);
        if (r == LineResult::TimedOut)
            break;
        if (r == LineResult::Gone)
            return r;
        buffered_.clear();
    }
    buffered_.clear();
    return LineResult::Ok;
}

}  // namespace vokta::gw
