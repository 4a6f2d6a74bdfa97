// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <span>

namespace vokta::mfm {

// CRC-16/CCITT as the floppy controller computes it over an address or data field:
// polynomial 1021h, preset FFFFh, most significant bit first, no final inversion.
inline constexpr uint16_t kCrcPreset = 0xFFFF;
// The CRC after the three A1h sync bytes that open every field.
inline constexpr uint16_t kCrcAfterSync = 0xCDB4;

uint16_t Crc16(std::span<const uint8_t> bytes, uint16_t crc = kCrcPreset);
uint16_t Crc16Byte(uint8_t byte, uint16_t crc);

}  // namespace vokta::mfm
