// SPDX-License-Identifier: GPL-3.0-or-later
// The format operation end to end on emulated drives with a scripted host.
#include <gtest/gtest.h>

#include <numeric>
#include <set>

#include "drive/backend/emulated/emulateddrive.h"
#include "drive/lostwork.h"
#include "fat/fatentries.h"
#include "format/format.h"
#include "support/scriptedhost.h"
#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::test;

namespace {

// A drive that numbers the sectors of a track itself, as the kernel's own format request does.
class DriverNumberedService final : public ForwardingService {
public:
    using ForwardingService::ForwardingService;
    bool LayoutHonoured() const override { return false; }
    std::optional<DriverLayout> LayoutChosenByDriver() const override { return DriverLayout{1, 9, 3}; }
};

std::string LabelField(const std::vector<uint8_t>& image)
{
    return std::string(image.begin() + 43, image.begin() + 54);
}

uint16_t FatEntry(const std::vector<uint8_t>& image, uint16_t cluster)
{
    return ReadFatEntry(std::span<const uint8_t>(image).subspan(512, 9 * 512), 12, cluster);
}

// A track format, not the question whether the drive can format one.
bool IsFormatRequest(const LoggedRequest& r)
{
    return (r.isIoctl(Minor::FormatTrack) && (r.block[0] & 1) == 0) || r.isBios(Bios::FormatTrack);
}

// The cylinder and head of a format request, from its parameter block or its registers.
std::pair<int, int> FormattedTrack(const LoggedRequest& r)
{
    if (r.isBios(Bios::FormatTrack))
        return {static_cast<int>((r.in.ecx >> 8) & 0xFF), static_cast<int>((r.in.edx >> 8) & 0xFF)};
    return {TrackBlock::Cylinder(r.block), TrackBlock::Head(r.block)};
}

struct Format : ::testing::Test {
    std::shared_ptr<EmulatedDrive> a = std::make_shared<EmulatedDrive>(DriveKind::Floppy35HD, 1);
    DriveTable table;
    std::shared_ptr<RecordingService> requests = BindRecorded(table, 'A', ShareService(a));
    ScriptedHost host;
    std::shared_ptr<FormatInputs> inputs = std::make_shared<FormatInputs>();

    Format()
    {
        inputs->driveText = "A:  FLOPPY";
        inputs->media = kMedia144M;
        inputs->label = "BACKUP";
    }
    int Run()
    {
        FormatJob job;
        job.inputs = inputs;
        job.drives = table;
        return FormatWorker(std::move(job), host).result;
    }
    std::vector<uint8_t> Content(MediaType type = kMedia144M) const { return a->medium()->ToImage(type); }
    std::vector<std::pair<int, int>> FormattedTracks() const
    {
        std::vector<std::pair<int, int>> tracks;
        for (const LoggedRequest& r : requests->log)
            if (IsFormatRequest(r) && !(r.out.flags & 1))
                tracks.push_back(FormattedTrack(r));
        return tracks;
    }
    // The sectors the operation wrote, in order.
    std::vector<uint32_t> WrittenSectors(uint16_t sectorsPerTrack = 18) const
    {
        std::vector<uint32_t> sectors;
        for (const LoggedRequest& r : requests->Requests(Minor::WriteTrack)) {
            const uint32_t first = (uint32_t{TrackIoBlock::Cylinder(r.block)} * 2 + TrackIoBlock::Head(r.block)) *
                                       sectorsPerTrack + TrackIoBlock::FirstSector(r.block);
            for (uint16_t k = 0; k < TrackIoBlock::Count(r.block); ++k)
                sectors.push_back(first + k);
        }
        return sectors;
    }
    void ExpectClosedOnce() const { EXPECT_EQ(host.Count(HostEvent::Close), 1); }
};

}  // namespace

