// SPDX-License-Identifier: GPL-3.0-or-later
// The repair operation end to end on damaged diskettes: diskette files made by mkfs.fat and
// mcopy, with sectors recorded with data errors, run through a scripted host.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <memory>

#include "boot/bootsector.h"
#include "drive/backend/files/imdfile.h"
#include "drive/backend/files/virtualdrive.h"
#include "drive/diskdrive.h"
#include "fat/fatdisk.h"
#include "fat/damageddiskette.h"
#include "res/strings.h"
#include "support/requiretools.h"

using namespace vokta;
using namespace vokta::test;

namespace {

std::string Field(std::span<const uint8_t> sector, size_t offset, size_t width)
{
    return std::string(sector.begin() + static_cast<std::ptrdiff_t>(offset),
                       sector.begin() + static_cast<std::ptrdiff_t>(offset + width));
}

bool AllZero(std::span<const uint8_t> bytes)
{
    return std::ranges::all_of(bytes, [](uint8_t b) { return b == 0; });
}

// A track read or write (`minor`) on this track.
bool IsTransferOn(const DiskRequest& r, uint8_t minor, uint16_t cylinder, uint16_t head)
{
    return r.controlCode == Control::DosIoctl && r.minor() == minor && r.block.size() >= TrackIoBlock::kSize &&
           TrackIoBlock::Cylinder(r.block) == cylinder && TrackIoBlock::Head(r.block) == head;
}

bool IsTransferOfSectorZero(const DiskRequest& r, uint8_t minor)
{
    return IsTransferOn(r, minor, 0, 0) && TrackIoBlock::FirstSector(r.block) == 0;
}

struct Repair : DamagedDiskette {
    static bool NamesLostSectors(const HostEvent& box)
    {
        return box.text.starts_with(LoadString(Str::LostSectorsHeader));
    }
    // The boxes of the run, but the warning at its end that names what was lost.
    std::vector<HostEvent> Boxes() const
    {
        std::vector<HostEvent> boxes = host.Of(HostEvent::Box);
        std::erase_if(boxes, NamesLostSectors);
        return boxes;
    }
    // The lines of that warning beneath its header; empty without one.
    std::string LostLines() const
    {
        const std::vector<HostEvent> boxes = host.Of(HostEvent::Box);
        if (boxes.empty() || !NamesLostSectors(boxes.back()))
            return {};
        EXPECT_EQ(boxes.back().caption, "Warning");
        EXPECT_EQ(boxes.back().icon, Icon::Warning);
        return boxes.back().text.substr(LoadString(Str::LostSectorsHeader).size());
    }
    void ExpectNoBox() const
    {
        EXPECT_EQ(Boxes().size(), 0u) << Boxes().front().text;
    }
    static void ExpectBox(const HostEvent& box, const std::string& text, const std::string& caption,
                          Buttons buttons = Buttons::Ok, Icon icon = Icon::Error)
    {
        EXPECT_EQ(box.text, text);
        EXPECT_EQ(box.caption, caption);
        EXPECT_EQ(box.buttons, buttons);
        EXPECT_EQ(box.icon, icon);
    }
    // The only box of the run; an error box unless said otherwise.
    void ExpectOnlyBox(const std::string& text, const std::string& caption, Buttons buttons = Buttons::Ok,
                       Icon icon = Icon::Error) const
    {
        const std::vector<HostEvent> boxes = Boxes();
        ASSERT_EQ(boxes.size(), 1u);
        ExpectBox(boxes[0], text, caption, buttons, icon);
    }
    void ExpectEnd(int result, bool sound) const
    {
        EXPECT_EQ(outcome.result, result);
        EXPECT_EQ(host.Count(HostEvent::Close), 1);
        EXPECT_EQ(host.Texts(HostEvent::Sound), sound ? std::vector<std::string>{kSound} : std::vector<std::string>{});
    }
    // The boot sector fails the file-system-name test only.
    void MisnameFileSystem()
    {
        EditBootSector([](std::span<uint8_t> boot) { std::copy_n("fat12   ", 8, boot.begin() + 54); });
        ASSERT_EQ(ValidateBootSector(Before(0)), 0x0800);
    }
    // Reads of sector 0 fail with a data error until sector 0 is written.
    void MakeSectorZeroUnreadable()
    {
        auto rewritten = std::make_shared<bool>(false);
        faultHook = [rewritten](const DiskRequest& r) -> std::optional<InjectedFault> {
            if (IsTransferOfSectorZero(r, Minor::WriteTrack))
                *rewritten = true;
            if (!*rewritten && IsTransferOfSectorZero(r, Minor::ReadTrack))
                return InjectedFault{false, CodeOf(Err::BadCrc)};
            return std::nullopt;
        };
    }
    std::vector<TrackTransfer> Reads() const { return Transfers(Minor::ReadTrack); }
    std::vector<uint16_t> BadClusters(unsigned copy) const { return vokta::test::BadClusters(after, copy, type); }
};

}  // namespace

// --- boot sector ---

