// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace vokta {

// FAT entry values. An entry of 1 is never a valid link; GetFatEntry answers it for an
// entry that does not exist.
namespace FatValue {
constexpr uint16_t Free = 0x000;
constexpr uint16_t NoEntry = 0x001;
constexpr uint16_t Bad12 = 0xFF7;
constexpr uint16_t Bad16 = 0xFFF7;
constexpr uint16_t EndOfChain12 = 0xFF8;  // this value and above end a chain
constexpr uint16_t EndOfChain16 = 0xFFF8;
}  // namespace FatValue

constexpr uint16_t kFirstDataCluster = 2;

// The BAD and end-of-chain values of a 12- or 16-bit FAT.
constexpr uint16_t BadValue(unsigned fatBits) { return fatBits == 16 ? FatValue::Bad16 : FatValue::Bad12; }
constexpr uint16_t EndOfChainValue(unsigned fatBits)
{
    return fatBits == 16 ? FatValue::EndOfChain16 : FatValue::EndOfChain12;
}

// The highest cluster whose entry lies wholly inside a FAT of `bytes` bytes.
uint32_t HighestEntryIn(size_t bytes, unsigned fatBits);

// Entry `cluster` of a packed FAT: 12-bit entries share bytes in pairs (cluster × 3 / 2),
// 16-bit entries are little-endian words. Reading outside the table gives NoEntry;
// writing outside it changes nothing and fails.
uint16_t ReadFatEntry(std::span<const uint8_t> fat, unsigned fatBits, uint32_t cluster);
bool WriteFatEntry(std::span<uint8_t> fat, unsigned fatBits, uint32_t cluster, uint16_t value);

}  // namespace vokta