TEST_F(Format, FullFormatCountsEveryTrackThenWritesTheLabelledSystemAndVerifies)
{
    a->Insert(EmulatedMedium(MediumDensity::High));
    EXPECT_EQ(Run(), kResultDone);
    EXPECT_TRUE(host.BoxTexts().empty()) << host.BoxTexts().front();

    std::vector<std::string> trackLines;
    for (const std::string& line : host.Texts(HostEvent::Lower))
        if (line.starts_with("Formatting Track"))
            trackLines.push_back(line);
    ASSERT_EQ(trackLines.size(), 80u);
    EXPECT_EQ(trackLines.front(), "Formatting Track 0 of 80 ...");
    EXPECT_EQ(trackLines.back(), "Formatting Track 79 of 80 ...");
    const std::vector<HostEvent> positions = host.Of(HostEvent::Position);
    EXPECT_TRUE(std::any_of(positions.begin(), positions.end(), [](const HostEvent& e) { return e.value == 80; }));

    EXPECT_EQ(host.Texts(HostEvent::Title), (std::vector<std::string>{"Formatting A: BACKUP", "Verifying A: BACKUP"}));
    const std::vector<HostEvent> colours = host.Of(HostEvent::Colours);
    ASSERT_EQ(colours.size(), 2u);
    EXPECT_EQ(colours[0].fill, BarColour::Red);
    EXPECT_EQ(colours[0].textColour, BarColour::White);
    EXPECT_EQ(colours[1].fill, BarColour::Green);
    EXPECT_EQ(colours[1].textColour, BarColour::Black);
    EXPECT_EQ(host.Texts(HostEvent::Upper), (std::vector<std::string>{"Checking Disk media ...", "Media Type = 1.44M (DS HD)"}));
    const std::vector<std::string> lower = host.Texts(HostEvent::Lower);
    EXPECT_TRUE(host.Shown(HostEvent::Lower, "Writing Boot Sector ..."));
    EXPECT_TRUE(host.Shown(HostEvent::Lower, "Writing System Area ..."));
    EXPECT_TRUE(host.Shown(HostEvent::Lower, "Verifying Track 79 of 80 ..."));
    EXPECT_EQ(lower.back(), "Done !");
    EXPECT_EQ(host.Texts(HostEvent::Sound), std::vector<std::string>{"SystemDefault"});
    EXPECT_EQ(host.position, 80);

    const std::vector<uint8_t> disk = Content();
    EXPECT_EQ(LabelField(disk), "BACKUP     ");
    EXPECT_EQ(std::string(disk.begin() + 19 * 512, disk.begin() + 19 * 512 + 11), "BACKUP     ");
    EXPECT_EQ(disk[19 * 512 + 11], 0x28) << "the root directory's label entry";
    EXPECT_EQ(FatEntry(disk, 0), 0xFF0);
    EXPECT_EQ(FormattedTracks().size(), 160u);
    ExpectClosedOnce();
}

TEST_F(Format, QuickFormatWritesOnlyTheSystemArea)
{
    a->Insert(EmulatedMedium::FromImage(kMedia144M, PatternImage(kMedia144M)));
    inputs->full = false;
    inputs->verify = false;
    EXPECT_EQ(Run(), kResultDone);
    EXPECT_TRUE(FormattedTracks().empty());
    std::vector<uint32_t> expected(34);
    std::iota(expected.begin(), expected.end(), 0u);  // boot sector, 2 × 9 FAT, 14 root, first data
    const std::vector<uint32_t> written = WrittenSectors();
    EXPECT_EQ(std::set<uint32_t>(written.begin(), written.end()), std::set<uint32_t>(expected.begin(), expected.end()));
    EXPECT_EQ(host.rangeHigh, 5);
    EXPECT_EQ(host.position, 5);
    const std::vector<uint8_t> disk = Content();
    EXPECT_EQ(LabelField(disk), "BACKUP     ");
    const std::vector<uint8_t> pattern = PatternImage(kMedia144M);
    EXPECT_TRUE(std::equal(pattern.begin() + 34 * 512, pattern.end(), disk.begin() + 34 * 512)) << "the data area kept";
    ExpectClosedOnce();
}

