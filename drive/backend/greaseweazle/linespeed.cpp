// SPDX-License-Identifier: GPL-3.0-or-later
// Speeds outside the standard list go through termios2, whose header cannot share a file
// with <termios.h>.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

#include "drive/backend/greaseweazle/serialline.h"

namespace vokta::gw {

int SetLineSpeed(int fd, unsigned baud)
{
    struct termios2 line {};
    if (ioctl(fd, TCGETS2, &line) != 0)
        return errno;
    line.c_cflag &= ~CBAUD;
    line.c_cflag |= BOTHER;
    line.c_ispeed = baud;
    line.c_ospeed = baud;
    return ioctl(fd, TCSETS2, &line) == 0 ? 0 : errno;
}

}  // namespace vokta::gw
