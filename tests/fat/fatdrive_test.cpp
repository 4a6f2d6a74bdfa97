// SPDX-License-Identifier: GPL-3.0-or-later
// The FAT volume on the emulated drive: loading the FAT, locating clusters, and marking
// clusters, tracks and cylinders BAD with the data moved and its owners relinked.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "drive/lostwork.h"
#include "fat/direntry.h"
#include "fat/fatdisk.h"
#include "fat/fatvolume.h"
#include "fat/volumeondrive.h"
#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::test;

namespace {

// Fails the next `times` writes that reach the FAT copies of `disk`'s geometry, as a
// diskette whose FAT sectors no longer take data would.
void FailFatWrites(EmulatedSetup& setup, const FatDisk& disk, int times, DiskError error)
{
    const MediaGeometry g = *GeometryOf(disk.type);
    const uint32_t fatEnd = 1 + 2u * disk.sectorsPerFat;
    setup.recorder->FailNext(
        [=](const DiskRequest& r) {
            if (r.controlCode != Control::DosIoctl || r.minor() != Minor::WriteTrack)
                return false;
            const uint32_t first = (uint32_t{TrackIoBlock::Cylinder(r.block)} * g.heads + TrackIoBlock::Head(r.block)) *
                                       g.sectorsPerTrack +
                                   TrackIoBlock::FirstSector(r.block);
            return first < fatEnd && first + TrackIoBlock::Count(r.block) > 1;
        },
        times, CodeOf(error));
}

// Leaves `error` pending in the drive, as a read that fails with it does.
void LeavePending(EmulatedSetup& setup, DiskDrive& drive, DiskError error)
{
    setup.recorder->FailNext(
        [](const DiskRequest& r) { return r.controlCode == Control::DosIoctl && r.minor() == Minor::ReadTrack; }, 1,
        CodeOf(error));
    std::vector<uint8_t> sector(512);
    EXPECT_FALSE(drive.ReadSectors(0, 1, sector));
    EXPECT_EQ(drive.PendingError(), error);
    setup.recorder->log.clear();
}

uint16_t StartOf(std::span<const uint8_t> entry)
{
    return GetU16(entry, 26);
}

struct FatDiskette : ::testing::Test {
    EmulatedSetup setup{'A', DriveKind::Floppy35HD};
    FatDisk image{kMedia144M};

    std::unique_ptr<VolumeOnDrive> Open(int32_t select)
    {
        setup.drive->Insert(EmulatedMedium::FromImage(image.type, image.bytes));
        auto drive = std::make_unique<VolumeOnDrive>('A', setup.table);
        EXPECT_TRUE(drive->disk.SelectMedia(select, false));
        return drive;
    }

    std::unique_ptr<VolumeOnDrive> Load()
    {
        auto drive = Open(image.type);
        EXPECT_TRUE(drive->fat.Load());
        setup.recorder->log.clear();
        setup.drive->modified = false;
        return drive;
    }

    FatDisk Disk() const { return FatDisk(image.type, setup.drive->medium()->ToImage(image.type)); }

    // Sector s of the diskette as the drive holds it.
    void Defect(uint32_t sector)
    {
        const MediaGeometry g = *GeometryOf(image.type);
        const uint32_t perCylinder = uint32_t{g.sectorsPerTrack} * g.heads;
        setup.drive->medium()->defects.insert(
            {static_cast<uint16_t>(sector / perCylinder), static_cast<uint8_t>(sector % perCylinder / g.sectorsPerTrack),
             static_cast<uint8_t>(sector % g.sectorsPerTrack + 1)});
    }
};

// On a 1.44M diskette (cluster c at sector 31 + c; track 1 holds the root's end and
// clusters 2..4):
//   BIG.DAT  2..9
//   DIR1     20, 60: SUB.A (30, holding DEEP.TXT at 40), FILE.A (31, 32), twelve empty
//            files, and SUB.B (33) listed in its second cluster
//   TAIL.DAT 50..52
struct TreeDiskette : FatDiskette {
    void SetUp() override
    {
        image.AddFile(0, "BIG     DAT", {2, 3, 4, 5, 6, 7, 8, 9});
        image.AddDirectory(0, "DIR1", {20, 60});
        image.AddDirectory(20, "SUB     A", {30});
        image.AddFile(20, "FILE    A", {31, 32});
        for (char i = 'A'; i < 'A' + 12; ++i)
            image.AddFile(20, std::string("EMPTY   ") + i, {});
        image.AddDirectory(20, "SUB     B", {33});
        image.AddFile(30, "DEEP    TXT", {40});
        image.AddFile(0, "TAIL    DAT", {50, 51, 52});
    }

    std::vector<uint16_t> ChainOf(const FatDisk& disk, uint16_t start) const
    {
        std::vector<uint16_t> chain;
        for (uint16_t c = start; c >= 2 && c < 0xFF0 && chain.size() < 100; c = disk.Entry(c))
            chain.push_back(c);
        return chain;
    }