TEST_F(Repair, BootSectorWithAWrongFileSystemNameIsRewrittenAndTheWalkGoesOn)
{
    ASSERT_NO_FATAL_FAILURE(Make("REPAIRME"));
    ASSERT_NO_FATAL_FAILURE(MisnameFileSystem());
    job.inputs->boot = BootChoice::WriteNew;
    Run();
    ExpectEnd(kResultDone, true);
    ExpectNoBox();
    EXPECT_TRUE(host.Shown(HostEvent::Lower, "Checking Boot Sector ..."));
    EXPECT_TRUE(host.Shown(HostEvent::Lower, "Fixing Boot sector ..."));
    EXPECT_TRUE(host.Shown(HostEvent::Upper, "The Boot sector was fixed !"));
    EXPECT_EQ(Field(After(0), 43, 11), "REPAIRME   ");
    EXPECT_EQ(Field(After(0), 54, 8), "FAT12   ");
    EXPECT_EQ(ValidateBootSector(After(0)), 0);
    EXPECT_EQ(ChangedSectors(), std::vector<uint32_t>{0});
    EXPECT_TRUE(host.Shown(HostEvent::Lower, "Checking the data area: Track 79 of 80 ..."));
}

TEST_F(Repair, BadBootSectorWithStopEndsBeforeTheSystemArea)
{
    ASSERT_NO_FATAL_FAILURE(Make());
    ASSERT_NO_FATAL_FAILURE(MisnameFileSystem());
    Run();
    ExpectEnd(kResultAborted, false);
    ExpectOnlyBox("\nInvalid Boot sector found !\n", "Error");
    EXPECT_FALSE(host.Shown(HostEvent::Lower, "Checking the system area ..."));
    EXPECT_TRUE(ChangedSectors().empty());
}

TEST_F(Repair, UnreadableSectorZeroIsABootSectorError)
{
    ASSERT_NO_FATAL_FAILURE(Make());
    MakeSectorZeroUnreadable();
    Run();
    ExpectEnd(kResultAborted, false);
    ExpectOnlyBox("\nInvalid Boot sector found !\n", "Error");
    EXPECT_TRUE(ChangedSectors().empty());
}

TEST_F(Repair, UnreadableSectorZeroGetsANewBootSector)
{
    ASSERT_NO_FATAL_FAILURE(Make());
    MakeSectorZeroUnreadable();
    job.inputs->boot = BootChoice::WriteNew;
    Run();
    ExpectEnd(kResultDone, true);
    ExpectNoBox();
    EXPECT_TRUE(host.Shown(HostEvent::Upper, "The Boot sector was fixed !"));
    EXPECT_EQ(Field(After(0), 43, 11), "NO NAME    ");
    EXPECT_EQ(ValidateBootSector(After(0)), 0);
}

TEST_F(Repair, NewBootSectorThatCannotBeWrittenIsAskedForAgain)
{
    ASSERT_NO_FATAL_FAILURE(Make());
    ASSERT_NO_FATAL_FAILURE(MisnameFileSystem());
    job.inputs->boot = BootChoice::WriteNew;
    auto failures = std::make_shared<int>(1);
    faultHook = [failures](const DiskRequest& r) -> std::optional<InjectedFault> {
        if (IsTransferOfSectorZero(r, Minor::WriteTrack) && *failures > 0) {
            --*failures;
            return InjectedFault{false, CodeOf(Err::WriteFault)};
        }
        return std::nullopt;
    };
    host.answers = {Answer::Retry};
    Run();
    ExpectEnd(kResultDone, true);
    ExpectOnlyBox("\nCannot write the Boot sector !\n" + DiskErrorText(Err::WriteFault), "Error", Buttons::RetryCancel);
    EXPECT_EQ(Field(After(0), 43, 11), "NO NAME    ");
}

TEST_F(Repair, NewBootSectorThatCannotBeWrittenEndsOnCancel)
{
    ASSERT_NO_FATAL_FAILURE(Make());
    ASSERT_NO_FATAL_FAILURE(MisnameFileSystem());
    job.inputs->boot = BootChoice::WriteNew;
    faultHook = [](const DiskRequest& r) -> std::optional<InjectedFault> {
        if (IsTransferOfSectorZero(r, Minor::WriteTrack))
            return InjectedFault{false, CodeOf(Err::WriteFault)};
        return std::nullopt;
    };
    host.answers = {Answer::Retry, Answer::Cancel};
    Run();
    ExpectEnd(kResultAborted, false);
    EXPECT_EQ(host.BoxTexts(),
              std::vector<std::string>(2, "\nCannot write the Boot sector !\n" + DiskErrorText(Err::WriteFault)));
    EXPECT_TRUE(ChangedSectors().empty());
}

// --- system area ---

// Sector 8 lies in the first FAT copy, among the entries of clusters no file reaches: all
// zero on the made diskette, and zero again once its track is restored.
constexpr uint32_t kLostFatSector = 8;

