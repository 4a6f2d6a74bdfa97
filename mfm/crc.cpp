// SPDX-License-Identifier: GPL-3.0-or-later
#include "mfm/crc.h"

#include <array>

namespace vokta::mfm {
namespace {

constexpr std::array<uint16_t, 256> MakeTable()
{
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
        table[i] = static_cast<uint16_t>(crc);
    }
    return table;
}

constexpr std::array<uint16_t, 256> kTable = MakeTable();

}  // namespace

uint16_t Crc16Byte(uint8_t byte, uint16_t crc)
{
    return static_cast<uint16_t>((crc << 8) ^ kTable[((crc >> 8) ^ byte) & 0xFF]);
}

uint16_t Crc16(std::span<const uint8_t> bytes, uint16_t crc)
{
    for (const uint8_t byte : bytes)
        crc = Crc16Byte(byte, crc);
    return crc;
}

}  // namespace vokta::mfm