    // The clusters of a file now hold the data it held before the moves.
    void ExpectData(FatDisk& disk, const std::vector<uint16_t>& chain, const std::vector<uint16_t>& original)
    {
        ASSERT_EQ(chain.size(), original.size());
        for (size_t i = 0; i < chain.size(); ++i) {
            const std::span<uint8_t> now = disk.Cluster(chain[i]);
            EXPECT_TRUE(std::ranges::equal(now, image.Pattern(original[i]))) << "cluster " << chain[i];
        }
    }
};

}  // namespace

TEST_F(FatDiskette, GeometryOf144M)
{
    auto drive = Load();
    EXPECT_EQ(drive->fat.firstDataSector(), 33);
    EXPECT_EQ(drive->fat.lastCluster(), 2848);
    EXPECT_EQ(drive->fat.sectorsPerCluster(), 1);
    EXPECT_EQ(drive->fat.fatBits(), 12);
    EXPECT_EQ(drive->fat.fat().size(), 9u * 512);
    EXPECT_EQ(drive->fat.RootEntryCount() * 32, 224 * 32);
    EXPECT_EQ(drive->fat.SectorOfCluster(2), 33u);
    EXPECT_EQ(drive->fat.ClusterOfSector(33), 2);
    EXPECT_EQ(drive->fat.ClusterOfSector(2879), 2848);
    EXPECT_EQ(drive->fat.ClusterOfSector(32), 0) << "the system area's";
    EXPECT_EQ(drive->fat.SectorOfCluster(1), 33u) << "taken as cluster 2";
    EXPECT_EQ(drive->disk.PendingError(), Err::None);
}

TEST_F(FatDiskette, GeometryOf720K)
{
    image = FatDisk(kMedia720K);
    auto drive = Load();
    EXPECT_EQ(drive->fat.firstDataSector(), 14);
    EXPECT_EQ(drive->fat.lastCluster(), 714);
    EXPECT_EQ(drive->fat.sectorsPerCluster(), 2);
    EXPECT_EQ(drive->fat.SectorOfCluster(3), 16u);
    EXPECT_EQ(drive->fat.ClusterOfSector(17), 3);
    EXPECT_EQ(drive->fat.ClusterOfSector(16), 3);
    EXPECT_EQ(drive->disk.PendingError(), Err::None);
}

TEST_F(FatDiskette, ClusterCountNotTheMediaByteChoosesTheEntryWidth)
{
    for (const uint8_t mediaByte : {uint8_t{0xF0}, uint8_t{0xF9}, uint8_t{0xF8}}) {
        FatDisk disk(kMedia144M);
        disk.Fat(0)[0] = mediaByte;
        setup.drive->Insert(EmulatedMedium::FromImage(kMedia144M, disk.bytes));
        VolumeOnDrive drive('A', setup.table);
        ASSERT_TRUE(drive.disk.SelectMedia(kMedia144M, false));
        ASSERT_TRUE(drive.fat.Load());
        EXPECT_EQ(drive.fat.fatBits(), 12) << "2847 clusters, media byte " << std::hex << int{mediaByte};
    }
}

TEST_F(FatDiskette, NothingWorksWithoutAFat)
{
    auto drive = Open(kMedia144M);
    EXPECT_EQ(drive->fat.GetFatEntry(2), FatValue::NoEntry);
    EXPECT_FALSE(drive->fat.SetFatEntry(2, 0));
    EXPECT_EQ(drive->fat.FindFreeCluster(2), FatValue::NoEntry);
    EXPECT_FALSE(drive->fat.FindOwner(2));
    for (auto mark : {+[](FatVolume& v) { return v.MarkClusterBad(5); },
                      +[](FatVolume& v) { return v.MarkTrackBadAtSector(40); },
                      +[](FatVolume& v) { return v.MarkTrackBad(2, 0); },
                      +[](FatVolume& v) { return v.MarkCylinderBad(2); }}) {
        EXPECT_EQ(mark(drive->fat).error(), Err::UnrecognizedMedia);
    }
    EXPECT_EQ(drive->disk.PendingError(), Err::None) << "the volume's answer, not the drive's";
}

TEST_F(FatDiskette, UndeterminedMediaLoadsNothingAndSetsNoError)
{
    setup.drive->Insert(EmulatedMedium::FromImage(image.type, image.bytes));
    VolumeOnDrive drive('A', setup.table);
    EXPECT_EQ(drive.fat.Load().error(), Err::UnrecognizedMedia);
    EXPECT_EQ(drive.disk.PendingError(), Err::None);
    EXPECT_FALSE(drive.fat.HasFat());
}

