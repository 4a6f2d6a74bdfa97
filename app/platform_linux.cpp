// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/platform.h"

namespace vokta {

// The drives, the diskette files and the desktop services are all there on Linux.
bool PlatformSupported()
{
    return true;
}

}  // namespace vokta