TEST_F(Repair, SystemAreaReadErrorRescansTrackZeroAndReformatsIt)
{
    ASSERT_NO_FATAL_FAILURE(Make());
    ASSERT_TRUE(AllZero(Before(kLostFatSector)));
    Lose(kLostFatSector);
    job.inputs->system = SystemChoice::TryFormat;
    Run();
    ExpectEnd(kResultDone, true);
    ExpectNoBox();
    EXPECT_EQ(outcome.followUp, FollowUp::None);

    // Both FAT copies, the first sector by sector once it fails, before anything is
    // written; the failed chunk, the rescan of the whole of track 0 one sector at a time,
    // the reformat's own reads of the track and of both FAT copies for the lost sector,
    // the rest of the rescan, and the walk on at sector 18.
    std::vector<TrackTransfer> expected = {{0, 1, false}};
    auto readFatCopies = [&] {
        expected.push_back({1, 9, true});
        for (uint32_t s = 1; s <= 9; ++s)
            expected.push_back({s, 1, s == kLostFatSector});
        expected.push_back({10, 8, false});  // the second copy, to the end of track 0
        expected.push_back({18, 1, false});
    };
    readFatCopies();
    expected.push_back({1, 17, true});
    for (uint32_t s = 0; s <= kLostFatSector; ++s)
        expected.push_back({s, 1, s == kLostFatSector});
    for (uint32_t s = 0; s < kSpt; ++s)
        expected.push_back({s, 1, s == kLostFatSector});
    readFatCopies();
    for (uint32_t s = kLostFatSector + 1; s < kSpt; ++s)
        expected.push_back({s, 1, false});
    expected.push_back({18, 18, false});
    const std::vector<TrackTransfer> reads = Reads();
    ASSERT_GE(reads.size(), expected.size());
    EXPECT_EQ(std::vector<TrackTransfer>(reads.begin(), reads.begin() + static_cast<std::ptrdiff_t>(expected.size())),
              expected);

    EXPECT_EQ(FormattedTracks(), (std::vector<std::pair<int, int>>{{0, 0}}));
    // The end of format mode writes the diskette's own boot sector, then the track comes back.
    EXPECT_EQ(Transfers(Minor::WriteTrack), (std::vector<TrackTransfer>{{0, 1, false}, {0, 18, false}}));
    EXPECT_TRUE(host.Shown(HostEvent::Lower, "Fixing the system area ..."));
    EXPECT_TRUE(host.Shown(HostEvent::Lower, "Reading track ..."));
    EXPECT_TRUE(host.Shown(HostEvent::Lower, "Formatting track: Tentative 0 ..."));
    EXPECT_TRUE(host.Shown(HostEvent::Lower, "Writing track ..."));
    EXPECT_TRUE(host.Shown(HostEvent::Upper, "The system area was fixed !"));
    // Every readable sector of the track is back as it was, the boot sector with them, and
    // the lost one holds its twin of the second FAT (zeros), not what the track buffer held.
    EXPECT_TRUE(ChangedSectors().empty()) << "first changed sector " << ChangedSectors().front();
    EXPECT_TRUE(AllZero(After(kLostFatSector)));
    EXPECT_FALSE(afterMedium->Find(0, 0, kLostFatSector + 1)->dataError);
}

TEST_F(Repair, SystemAreaReadErrorHandsTheDisketteToTheDiskChecker)
{
    ASSERT_NO_FATAL_FAILURE(Make());
    Lose(kLostFatSector);
    job.inputs->system = SystemChoice::RunDiskChecker;
    Run();
    ExpectEnd(kResultAborted, false);
    ExpectNoBox();
    EXPECT_EQ(outcome.followUp, FollowUp::RunDiskChecker);
    EXPECT_TRUE(FormattedTracks().empty());
    EXPECT_TRUE(Transfers(Minor::WriteTrack).empty());
}

TEST_F(Repair, SystemAreaReadErrorWithStopShowsTheReadsError)
{
    ASSERT_NO_FATAL_FAILURE(Make());
    Lose(kLostFatSector);
    Run();
    ExpectEnd(kResultAborted, false);
    ExpectOnlyBox(DiskErrorText(Err::BadCrc), "Repair Error");
    EXPECT_EQ(outcome.followUp, FollowUp::None);
    EXPECT_TRUE(FormattedTracks().empty());
    EXPECT_FALSE(host.Shown(HostEvent::Lower, "Checking the data area: Track 1 of 80 ..."));
}

TEST_F(Repair, RootDirectoryThatCannotBeLoadedEndsBeforeTheDataArea)
{
    ASSERT_NO_FATAL_FAILURE(Make());
    Weaken(25);  // a root directory sector: read by the system-area pass, then no more
    job.inputs->data = DataChoice::MarkTrack;
    Run();
    ExpectEnd(kResultFailed, false);
    ExpectOnlyBox("Cannot Access the FAT !", "Fatal Error", Buttons::Ok, Icon::Warning);
    EXPECT_FALSE(host.Shown(HostEvent::Lower, "Checking the data area: Track 1 of 80 ..."));
    EXPECT_TRUE(ChangedSectors().empty());
}

// --- data area ---