TEST_F(FatDiskette, UnreadableFirstCopyIsReplacedByTheSecond)
{
    image.Fat(1)[10] = 0x5A;  // tells the copies apart
    setup.drive->Insert(EmulatedMedium::FromImage(image.type, image.bytes));
    Defect(4);
    VolumeOnDrive drive('A', setup.table);
    ASSERT_TRUE(drive.disk.SelectMedia(kMedia144M, false));
    ASSERT_TRUE(drive.fat.Load());
    EXPECT_EQ(drive.fat.fat()[10], 0x5A);
    EXPECT_EQ(drive.disk.PendingError(), Err::None);
}

TEST_F(FatDiskette, WithoutAReadableCopyThereIsNoFatAndNothingIsWrittenBack)
{
    {
        setup.drive->Insert(EmulatedMedium::FromImage(image.type, image.bytes));
        Defect(3);
        Defect(12);
        VolumeOnDrive drive('A', setup.table);
        ASSERT_TRUE(drive.disk.SelectMedia(kMedia144M, false));
        EXPECT_EQ(drive.fat.Load().error(), Err::BadCrc);
        EXPECT_EQ(drive.fat.trust(), FatVolume::Trust::Unsound);
        EXPECT_EQ(drive.disk.PendingError(), Err::None);
        EXPECT_FALSE(drive.fat.HasFat());
        EXPECT_EQ(drive.fat.MarkClusterBad(100).error(), Err::UnrecognizedMedia);
    }
    EXPECT_FALSE(setup.drive->modified);
}

TEST_F(FatDiskette, UnreadableRootDirectoryFailsTheLoad)
{
    setup.drive->Insert(EmulatedMedium::FromImage(image.type, image.bytes));
    Defect(25);
    VolumeOnDrive drive('A', setup.table);
    ASSERT_TRUE(drive.disk.SelectMedia(kMedia144M, false));
    EXPECT_EQ(drive.fat.Load().error(), Err::BadCrc);
    EXPECT_EQ(drive.disk.PendingError(), Err::BadCrc) << "the drive's own read";
    EXPECT_FALSE(drive.fat.HasFat());
}

TEST_F(FatDiskette, UnusableParametersAreRefused)
{
    image.bytes[13] = 0;  // sectors per cluster, read back as the medium's parameters
    auto drive = Open(kMediaUnknown);
    ASSERT_EQ(drive->disk.mediaType, kMedia144M);
    EXPECT_EQ(drive->fat.Load().error(), Err::UnrecognizedMedia);
    EXPECT_FALSE(drive->fat.HasFat());
}

TEST_F(FatDiskette, SingleFatCopyIsWrittenBackWithoutTouchingTheRootDirectory)
{
    // One FAT of 9 sectors: the root directory starts at sector 10, the data at 24.
    image.bytes[16] = 1;
    PutName(image.Sector(10).subspan(0, 32), "KEEP    ME");
    {
        auto drive = Open(kMediaUnknown);
        ASSERT_TRUE(drive->fat.Load());
        EXPECT_EQ(drive->fat.firstDataSector(), 24);
        ASSERT_TRUE(drive->fat.MarkClusterBad(7));
    }
    FatDisk disk = Disk();
    EXPECT_EQ(disk.Entry(7), 0xFF7);
    EXPECT_TRUE(std::ranges::equal(disk.Sector(10), image.Sector(10)));
}

TEST_F(FatDiskette, EntriesChangeOnlyWithinTheTableAndWithoutPendingError)
{
    auto drive = Load();
    EXPECT_FALSE(drive->fat.FatChanged());
    EXPECT_FALSE(drive->fat.SetFatEntry(2849, 5));
    EXPECT_EQ(drive->fat.GetFatEntry(2849), FatValue::NoEntry);
    LeavePending(setup, drive->disk, Err::BadCrc);
    EXPECT_FALSE(drive->fat.SetFatEntry(2, 5));
    EXPECT_FALSE(drive->fat.FatChanged());
    (void)drive->disk.TakeError();
    EXPECT_TRUE(drive->fat.SetFatEntry(2848, 0xFF7));
    EXPECT_TRUE(drive->fat.FatChanged());
    EXPECT_EQ(drive->fat.GetFatEntry(2848), 0xFF7);
    EXPECT_TRUE(drive->fat.IsClusterBad(2848));
}

TEST_F(TreeDiskette, FindsOwnersDepthFirst)
{
    auto drive = Load();
    const std::optional<Owner> deep = drive->fat.FindOwner(40);
    ASSERT_TRUE(deep);
    EXPECT_EQ(deep->firstCluster, 40);
    EXPECT_FALSE(deep->isDirectory);
    EXPECT_EQ(deep->entrySector, image.SectorOf(30));
    EXPECT_EQ(deep->entryOffset, 64) << "after . and ..";

    const std::optional<Owner> middle = drive->fat.FindOwner(5);
    ASSERT_TRUE(middle);
    EXPECT_EQ(middle->firstCluster, 2);

    const std::optional<Owner> sub = drive->fat.FindOwner(33);
    ASSERT_TRUE(sub);
    EXPECT_TRUE(sub->isDirectory);
    EXPECT_EQ(sub->entrySector, image.SectorOf(60));
    EXPECT_EQ(sub->entryOffset, 0);

    const std::optional<Owner> root = drive->fat.FindOwner(50);
    ASSERT_TRUE(root);
    EXPECT_EQ(root->entrySector, 19u);
    EXPECT_EQ(root->entryOffset, 64);

    EXPECT_FALSE(drive->fat.FindOwner(70)) << "nobody";
    EXPECT_FALSE(drive->fat.FindOwner(60)) << "second cluster of a directory";
    EXPECT_EQ(drive->disk.PendingError(), Err::None);
}

