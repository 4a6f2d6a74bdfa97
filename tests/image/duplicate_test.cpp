// SPDX-License-Identifier: GPL-3.0-or-later
// Read Disk, Write Disk and Compare end to end on emulated drives with a scripted host.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <set>

#include "drive/backend/files/virtualdrive.h"
#include "image/duplicate.h"
#include "info/inforeport.h"
#include "support/scriptedhost.h"
#include "support/tempdir.h"
#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::test;

namespace {

constexpr uint32_t kTrack10Head0 = 10 * 36;     // first sector of cylinder 10, head 0
constexpr uint16_t kClusterOfTrack10 = 10 * 36 - 33 + 2;  // 1.44M: data starts at sector 33

struct Duplicate : ::testing::Test {
    std::shared_ptr<EmulatedDrive> a = std::make_shared<EmulatedDrive>(DriveKind::Floppy35HD, 1);
    std::shared_ptr<EmulatedDrive> b = std::make_shared<EmulatedDrive>(DriveKind::Floppy35HD, 2);
    DriveTable table;
    // What the operations asked of each drive, and the faults the cases inject.
    std::shared_ptr<RecordingService> aRequests = BindRecorded(table, 'A', ShareService(a));
    std::shared_ptr<RecordingService> bRequests = BindRecorded(table, 'B', ShareService(b));
    ScriptedHost host;
    std::shared_ptr<DiskImage> sharedImage = std::make_shared<DiskImage>();
    DiskImage& image = *sharedImage;

    DuplicateJob Job(char letter)
    {
        DuplicateJob job;
        job.driveText = std::string(1, letter) + ":  FLOPPY";
        job.serialField = image.serialText;
        job.image = sharedImage;
        job.drives = table;
        return job;
    }
    int Read(char letter = 'A') { return ReadDiskWorker(Job(letter), host).result; }
    int Write(char letter = 'B', bool verify = true, bool multi = false)
    {
        DuplicateJob job = Job(letter);
        job.verifyAfterWrite = verify;
        job.multiWrite = multi;
        return WriteDiskWorker(std::move(job), host).result;
    }
    int Compare(char letter = 'A') { return CompareWorker(Job(letter), host).result; }
    void ExpectClosedOnce() const { EXPECT_EQ(host.Count(HostEvent::Close), 1); }
    std::vector<uint8_t> Content(EmulatedDrive& d, MediaType t) const { return d.medium()->ToImage(t); }
};

}  // namespace

TEST_F(Duplicate, ReadPassesOverTracksTheFatMarksBad)
{
    a->Insert(EmulatedMedium::FromImage(kMedia144M, FatImage(kMedia144M, {kClusterOfTrack10})));
    a->medium()->writeProtected = true;
    a->medium()->defects.insert({10, 0, 4});
    EXPECT_EQ(Read(), kResultDone);
    EXPECT_TRUE(host.BoxTexts().empty()) << host.BoxTexts().front();
    EXPECT_EQ(image.mediaType, kMedia144M);
    EXPECT_EQ(image.label, "NO NAME    ");
    EXPECT_EQ(image.serialText, "12345678");
    EXPECT_EQ(host.Texts(HostEvent::Title).back(), "Reading ... A: NO NAME    ");
    EXPECT_EQ(host.Of(HostEvent::Colours).front().fill, BarColour::Cyan);
    EXPECT_EQ(host.position, 80);
    EXPECT_EQ(host.Texts(HostEvent::Sound), std::vector<std::string>{"SystemDefault"});
    const std::vector<uint8_t> source = FatImage(kMedia144M, {kClusterOfTrack10});
    EXPECT_TRUE(std::equal(source.begin(), source.begin() + kTrack10Head0 * 512, image.data.begin()));
    std::set<uint32_t> passedOver;
    for (uint32_t s = kTrack10Head0; s < kTrack10Head0 + 18; ++s)
        passedOver.insert(s);
    EXPECT_EQ(image.unreadable, passedOver) << "the image knows the track it holds no data of";
    ExpectClosedOnce();
}