TEST_F(Repair, MarkTrackOnTheRootDirectorysLastTrackMarksOnlyItsDataSectors)
{
    ASSERT_NO_FATAL_FAILURE(Make());
    const std::vector<uint16_t> firstBefore = ChainOf(before, "FIRST   BIN");
    ASSERT_EQ(firstBefore, (std::vector<uint16_t>{2, 3, 4, 5}));
    Weaken(34);  // FIRST.BIN's second cluster
    job.inputs->data = DataChoice::MarkTrack;
    Run();
    ExpectEnd(kResultDone, true);
    ExpectNoBox();
    EXPECT_EQ(LostLines(), "\n  1 in A:\\FIRST.BIN (sectors 34)");
    EXPECT_TRUE(host.Shown(HostEvent::Upper, "Marking Track 0 as BAD ..."));

    const std::vector<uint16_t> rootEndTrack = {ClusterOfSector(33), ClusterOfSector(34), ClusterOfSector(35)};
    EXPECT_EQ(BadClusters(0), rootEndTrack);
    EXPECT_EQ(BadClusters(1), rootEndTrack);

    // FIRST.BIN moved off the track, its lost sector as zeros, the rest byte for byte.
    const std::vector<uint16_t> firstAfter = ChainOf(after, "FIRST   BIN");
    ASSERT_EQ(firstAfter.size(), 4u);
    EXPECT_EQ(firstAfter.back(), 5);
    for (size_t i = 0; i < firstAfter.size(); ++i) {
        EXPECT_GE(firstAfter[i], 5) << "cluster " << i << " is still on the marked track";
        const uint32_t sector = kFirstDataSector + firstAfter[i] - 2u;
        if (i == 1)
            EXPECT_TRUE(AllZero(After(sector)));
        else
            EXPECT_TRUE(std::ranges::equal(After(sector), Before(kFirstDataSector + firstBefore[i] - 2u))) << i;
    }
    EXPECT_EQ(ChainOf(after, "BIG     BIN"), ChainOf(before, "BIG     BIN"));
    EXPECT_EQ(ChainOf(after, "NOTE    TXT"), ChainOf(before, "NOTE    TXT"));
}

TEST_F(Repair, MarkCylinderOnCylinderZeroFails)
{
    ASSERT_NO_FATAL_FAILURE(Make());
    Weaken(34);
    job.inputs->data = DataChoice::MarkCylinder;
    Run();
    ExpectEnd(kResultFailed, false);
    EXPECT_TRUE(host.Shown(HostEvent::Upper, "Marking cylinder 0 as BAD ..."));
    // Its first track holds the boot sector and the FATs, which are no clusters.
    ExpectOnlyBox(DiskErrorText(Err::EndOfDisk), "Repair Error");
    EXPECT_TRUE(ChangedSectors().empty()) << "first changed sector " << ChangedSectors().front();
}

TEST_F(Repair, ErrorOnTheDataPartOfTheRootDirectorysLastTrackIsASystemAreaError)
{
    ASSERT_NO_FATAL_FAILURE(Make());
    Lose(34);
    job.inputs->system = SystemChoice::RunDiskChecker;
    job.inputs->data = DataChoice::MarkTrack;
    Run();
    ExpectEnd(kResultAborted, false);
    ExpectNoBox();
    EXPECT_EQ(outcome.followUp, FollowUp::RunDiskChecker);
    EXPECT_FALSE(host.Shown(HostEvent::Upper, "Marking Track 0 as BAD ..."));
}

TEST_F(Repair, MarkCylinderMarksBothTracksAndTheWalkGoesOnBehindTheCylinder)
{
    ASSERT_NO_FATAL_FAILURE(Make());
    Lose(80);  // cylinder 2, head 0, inside BIG.BIN
    job.inputs->data = DataChoice::MarkCylinder;
    Run();
    ExpectEnd(kResultDone, true);
    ExpectNoBox();
    EXPECT_EQ(LostLines(), "\n  1 in A:\\BIG.BIN (sectors 80)");
    EXPECT_TRUE(host.Shown(HostEvent::Upper, "Marking cylinder 2 as BAD ..."));
    std::vector<uint16_t> cylinder;
    for (uint32_t s = 72; s < 108; ++s)
        cylinder.push_back(ClusterOfSector(s));
    EXPECT_EQ(BadClusters(0), cylinder);
    EXPECT_EQ(BadClusters(1), cylinder);
    // The cylinder's second track is not read by the walk again: it goes on at cylinder 3.
    const std::vector<TrackTransfer> reads = Reads();
    const auto marked = std::ranges::find(reads, TrackTransfer{72, 18, true});
    ASSERT_NE(marked, reads.end());
    const auto next = std::find_if(marked + 1, reads.end(), [](const TrackTransfer& t) { return t.count == 18; });
    ASSERT_NE(next, reads.end());
    EXPECT_EQ(*next, (TrackTransfer{108, 18, false}));
}

TEST_F(Repair, DataAreaReadErrorWithStopShowsTheReadsError)
{
    ASSERT_NO_FATAL_FAILURE(Make());
    Lose(80);
    Run();
    ExpectEnd(kResultAborted, false);
    ExpectOnlyBox(DiskErrorText(Err::BadCrc), "Repair Error");
    EXPECT_TRUE(host.Shown(HostEvent::Lower, "Checking the data area: Track 2 of 80 ..."));
    EXPECT_FALSE(host.Shown(HostEvent::Lower, "Checking the data area: Track 3 of 80 ..."));
}

// Sector 80 is the ninth of cylinder 2, head 0, inside BIG.BIN.
constexpr uint32_t kLostDataSector = 80;