TEST_F(Format, QuickFormatOfTwentyOneSectorMediaFormatsCylinderZeroFirst)
{
    a->Insert(EmulatedMedium::Formatted(kMedia172M));
    inputs->media = kMedia172M;
    inputs->full = false;
    inputs->verify = false;
    EXPECT_EQ(Run(), kResultDone);
    // Format mode begins with a 1.44M track 0, from which the driver learns the medium.
    EXPECT_EQ(FormattedTracks(), (std::vector<std::pair<int, int>>{{0, 0}, {0, 0}, {0, 1}}));
    EXPECT_EQ(requests->Requests(Minor::FormatTrack).size(), 1u);
    size_t firstWrite = requests->log.size(), lastFormat = 0;
    for (size_t i = 0; i < requests->log.size(); ++i) {
        if (IsFormatRequest(requests->log[i]))
            lastFormat = i;
        if (requests->log[i].isIoctl(Minor::WriteTrack))
            firstWrite = std::min(firstWrite, i);
    }
    EXPECT_LT(lastFormat, firstWrite);
    EXPECT_TRUE(host.BoxTexts().empty());
}

TEST_F(Format, QuickFormatThatCannotWriteOffersAFullFormat)
{
    a->Insert(EmulatedMedium(MediumDensity::High));  // nothing formatted: the writes fail
    inputs->full = false;
    inputs->verify = false;
    host.answers = {Answer::Ok, Answer::Yes};
    EXPECT_EQ(Run(), kResultDone);
    const std::vector<HostEvent> boxes = host.Of(HostEvent::Box);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].caption, "Format Error");
    EXPECT_EQ(boxes[1].text, "Do you want Proceed with a FULL Format ?");
    EXPECT_EQ(boxes[1].caption, "Message");
    EXPECT_EQ(boxes[1].buttons, Buttons::YesNo);
    EXPECT_TRUE(inputs->full) << "the page and the next diskette see Full";
    EXPECT_EQ(FormattedTracks().size(), 160u);
    EXPECT_EQ(LabelField(Content()), "BACKUP     ");

    host = ScriptedHost{};
    a->Insert(EmulatedMedium(MediumDensity::High));
    inputs->full = false;
    host.answers = {Answer::Ok, Answer::No};
    EXPECT_EQ(Run(), kResultAborted);
    EXPECT_FALSE(inputs->full);
    ExpectClosedOnce();
}

TEST_F(Format, AutoFindsTheMediaOfAnUnformattedDisketteByTestFormat)
{
    a->Insert(EmulatedMedium(MediumDensity::High));
    inputs->media = kMediaUnknown;
    inputs->verify = false;
    EXPECT_EQ(Run(), kResultDone);
    EXPECT_TRUE(host.Shown(HostEvent::Upper, "Media Type = 1.72M (DMF)"));
    ASSERT_FALSE(FormattedTracks().empty());
    EXPECT_EQ(FormattedTracks().front(), std::make_pair(2, 0)) << "the test format";
    EXPECT_EQ(Content(kMedia172M)[0x13], 3444 & 0xFF);
}

TEST_F(Format, NothingThatFormatsFailsWithoutAMessage)
{
    a->Insert(EmulatedMedium(MediumDensity::High));
    a->medium()->unformattable.insert({2, 0});
    inputs->media = kMediaUnknown;
    EXPECT_EQ(Run(), kResultFailed);
    EXPECT_TRUE(host.BoxTexts().empty());
    EXPECT_EQ(host.Count(HostEvent::Title), 0);
    ExpectClosedOnce();
}

TEST_F(Format, ATrackFailingVerificationIsMarkedBadAndTheFormatSucceeds)
{
    a->Insert(EmulatedMedium(MediumDensity::High));
    a->medium()->defects.insert({40, 1, 5});
    EXPECT_EQ(Run(), kResultDone);
    EXPECT_TRUE(host.BoxTexts().empty());
    EXPECT_TRUE(host.Shown(HostEvent::Lower, "Marking Track 40 as BAD ..."));
    const std::vector<uint8_t> disk = Content();
    // Cylinder 40, head 1: sectors 1458..1475, clusters 1427..1444 (data from sector 33).
    for (uint16_t cluster = 1427; cluster <= 1444; ++cluster)
        EXPECT_EQ(FatEntry(disk, cluster), 0xFF7) << cluster;
    EXPECT_EQ(FatEntry(disk, 1426), 0u);
    EXPECT_EQ(FatEntry(disk, 1445), 0u);
    EXPECT_TRUE(std::equal(disk.begin() + 512, disk.begin() + 10 * 512, disk.begin() + 10 * 512)) << "both FAT copies";
}

