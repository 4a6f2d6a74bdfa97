// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/platform.h"

namespace vokta {

// No disk service reaches a diskette drive on this platform yet: start-up refuses to run.
bool PlatformSupported()
{
    return false;
}

}  // namespace vokta