TEST_F(Repair, TryFormatRestoresTheDataTrackAndKeepsTheBootSector)
{
    ASSERT_NO_FATAL_FAILURE(Make("REPAIRME"));
    ASSERT_FALSE(AllZero(Before(kLostDataSector)));
    Lose(kLostDataSector);
    job.inputs->data = DataChoice::TryFormat;
    Run();
    ExpectEnd(kResultDone, true);
    ExpectNoBox();
    EXPECT_EQ(LostLines(), "\n  1 in A:\\BIG.BIN (sectors 80)");
    EXPECT_TRUE(host.Shown(HostEvent::Upper, "Read / Format / Write track 2 ..."));
    EXPECT_TRUE(host.Shown(HostEvent::Lower, "Reading track ..."));
    EXPECT_TRUE(host.Shown(HostEvent::Lower, "Formatting track: Tentative 0 ..."));
    EXPECT_TRUE(host.Shown(HostEvent::Lower, "Writing track ..."));
    EXPECT_EQ(FormattedTracks(), (std::vector<std::pair<int, int>>{{2, 0}}));

    // Only the lost sector differs: zero, not the track buffer's earlier bytes. The boot
    // sector keeps its label, serial, OEM name and boot code.
    EXPECT_EQ(ChangedSectors(), std::vector<uint32_t>{kLostDataSector});
    EXPECT_TRUE(AllZero(After(kLostDataSector)));
    EXPECT_EQ(Field(After(0), 43, 11), "REPAIRME   ");
    EXPECT_FALSE(afterMedium->Find(2, 0, 9)->dataError);
    EXPECT_TRUE(BadClusters(0).empty());
}

// Two sectors a cluster, nine a track: the marked track's last cluster reaches into the next.
TEST_F(Repair, MarkTrackOnA720KDisketteMarksEveryClusterTheTrackTouches)
{
    type = kMedia720K;
    ASSERT_NO_FATAL_FAILURE(Make());
    Lose(40);  // cylinder 2, head 0 (sectors 36..44), first half of BIG.BIN's cluster 15
    job.inputs->data = DataChoice::MarkTrack;
    Run();
    ExpectEnd(kResultDone, true);
    ExpectNoBox();
    EXPECT_EQ(LostLines(), "\n  1 in A:\\BIG.BIN (sectors 40)");
    EXPECT_TRUE(host.Shown(HostEvent::Upper, "Marking Track 2 as BAD ..."));
    EXPECT_EQ(BadClusters(0), (std::vector<uint16_t>{13, 14, 15, 16, 17}));
    EXPECT_EQ(BadClusters(1), (std::vector<uint16_t>{13, 14, 15, 16, 17}));
    EXPECT_TRUE(host.Shown(HostEvent::Lower, "Checking the data area: Track 79 of 80 ..."));
}

// 21-sector tracks are formatted through the BIOS with the diskette parameter table, after
// the driver has been shown a 1.44M track 0: the reformat of a data track must leave
// track 0, the boot sector and the FATs, as it was.
TEST_F(Repair, TryFormatRestoresATrackOfA21SectorDiskette)
{
    if (!RequireTools({"mformat"}))
        return;
    type = kMedia172M;
    ASSERT_NO_FATAL_FAILURE(Make("REPAIRME"));
    Lose(90);  // cylinder 2, head 0, inside BIG.BIN
    job.inputs->data = DataChoice::TryFormat;
    Run();
    ExpectEnd(kResultDone, true);
    ExpectNoBox();
    EXPECT_EQ(LostLines(), "\n  1 in A:\\BIG.BIN (sectors 90)");
    EXPECT_EQ(afterMedium->track(0, 0).sectors.size(), 21u);
    EXPECT_EQ(ChangedSectors(), std::vector<uint32_t>{90});
    EXPECT_TRUE(AllZero(After(90)));
    EXPECT_TRUE(host.Shown(HostEvent::Lower, "Checking the data area: Track 81 of 82 ..."));
}

TEST_F(Repair, TrackThatWillNotFormatIsFatal)
{
    ASSERT_NO_FATAL_FAILURE(Make());
    Lose(kLostDataSector);
    job.inputs->data = DataChoice::TryFormat;
    RunInEmulatedDrive([](EmulatedMedium& medium) { medium.unformattable.insert({2, 0}); });
    ExpectEnd(kResultFailed, false);
    EXPECT_EQ(LostLines(), "\n  1 in A:\\BIG.BIN (sectors 80)");
    ExpectOnlyBox("Cannot format/write the track !", "Fatal Error");
    for (int t = 0; t < 6; ++t)
        EXPECT_TRUE(host.Shown(HostEvent::Lower, "Formatting track: Tentative " + std::to_string(t) + " ..."));
    EXPECT_FALSE(host.Shown(HostEvent::Lower, "Formatting track: Tentative 6 ..."));
    EXPECT_FALSE(host.Shown(HostEvent::Lower, "Writing track ..."));
    const std::vector<uint32_t> changed = ChangedSectors();
    EXPECT_TRUE(std::ranges::all_of(changed, [](uint32_t s) { return s == kLostDataSector; })) << changed.front();
}