TEST_F(Duplicate, ReadAsksWhenTheClusterIsFreeAndIgnoreLosesOnlyTheFailingSector)
{
    const std::vector<uint8_t> source = FatImage(kMedia144M);
    a->Insert(EmulatedMedium::FromImage(kMedia144M, source));
    a->medium()->writeProtected = true;
    a->medium()->defects.insert({10, 1, 4});
    host.answers = {Answer::Retry, Answer::Ignore};
    EXPECT_EQ(Read(), kResultDone);
    const auto boxes = host.Of(HostEvent::Box);
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].text, "Bad CRC !");
    EXPECT_EQ(boxes[0].caption, "Duplicate Disk Error");
    EXPECT_EQ(boxes[0].buttons, Buttons::AbortRetryIgnore);
    // Told at the end, though the sector held no data.
    EXPECT_EQ(boxes[2].text, "Sectors that could not be read now hold zeros. What they held:\n"
                             "  1 in free space, which held no data (sectors 381)");
    EXPECT_EQ(boxes[2].caption, "Warning");
    // Sector 4 of cylinder 10, head 1 is the only one lost: it holds zeros, never another
    // diskette's bytes; the sectors after it on its track were read one by one.
    const size_t badSector = (size_t{kTrack10Head0} + 18 + 3) * 512;
    std::vector<uint8_t> expected = source;
    std::fill_n(expected.begin() + static_cast<std::ptrdiff_t>(badSector), 512, uint8_t{0});
    EXPECT_EQ(image.data, expected);
}

// Defective sectors strewn over the diskette, the FAT's own area spared, all ignored: every
// sector that can be read is in the image, sector by sector, and only the failing ones are zero.
TEST_F(Duplicate, ReadIgnoringScatteredDefectsKeepsEveryReadableSector)
{
    const std::vector<uint8_t> source = PatternImage(kMedia144M);
    a->Insert(EmulatedMedium::FromImage(kMedia144M, source));
    a->medium()->writeProtected = true;
    std::mt19937 random(20261207);
    std::set<uint32_t> bad;
    while (bad.size() < 25) {
        const auto sector = static_cast<uint32_t>(40 + random() % (2880 - 40));
        bad.insert(sector);
        a->medium()->defects.insert({static_cast<uint16_t>(sector / 36), static_cast<uint8_t>(sector / 18 % 2),
                                     static_cast<uint8_t>(sector % 18 + 1)});
    }
    host.answers.assign(100, Answer::Ignore);
    ASSERT_EQ(Read(), kResultDone);
    ASSERT_EQ(image.data.size(), source.size());
    for (uint32_t sector = 0; sector < 2880; ++sector) {
        const auto at = static_cast<std::ptrdiff_t>(sector) * 512;
        if (bad.count(sector))
            EXPECT_TRUE(std::all_of(image.data.begin() + at, image.data.begin() + at + 512, [](uint8_t v) { return v == 0; }))
                << "failing sector " << sector;
        else
            EXPECT_TRUE(std::equal(source.begin() + at, source.begin() + at + 512, image.data.begin() + at))
                << "readable sector " << sector;
    }
    EXPECT_LE(host.Count(HostEvent::Box), 25) << "one question per failing track at most";
    EXPECT_EQ(image.unreadable, bad);
}