TEST_F(TreeDiskette, FreeClusterIsMarkedWithoutTouchingAnyDirectory)
{
    {
        auto drive = Load();
        ASSERT_TRUE(drive->fat.MarkClusterBad(100));
        EXPECT_EQ(drive->fat.GetFatEntry(100), 0xFF7);
        EXPECT_FALSE(drive->fat.RootChanged());
        EXPECT_TRUE(setup.recorder->Requests(Minor::WriteTrack).empty());
        EXPECT_TRUE(setup.recorder->Requests(Minor::ReadTrack).empty());
    }
    FatDisk disk = Disk();
    EXPECT_EQ(disk.Entry(100, 0), 0xFF7);
    EXPECT_EQ(disk.Entry(100, 1), 0xFF7);
    EXPECT_TRUE(std::ranges::equal(disk.RootEntry(0), image.RootEntry(0)));
}

TEST_F(TreeDiskette, SecondClusterOfAFileIsRelinkedAndCopied)
{
    auto drive = Load();
    ASSERT_TRUE(drive->fat.MarkClusterBad(51));
    EXPECT_EQ(drive->fat.GetFatEntry(50), 10);
    EXPECT_EQ(drive->fat.GetFatEntry(10), 52);
    EXPECT_EQ(drive->fat.GetFatEntry(51), 0xFF7);
    EXPECT_FALSE(drive->fat.RootChanged());
    FatDisk disk = Disk();
    EXPECT_TRUE(std::ranges::equal(disk.Cluster(10), image.Pattern(51))) << "data written at once";
}

TEST_F(TreeDiskette, FirstClusterOfARootFileChangesItsEntryAtDestruction)
{
    auto drive = Load();
    ASSERT_TRUE(drive->fat.MarkClusterBad(50));
    EXPECT_TRUE(drive->fat.RootChanged());
    EXPECT_EQ(StartOf(std::span(drive->fat.rootDir()).subspan(64, 32)), 10);
    EXPECT_EQ(StartOf(Disk().RootEntry(2)), 50) << "not on the disk yet";
    EXPECT_EQ(Disk().Entry(50), 51);
    drive.reset();

    FatDisk disk = Disk();
    EXPECT_EQ(StartOf(disk.RootEntry(2)), 10);
    EXPECT_EQ(disk.Entry(50, 0), 0xFF7);
    EXPECT_EQ(disk.Entry(50, 1), 0xFF7);
    ExpectData(disk, ChainOf(disk, 10), {50, 51, 52});
}

TEST_F(TreeDiskette, FirstClusterOfASubdirectoryTakesItsChildrenAlong)
{
    ASSERT_TRUE(Load()->fat.MarkClusterBad(20));
    FatDisk disk = Disk();
    EXPECT_EQ(StartOf(disk.RootEntry(1)), 10);
    EXPECT_EQ(ChainOf(disk, 10), (std::vector<uint16_t>{10, 60}));
    EXPECT_EQ(disk.Entry(20), 0xFF7);
    const std::span<uint8_t> moved = disk.Cluster(10);
    EXPECT_TRUE(DirEntry::IsDotEntry(moved));
    EXPECT_EQ(StartOf(moved.subspan(0, 32)), 10);
    EXPECT_EQ(StartOf(moved.subspan(32, 32)), 0) << "its own parent is still the root";
    EXPECT_TRUE(std::ranges::equal(moved.subspan(64), image.Cluster(20).subspan(64)));
    EXPECT_EQ(StartOf(disk.Cluster(30).subspan(32, 32)), 10) << "SUB.A, listed in the moved cluster";
    EXPECT_EQ(StartOf(disk.Cluster(33).subspan(32, 32)), 10) << "SUB.B, listed in the second cluster";
    EXPECT_TRUE(std::ranges::equal(disk.Cluster(40), image.Pattern(40)));
}