TEST_F(Repair, TrackAlreadyMarkedBadIsPassedWithoutChangingTheFat)
{
    ASSERT_NO_FATAL_FAILURE(Make());
    // Cylinder 5, head 1: sectors 198 to 215, free clusters.
    std::vector<uint16_t> track;
    for (uint32_t s = 198; s < 216; ++s)
        track.push_back(ClusterOfSector(s));
    MarkBad(track);
    Lose(200);
    job.inputs->data = DataChoice::MarkTrack;
    Run();
    ExpectEnd(kResultDone, true);
    ExpectNoBox();
    EXPECT_EQ(LostLines(), "") << "nothing was read, nothing lost";
    EXPECT_TRUE(host.Shown(HostEvent::Upper, "Marking Track 5 as BAD ..."));
    EXPECT_EQ(BadClusters(0), track);
    EXPECT_EQ(BadClusters(1), track);
    const std::vector<uint32_t> changed = ChangedSectors();
    EXPECT_TRUE(std::ranges::all_of(changed, [](uint32_t s) { return s == 200; })) << changed.front();
}

TEST_F(Repair, TrackWhoseDataCannotBeWrittenBackIsAskedForAgainThenFatal)
{
    ASSERT_NO_FATAL_FAILURE(Make());
    Lose(kLostDataSector);
    job.inputs->data = DataChoice::TryFormat;
    faultHook = [](const DiskRequest& r) -> std::optional<InjectedFault> {
        if (IsTransferOn(r, Minor::WriteTrack, 2, 0))
            return InjectedFault{false, CodeOf(Err::WriteFault)};
        return std::nullopt;
    };
    host.answers = {Answer::Retry, Answer::Cancel};
    Run();
    ExpectEnd(kResultAborted, false);
    EXPECT_EQ(LostLines(), "\n  1 in A:\\BIG.BIN (sectors 80)");
    const std::vector<HostEvent> boxes = Boxes();
    ASSERT_EQ(boxes.size(), 3u);
    for (int i = 0; i < 2; ++i)
        ExpectBox(boxes[i], DiskErrorText(Err::WriteFault), "Repair Error", Buttons::RetryCancel);
    ExpectBox(boxes[2], "Cannot format/write the track !", "Fatal Error");
    EXPECT_EQ(Field(After(0), 0, 512), Field(Before(0), 0, 512));
}

// The page's choices are read when an error needs one, not when the operation starts.
TEST_F(Repair, DataChoiceIsReadWhenTheErrorComes)
{
    ASSERT_NO_FATAL_FAILURE(Make());
    Lose(kLostDataSector);
    std::shared_ptr<RepairInputs> inputs = job.inputs;
    host.abortWhen = [inputs](const ScriptedHost& h) {
        if (h.Shown(HostEvent::Lower, "Checking the data area: Track 2 of 80 ..."))
            inputs->data = DataChoice::TryFormat;
        return false;
    };
    Run();
    ExpectEnd(kResultDone, true);
    EXPECT_EQ(FormattedTracks(), (std::vector<std::pair<int, int>>{{2, 0}}));
    EXPECT_EQ(ChangedSectors(), std::vector<uint32_t>{kLostDataSector});
}

// --- the drive ---

TEST_F(Repair, UnformattedDisketteIsNotDetected)
{
    beforeBinding = [this] {
        WriteFile(damaged, WriteImd(EmulatedMedium(MediumDensity::High), "07/12/2026 22:00:00", ""));
    };
    Run();
    ExpectEnd(kResultFailed, false);
    ExpectOnlyBox(DiskErrorText(Err::UnrecognizedMedia), "Repair Error");
    EXPECT_TRUE(host.Shown(HostEvent::Lower, "Checking Disk media ..."));
    EXPECT_TRUE(host.Texts(HostEvent::Title).empty());
}

TEST_F(Repair, DriveLockedByAnotherProgramIsLeftAlone)
{
    ASSERT_NO_FATAL_FAILURE(Make());
    int held = -1;
    beforeBinding = [this, &held] {
        held = open(damaged.c_str(), O_RDONLY);
        ASSERT_GE(held, 0);
        ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    };
    Run();
    if (held >= 0)
        close(held);
    ExpectEnd(kResultFailed, false);
    const std::vector<HostEvent> boxes = host.Of(HostEvent::Box);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, DiskErrorText(Err::DriveLocked));
    EXPECT_EQ(boxes[0].caption, "Repair Error");
    EXPECT_TRUE(ChangedSectors().empty());
}

// --- the whole walk ---

