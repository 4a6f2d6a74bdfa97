// SPDX-License-Identifier: GPL-3.0-or-later
// The nine boot-sector tests over 512 bytes.
#include <gtest/gtest.h>

#include <cstring>

#include "boot/bootsector.h"
#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::test;

namespace {

std::vector<uint8_t> Good()
{
    return BootSectorFor(kMedia144M);
}

void SetText(std::vector<uint8_t>& sector, size_t at, const char* bytes, size_t n)
{
    std::memcpy(sector.data() + at, bytes, n);
}

}  // namespace

TEST(ValidateBootSector, AllZeroSectorFailsEveryTestButNoRunFailure)
{
    const std::vector<uint8_t> zero(512, 0);
    EXPECT_EQ(ValidateBootSector(zero), 0x1FF0);
}

TEST(ValidateBootSector, ShortBufferCountsMissingBytesAsZero)
{
    std::vector<uint8_t> head = Good();
    head.resize(100);
    EXPECT_EQ(ValidateBootSector(head), BootCheck::BadSignature);
    EXPECT_EQ(ValidateBootSector({}), 0x1FF0);
}

TEST(ValidateBootSector, GoodSectorPasses)
{
    EXPECT_EQ(ValidateBootSector(Good()), 0);
}

TEST(ValidateBootSector, OnlyTheShortJumpWithNopPasses)
{
    std::vector<uint8_t> s = Good();
    s[0] = 0xE9;
    EXPECT_EQ(ValidateBootSector(s), BootCheck::BadJump) << "near jump";
    for (int displacement : {0x3C, 0x3E, 0x00}) {
        s = Good();
        s[1] = static_cast<uint8_t>(displacement);
        EXPECT_EQ(ValidateBootSector(s), 0) << "the displacement is not looked at";
    }
    s = Good();
    s[2] = 0x00;
    EXPECT_EQ(ValidateBootSector(s), BootCheck::BadJump);
}

TEST(ValidateBootSector, EachFieldDecidesItsOwnBit)
{
    struct Case {
        size_t offset;
        uint8_t value;
        BootCheckResult bit;
    };
    const Case cases[] = {
        {510, 0x00, BootCheck::BadSignature},
        {511, 0x55, BootCheck::BadSignature},
        {12, 0x01, BootCheck::BadSectorLength},  // 256-byte sectors
        {14, 0x02, BootCheck::BadReservedSectors},
        {15, 0x01, BootCheck::BadReservedSectors},
        {16, 0x01, BootCheck::BadFatCount},
        {38, 0x28, BootCheck::BadExtendedSignature},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> s = Good();
        s[c.offset] = c.value;
        EXPECT_EQ(ValidateBootSector(s), c.bit) << "offset " << c.offset;
    }
}

TEST(ValidateBootSector, MediaDescriptors)
{
    for (int media : {0xF0, 0xF8, 0xF9}) {
        std::vector<uint8_t> s = Good();
        s[21] = static_cast<uint8_t>(media);
        EXPECT_EQ(ValidateBootSector(s), 0) << std::hex << media;
    }
    for (int media : {0xFD, 0xFE, 0xFF, 0xFA, 0xFB, 0xFC, 0x00}) {
        std::vector<uint8_t> s = Good();
        s[21] = static_cast<uint8_t>(media);
        EXPECT_EQ(ValidateBootSector(s), BootCheck::BadMedia) << std::hex << media;
    }
}

TEST(ValidateBootSector, FileSystemTypeIsCompared)
{
    std::vector<uint8_t> s = Good();
    SetText(s, 54, "FAT16   ", 8);
    EXPECT_EQ(ValidateBootSector(s), 0);
    SetText(s, 54, "FAT12\0\0\0", 8);
    EXPECT_EQ(ValidateBootSector(s), BootCheck::BadFileSystem) << "zero bytes instead of blanks";
    SetText(s, 54, "fat12   ", 8);
    EXPECT_EQ(ValidateBootSector(s), BootCheck::BadFileSystem) << "case-sensitive";
    SetText(s, 54, "FAT32   ", 8);
    EXPECT_EQ(ValidateBootSector(s), BootCheck::BadFileSystem);
    SetText(s, 54, "FAT     ", 8);
    EXPECT_EQ(ValidateBootSector(s), BootCheck::BadFileSystem);
}

TEST(ValidateBootSector, EitherTotalSectorsFormPasses)
{
    std::vector<uint8_t> s = Good();
    s[21] = 0xF0;
    PutU16(s, 19, 0);
    PutU32(s, 32, 2880);
    EXPECT_EQ(ValidateBootSector(s), 0) << "32-bit total only";
    PutU32(s, 32, 0);
    EXPECT_EQ(ValidateBootSector(s), BootCheck::BadTotalSectors);
    PutU16(s, 19, 1);
    EXPECT_EQ(ValidateBootSector(s), 0);
}

TEST(ValidateBootSector, FuzzedSectorsNeverGiveARunFailure)
{
    // Seeded: the same sectors every run. Whatever the bytes, the check answers with test
    // bits only.
    uint32_t seed = 0x1996C0DE;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return static_cast<uint8_t>(seed >> 16);
    };
    for (int round = 0; round < 2000; ++round) {
        std::vector<uint8_t> s = Good();
        const int changes = 1 + next() % 8;
        for (int i = 0; i < changes; ++i)
            s[(size_t{next()} | size_t{next()} << 8) % 512] = next();
        const BootCheckResult r = ValidateBootSector(s);
        EXPECT_EQ(r & 0x000F, 0) << round;
        EXPECT_EQ(r & ~0x1FF0, 0) << round;
    }
}
