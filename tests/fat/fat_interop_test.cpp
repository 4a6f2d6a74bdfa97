// SPDX-License-Identifier: GPL-3.0-or-later
// Diskettes made and read by tools nobody here wrote: mkfs.fat, mformat and mcopy fill
// them, the FAT volume marks clusters, tracks and a cylinder BAD (one track over a defective
// sector under a file), and fsck.fat, mdir, mcopy and both FAT copies judge the result.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <regex>
#include <set>

#include "drive/backend/files/virtualdrive.h"
#include "drive/lostwork.h"
#include "fat/fatdisk.h"
#include "fat/fatvolume.h"
#include "support/requiretools.h"
#include "support/tempdir.h"
#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::test;

namespace {

struct Format {
    const char* name;
    MediaType type;
    const char* make;  // makes an empty diskette file at IMG
};

const Format kFormats[] = {
    {"1.44M", kMedia144M, "mkfs.fat -C -i 1D0C0144 --invariant IMG 1440"},
    {"720K", kMedia720K, "mkfs.fat -C -i 1D0C0720 --invariant IMG 720"},
    {"1.72M", kMedia172M, "mformat -i IMG -C -t 82 -h 2 -s 21 -N 1D0C0172 ::"},
};

// Files in the order they are copied; directories first, so their first clusters lie on
// the track where the root directory ends and MANY's later clusters among its files.
const char* const kDirectories[] = {"DIR1", "DIR1/DIR2", "DIR1/DIR2/DIR3", "MANY"};

std::vector<std::pair<std::string, size_t>> SourceFiles()
{
    std::vector<std::pair<std::string, size_t>> files = {
        {"BIG.BIN", 180000}, {"MID.DAT", 40000}, {"Long File Name.txt", 3000},
        {"DIR1/NOTE.TXT", 700}, {"DIR1/DIR2/Another long one.dat", 1500}, {"DIR1/DIR2/DIR3/DEEP.BIN", 20000}};
    for (int i = 1; i <= 40; ++i)
        files.emplace_back("MANY/F" + std::to_string(i) + ".TXT", 100 + 47 * i);
    files.emplace_back("TAIL.BIN", 60000);
    return files;
}

std::string Quote(const std::string& s)
{
    return "'" + s + "'";
}

struct FatInterop : ::testing::TestWithParam<Format> {
    TempDir dir;
    std::string img = dir.File("disk.img");
    MediaGeometry g = *GeometryOf(GetParam().type);
    uint32_t firstDataSector = 0;

    void SetUp() override
    {
        if (!RequireTools({"mkfs.fat", "fsck.fat", "mformat", "mcopy", "mmd", "mdir", "mshowfat"}))
            return;
        setenv("MTOOLS_SKIP_CHECK", "1", 1);
        firstDataSector = 1u + g.fatCount * g.sectorsPerFat + g.rootEntries / 16u;
        MakeDiskette();
    }

    int Mtools(const std::string& args, std::string* out = nullptr)
    {
        return Shell(args + " 2>&1", out);
    }

    void MakeDiskette()
    {
        std::string make = GetParam().make;
        make.replace(make.find("IMG"), 3, Quote(img));
        ASSERT_EQ(Shell(make + " >/dev/null 2>&1"), 0) << make;
        for (const char* d : kDirectories) {
            std::filesystem::create_directories(dir.File(std::string("src/") + d));
            ASSERT_EQ(Mtools("mmd -i " + Quote(img) + " ::" + d), 0) << d;
        }
        std::mt19937 rng(1440);
        for (const auto& [path, size] : SourceFiles()) {
            std::vector<uint8_t> data(size);
            for (uint8_t& b : data)
                b = static_cast<uint8_t>(rng());
            const std::string host = dir.File("src/" + path);
            WriteFile(host, data);
            ASSERT_EQ(Shell("touch -m -d @946684800 " + Quote(host)), 0);
            std::string out;
            ASSERT_EQ(Mtools("mcopy -m -i " + Quote(img) + " " + Quote(host) + " " + Quote("::" + path), &out), 0)
                << out;
        }
    }

    std::string Tree()
    {
        std::string listing;
        Mtools("mdir -/ -i " + Quote(img) + " ::", &listing);
        return std::regex_replace(listing, std::regex(".*bytes free.*\n"), "");
    }

    std::vector<uint16_t> ClustersOf(const std::string& path)
    {
        std::string out;
        Mtools("mshowfat -i " + Quote(img) + " " + Quote("::" + path), &out);
        std::vector<uint16_t> clusters;
        const std::regex run("<(\\d+)(?:-(\\d+))?>");
        for (auto m = std::sregex_iterator(out.begin(), out.end(), run); m != std::sregex_iterator(); ++m) {
            const int first = std::stoi((*m)[1]);
            const int last = (*m)[2].matched ? std::stoi((*m)[2]) : first;
            for (int c = first; c <= last; ++c)
                clusters.push_back(static_cast<uint16_t>(c));
        }
        return clusters;
    }