TEST_F(Repair, DisketteWithoutErrorsIsWalkedCylinderByCylinder)
{
    ASSERT_NO_FATAL_FAILURE(Make("REPAIRME"));
    Run();
    ExpectEnd(kResultDone, true);
    ExpectNoBox();
    EXPECT_EQ(outcome.followUp, FollowUp::None);
    EXPECT_EQ(host.Texts(HostEvent::Title), std::vector<std::string>{"Repairing A: REPAIRME   "});
    const std::vector<HostEvent> colours = host.Of(HostEvent::Colours);
    ASSERT_EQ(colours.size(), 1u);
    EXPECT_EQ(colours[0].fill, BarColour::Blue);
    EXPECT_EQ(colours[0].textColour, BarColour::White);
    EXPECT_TRUE(host.Shown(HostEvent::Upper, "Media Type = 1.44M (DS HD)"));
    EXPECT_TRUE(host.Shown(HostEvent::Lower, "Checking Disk media ..."));
    EXPECT_TRUE(host.Shown(HostEvent::Lower, "Checking the system area ..."));

    // The walk starts on cylinder 0, which counts as shown: each later cylinder once, in order.
    std::vector<std::string> cylinderLines;
    for (const std::string& line : host.Texts(HostEvent::Lower))
        if (line.starts_with("Checking the data area"))
            cylinderLines.push_back(line);
    std::vector<std::string> expected;
    std::vector<int> positions;
    for (int c = 1; c < kCylinders; ++c) {
        expected.push_back("Checking the data area: Track " + std::to_string(c) + " of 80 ...");
        positions.push_back(c);
    }
    EXPECT_EQ(cylinderLines, expected);
    std::vector<int> shown;
    for (const HostEvent& e : host.Of(HostEvent::Position))
        shown.push_back(e.value);
    EXPECT_EQ(shown, positions);
    EXPECT_EQ(host.rangeHigh, kCylinders - 1);
    EXPECT_TRUE(ChangedSectors().empty());
}

TEST_F(Repair, AbortEndsTheWalk)
{
    ASSERT_NO_FATAL_FAILURE(Make());
    host.abortWhen = [](const ScriptedHost& h) { return h.position >= 10; };
    Run();
    ExpectEnd(kResultAborted, false);
    ExpectNoBox();
    EXPECT_TRUE(host.Shown(HostEvent::Lower, "Checking the data area: Track 10 of 80 ..."));
    EXPECT_FALSE(host.Shown(HostEvent::Lower, "Checking the data area: Track 11 of 80 ..."));
    EXPECT_TRUE(ChangedSectors().empty());
}

TEST_F(Repair, TrackMarkedBeforeAnAbortStaysMarked)
{
    ASSERT_NO_FATAL_FAILURE(Make());
    Lose(kLostDataSector);
    job.inputs->data = DataChoice::MarkTrack;
    host.abortWhen = [](const ScriptedHost& h) { return h.position >= 10; };
    Run();
    ExpectEnd(kResultAborted, false);
    EXPECT_TRUE(host.Shown(HostEvent::Upper, "Marking Track 2 as BAD ..."));
    std::vector<uint16_t> track;
    for (uint32_t s = 72; s < 90; ++s)
        track.push_back(ClusterOfSector(s));
    EXPECT_EQ(BadClusters(0), track);
    EXPECT_EQ(BadClusters(1), track);
    const std::vector<uint16_t> big = ChainOf(after, "BIG     BIN");
    ASSERT_EQ(big.size(), 118u);
    for (uint16_t c : big)
        EXPECT_TRUE(c < track.front() || c > track.back()) << "BIG.BIN still uses cluster " << c;
}

// --- how a repair ends ---

