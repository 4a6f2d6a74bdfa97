// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>

#include "boot/bootsector.h"

namespace vokta {

// The 8086 boot program of the built boot sector (boot/bootcode.asm, assembled at build
// time), placed at offset 62.
extern const std::array<uint8_t, BootSector::kBootCodeSize> kBootCode;

}  // namespace vokta