TEST_F(TreeDiskette, FirstClusterOfANestedSubdirectoryIsRelinkedOnTheDiskAtOnce)
{
    auto drive = Load();
    ASSERT_TRUE(drive->fat.MarkClusterBad(30));
    EXPECT_FALSE(drive->fat.RootChanged());
    FatDisk disk = Disk();
    EXPECT_EQ(StartOf(disk.Cluster(20).subspan(64, 32)), 10) << "SUB.A's entry in DIR1";
    EXPECT_EQ(StartOf(disk.Cluster(10).subspan(0, 32)), 10);
    EXPECT_EQ(StartOf(disk.Cluster(10).subspan(32, 32)), 20);
    EXPECT_EQ(StartOf(disk.Cluster(10).subspan(64, 32)), 40) << "DEEP.TXT";
}

TEST_F(TreeDiskette, SecondClusterOfASubdirectoryIsNotFound)
{
    auto drive = Load();
    const std::vector<uint8_t> fat(drive->fat.fat().begin(), drive->fat.fat().end());
    EXPECT_EQ(drive->fat.MarkClusterBad(60).error(), Err::EndOfDisk);
    EXPECT_TRUE(std::ranges::equal(drive->fat.fat(), fat));
}

TEST_F(TreeDiskette, TrackWhereTheRootEndsLosesOnlyItsDataSectors)
{
    auto drive = Load();
    ASSERT_TRUE(drive->fat.MarkTrackBadAtSector(30));
    for (uint16_t c = 2; c <= 4; ++c)
        EXPECT_EQ(drive->fat.GetFatEntry(c), 0xFF7) << c;
    EXPECT_EQ(drive->fat.GetFatEntry(5), 6);
    EXPECT_EQ(StartOf(std::span(drive->fat.rootDir()).subspan(0, 32)), 10);
    FatDisk before = Disk();
    EXPECT_TRUE(std::ranges::equal(std::span(before.bytes).first(33 * 512), std::span(image.bytes).first(33 * 512)))
        << "the system area waits for the destruction";
    drive.reset();

    FatDisk disk = Disk();
    ExpectData(disk, ChainOf(disk, StartOf(disk.RootEntry(0))), {2, 3, 4, 5, 6, 7, 8, 9});
    EXPECT_EQ(ChainOf(disk, StartOf(disk.RootEntry(0))).front(), 10);
}

TEST_F(TreeDiskette, AFullDiskRefusesTheMoveAndKeepsTheFat)
{
    for (uint16_t c = 2; c <= 2848; ++c)
        if (image.Entry(c) == 0)
            image.SetEntry(c, 0xFF7);
    auto drive = Load();
    const std::vector<uint8_t> fat(drive->fat.fat().begin(), drive->fat.fat().end());
    EXPECT_EQ(drive->fat.MarkClusterBad(51).error(), Err::DiskFull);
    EXPECT_TRUE(std::ranges::equal(drive->fat.fat(), fat));
    EXPECT_FALSE(drive->fat.RootChanged());
}

TEST_F(TreeDiskette, TracksHoldingTheSystemAreaAreRefused)
{
    auto drive = Load();
    EXPECT_EQ(drive->fat.MarkTrackBad(0, 0).error(), Err::EndOfDisk);
    (void)drive->disk.TakeError();
    EXPECT_EQ(drive->fat.MarkCylinderBad(0).error(), Err::EndOfDisk);
    EXPECT_FALSE(drive->fat.FatChanged());
    EXPECT_FALSE(setup.drive->modified);
}

TEST_F(TreeDiskette, CylinderIsMarkedOnBothHeads)
{
    auto drive = Load();
    ASSERT_TRUE(drive->fat.MarkCylinderBad(1));  // sectors 36..71: clusters 5..40
    for (uint16_t c = 5; c <= 40; ++c)
        EXPECT_TRUE(drive->fat.IsClusterBad(c)) << c;
    drive.reset();
    FatDisk disk = Disk();
    ExpectData(disk, ChainOf(disk, StartOf(disk.RootEntry(0))), {2, 3, 4, 5, 6, 7, 8, 9});
    const uint16_t dir1 = StartOf(disk.RootEntry(1));
    const uint16_t subA = StartOf(disk.Cluster(dir1).subspan(64, 32));
    EXPECT_EQ(StartOf(disk.Cluster(subA).subspan(0, 32)), subA);
    EXPECT_EQ(StartOf(disk.Cluster(subA).subspan(32, 32)), dir1);
    const uint16_t deep = StartOf(disk.Cluster(subA).subspan(64, 32));
    EXPECT_TRUE(std::ranges::equal(disk.Cluster(deep), image.Pattern(40)));
}

TEST_F(TreeDiskette, AHeadBeyondTheMediumIsRefused)
{
    auto drive = Load();
    EXPECT_EQ(drive->fat.MarkTrackBad(5, 2).error(), Err::EndOfDisk);
}