// The sectors a read could not give: a write copies them only on the user's word, asked
// before any diskette is touched, and a compare leaves them out.
TEST_F(Duplicate, UnreadableSectorsOfTheImageAreAskedAboutOnWriteAndLeftOutOfCompare)
{
    const std::vector<uint8_t> source = PatternImage(kMedia144M);
    a->Insert(EmulatedMedium::FromImage(kMedia144M, source));
    a->medium()->writeProtected = true;
    a->medium()->defects.insert({10, 1, 4});
    host.answers = {Answer::Ignore};
    ASSERT_EQ(Read(), kResultDone);
    const uint32_t bad = kTrack10Head0 + 18 + 3;
    ASSERT_EQ(image.unreadable, std::set<uint32_t>{bad});

    b->Insert(EmulatedMedium::FromImage(kMedia144M, std::vector<uint8_t>(source.size(), 0xE5)));
    const std::vector<uint8_t> before = Content(*b, kMedia144M);
    host = ScriptedHost();
    host.answers = {Answer::No};
    EXPECT_EQ(Write(), kResultAborted);
    ASSERT_EQ(host.BoxTexts().size(), 1u);
    EXPECT_EQ(host.BoxTexts()[0], "1 sectors of the image could not be read from its diskette: the copy will hold "
                                  "zeros, or the damaged data the image records, in their place.\n\nDo you want "
                                  "to write it anyway ?");
    EXPECT_TRUE(bRequests->log.empty()) << "asked before the drive is opened";
    EXPECT_EQ(Content(*b, kMedia144M), before);

    host = ScriptedHost();
    host.answers = {Answer::Yes, Answer::Ok};
    EXPECT_EQ(Write(), kResultDone) << testing::PrintToString(host.BoxTexts());
    EXPECT_EQ(Content(*b, kMedia144M), image.data);

    // The diskette differs from the image only where the image holds no data of it.
    host = ScriptedHost();
    a->medium()->defects.clear();
    EXPECT_EQ(Compare('A'), kResultDone) << testing::PrintToString(host.BoxTexts());
    std::vector<uint8_t> differs = source;
    differs[size_t{bad} * 512 - 1] ^= 1;
    a->Insert(EmulatedMedium::FromImage(kMedia144M, differs));
    host = ScriptedHost();
    EXPECT_EQ(Compare('A'), kResultAborted) << "the sector before it is still compared";
}

TEST_F(Duplicate, CompareIgnoringAFailingTrackStillComparesTheOtherHead)
{
    const std::vector<uint8_t> source = FatImage(kMedia144M);
    image.data = source;
    image.mediaType = kMedia144M;
    std::vector<uint8_t> onDisk = source;
    // Cylinder 10: head 0 fails at sector 4, and head 1 differs from the image.
    onDisk[(size_t{kTrack10Head0} + 20) * 512] ^= 0xFF;
    a->Insert(EmulatedMedium::FromImage(kMedia144M, onDisk));
    a->medium()->defects.insert({10, 0, 4});
    host.answers = {Answer::Ignore};
    EXPECT_EQ(Compare(), kResultAborted);
    EXPECT_EQ(host.BoxTexts().back(), "The disk into the drive doesn't NOT match with that in the memory image !");

    host = ScriptedHost{};
    host.answers = {Answer::Ignore};
    a->Insert(EmulatedMedium::FromImage(kMedia144M, source));
    a->medium()->defects.insert({10, 0, 4});
    EXPECT_EQ(Compare(), kResultDone) << "the unreadable sector itself is left out of the comparison";
}

TEST_F(Duplicate, ReadAlwaysAsksForTheSystemArea)
{
    a->Insert(EmulatedMedium::FromImage(kMedia144M, FatImage(kMedia144M, {2, 3})));
    a->medium()->writeProtected = true;
    a->medium()->defects.insert({0, 1, 2});  // sectors 18..35 hold FATs and root directory
    host.answers = {Answer::Abort};
    EXPECT_EQ(Read(), kResultAborted);
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"Bad CRC !"});
    EXPECT_EQ(image.mediaType, kMediaUnknown);
    ExpectClosedOnce();
}

TEST_F(Duplicate, ReadWithoutAReadableFatFails)
{
    std::vector<uint8_t> source = FatImage(kMedia144M, {kClusterOfTrack10});
    a->Insert(EmulatedMedium::FromImage(kMedia144M, source));
    a->medium()->writeProtected = true;
    a->medium()->defects.insert({10, 0, 1});
    a->medium()->defects.insert({0, 0, 2});   // FAT copy 1
    a->medium()->defects.insert({0, 0, 11});  // FAT copy 2
    // Track 0 cannot be read whole: the write-protect probe says "not protected" and leaves
    // its error to the boot-sector check, which then asks too.
    host.answers = {Answer::Ok, Answer::Yes, Answer::Ignore};
    EXPECT_EQ(Read(), kResultFailed);
    const auto boxes = host.Of(HostEvent::Box);
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back().text, "Cannot Access the FAT !");
    EXPECT_EQ(boxes.back().caption, "Fatal Error");
}

