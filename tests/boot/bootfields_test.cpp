// SPDX-License-Identifier: GPL-3.0-or-later
// The boot check beyond its nine tests: the fields no usable volume can have, over boot
// sectors of the media table and byte edits of them, each with the lines the Boot page
// lists for it.
#include <gtest/gtest.h>

#include <functional>

#include "boot/bootsector.h"
#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::test;

namespace {

struct Case {
    const char* name;
    MediaType type;
    std::function<void(std::vector<uint8_t>&)> edit;
    std::vector<std::string> lines;
};

void Put16(std::vector<uint8_t>& s, size_t at, uint16_t v)
{
    PutU16(s, at, v);
}

const std::string kOk = "OK.";
const std::string kPerCluster = "Invalid number of sectors per cluster.";
const std::string kRoot = "Invalid number of root directory entries.";
const std::string kPerFat = "Invalid number of sectors per FAT.";
const std::string kPerTrack = "Invalid number of sectors per track.";
const std::string kHeads = "Invalid number of heads.";
const std::string kSystemArea = "The system area leaves no room for data.";

const Case kCases[] = {
    {"TableSectorsOf720K", kMedia720K, [](auto&) {}, {kOk}},
    {"TableSectorsOf12M", kMedia12M, [](auto&) {}, {kOk}},
    {"TableSectorsOf144M", kMedia144M, [](auto&) {}, {kOk}},
    {"TableSectorsOf168M", kMedia168M, [](auto&) {}, {kOk}},
    {"TableSectorsOf172M", kMedia172M, [](auto&) {}, {kOk}},
    {"NoSectorsPerCluster", kMedia144M, [](auto& s) { s[13] = 0; }, {kPerCluster}},
    {"ClusterNotAPowerOfTwo", kMedia144M, [](auto& s) { s[13] = 3; }, {kPerCluster}},
    {"TwoSectorClustersWithTheirFat", kMedia144M, [](auto& s) { s[13] = 2; Put16(s, 22, 5); }, {kOk}},
    {"NoRootEntries", kMedia144M, [](auto& s) { Put16(s, 17, 0); }, {kRoot}},
    {"RootEntriesPartOfASector", kMedia144M, [](auto& s) { Put16(s, 17, 225); }, {kRoot}},
    {"SixteenRootEntries", kMedia144M, [](auto& s) { Put16(s, 17, 16); }, {kOk}},
    {"NoSectorsPerFat", kMedia144M, [](auto& s) { Put16(s, 22, 0); }, {kPerFat}},
    {"FatTooSmallForTheClusters", kMedia144M, [](auto& s) { Put16(s, 22, 1); }, {kPerFat}},
    {"FatOfTwoHundredSectors", kMedia144M, [](auto& s) { Put16(s, 22, 200); }, {kPerFat}},
    {"FatOneSectorShort", kMedia144M, [](auto& s) { Put16(s, 22, 8); }, {kPerFat}},
    {"FatOfAFullVolumeIsNotTooLarge", kMedia720K, [](auto& s) { Put16(s, 22, 3); }, {kOk}},
    {"NoSectorsPerTrack", kMedia144M, [](auto& s) { Put16(s, 24, 0); }, {kPerTrack}},
    {"SixtyFourSectorsPerTrack", kMedia720K, [](auto& s) { Put16(s, 24, 64); }, {kPerTrack}},
    {"TwentyOneSectorTracksOfA144M", kMedia144M, [](auto& s) { Put16(s, 24, 21); }, {kPerTrack}},
    // mkfs.fat's 16 sectors on the distribution sizes leave every sector on the medium.
    {"SixteenSectorTracksOfA168M", kMedia168M, [](auto& s) { Put16(s, 24, 16); }, {kOk}},
    {"NoHeads", kMedia144M, [](auto& s) { Put16(s, 26, 0); }, {kHeads}},
    {"OneHeadOfA144M", kMedia144M, [](auto& s) { Put16(s, 26, 1); }, {kHeads}},
    {"LotsOfHeads", kMedia144M, [](auto& s) { Put16(s, 26, 65535); }, {kHeads}},
    {"TwoHundredFiftyFiveHeadsOfAnotherSize", kMedia144M,
     [](auto& s) { Put16(s, 26, 255); Put16(s, 19, 2000); Put16(s, 22, 6); }, {kOk}},
    {"TotalShorterThanTheSystemArea", kMedia144M, [](auto& s) { Put16(s, 19, 30); }, {kSystemArea}},
    {"TotalOfTheSystemAreaAlone", kMedia144M, [](auto& s) { Put16(s, 19, 33); }, {kSystemArea}},
    {"TwoHundredFiftyFiveFats", kMedia144M, [](auto& s) { s[16] = 255; }, {"Invalid number of FATs."}},
    {"TwoHundredFiftyFiveFatsOf200Sectors", kMedia144M, [](auto& s) { s[16] = 255; Put16(s, 22, 200); },
     {"Invalid number of FATs.", kSystemArea}},
    // What the nine tests name already is not named twice.
    {"AllZeros", kMedia144M, [](auto& s) { std::fill(s.begin(), s.end(), 0); },
     {"Invalid final signature.", "Invalid initial op codes.", "Invalid sector length.",
      "Invalid begin sector number.", "Invalid number of FATs.", "Invalid extended boot signature.",
      "Invalid media code.", "Invalid file system name.", "Invalid total number of sectors."}},
    {"SectorsOf4096Bytes", kMedia144M, [](auto& s) { Put16(s, 11, 4096); Put16(s, 22, 0); },
     {"Invalid sector length."}},
    {"NoTotal", kMedia144M, [](auto& s) { Put16(s, 19, 0); }, {"Invalid total number of sectors."}},
    {"FourReservedSectors", kMedia144M, [](auto& s) { Put16(s, 14, 4); }, {"Invalid begin sector number."}},
    {"EverythingAtOnce", kMedia144M,
     [](auto& s) { s[13] = 0; Put16(s, 17, 0); Put16(s, 22, 0); Put16(s, 24, 0); Put16(s, 26, 0); s[21] = 0xFD; },
     {"Invalid media code.", kPerCluster, kRoot, kPerFat, kPerTrack, kHeads}},
};

}  // namespace

TEST(BootFields, EachCaseListsItsLines)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> sector = BootSectorFor(c.type);
        c.edit(sector);
        const BootCheckReport report = CheckBootSectorBytes(sector);
        EXPECT_EQ(BootCheckLines(report), c.lines);
        // The nine tests answer as they always did; the rest is told by a bit of its own.
        EXPECT_EQ(report.result & BootCheck::AllTests, ValidateBootSector(sector));
        EXPECT_EQ((report.result & BootCheck::Implausible) != 0, report.fields != 0);
        EXPECT_FALSE(IsRunFailure(report.result));
    }
}

TEST(BootFields, RunFailuresKeepTheirOneLine)
{
    EXPECT_EQ(BootCheckLines(BootCheckReport{BootCheck::ReadError, 0}), std::vector<std::string>{"Read error."});
    EXPECT_EQ(BootCheckLines(BootCheckReport{BootCheck::MediaUnknown, 0}),
              std::vector<std::string>{"Media UNKNOWN or Drive NOT Ready."});
}