TEST_F(TreeDiskette, ClusterThatFailsTheWriteTestIsMarkedAndPassedOver)
{
    auto drive = Load();
    setup.recorder->FailNext(
        [](const DiskRequest& r) {
            return r.controlCode == Control::DosIoctl && r.minor() == Minor::WriteTrack &&
                   TrackIoBlock::Cylinder(r.block) == 1 && TrackIoBlock::Head(r.block) == 0 &&
                   TrackIoBlock::FirstSector(r.block) == 5;  // sector 41: cluster 10
        },
        1, CodeOf(Err::SectorNotFound));
    ASSERT_TRUE(drive->fat.MarkClusterBad(51));
    EXPECT_EQ(drive->fat.GetFatEntry(10), 0xFF7);
    EXPECT_EQ(drive->fat.GetFatEntry(50), 11);
    EXPECT_EQ(drive->fat.GetFatEntry(11), 52);
}

TEST_F(TreeDiskette, WriteProtectedDisketteLosesNoFreeCluster)
{
    auto drive = Load();
    setup.drive->medium()->writeProtected = true;
    const std::vector<uint8_t> fat(drive->fat.fat().begin(), drive->fat.fat().end());
    EXPECT_EQ(drive->fat.MarkClusterBad(51).error(), Err::WriteProtect);
    EXPECT_TRUE(std::ranges::equal(drive->fat.fat(), fat));
}

TEST_F(TreeDiskette, PendingErrorBlocksEveryMark)
{
    auto drive = Load();
    LeavePending(setup, drive->disk, Err::BadCrc);
    EXPECT_FALSE(drive->fat.MarkClusterBad(51));
    EXPECT_FALSE(drive->fat.MarkTrackBadAtSector(60));
    EXPECT_FALSE(drive->fat.MarkTrackBad(3, 0));
    EXPECT_EQ(drive->fat.MarkCylinderBad(3).error(), Err::BadCrc);
    EXPECT_EQ(drive->disk.PendingError(), Err::BadCrc);
    EXPECT_FALSE(drive->fat.FatChanged());
    EXPECT_TRUE(setup.recorder->log.empty());
}

TEST_F(FatDiskette, ReadableSectorsOfADefectiveClusterMove)
{
    image = FatDisk(kMedia720K);
    image.AddFile(0, "HALF    DAT", {20, 21});
    auto drive = Load();
    Defect(image.SectorOf(20) + 1);
    (void)drive->disk.TakeError();
    ASSERT_TRUE(drive->fat.MarkClusterBad(20));
    const uint16_t moved = StartOf(std::span(drive->fat.rootDir()).subspan(0, 32));
    EXPECT_EQ(moved, 2);
    FatDisk disk = Disk();
    const std::vector<uint8_t> pattern = image.Pattern(20);
    EXPECT_TRUE(std::equal(pattern.begin(), pattern.begin() + 512, disk.Cluster(moved).begin()));
    EXPECT_TRUE(std::ranges::all_of(disk.Cluster(moved).subspan(512), [](uint8_t b) { return b == 0; }));
}

// Damaged structures end every walk.
TEST_F(TreeDiskette, LoopingChainOfAnotherFileDoesNotHideTheOwner)
{
    image.AddFile(0, "LOOP    DAT", {64, 65});
    image.SetEntry(65, 64);
    image.AddFile(0, "LATE    DAT", {70, 71});
    auto drive = Load();
    ASSERT_TRUE(drive->fat.MarkClusterBad(71));
    EXPECT_EQ(drive->fat.GetFatEntry(70), 10);
}

TEST_F(TreeDiskette, ClusterOnALoopWithoutOwnerEndsWithTheWalkError)
{
    image.SetEntry(80, 81);
    image.SetEntry(81, 80);
    auto drive = Load();
    EXPECT_EQ(drive->fat.MarkClusterBad(80).error(), kDamagedStructure);
    EXPECT_EQ(drive->disk.PendingError(), Err::None) << "the damage is the answer, not the drive's";
    EXPECT_EQ(drive->fat.GetFatEntry(80), 81);
}

TEST_F(TreeDiskette, OwnerReachedOnlyThroughALoopIsNotRelinkedWrongly)
{
    // The entry starts at 90, whose chain runs 90 -> 91 -> 90; 92 is not on it.
    image.AddFile(0, "RING    DAT", {90, 91});
    image.SetEntry(91, 90);
    image.SetEntry(92, 0xFFF);
    auto drive = Load();
    EXPECT_EQ(drive->fat.MarkClusterBad(92).error(), kDamagedStructure);
    (void)drive->disk.TakeError();
    ASSERT_TRUE(drive->fat.MarkClusterBad(91));
    EXPECT_EQ(drive->fat.GetFatEntry(90), 10);
    EXPECT_EQ(drive->fat.GetFatEntry(10), 90);
}

// DIR1's chain runs on into a loop, 20 -> 60 -> 61 -> 61 or 60; SUB.B, listed in 60, is
// told of a new parent, 77. A lap that reads everything and writes nothing ends the walk; a lap
// with a failed read does not, as the next one may fix what it missed.
struct LoopingDirectory {
    const char* what;
    uint16_t loopsTo;       // where 61 leads
    int failedChildReads;   // first reads of SUB.B's sector that fail
    size_t mostReads;       // of the walk, at most
};