TEST_F(Duplicate, ReadWarnsAboutAWritableSourceAndAsksAboutItsBootSector)
{
    std::vector<uint8_t> source = FatImage(kMedia144M);
    source[0] = 0xE9;  // a near jump: not fully compliant
    a->Insert(EmulatedMedium::FromImage(kMedia144M, source));
    host.answers = {Answer::Ok, Answer::No};
    EXPECT_EQ(Read(), kResultAborted);
    ASSERT_EQ(host.BoxTexts().size(), 2u);
    EXPECT_EQ(host.BoxTexts()[0], "ATTENTION: the source diskette is NOT Write Protected !");
    EXPECT_EQ(host.Of(HostEvent::Box)[1].caption, "Warning");
    EXPECT_EQ(host.Of(HostEvent::Box)[1].buttons, Buttons::YesNo);
    EXPECT_EQ(image.mediaType, kMediaUnknown);

    host = ScriptedHost{};
    host.answers = {Answer::Ok, Answer::Yes};
    EXPECT_EQ(Read(), kResultDone);
    EXPECT_EQ(image.data, source);
}

TEST_F(Duplicate, AbortDuringTheReadEndsAfterTheCurrentCylinder)
{
    a->Insert(EmulatedMedium::FromImage(kMedia144M, FatImage(kMedia144M)));
    a->medium()->writeProtected = true;
    host.abortWhen = [](const ScriptedHost& h) { return h.position == 40; };
    EXPECT_EQ(Read(), kResultAborted);
    EXPECT_EQ(host.position, 40);
    EXPECT_EQ(image.mediaType, kMediaUnknown);
    ExpectClosedOnce();
}

TEST_F(Duplicate, ReadOfAnEmptyDriveAsksForADiskette)
{
    host.answers = {Answer::Ok, Answer::Cancel};
    EXPECT_EQ(Read(), kResultAborted);
    EXPECT_EQ(host.BoxTexts(), (std::vector<std::string>{"Please insert a disk !", "Please insert a disk !"}));
}

TEST_F(Duplicate, WriteToAnUnformattedDisketteFormatsItOnce)
{
    image.data = FatImage(kMedia144M);
    image.size = static_cast<uint32_t>(image.data.size());
    image.mediaType = kMedia144M;
    image.serialText = "12345678";
    b->Insert(EmulatedMedium(MediumDensity::High));
    EXPECT_EQ(Write(), kResultDone);
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{}) << "the first write failure is never reported";
    const auto lower = host.Texts(HostEvent::Lower);
    EXPECT_TRUE(host.Shown(HostEvent::Lower, "Formatting ..."));
    EXPECT_TRUE(host.Shown(HostEvent::Lower, "Writing System Area ..."));
    EXPECT_TRUE(host.Shown(HostEvent::Lower, "Verifying ..."));
    // The bar runs 0..80 for the format, back to 0, then 0..80 for the copy.
    std::vector<int> positions;
    for (const HostEvent& e : host.Of(HostEvent::Position))
        positions.push_back(e.value);
    const auto restart = std::find(positions.begin() + 2, positions.end(), 0);
    ASSERT_NE(restart, positions.end());
    EXPECT_EQ(*(restart - 1), 80);
    EXPECT_EQ(positions.back(), 80);
    EXPECT_EQ(host.Texts(HostEvent::Title).back(), "Duplicating B: ");
    EXPECT_EQ(Content(*b, kMedia144M), image.data);
    ExpectClosedOnce();
}

TEST_F(Duplicate, WriteToTheSourceDisketteAsks)
{
    image.data = FatImage(kMedia144M);
    image.mediaType = kMedia144M;
    image.serialText = "12345678";
    b->Insert(EmulatedMedium::FromImage(kMedia144M, FatImage(kMedia144M, {}, {5})));
    host.answers = {Answer::Cancel};
    EXPECT_EQ(Write(), kResultFailed);
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"You are trying to write to the Source Diskette!\nDo you want to proceed anyway ?\n"});

    host = ScriptedHost{};
    host.answers = {Answer::Ok};
    EXPECT_EQ(Write(), kResultDone);
    EXPECT_EQ(host.BoxTexts().size(), 1u) << "no emptiness question after OK";
}