TEST_F(Format, MarksThatCannotBeWrittenFailTheFormatOnceAndWithoutTheSound)
{
    a->Insert(EmulatedMedium(MediumDensity::High));
    a->medium()->defects.insert({40, 1, 5});
    bool verifying = false;
    requests->faultHook = [&](const DiskRequest& r) -> std::optional<InjectedFault> {
        const bool ioctl = r.controlCode == Control::DosIoctl;
        verifying = verifying || (ioctl && r.minor() == Minor::VerifyTrack);
        if (verifying && ioctl && r.minor() == Minor::WriteTrack)
            return InjectedFault{false, Err::WriteFault};
        return std::nullopt;
    };
    EXPECT_EQ(Run(), kResultFailed);
    const std::vector<HostEvent> boxes = host.Of(HostEvent::Box);
    ASSERT_EQ(boxes.size(), 1u) << "told once";
    EXPECT_EQ(boxes[0].caption, "Format Error");
    EXPECT_EQ(host.Count(HostEvent::Sound), 0);
    EXPECT_FALSE(host.Shown(HostEvent::Lower, "Done !"));
    ExpectClosedOnce();
    TakeLostWork();
}

TEST_F(Format, AbortDuringTheFormatStillLeavesTheLabelledBootSector)
{
    a->Insert(EmulatedMedium(MediumDensity::High));
    host.abortWhen = [](const ScriptedHost& h) { return h.position >= 10; };
    EXPECT_EQ(Run(), kResultAborted);
    EXPECT_EQ(LabelField(Content()), "BACKUP     ");
    EXPECT_FALSE(host.Shown(HostEvent::Lower, "Writing System Area ..."));
    EXPECT_EQ(host.Count(HostEvent::Title), 1) << "no verification";
    ExpectClosedOnce();
}

TEST_F(Format, TrackErrorsAreRetriedIgnoredOrEndTheFormat)
{
    a->Insert(EmulatedMedium(MediumDensity::High));
    a->medium()->unformattable.insert({30, 1});
    inputs->verify = false;
    host.answers = {Answer::Retry, Answer::Ignore};
    EXPECT_EQ(Run(), kResultDone);
    const std::vector<HostEvent> boxes = host.Of(HostEvent::Box);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].buttons, Buttons::AbortRetryIgnore);
    EXPECT_EQ(boxes[0].caption, "Format Error");
    int cylinder30Line = 0;
    for (const std::string& line : host.Texts(HostEvent::Lower))
        cylinder30Line += line == "Formatting Track 30 of 80 ...";
    EXPECT_EQ(cylinder30Line, 1) << "a retry keeps the lower line";
    EXPECT_EQ(host.position, 80);

    host = ScriptedHost{};
    a->Insert(EmulatedMedium(MediumDensity::High));
    a->medium()->unformattable.insert({30, 1});
    host.answers = {Answer::Abort};
    EXPECT_EQ(Run(), kResultAborted);
    EXPECT_EQ(host.position, 30);
    EXPECT_EQ(LabelField(Content()), "NO NAME    ") << "the Abort answer leaves the format's own boot sector";
    ExpectClosedOnce();
}

TEST_F(Format, AnEmptyLabelGivesNoName)
{
    a->Insert(EmulatedMedium(MediumDensity::High));
    inputs->label.clear();
    inputs->verify = false;
    EXPECT_EQ(Run(), kResultDone);
    EXPECT_EQ(host.Texts(HostEvent::Title).front(), "Formatting A: ");
    EXPECT_EQ(LabelField(Content()), "NO NAME    ");
    EXPECT_EQ(Content()[19 * 512], 0) << "no label entry in the root directory";
}