    uint32_t SectorOf(uint16_t cluster) const { return firstDataSector + (cluster - 2u) * g.sectorsPerCluster; }
    uint32_t TrackStart(uint32_t sector) const { return sector / g.sectorsPerTrack * g.sectorsPerTrack; }

    // The data clusters of the sectors first .. first + count - 1.
    std::set<uint16_t> ClustersIn(uint32_t first, uint32_t count) const
    {
        std::set<uint16_t> clusters;
        for (uint32_t s = std::max(first, firstDataSector); s < first + count; ++s)
            clusters.insert(static_cast<uint16_t>((s - firstDataSector) / g.sectorsPerCluster + 2));
        return clusters;
    }
};

}  // namespace

TEST_P(FatInterop, MarkedDisketteStaysConsistentAndKeepsEveryReadableFile)
{
    const std::string treeBefore = Tree();
    // Clusters after the first of a directory cannot be moved: no mark may touch them.
    std::set<uint16_t> unmovable;
    for (const char* d : kDirectories) {
        const std::vector<uint16_t> chain = ClustersOf(d);
        ASSERT_FALSE(chain.empty()) << d;
        unmovable.insert(chain.begin() + 1, chain.end());
    }
    const auto movable = [&](const std::set<uint16_t>& clusters) {
        return std::ranges::none_of(clusters, [&](uint16_t c) { return unmovable.count(c) != 0; });
    };
    const uint32_t perCylinder = uint32_t{g.sectorsPerTrack} * g.heads;

    const std::vector<uint16_t> big = ClustersOf("BIG.BIN");
    const std::vector<uint16_t> mid = ClustersOf("MID.DAT");
    const std::vector<uint16_t> tail = ClustersOf("TAIL.BIN");
    ASSERT_GT(big.size(), 3u);
    const uint16_t defectCluster = mid[mid.size() / 2];
    const uint32_t defectSector = SectorOf(defectCluster) + g.sectorsPerCluster - 1;
    const uint32_t midTrack = TrackStart(defectSector);
    ASSERT_TRUE(movable(ClustersIn(midTrack, g.sectorsPerTrack)));
    uint32_t cylinder = SectorOf(tail[tail.size() / 2]) / perCylinder;
    while (!movable(ClustersIn(cylinder * perCylinder, perCylinder)))
        ASSERT_LT(++cylinder, g.cylinders) << "no cylinder of TAIL.BIN can be marked";

    std::set<uint16_t> marked = {big[1]};
    const std::vector<uint8_t> original = ReadFile(img);
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    setup.drive->Insert(EmulatedMedium::FromImage(GetParam().type, original));
    setup.drive->medium()->defects.insert({static_cast<uint16_t>(defectSector / perCylinder),
                                           static_cast<uint8_t>(defectSector % perCylinder / g.sectorsPerTrack),
                                           static_cast<uint8_t>(defectSector % g.sectorsPerTrack + 1)});
    {
        DiskDrive drive('A', setup.table);
        FatVolume volume(drive);
        ASSERT_TRUE(drive.SelectMedia(kMediaUnknown, false));
        ASSERT_EQ(drive.mediaType, GetParam().type);
        ASSERT_TRUE(volume.Load());
        ASSERT_EQ(volume.firstDataSector(), firstDataSector);

        ASSERT_TRUE(volume.MarkClusterBad(big[1]));

        std::vector<uint8_t> track(size_t{g.sectorsPerTrack} * 512);
        EXPECT_FALSE(drive.ReadSectors(midTrack, g.sectorsPerTrack, track));
        EXPECT_EQ(drive.TakeError(), Err::BadCrc);
        ASSERT_EQ(volume.MarkTrackBadAtSector(defectSector).error(), Err::None);
        const std::set<uint16_t> onMidTrack = ClustersIn(midTrack, g.sectorsPerTrack);
        marked.insert(onMidTrack.begin(), onMidTrack.end());

        // The root directory's last track: the directories' first clusters and BIG.BIN's first.
        ASSERT_EQ(volume.MarkTrackBadAtSector(firstDataSector - 1).error(), Err::None);
        const std::set<uint16_t> onRootEnd = ClustersIn(TrackStart(firstDataSector - 1), g.sectorsPerTrack);
        marked.insert(onRootEnd.begin(), onRootEnd.end());

        const uint32_t nextTrack = TrackStart(firstDataSector - 1) + g.sectorsPerTrack;
        ASSERT_TRUE(movable(ClustersIn(nextTrack, g.sectorsPerTrack)));
        ASSERT_EQ(volume
                      .MarkTrackBad(static_cast<uint16_t>(nextTrack / perCylinder),
                                    static_cast<uint16_t>(nextTrack % perCylinder / g.sectorsPerTrack))
                      .error(),
                  Err::None);
        const std::set<uint16_t> onNextTrack = ClustersIn(nextTrack, g.sectorsPerTrack);
        marked.insert(onNextTrack.begin(), onNextTrack.end());

        ASSERT_EQ(volume.MarkCylinderBad(static_cast<uint16_t>(cylinder)).error(), Err::None);
        const std::set<uint16_t> onCylinder = ClustersIn(cylinder * perCylinder, perCylinder);
        marked.insert(onCylinder.begin(), onCylinder.end());
    }
    WriteFile(img, setup.drive->medium()->ToImage(GetParam().type));

    std::string fsck;
    EXPECT_EQ(Shell("fsck.fat -n " + Quote(img) + " 2>&1", &fsck), 0) << fsck;
    EXPECT_EQ(Tree(), treeBefore);

    for (const auto& [path, size] : SourceFiles()) {
        std::string read;
        ASSERT_EQ(Shell("mcopy -i " + Quote(img) + " " + Quote("::" + path) + " - 2>/dev/null", &read), 0) << path;
        std::vector<uint8_t> expected = ReadFile(dir.File("src/" + path));
        if (path == "MID.DAT") {
            // The unreadable sector moved as zeros; the rest of the file is intact.
            const size_t at = (mid.size() / 2) * g.sectorsPerCluster * 512 + (g.sectorsPerCluster - 1) * 512;
            std::fill_n(expected.begin() + static_cast<std::ptrdiff_t>(at), 512, 0);
        }
        EXPECT_EQ(std::vector<uint8_t>(read.begin(), read.end()), expected) << path;
    }

    FatDisk disk(GetParam().type, ReadFile(img));
    EXPECT_TRUE(std::ranges::equal(disk.Fat(0), disk.Fat(1)));
    for (uint16_t c : marked)
        EXPECT_EQ(disk.Entry(c), 0xFF7) << "cluster " << c;
}