TEST_F(Duplicate, WriteOverFilesAsksAndCancelIsAnAbort)
{
    image.data = FatImage(kMedia144M);
    image.mediaType = kMedia144M;
    image.serialText = "ABCDEF";
    b->Insert(EmulatedMedium::FromImage(kMedia144M, FatImage(kMedia144M, {}, {5})));
    host.answers = {Answer::Cancel};
    EXPECT_EQ(Write(), kResultAborted);
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"Destination Diskette is NOT empty!\nDo you want proceed anyway ?\n"});

    host = ScriptedHost{};
    b->Insert(EmulatedMedium::FromImage(kMedia144M, FatImage(kMedia144M)));
    EXPECT_EQ(Write(), kResultDone);
    EXPECT_TRUE(host.BoxTexts().empty()) << "an empty diskette asks nothing";
}

TEST_F(Duplicate, WriteWithoutVerifyReadsNothingBack)
{
    image.data = PatternImage(kMedia720K);
    image.mediaType = kMedia720K;
    b->Insert(EmulatedMedium::FromImage(kMedia720K, FatImage(kMedia720K)));
    bRequests->log.clear();
    EXPECT_EQ(Write('B', false), kResultDone);
    EXPECT_FALSE(host.Shown(HostEvent::Lower, "Verifying ..."));
    EXPECT_EQ(Content(*b, kMedia720K), image.data);
}

TEST_F(Duplicate, WriteRetriesACylinderThatReadsBackBadly)
{
    image.data = FatImage(kMedia144M);
    image.mediaType = kMedia144M;
    b->Insert(EmulatedMedium::FromImage(kMedia144M, FatImage(kMedia144M)));
    int reads = 0;
    bRequests->FailNext([&](const DiskRequest& r) { return r.minor() == Minor::ReadTrack && TrackIoBlock::Cylinder(r.block) == 7 && ++reads; }, 1, Err::BadCrc);
    host.answers = {Answer::Retry};
    EXPECT_EQ(Write(), kResultDone);
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"Bad CRC !"});
    EXPECT_EQ(host.Of(HostEvent::Box)[0].buttons, Buttons::RetryCancel);
}

TEST_F(Duplicate, WriteProtectedDestination)
{
    image.data = FatImage(kMedia144M);
    image.mediaType = kMedia144M;
    b->Insert(EmulatedMedium::FromImage(kMedia144M, FatImage(kMedia144M)));
    b->medium()->writeProtected = true;
    host.answers = {Answer::Retry, Answer::Cancel};
    EXPECT_EQ(Write(), kResultFailed);
    EXPECT_EQ(host.BoxTexts(), (std::vector<std::string>{"Write protect Disk !", "Write protect Disk !"}));
}

TEST_F(Duplicate, WriteWithoutAnImageFails)
{
    EXPECT_EQ(Write(), kResultFailed);
    EXPECT_EQ(host.Of(HostEvent::Box).at(0).caption, "Error Message");
    ExpectClosedOnce();
}

// After an aborted read the block holds part of a diskette: neither written nor compared,
// and the target diskette keeps every byte.
TEST_F(Duplicate, ImageOfAnAbortedReadIsNeitherWrittenNorCompared)
{
    a->Insert(EmulatedMedium::FromImage(kMedia144M, PatternImage(kMedia144M)));
    a->medium()->writeProtected = true;
    host.abortWhen = [](const ScriptedHost& h) { return h.position == 40; };
    ASSERT_EQ(Read(), kResultAborted);
    ASSERT_TRUE(image.HasData());
    const std::vector<uint8_t> target = FatImage(kMedia144M, {}, {3});
    b->Insert(EmulatedMedium::FromImage(kMedia144M, target));
    for (const bool compare : {false, true}) {
        host = ScriptedHost{};
        host.answers.assign(5, Answer::Yes);
        EXPECT_EQ(compare ? Compare('B') : Write(), kResultFailed);
        const auto boxes = host.Of(HostEvent::Box);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, compare ? "A Source Diskette to Compare with wasn't Read !"
                                         : "A Source Diskette wasn't Read !");
        ExpectClosedOnce();
    }
    EXPECT_EQ(Content(*b, kMedia144M), target);
    EXPECT_FALSE(b->modified);
}