TEST_F(TreeDiskette, ParentsAreFixedRoundALoopingDirectoryChain)
{
    const std::array cases = {
        LoopingDirectory{"a quiet loop ends after one lap", 61, 0, 8},
        LoopingDirectory{"a loop through SUB.B's lister is walked to the bound", 60, 0, 9999},
        LoopingDirectory{"a failed read is tried again on the next lap", 60, 1, 9999},
    };
    for (const LoopingDirectory& c : cases) {
        SCOPED_TRACE(c.what);
        image = FatDisk(kMedia144M);
        SetUp();
        image.SetEntry(60, 61);
        image.SetEntry(61, c.loopsTo);
        auto drive = Load();
        const uint32_t childSector = image.SectorOf(33);
        setup.recorder->FailNext(
            [childSector](const DiskRequest& r) {
                return r.controlCode == Control::DosIoctl && r.minor() == Minor::ReadTrack &&
                       TrackIoBlock::Cylinder(r.block) * 36u + TrackIoBlock::Head(r.block) * 18u +
                               TrackIoBlock::FirstSector(r.block) ==
                           childSector;
            },
            c.failedChildReads, CodeOf(Err::BadCrc));
        drive->fat.FixChildParents(20, 77);
        EXPECT_EQ(drive->disk.PendingError(), Err::None);
        const size_t reads = setup.recorder->Requests(Minor::ReadTrack).size();
        EXPECT_LE(reads, c.mostReads);
        EXPECT_GT(reads, c.mostReads == 9999 ? 2000u : 3u) << "every lap that wrote is followed by another";
        FatDisk disk = Disk();
        EXPECT_EQ(StartOf(disk.Cluster(33).subspan(32, 32)), 77) << "SUB.B";
        EXPECT_EQ(StartOf(disk.Cluster(30).subspan(32, 32)), 77) << "SUB.A, listed in the first cluster";
        EXPECT_EQ(disk.Entry(61), c.loopsTo) << "the FAT is not touched";
    }
}

TEST_F(TreeDiskette, LinksOutsideTheClustersEndTheWalk)
{
    image.AddFile(0, "WILD    DAT", {95});
    image.SetEntry(95, 0xFF0);
    image.SetEntry(96, 0xFFF);
    image.AddEntry(0, "FAR", 0x10, 4000);
    auto drive = Load();
    EXPECT_EQ(drive->fat.MarkClusterBad(96).error(), kDamagedStructure);
    for (const LoggedRequest& r : setup.recorder->Requests(Minor::ReadTrack))
        EXPECT_LT(TrackIoBlock::Cylinder(r.block), 80);
}

TEST_F(TreeDiskette, DirectoriesHoldingThemselvesEndTheSearch)
{
    image.AddEntry(30, "SELF", 0x10, 20);  // SUB.A lists its own parent
    image.AddEntry(33, "LOOP", 0x10, 33);  // SUB.B lists itself
    image.SetEntry(33, 20);                // and its chain runs back into DIR1
    image.SetEntry(98, 0xFFF);
    auto drive = Load();
    EXPECT_EQ(drive->fat.MarkClusterBad(98).error(), kDamagedStructure);
    (void)drive->disk.TakeError();
    ASSERT_TRUE(drive->fat.MarkClusterBad(40)) << "the tree is still searched";
}

TEST_F(FatDiskette, NestingBeyondTheDepthBoundIsNotSearched)
{
    uint16_t parent = 0;
    const uint16_t levels = kMaxDirectoryDepth + 2;
    for (uint16_t level = 0; level < levels; ++level) {
        const auto cluster = static_cast<uint16_t>(100 + level);
        image.AddDirectory(parent, "D", {cluster});
        parent = cluster;
    }
    image.AddFile(parent, "LOST    DAT", {20});
    image.AddFile(100 + kMaxDirectoryDepth - 1, "FOUND   DAT", {21});
    auto drive = Load();
    ASSERT_TRUE(drive->fat.MarkClusterBad(21));
    EXPECT_EQ(drive->fat.MarkClusterBad(20).error(), kDamagedStructure);
}

