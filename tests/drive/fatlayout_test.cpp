// SPDX-License-Identifier: GPL-3.0-or-later
// FAT layouts the tools never make: values no volume can have, and the width boundary.
#include <gtest/gtest.h>

#include <functional>

#include "drive/fatlayout.h"
#include "drive/media.h"

using namespace vokta;

namespace {

DeviceParams Params144M()
{
    return GeometryOf(kMedia144M)->ToParams();
}

// A FAT of 256 sectors has room for every entry: the data area starts at
// 1 + 2 × 256 + 14 = 527.
constexpr uint32_t kWideDataStart = 527;

// 1.44M parameters with such FATs and the total set so that the data area holds
// `clusters` clusters.
DeviceParams WithClusters(uint32_t clusters)
{
    DeviceParams p = Params144M();
    p.setU16(DeviceParams::SectorsPerFat, 256);
    const uint32_t total = kWideDataStart + clusters;
    p.setU16(DeviceParams::TotalSectors16, total <= 0xFFFF ? static_cast<uint16_t>(total) : 0);
    p.setU32(DeviceParams::TotalSectors32, total <= 0xFFFF ? 0 : total);
    return p;
}

}  // namespace

TEST(FatLayout, ValuesNoVolumeCanHaveGiveNoLayout)
{
    using P = DeviceParams;
    const std::pair<const char*, std::function<void(DeviceParams&)>> damages[] = {
        {"1024-byte sectors", [](P& p) { p.setU16(P::BytesPerSector, 1024); }},
        {"no sectors per cluster", [](P& p) { p.setU8(P::SectorsPerCluster, 0); }},
        {"no FAT", [](P& p) { p.setU8(P::FatCount, 0); }},
        {"no FAT sectors", [](P& p) { p.setU16(P::SectorsPerFat, 0); }},
        {"no total", [](P& p) { p.setU16(P::TotalSectors16, 0); }},
        {"the data area starts at the end", [](P& p) { p.setU16(P::TotalSectors16, 33); }},
        {"not one whole cluster", [](P& p) { p.setU8(P::SectorsPerCluster, 4), p.setU16(P::TotalSectors16, 36); }},
        {"the root directory beyond the end", [](P& p) { p.setU16(P::RootEntries, 0xFFFF); }},
        {"the FATs beyond the end", [](P& p) { p.setU16(P::SectorsPerFat, 1500); }},
    };
    ASSERT_TRUE(FatLayout::FromParams(Params144M()));
    for (const auto& [what, damage] : damages) {
        DeviceParams p = Params144M();
        damage(p);
        EXPECT_FALSE(FatLayout::FromParams(p)) << what;
    }
    EXPECT_FALSE(FatLayout::FromParams(WithClusters(65525))) << "a FAT32 volume";
    EXPECT_FALSE(FatLayout::FromBootSector(std::vector<uint8_t>(35, 0x01))) << "too short for the BPB";
}

TEST(FatLayout, WidthChangesAt4085Clusters)
{
    EXPECT_EQ(FatLayout::FromParams(WithClusters(4084))->fatBits, 12u);
    EXPECT_EQ(FatLayout::FromParams(WithClusters(4085))->fatBits, 16u);
    const std::optional<FatLayout> largest = FatLayout::FromParams(WithClusters(65524));
    ASSERT_TRUE(largest);
    EXPECT_EQ(largest->fatBits, 16u);
    EXPECT_EQ(largest->totalSectors, kWideDataStart + 65524);
    EXPECT_EQ(largest->lastCluster, 65525u);
}