TEST_F(Duplicate, SeveralCopiesWaitForRemovalAndInsertionWithSounds)
{
    image.data = FatImage(kMedia144M);
    image.mediaType = kMedia144M;
    b->Insert(EmulatedMedium::FromImage(kMedia144M, FatImage(kMedia144M)));
    host.At(12000, [&] { b->Eject(); });
    host.At(18500, [&] { b->Insert(EmulatedMedium::FromImage(kMedia144M, FatImage(kMedia144M, {}, {3}))); });
    host.abortWhen = [](const ScriptedHost& h) { return h.now > 20000; };
    EXPECT_EQ(Write('B', true, true), kResultDone) << "Finish while waiting";

    std::vector<uint64_t> sounds;
    for (const HostEvent& e : host.Of(HostEvent::Sound))
        sounds.push_back(e.tick);
    // Copy 1 done at 0; while the diskette stays in: 0, 5000, 10000; once it is out (at
    // 12000) a sound and a look every 2000 from the next due time: 15000, 17000, 19000,
    // which finds the new diskette; copy 2 done at 19000, then waiting again.
    const std::vector<uint64_t> expected = {0, 0, 5000, 10000, 15000, 17000, 19000, 19000, 19000};
    EXPECT_EQ(sounds, expected);
    EXPECT_EQ(host.Texts(HostEvent::AbortCaption).front(), "&Finish");
    EXPECT_EQ(host.Texts(HostEvent::AbortCaption)[1], "&Abort");
    EXPECT_EQ(Content(*b, kMedia144M), image.data) << "the second diskette got the image without any question";
    EXPECT_TRUE(host.BoxTexts().empty());
    ExpectClosedOnce();
}

TEST_F(Duplicate, CompareTheDisketteJustRead)
{
    a->Insert(EmulatedMedium::FromImage(kMedia144M, FatImage(kMedia144M)));
    a->medium()->writeProtected = true;
    ASSERT_EQ(Read(), kResultDone);
    host = ScriptedHost{};
    EXPECT_EQ(Compare(), kResultDone);
    EXPECT_EQ(host.Of(HostEvent::Colours).front().fill, BarColour::Green);
    EXPECT_EQ(host.Texts(HostEvent::Title).back(), "Comparing A: NO NAME    ");
    EXPECT_EQ(host.position, 80);
}

TEST_F(Duplicate, CompareStopsAtTheFirstCylinderThatDiffers)
{
    image.data = FatImage(kMedia144M);
    image.mediaType = kMedia144M;
    std::vector<uint8_t> changed = image.data;
    changed[40 * 36 * 512 + 700] ^= 1;
    a->Insert(EmulatedMedium::FromImage(kMedia144M, changed));
    EXPECT_EQ(Compare(), kResultAborted);
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"The disk into the drive doesn't NOT match with that in the memory image !"});
    EXPECT_EQ(host.position, 40);
}

TEST_F(Duplicate, CompareRefusesAnotherMediaTypeBeforeReading)
{
    image.data = FatImage(kMedia144M);
    image.mediaType = kMedia144M;
    a->Insert(EmulatedMedium::FromImage(kMedia720K, FatImage(kMedia720K)));
    EXPECT_EQ(Compare(), kResultFailed);
    EXPECT_EQ(host.Of(HostEvent::Box).at(0).buttons, Buttons::Ok);
    EXPECT_TRUE(aRequests->Requests(Minor::ReadTrack).empty());
}

TEST_F(Duplicate, CompareIgnorePassesOverTheUnreadableSectorAndRetryReadsItAgain)
{
    image.data = FatImage(kMedia144M);
    image.mediaType = kMedia144M;
    a->Insert(EmulatedMedium::FromImage(kMedia144M, image.data));
    a->medium()->defects.insert({20, 1, 3});
    aRequests->FailNext([](const DiskRequest& r) { return r.minor() == Minor::ReadTrack && TrackIoBlock::Cylinder(r.block) == 30; }, 1, Err::SectorNotFound);
    host.answers = {Answer::Ignore, Answer::Retry};
    EXPECT_EQ(Compare(), kResultDone);
    EXPECT_EQ(host.BoxTexts(), (std::vector<std::string>{"Bad CRC !", "Disk Sector NOT found !"}));
    EXPECT_EQ(image.mediaType, kMedia144M);
    int cylinder30Reads = 0;
    for (const LoggedRequest& r : aRequests->Requests(Minor::ReadTrack))
        cylinder30Reads += TrackIoBlock::Cylinder(r.block) == 30 && TrackIoBlock::Head(r.block) == 0;
    EXPECT_EQ(cylinder30Reads, 2);
}

