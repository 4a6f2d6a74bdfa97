// SPDX-License-Identifier: GPL-3.0-or-later
#include "fat/fatentries.h"

#include "drive/bytes.h"

namespace vokta {
namespace {

size_t OffsetOf(unsigned fatBits, uint32_t cluster)
{
    return fatBits == 16 ? size_t{cluster} * 2 : size_t{cluster} * 3 / 2;
}

bool Fits(size_t bytes, unsigned fatBits, uint32_t cluster)
{
    return OffsetOf(fatBits, cluster) + 2 <= bytes;
}

}  // namespace

uint32_t HighestEntryIn(size_t bytes, unsigned fatBits)
{
    if (bytes < 2)
        return 0;
    return fatBits == 16 ? static_cast<uint32_t>(bytes / 2 - 1) : static_cast<uint32_t>((bytes - 2) * 2 / 3);
}

uint16_t ReadFatEntry(std::span<const uint8_t> fat, unsigned fatBits, uint32_t cluster)
{
    if (!Fits(fat.size(), fatBits, cluster))
        return FatValue::NoEntry;
    const uint16_t word = GetU16(fat, OffsetOf(fatBits, cluster));
    if (fatBits == 16)
        return word;
    return (cluster & 1) ? static_cast<uint16_t>(word >> 4) : static_cast<uint16_t>(word & 0x0FFF);
}

bool WriteFatEntry(std::span<uint8_t> fat, unsigned fatBits, uint32_t cluster, uint16_t value)
{
    if (!Fits(fat.size(), fatBits, cluster))
        return false;
    const size_t at = OffsetOf(fatBits, cluster);
    if (fatBits == 16) {
        PutU16(fat, at, value);
        return true;
    }
    const uint16_t word = GetU16(fat, at);
    value &= 0x0FFF;
    if (cluster & 1)
        PutU16(fat, at, static_cast<uint16_t>((value << 4) | (word & 0x000F)));
    else
        PutU16(fat, at, static_cast<uint16_t>(value | (word & 0xF000)));
    return true;
}

}  // namespace vokta