TEST_F(TreeDiskette, FailedCommitLeavesTheSystemAreaAsItWasAndCanBeRetried)
{
    auto drive = Load();
    ASSERT_TRUE(drive->fat.MarkClusterBad(50));
    const std::vector<uint8_t> before = Disk().bytes;
    FailFatWrites(setup, image, 1, Err::SectorNotFound);

    EXPECT_FALSE(drive->disk.Commit());
    EXPECT_EQ(drive->disk.PendingError(), Err::SectorNotFound);
    EXPECT_EQ(drive->disk.commitFailureDetail, "The changes to the FAT and the root directory could not be written.");
    const std::vector<uint8_t> after = Disk().bytes;
    EXPECT_TRUE(std::equal(after.begin(), after.begin() + 33 * 512, before.begin()))
        << "neither FAT copy nor the root directory changed";

    EXPECT_TRUE(drive->disk.Commit());
    EXPECT_EQ(drive->disk.PendingError(), Err::None);
    FatDisk disk = Disk();
    EXPECT_EQ(disk.Entry(50, 0), 0xFF7);
    EXPECT_EQ(disk.Entry(50, 1), 0xFF7);
    EXPECT_EQ(StartOf(disk.RootEntry(2)), 10);
    ExpectData(disk, ChainOf(disk, 10), {50, 51, 52});

    setup.recorder->log.clear();
    drive.reset();
    EXPECT_TRUE(setup.recorder->Requests(Minor::WriteTrack).empty()) << "nothing was left to write";
    EXPECT_TRUE(TakeLostWork().empty());
}

// What a write-back left off the disk, table by table, with the error that stopped it;
// the drive keeps no error of it, and a later write-back puts the rest on the disk.
TEST_F(TreeDiskette, WriteBackTellsWhatItLeftUnwritten)
{
    struct Row {
        const char* name;
        uint16_t cluster;  // marked BAD: 50 changes the root entry too, 51 the FAT alone
        int failures;      // of the writes that reach the FAT copies
        bool fatLeft, rootLeft;
    };
    for (const Row& row : {Row{"FAT and root, first copy refused", 50, 1, true, true},
                           Row{"FAT alone, first copy refused", 51, 1, true, false},
                           Row{"both copies taken", 50, 0, false, false}}) {
        SCOPED_TRACE(row.name);
        auto drive = Load();
        ASSERT_TRUE(drive->fat.MarkClusterBad(row.cluster));
        FailFatWrites(setup, image, row.failures, Err::SectorNotFound);
        LeavePending(setup, drive->disk, Err::BadCrc);  // left pending by the operation: no reason to keep the tables back
        const Unwritten left = drive->fat.WriteBack();
        EXPECT_EQ(left.fat, row.fatLeft);
        EXPECT_EQ(left.root, row.rootLeft);
        EXPECT_EQ(left.error, row.failures ? Err::SectorNotFound : Err::None);
        EXPECT_EQ(drive->disk.PendingError(), Err::None);
        EXPECT_EQ(drive->fat.HasUnwrittenChanges(), row.fatLeft);
        EXPECT_TRUE(drive->fat.WriteBack().Nothing());
        EXPECT_EQ(Disk().Entry(row.cluster, 1), 0xFF7);
        EXPECT_EQ(StartOf(Disk().RootEntry(2)), row.cluster == 50 ? 10 : 50);
    }
}

// A root directory put back is written again only when the changed one reached the disk.
TEST_F(TreeDiskette, RestoredRootIsWrittenOnlyOverAChangeOnTheDisk)
{
    for (const bool writtenBetween : {false, true}) {
        SCOPED_TRACE(writtenBetween ? "written between" : "still in memory");
        auto drive = Load();
        const std::vector<uint8_t> saved(drive->fat.rootDir().begin(), drive->fat.rootDir().end());
        std::vector<uint8_t> entry(saved.begin() + 64, saved.begin() + 96);
        entry[0] = 0xE5;
        ASSERT_TRUE(drive->fat.SetRootEntry(2, entry));
        EXPECT_FALSE(drive->fat.SetRootEntry(224, entry)) << "beyond the last entry";
        EXPECT_TRUE(drive->fat.RootChanged());
        if (writtenBetween) {
            ASSERT_TRUE(drive->fat.WriteBack().Nothing());
        }
        drive->fat.RestoreRoot(saved);
        EXPECT_EQ(drive->fat.RootChanged(), writtenBetween);
        drive.reset();
        EXPECT_TRUE(std::ranges::equal(Disk().RootEntry(2), image.RootEntry(2)));
    }
}

TEST_F(TreeDiskette, ChangesTheDestructorCannotWriteAreRecordedAsLost)
{
    TakeLostWork();
    auto drive = Load();
    ASSERT_TRUE(drive->fat.MarkClusterBad(51));
    FailFatWrites(setup, image, 1, Err::SectorNotFound);
    drive.reset();

    const std::vector<std::string> lost = TakeLostWork();
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_EQ(lost[0], "Changes to drive A: were lost: " + DiskErrorText(Err::SectorNotFound));
    EXPECT_EQ(Disk().Entry(51), 52) << "the FAT on the disk is the old one";
}

TEST_F(TreeDiskette, UncommittedChangesAreWrittenAtTheEndWithoutARecord)
{
    TakeLostWork();
    EXPECT_TRUE(Load()->fat.MarkClusterBad(51));
    EXPECT_EQ(Disk().Entry(51), 0xFF7);
    EXPECT_TRUE(TakeLostWork().empty());
}