TEST_F(Format, SeveralDiskettesEachKeepTheirMarksWithSoundsUntilFinish)
{
    a->Insert(EmulatedMedium(MediumDensity::High));
    a->medium()->defects.insert({40, 1, 5});
    inputs->multiple = true;
    std::optional<EmulatedMedium> first;
    host.At(12000, [&] { first = a->Eject(); });
    host.At(18500, [&] { a->Insert(EmulatedMedium(MediumDensity::High)); });
    host.abortWhen = [](const ScriptedHost& h) { return h.now > 20000; };
    EXPECT_EQ(Run(), kResultDone) << "Finish while waiting";

    std::vector<uint64_t> sounds;
    for (const HostEvent& e : host.Of(HostEvent::Sound))
        sounds.push_back(e.tick);
    // Diskette 1 done at 0; while it stays in: 0, 5000, 10000; once it is out (at 12000) a
    // sound and a look every 2000 from the next due time: 15000, 17000, 19000, which finds
    // the new diskette; diskette 2 done at 19000, then waiting again.
    EXPECT_EQ(sounds, (std::vector<uint64_t>{0, 0, 5000, 10000, 15000, 17000, 19000, 19000, 19000}));
    EXPECT_TRUE(host.Shown(HostEvent::Lower, "Format is complete: please remove the disk !"));
    EXPECT_TRUE(host.Shown(HostEvent::Lower, "Insert a new disk to format !"));
    const std::vector<std::string> captions = host.Texts(HostEvent::AbortCaption);
    ASSERT_GE(captions.size(), 3u);
    EXPECT_EQ(captions[0], "&Finish");
    EXPECT_EQ(captions[1], "&Abort");
    int checks = 0;
    for (const std::string& line : host.Texts(HostEvent::Upper))
        checks += line == "Checking Disk media ...";
    EXPECT_EQ(checks, 2);

    ASSERT_TRUE(first);
    const std::vector<uint8_t> firstDisk = first->ToImage(kMedia144M);
    EXPECT_EQ(FatEntry(firstDisk, 1427), 0xFF7) << "written back before the next diskette was asked for";
    EXPECT_EQ(FatEntry(Content(), 1427), 0u) << "the second diskette has no defect";
    EXPECT_EQ(LabelField(Content()), "BACKUP     ");
    ExpectClosedOnce();
}

TEST_F(Format, ALayoutTheDriveChoseItselfIsToldOncePerOperation)
{
    DriveTable own;
    const auto recorder = BindRecorded(own, 'A', std::make_unique<DriverNumberedService>(ShareService(a)));
    a->Insert(EmulatedMedium(MediumDensity::High));
    inputs->multiple = true;
    host.At(6000, [&] { a->Eject(); });
    host.At(6500, [&] { a->Insert(EmulatedMedium(MediumDensity::High)); });
    host.abortWhen = [](const ScriptedHost& h) { return h.now > 20000; };
    FormatJob job;
    job.inputs = inputs;
    job.drives = own;
    EXPECT_EQ(FormatWorker(std::move(job), host).result, kResultDone);
    const std::vector<HostEvent> boxes = host.Of(HostEvent::Box);
    ASSERT_EQ(boxes.size(), 1u) << "two diskettes, one message";
    EXPECT_EQ(boxes[0].caption, "Message");
    EXPECT_NE(boxes[0].text.find("The optimized sector layout could not be given"), std::string::npos);
    EXPECT_NE(boxes[0].text.find("interleave 1"), std::string::npos);
    EXPECT_NE(boxes[0].text.find("by 9 sectors from one cylinder to the next and by 3"), std::string::npos);
}

TEST_F(Format, RefusalsBeforeTheFormat)
{
    a->Insert(EmulatedMedium(MediumDensity::High));
    a->lockedElsewhere = true;
    EXPECT_EQ(Run(), kResultFailed);
    ASSERT_EQ(host.BoxTexts().size(), 1u);
    EXPECT_EQ(host.BoxTexts()[0].rfind("Drive is Locked !", 0), 0u);
    EXPECT_TRUE(FormattedTracks().empty());
    ExpectClosedOnce();

    host = ScriptedHost{};
    a->lockedElsewhere = false;
    a->Eject();
    host.answers = {Answer::Abort};
    EXPECT_EQ(Run(), kResultAborted) << "a chosen media is formatted without asking the drive first";
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"Drive NOT ready !"});
    EXPECT_EQ(host.Of(HostEvent::Box)[0].buttons, Buttons::AbortRetryIgnore);

    host = ScriptedHost{};
    inputs->media = kMediaUnknown;
    EXPECT_EQ(Run(), kResultFailed) << "Auto finds no diskette";
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"Drive NOT ready !"});
}