TEST_F(Duplicate, AbortDuringTheCompareIsAFailure)
{
    image.data = FatImage(kMedia144M);
    image.mediaType = kMedia144M;
    a->Insert(EmulatedMedium::FromImage(kMedia144M, image.data));
    host.abortWhen = [](const ScriptedHost& h) { return h.position == 3; };
    EXPECT_EQ(Compare(), kResultFailed);
}

TEST_F(Duplicate, ReportedGeometryThatDoesNotDivideTheTotalStaysInsideTheImage)
{
    // A boot sector claiming 2880 sectors of 19 per track, on a diskette formatted so:
    // 76 cylinders hold 2888 sectors, the last eight lie beyond the image.
    std::vector<uint8_t> boot = FatImage(kMedia144M);
    boot.resize(512);
    PutU16(boot, 24, 19);
    EmulatedMedium disk(MediumDensity::High);
    for (uint16_t c = 0; c < 80; ++c)
        for (uint8_t h = 0; h < 2; ++h) {
            disk.track(c, h).rate = DataRate::k500;
            for (uint8_t r = 1; r <= 19; ++r) {
                const uint32_t logical = (uint32_t{c} * 2 + h) * 19 + r - 1;
                disk.track(c, h).sectors.push_back(
                    {static_cast<uint8_t>(c), h, r, 2, std::vector<uint8_t>(512, static_cast<uint8_t>(logical)), false, false});
            }
        }
    disk.Find(0, 0, 1)->data = boot;
    disk.writeProtected = true;
    a->Insert(std::move(disk));
    // More sectors a track than a 1.44M diskette's own: the read asks before it goes on.
    host.answers = {Answer::Yes};
    ASSERT_EQ(Read(), kResultDone);
    ASSERT_EQ(image.data.size(), 2880u * 512);
    EXPECT_EQ(image.data[2879 * 512], static_cast<uint8_t>(2879));
    const LoggedRequest last = aRequests->Requests(Minor::ReadTrack).back();
    EXPECT_EQ(TrackIoBlock::Cylinder(last.block), 75);
    EXPECT_EQ(TrackIoBlock::Head(last.block), 1);
    EXPECT_EQ(TrackIoBlock::Count(last.block), 11) << "the last track is read only as far as the image reaches";

    host = ScriptedHost{};
    EXPECT_EQ(Compare(), kResultDone);
}

TEST(DuplicateToFiles, SeveralCopiesOnDisketteFilesTakenOutAndPutIn)
{
    TempDir dir;
    const std::string slot = dir.File("b.img");
    WriteFile(slot, {});
    DriveTable table;
    table.Bind(VirtualDriveBinding('B', slot, DriveKind::Floppy35HD));
    ScriptedHost host;
    DuplicateJob job;
    DiskImage& image = *job.image;
    image.data = FatImage(kMedia144M);
    image.mediaType = kMedia144M;
    // The first copy is taken out (moved away), an empty diskette file put in its place.
    host.At(12000, [&] { ASSERT_EQ(std::rename(slot.c_str(), dir.File("copy1.img").c_str()), 0); });
    host.At(18500, [&] { WriteFile(slot, {}); });
    host.abortWhen = [](const ScriptedHost& h) { return h.now > 20000; };
    job.driveText = "B:";
    job.multiWrite = true;
    job.drives = table;
    EXPECT_EQ(WriteDiskWorker(job, host).result, kResultDone);
    EXPECT_EQ(ReadFile(dir.File("copy1.img")), image.data) << "saved before waiting for its removal";
    EXPECT_EQ(ReadFile(slot), image.data) << "the second diskette, formatted and written";
    EXPECT_TRUE(host.BoxTexts().empty());
}

// Six reserved sectors move the FATs to sector 6, the root directory to sectors 24..37 and
// the data area to sector 38, inside cylinder 1's first track; cluster 18 lies at sector
// 54, where head 1 begins, and is marked BAD.
std::vector<uint8_t> SixReservedSectors()
{
    std::vector<uint8_t> source = FatImage(kMedia144M, {18});
    source[14] = 6;
    std::copy_backward(source.begin() + 512, source.begin() + 33 * 512, source.begin() + 38 * 512);
    return source;
}