INSTANTIATE_TEST_SUITE_P(Diskettes, FatInterop, ::testing::ValuesIn(kFormats),
                         [](const ::testing::TestParamInfo<Format>& param) {
                             std::string name = param.param.name;
                             std::erase(name, '.');
                             return "D" + name;
                         });

// Marks committed through a drive bound to a diskette file are in the file the tools read.
TEST(FatCommitInterop, CommittedMarksAreInTheDisketteFile)
{
    if (!RequireTools({"mkfs.fat", "fsck.fat", "mcopy", "mdir", "mshowfat"}))
        return;
    setenv("MTOOLS_SKIP_CHECK", "1", 1);
    TempDir dir;
    const std::string img = dir.File("disk.img");
    const std::string host = dir.File("data.bin");
    std::vector<uint8_t> data(9000);
    std::mt19937 rng(720);
    for (uint8_t& b : data)
        b = static_cast<uint8_t>(rng());
    WriteFile(host, data);
    ASSERT_EQ(Shell("mkfs.fat -C -i 1D0C0001 --invariant " + Quote(img) + " 1440 >/dev/null 2>&1"), 0);
    ASSERT_EQ(Shell("mcopy -i " + Quote(img) + " " + Quote(host) + " ::DATA.BIN 2>&1"), 0);
    std::string chain;
    Shell("mshowfat -i " + Quote(img) + " ::DATA.BIN", &chain);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(chain, m, std::regex("<(\\d+)-(\\d+)>"))) << chain;
    const auto first = static_cast<uint16_t>(std::stoi(m[1]));
    const auto third = static_cast<uint16_t>(first + 2);

    TakeLostWork();
    DriveTable table;
    table.Bind(VirtualDriveBinding('A', img, DriveKind::Floppy35HD));
    {
        DiskDrive drive('A', table);
        FatVolume volume(drive);
        ASSERT_TRUE(drive.SelectMedia(kMediaUnknown, false));
        ASSERT_TRUE(volume.Load());
        ASSERT_TRUE(volume.MarkClusterBad(first));  // the root entry changes too
        ASSERT_TRUE(volume.MarkClusterBad(third));
        EXPECT_TRUE(drive.Commit()) << drive.commitFailureDetail;
    }
    EXPECT_TRUE(TakeLostWork().empty());

    std::string out;
    EXPECT_EQ(Shell("fsck.fat -n " + Quote(img) + " 2>&1", &out), 0) << out;
    Shell("mdir -i " + Quote(img) + " :: 2>&1", &out);
    EXPECT_TRUE(std::regex_search(out, std::regex("DATA +BIN +9000"))) << out;
    std::string read;
    ASSERT_EQ(Shell("mcopy -i " + Quote(img) + " ::DATA.BIN - 2>/dev/null", &read), 0);
    EXPECT_EQ(std::vector<uint8_t>(read.begin(), read.end()), data);
    FatDisk disk(kMedia144M, ReadFile(img));
    for (const uint16_t c : {first, third}) {
        EXPECT_EQ(disk.Entry(c, 0), 0xFF7) << c;
        EXPECT_EQ(disk.Entry(c, 1), 0xFF7) << c;
    }
}