TEST(FormatHardDisk, AskedBeforeAnythingIsWritten)
{
    EmulatedSetup setup('C', DriveKind::FixedDisk);
    EmulatedMedium disk(MediumDensity::High, 10, 2);
    for (uint16_t c = 0; c < 10; ++c)
        for (uint8_t h = 0; h < 2; ++h)
            for (uint8_t r = 1; r <= 32; ++r)
                disk.track(c, h).sectors.push_back({static_cast<uint8_t>(c), h, r, 2, std::vector<uint8_t>(512), false, false});
    std::vector<uint8_t> boot = BootSectorFor(kMedia144M);
    PutU16(boot, 19, 640);
    PutU16(boot, 24, 32);
    boot[21] = 0xF8;
    disk.Find(0, 0, 1)->data = boot;
    setup.drive->Insert(std::move(disk));
    ScriptedHost host;
    host.answers = {Answer::No};
    FormatJob job;
    job.inputs->driveText = "C:";
    job.drives = setup.table;
    EXPECT_EQ(FormatWorker(std::move(job), host).result, kResultAborted);
    const std::vector<HostEvent> boxes = host.Of(HostEvent::Box);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text.rfind("This drive is an Hard disk.", 0), 0u);
    EXPECT_EQ(boxes[0].buttons, Buttons::YesNo);
    EXPECT_TRUE(setup.recorder->Requests(Minor::WriteTrack).empty());
    EXPECT_TRUE(setup.recorder->Requests(Minor::FormatTrack).empty());
}

// Each kind of drive formats only the diskettes it can take, whoever asks: the format page,
// the test format of Auto, or Write Disk's format of an unprepared diskette.
TEST(FormatDriveKinds, ADriveFormatsOnlyTheDiskettesItsKindTakes)
{
    struct Case {
        DriveKind kind;
        std::set<MediaType> takes;
        MediaType autoFinds;
    };
    const Case cases[] = {
        {DriveKind::Floppy525HD, {kMedia12M}, kMedia12M},
        {DriveKind::Floppy35DD, {kMedia720K}, kMedia720K},
        {DriveKind::Floppy35HD, {kMedia720K, kMedia144M, kMedia168M, kMedia172M}, kMedia172M},
    };
    for (const Case& c : cases) {
        for (MediaType media : {kMedia720K, kMedia12M, kMedia144M, kMedia168M, kMedia172M, kMediaUnknown}) {
            SCOPED_TRACE(testing::Message() << "drive kind " << int(c.kind) << ", media " << media);
            EmulatedSetup setup('A', c.kind);
            const std::shared_ptr<EmulatedDrive>& drive = setup.drive;
            drive->Insert(EmulatedMedium(c.kind == DriveKind::Floppy35DD ? MediumDensity::Double : MediumDensity::High));
            ScriptedHost host;
            auto inputs = std::make_shared<FormatInputs>();
            inputs->driveText = "A:  FLOPPY";
            inputs->media = media;
            inputs->full = true;
            FormatJob job;
            job.inputs = inputs;
            job.drives = setup.table;
            const int result = FormatWorker(std::move(job), host).result;
            const bool takes = media == kMediaUnknown || c.takes.count(media);
            EXPECT_EQ(result, takes ? kResultDone : kResultFailed);
            EXPECT_EQ(drive->modified, takes) << "a refused medium is left as it was";
            if (takes) {
                const MediaType formatted = media == kMediaUnknown ? c.autoFinds : media;
                EXPECT_EQ(drive->medium()->ToImage(formatted).size(), ImageSizeOf(formatted));
                EXPECT_EQ(drive->medium()->track(2, 0).sectors.size(), GeometryOf(formatted)->sectorsPerTrack);
            } else {
                ASSERT_EQ(host.BoxTexts().size(), 1u);
                EXPECT_NE(host.BoxTexts()[0].find("This drive cannot format " + std::string(GetMediaTypeName(media))),
                          std::string::npos)
                    << host.BoxTexts()[0];
            }
        }
    }
}
