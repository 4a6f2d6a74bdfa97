// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace vokta {

// Whether the desktop program runs on the platform it was built for; the build picks the
// answer's file (platform_linux.cpp, platform_other.cpp).
bool PlatformSupported();

}  // namespace vokta