TEST_F(Duplicate, ReadAsksForATrackThatBeginsInsideTheSystemAreaWithoutLoadingTheFat)
{
    a->Insert(EmulatedMedium::FromImage(kMedia144M, SixReservedSectors()));
    a->medium()->writeProtected = true;
    a->medium()->defects.insert({1, 0, 1});  // sector 36, in the root directory
    host.answers = {Answer::Yes, Answer::Ignore};  // the boot check wants one reserved sector
    EXPECT_EQ(Read(), kResultDone);
    const std::vector<std::string> boxes = host.BoxTexts();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[1], "Bad CRC !");
    // Named by the volume's own layout.
    EXPECT_EQ(boxes[2], "Sectors that could not be read now hold zeros. What they held:\n"
                        "  1 in the root directory: the files it listed there may be lost (sectors 36)");
}

TEST_F(Duplicate, ReadFindsTheBadClusterBehindEveryReservedSector)
{
    a->Insert(EmulatedMedium::FromImage(kMedia144M, SixReservedSectors()));
    a->medium()->writeProtected = true;
    a->medium()->defects.insert({1, 1, 5});  // cluster 18's track
    host.answers = {Answer::Yes};
    EXPECT_EQ(Read(), kResultDone);
    EXPECT_EQ(host.BoxTexts().size(), 1u) << "only the boot sector's question";
}

TEST_F(Duplicate, ReadOfTheStandardLayoutLosesARevolutionAtEachCylinderStepAndNoMore)
{
    a->Insert(EmulatedMedium::FromImage(kMedia144M, FatImage(kMedia144M)));
    host.driveClock = &a->clock;
    EXPECT_EQ(Read(), kResultDone);
    const DriveCounters& drive = a->clock.counters();
    EXPECT_EQ(drive.steps, 79u);
    EXPECT_EQ(drive.motorStarts, 1u);
    // 160 tracks of a revolution each, sector 1 gone by at each of the 79 steps, and the
    // motor start and the system area's reads before the first track (under 10).
    EXPECT_GE(drive.revolutions, 160 + 78);
    EXPECT_LE(drive.revolutions, 160 + 79 + 10);
}

// A FAT12 diskette of 16 sectors a track is no diskette of the media table: its image could
// not be written back, so it is not read; the information report does not name it as the
// media the drive took it for, nor as a compressed volume.
TEST_F(Duplicate, ADisketteOfALayoutNoImageHoldsIsNotReadAndNotMisnamed)
{
    std::vector<uint8_t> boot = BootSectorFor(kMedia144M);
    PutU16(boot, 24, 16);    // sectors per track
    PutU16(boot, 19, 2560);  // 80 cylinders, 2 heads
    EmulatedMedium disk(MediumDensity::High, 80, 2);
    for (uint16_t c = 0; c < 80; ++c)
        for (uint8_t h = 0; h < 2; ++h)
            for (uint8_t r = 1; r <= 16; ++r)
                disk.track(c, h).sectors.push_back(
                    SectorRecord{static_cast<uint8_t>(c), h, r, 2, std::vector<uint8_t>(512, r), false, false});
    disk.track(0, 0).sectors[0].data = boot;
    a->Insert(std::move(disk));
    a->medium()->writeProtected = true;

    EXPECT_EQ(Read(), kResultFailed);
    ASSERT_EQ(host.BoxTexts().size(), 1u);
    EXPECT_NE(host.BoxTexts()[0].find("its boot sector describes 16 sectors a track, 2 heads and 80 cylinders"),
              std::string::npos)
        << host.BoxTexts()[0];
    EXPECT_FALSE(image.IsValid());
    ExpectClosedOnce();

    ScriptedHost boxes;
    const InfoResult info = GetInfo('A', table, boxes);
    ASSERT_GE(info.lines.size(), 5u);
    EXPECT_EQ(info.lines[1], "Detected Media = ? ? ?");
    EXPECT_EQ(info.lines[4].find("Media Type = STANDARD"), 0u) << info.lines[4];
}