namespace {

// One end of a repair: how the diskette is made and the repair run, the result, whether it
// left defects the user chose to leave, and words of the last box (none when empty).
struct RepairEnd {
    const char* name;
    std::function<void(Repair&)> run;
    int result;
    bool defectsLeft;
    std::string box;
    FollowUp followUp = FollowUp::None;
};

void ZeroSector(std::vector<uint8_t>& image, uint32_t sector, uint8_t fill = 0)
{
    std::fill_n(image.begin() + static_cast<std::ptrdiff_t>(size_t{sector} * 512), 512, fill);
}

// Runs the repair on drive A: bound to a file the drive refuses to open.
void RunOnRefusedFile(Repair& r, const std::string& path)
{
    r.table.Bind(VirtualDriveBinding('A', path, DriveKind::Floppy35HD));
    r.job.drives = r.table;
    r.outcome = RepairWorker(r.job, r.host);
}

// Built when the tests are registered, once the texts can be loaded.
const std::vector<RepairEnd>& Ends()
{
    static const std::vector<RepairEnd> ends = {
        {"WalkedToTheEnd", [](Repair& r) { r.Make(); r.Run(); }, kResultDone, false, ""},
        {"AbortButton",
         [](Repair& r) {
             r.Make();
             r.host.abortWhen = [](const ScriptedHost&) { return true; };
             r.Run();
         },
         kResultAborted, false, ""},
        {"BadBootSectorLeft",
         [](Repair& r) { r.Make(); r.MisnameFileSystem(); r.Run(); }, kResultAborted, true,
         "Invalid Boot sector found !"},
        {"UnreadableSystemAreaLeft", [](Repair& r) { r.Make(); r.Lose(8); r.Run(); }, kResultAborted, true,
         DiskErrorText(Err::BadCrc)},
        {"UnreadableDataTrackLeft", [](Repair& r) { r.Make(); r.Lose(80); r.Run(); }, kResultAborted, true,
         DiskErrorText(Err::BadCrc)},
        {"HandedToTheChecker",
         [](Repair& r) { r.Make(); r.Lose(8); r.job.inputs->system = SystemChoice::RunDiskChecker; r.Run(); },
         kResultAborted, false, "", FollowUp::RunDiskChecker},
        // Refused before anything was written: the box says why.
        {"BootSectorWriteCancelled",
         [](Repair& r) {
             r.Make();
             r.MisnameFileSystem();
             r.job.inputs->boot = BootChoice::WriteNew;
             r.beforeBinding = [&r] { ASSERT_EQ(chmod(r.damaged.c_str(), 0444), 0); };
             r.host.answers = {Answer::Cancel};
             r.Run();
         },
         kResultAborted, false, "\nCannot write the Boot sector !\n" + DiskErrorText(Err::WriteProtect)},
        {"FolderForADisketteFile",
         [](Repair& r) {
             ASSERT_EQ(mkdir(r.dir.File("folder.img").c_str(), 0755), 0);
             RunOnRefusedFile(r, r.dir.File("folder.img"));
         },
         kResultFailed, false, "folder.img: "},
        {"FileOfNoDisketteSize",
         [](Repair& r) {
             WriteFile(r.dir.File("short.img"), std::vector<uint8_t>(1000, 0));
             RunOnRefusedFile(r, r.dir.File("short.img"));
         },
         kResultFailed, false, "1000 bytes"},
        {"MediaNotDetected",
         [](Repair& r) {
             r.beforeBinding = [&r] {
                 WriteFile(r.damaged, WriteImd(EmulatedMedium(MediumDensity::High), "07/12/2026 22:00:00", ""));
             };
             r.Run();
         },
         kResultFailed, false, DiskErrorText(Err::UnrecognizedMedia)},
        {"LayoutNotConfirmed",
         [](Repair& r) {
             r.Make();
             r.MisnameFileSystem();
             ZeroSector(r.before, 1);
             ZeroSector(r.before, 10);
             r.job.inputs->boot = BootChoice::WriteNew;
             r.Run();
         },
         kResultFailed, false, LoadString(Str::VolumeNotConfirmed)},
        {"NoSoundFat",
         [](Repair& r) {
             r.Make();
             ZeroSector(r.before, 1, 0x41);
             ZeroSector(r.before, 10, 0x41);
             r.Run();
         },
         kResultFailed, false, LoadString(Str::RepairNoSoundFat)},
        {"TrackThatDoesNotFormat",
         [](Repair& r) {
             r.Make();
             r.Lose(80);
             r.job.inputs->data = DataChoice::TryFormat;
             r.RunInEmulatedDrive([](EmulatedMedium& medium) { medium.unformattable.insert({2, 0}); });
         },
         kResultFailed, false, "Cannot format/write the track !"},
        // Cancel of the question whether to write the track back again is the user's.
        {"TrackWriteBackCancelled",
         [](Repair& r) {
             r.Make();
             r.Lose(80);
             r.job.inputs->data = DataChoice::TryFormat;
             r.faultHook = [](const DiskRequest& q) -> std::optional<InjectedFault> {
                 if (IsTransferOn(q, Minor::WriteTrack, 2, 0))
                     return InjectedFault{false, CodeOf(Err::WriteFault)};
                 return std::nullopt;
             };
             r.host.answers = {Answer::Cancel};
             r.Run();
         },
         kResultAborted, false, "Cannot format/write the track !"},
        {"MarkingBadThatFails",
         [](Repair& r) { r.Make(); r.Weaken(34); r.job.inputs->data = DataChoice::MarkCylinder; r.Run(); },
         kResultFailed, false, DiskErrorText(Err::EndOfDisk)},
        {"DisketteGone",
         [](Repair& r) {
             r.Make();
             r.faultHook = [](const DiskRequest& q) -> std::optional<InjectedFault> {
                 if (IsTransferOn(q, Minor::ReadTrack, 5, 0))
                     return InjectedFault{false, CodeOf(Err::NotReady)};
                 return std::nullopt;
             };
             r.Run();
         },
         kResultFailed, false, DiskErrorText(Err::NotReady)},
    };
    return ends;
}

void PrintTo(const RepairEnd& e, std::ostream* os)
{
    *os << e.name;
}

struct RepairEnds : Repair, ::testing::WithParamInterface<RepairEnd> {};

}  // namespace

// Failures end failed, the user's abort and Cancel aborted, and a stop at damage the user
// chose to leave aborted with the defects left told apart.
TEST_P(RepairEnds, EachEndHasItsResult)
{
    const RepairEnd& e = GetParam();
    ASSERT_NO_FATAL_FAILURE(e.run(*this));
    EXPECT_EQ(outcome.result, e.result);
    EXPECT_EQ(outcome.defectsLeft, e.defectsLeft);
    EXPECT_EQ(outcome.followUp, e.followUp);
    EXPECT_EQ(host.Count(HostEvent::Close), 1);
    const std::vector<HostEvent> boxes = Boxes();
    if (e.box.empty()) {
        EXPECT_TRUE(boxes.empty()) << boxes.front().text;
        return;
    }
    ASSERT_FALSE(boxes.empty());
    EXPECT_NE(boxes.back().text.find(e.box), std::string::npos) << boxes.back().text;
}

INSTANTIATE_TEST_SUITE_P(Ends, RepairEnds, ::testing::ValuesIn(Ends()),
                         [](const ::testing::TestParamInfo<RepairEnd>& param) { return std::string(param.param.name); });
