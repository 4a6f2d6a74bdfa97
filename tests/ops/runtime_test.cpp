// SPDX-License-Identifier: GPL-3.0-or-later
// The operation runtime: the shared start, the close and commit at the end, the track
// format loop, and workers that outlive the page that started them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <future>
#include <stdexcept>

#include "boot/bootbuilder.h"
#include "drive/backend/files/virtualdrive.h"
#include "drive/lostwork.h"
#include "fat/fatvolume.h"
#include "image/duplicate.h"
#include "ops/runner.h"
#include "steps/session.h"
#include "steps/trackformat.h"
#include "res/strings.h"
#include "support/scriptedhost.h"
#include "support/tempdir.h"
#include "support/testdrives.h"
#include "support/unprivileged.h"

using namespace vokta;
using namespace vokta::test;

namespace {

// A diskette whose changes cannot be made to last: its service's flush fails, as a
// diskette file in a full folder does.
class UnflushableService final : public ForwardingService {
public:
    using ForwardingService::ForwardingService;
    bool Flush(std::string& reason) override
    {
        reason = "No space left on device";
        return false;
    }
};

DuplicateJob JobOn(const DriveTable& table, std::shared_ptr<DiskImage> image, const char* drive = "A:")
{
    DuplicateJob job;
    job.driveText = drive;
    job.image = std::move(image);
    job.drives = table;
    return job;
}

}  // namespace

TEST(OperationStart, UnreadableDisketteFileIsToldWithItsReasonNotAsAnEmptyDrive)
{
    TempDir dir;
    const std::string file = dir.File("secret.img");
    WriteFile(file, PatternImage(kMedia144M));
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(file.c_str(), 0), 0);
    // Root reads any file: the case runs as an unprivileged user.
    const std::optional<std::string> said = RunAsNobody([&] {
        DriveTable table;
        table.Bind(VirtualDriveBinding('A', file, DriveKind::Floppy35HD));
        ScriptedHost host;
        const int result = ReadDiskWorker(JobOn(table, std::make_shared<DiskImage>()), host).result;
        std::string report = std::to_string(result) + "|" + std::to_string(host.Count(HostEvent::Close));
        for (const HostEvent& box : host.Of(HostEvent::Box))
            report += "|" + box.caption + ": " + box.text;
        return report;
    });
    ASSERT_TRUE(said.has_value());
    const std::string& report = *said;
    EXPECT_EQ(report.substr(0, 4), "2|1|") << report;
    EXPECT_NE(report.find("Duplicate Disk Error: "), std::string::npos) << report;
    EXPECT_NE(report.find(file + ": Permission denied"), std::string::npos) << report;
    EXPECT_EQ(report.find("Please insert a disk !"), std::string::npos) << report;
}

TEST(OperationStart, DriveLetterWithoutADriveIsToldAndFails)
{
    DriveTable table;
    ScriptedHost host;
    const auto held = std::make_shared<DiskImage>(DiskImage{PatternImage(kMedia144M), 2880 * 512, kMedia144M});
    EXPECT_EQ(CompareWorker(JobOn(table, held), host).result, kResultFailed);
    ASSERT_EQ(host.Count(HostEvent::Box), 1);
    EXPECT_EQ(host.Of(HostEvent::Box)[0].caption, "Duplicate Disk Error");
    EXPECT_EQ(host.Count(HostEvent::Close), 1);
}

TEST(OperationEnd, ChangesThatCannotBeMadeToLastFailTheOperation)
{
    auto drive = std::make_shared<EmulatedDrive>(DriveKind::Floppy35HD, 1);
    drive->Insert(EmulatedMedium::FromImage(kMedia144M, FatImage(kMedia144M)));
    DriveTable table;
    table.Bind(DriveBinding{'A', SystemDriveType::Removable, "",
                            [drive] { return DriveOpenResult{std::make_unique<UnflushableService>(drive), Err::None, {}}; }});
    auto image = std::make_shared<DiskImage>();
    image->data = PatternImage(kMedia144M);
    image->mediaType = kMedia144M;
    ScriptedHost host;
    const OperationOutcome outcome = WriteDiskWorker(JobOn(table, image), host);
    EXPECT_EQ(outcome.result, kResultFailed) << "never OK. with the changes lost";
    ASSERT_FALSE(host.Of(HostEvent::Box).empty());
    const HostEvent box = host.Of(HostEvent::Box).back();
    EXPECT_EQ(box.text, "The changes could not be written to the diskette.\n\nNo space left on device");
    EXPECT_EQ(box.caption, "Duplicate Disk Error");
    EXPECT_EQ(host.events.back().kind, HostEvent::Close) << "the box comes before the dialog closes";
    EXPECT_EQ(host.Count(HostEvent::Close), 1);
}

// BAD marks that cannot reach the diskette at the end make the operation fail with the
// write's error in a box: never "OK." with the marks lost.
TEST(OperationEnd, AFatWriteBackThatFailsIsTheOperationsFailure)
{
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    setup.drive->Insert(EmulatedMedium::FromImage(kMedia144M, FatImage(kMedia144M)));
    // 1.44M: the FAT copies and the root directory fill sectors 1 to 32, all on cylinder 0.
    setup.recorder->FailNext(
        [](const DiskRequest& r) {
            return r.controlCode == Control::DosIoctl && r.minor() == Minor::WriteTrack &&
                   TrackIoBlock::Cylinder(r.block) == 0;
        },
        1000, Err::SectorNotFound);
    ScriptedHost host;
    OperationOutcome outcome;
    {
        OperationSession session(host, "Repair Error");
        DiskDrive drive('A', setup.table);
        FatVolume volume(drive);
        session.Attach(drive);
        ASSERT_TRUE(drive.SelectMedia(kMedia144M, false));
        ASSERT_TRUE(volume.Load());
        ASSERT_TRUE(volume.MarkClusterBad(50));
        outcome = session.End(kResultDone);
    }
    EXPECT_EQ(outcome.result, kResultFailed);
    ASSERT_EQ(host.Count(HostEvent::Box), 1);
    const HostEvent box = host.Of(HostEvent::Box)[0];
    EXPECT_EQ(box.caption, "Repair Error");
    EXPECT_EQ(box.icon, Icon::Error);
    EXPECT_EQ(box.text, "Disk Sector NOT found !\n\nThe changes to the FAT and the root directory could not be written.");
    EXPECT_EQ(host.Count(HostEvent::Close), 1);
    EXPECT_EQ(TakeLostWork().size(), 1u) << "the drive's last try at its end is recorded as lost";
}

TEST(OperationEnd, TheDialogClosesExactlyOnceOnEveryPath)
{
    ScriptedHost host;
    {
        OperationSession session(host, "Error");
        EXPECT_EQ(session.End(kResultDone, FollowUp::ImageRead).followUp, FollowUp::ImageRead);
        session.End(kResultFailed);
    }
    EXPECT_EQ(host.Count(HostEvent::Close), 1);
    {
        OperationSession forgotten(host, "Error");
    }
    EXPECT_EQ(host.Count(HostEvent::Close), 2) << "a path that never reached End still closes";
}

TEST(TrackFormatLoop, IgnoreGoesOnRetryRepeatsAndARefusalStops)
{
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    setup.drive->Insert(EmulatedMedium::Formatted(kMedia144M));
    setup.drive->medium()->unformattable.insert({5, 1});
    std::unique_ptr<DiskDrive> drive = setup.Open();
    ASSERT_TRUE(drive->SelectMedia(kMedia144M, false));
    ScriptedHost host;
    std::vector<uint16_t> announced;
    std::vector<Answer> answers = {Answer::Retry, Answer::Ignore};
    TrackFormatting formatting;
    formatting.announce = [&](uint16_t c, uint16_t total) {
        EXPECT_EQ(total, 80);
        announced.push_back(c);
    };
    formatting.onFailure = [&](DiskDrive& d) {
        EXPECT_NE(d.PendingError(), Err::None) << "the failure's error is pending for the question";
        const Answer a = answers.front();
        answers.erase(answers.begin());
        return a;
    };
    OperationSession session(host, "Format Error");
    session.BeginTrackMap(drive->params);
    drive->BeginFormat();
    EXPECT_EQ(FormatCylinders(*drive, session, formatting), FormatLoopEnd::Done);
    (void)drive->EndFormat(WriteUnlabelledBootSector);
    EXPECT_TRUE(answers.empty()) << "asked twice: once retried, once ignored";
    EXPECT_EQ(announced.size(), 80u) << "a retry formats the cylinder again without a new announcement";
    EXPECT_EQ(host.position, 80);
    EXPECT_EQ(session.trackMap().State(5, 1), TrackState::Lost) << "the track ignored";
    EXPECT_EQ(session.trackMap().Count(TrackState::Formatted), 159);

    answers = {Answer::Cancel};
    drive->BeginFormat();
    EXPECT_EQ(FormatCylinders(*drive, session, formatting), FormatLoopEnd::Refused);
    (void)drive->EndFormat(WriteUnlabelledBootSector);
    EXPECT_EQ(host.position, 5) << "stopped at the failing cylinder";
}

// A worker that is still running when its page stops waiting must never reach the page's
// host again, even after that host is gone; run under the address sanitizer, a use of the
// freed host fails this test.
TEST(LateWorker, EndsAfterItsHostWentAwayWithoutTouchingIt)
{
    auto host = std::make_shared<ScriptedHost>();
    std::weak_ptr<ScriptedHost> watch = host;
    auto image = std::make_shared<DiskImage>();
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    struct Seen {
        bool abort = false;
        Answer answer = Answer::Ok;
    };
    auto seen = std::make_shared<Seen>();

    auto running = std::make_unique<WorkerRun>();
    std::promise<OperationOutcome> endedPromise;
    std::future<OperationOutcome> ended = endedPromise.get_future();
    running->Start(
        [released, image, seen](OperationHost& h) {
            h.SetUpperLine("working");
            released.wait();
            h.SetLowerLine("still working");
            h.SetProgressPos(3);
            seen->answer = h.MessageBox("Go on ?", "Message", Buttons::YesNo, Icon::Question);
            seen->abort = h.AbortRequested();
            image->data.assign(512, 0xE5);
            h.Close();
            return OperationOutcome{kResultDone, FollowUp::ImageRead};
        },
        host, [&endedPromise](const OperationOutcome& outcome) { endedPromise.set_value(outcome); });
    EXPECT_FALSE(running->WaitFor(std::chrono::milliseconds(20)).has_value());
    EXPECT_FALSE(running->Ended());
    running->Abandon();
    running.reset();
    host.reset();
    EXPECT_TRUE(watch.expired()) << "the page's host is gone once the page let go of it";
    release.set_value();
    EXPECT_EQ(ended.get().result, kResultDone);
    EXPECT_EQ(seen->answer, Answer::No) << "a cut link answers harmlessly";
    EXPECT_TRUE(seen->abort);
    EXPECT_EQ(image->data.size(), 512u) << "the worker's share of the image stayed alive";
    WaitForAbandonedWorkers();
}

TEST(LateWorker, RunOperationGivesUpAfterItsGraceAndCountsTheWorkerFailed)
{
    auto host = std::make_shared<ScriptedHost>();
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> dialogRan = false;
    std::shared_future<void> workerDone;
    auto finished = std::make_shared<std::promise<void>>();
    workerDone = finished->get_future().share();
    const OperationOutcome outcome = RunOperation(
        [released, finished](OperationHost& h) {
            released.wait();
            h.Close();
            finished->set_value();
            return OperationOutcome{kResultDone, FollowUp::None};
        },
        host, [&] { dialogRan = true; }, std::chrono::milliseconds(30));
    EXPECT_TRUE(dialogRan);
    EXPECT_EQ(outcome.result, kResultFailed);
    host.reset();
    release.set_value();
    workerDone.wait();
}

TEST(LateWorker, AWorkerThatEndsInTimeHandsBackItsOutcomeThroughTheLink)
{
    auto host = std::make_shared<ScriptedHost>();
    const OperationOutcome outcome = RunOperation(
        [](OperationHost& h) {
            h.SetTitle("Reading ... A: ");
            h.Close();
            return OperationOutcome{kResultAborted, FollowUp::None};
        },
        host, nullptr);
    EXPECT_EQ(outcome.result, kResultAborted);
    EXPECT_EQ(host->Texts(HostEvent::Title), std::vector<std::string>{"Reading ... A: "});
    EXPECT_EQ(host->Count(HostEvent::Close), 1);
}

TEST(LostWork, KeepsTheLatestRecordsAndCountsTheDropped)
{
    TakeLostWork();
    for (const size_t recorded : {size_t{0}, size_t{1}, kLostWorkKept, kLostWorkKept + 3}) {
        SCOPED_TRACE(recorded);
        for (size_t i = 0; i < recorded; ++i)
            RecordLostWork("lost " + std::to_string(i));
        const std::vector<std::string> told = TakeLostWork();
        const size_t dropped = recorded > kLostWorkKept ? recorded - kLostWorkKept : 0;
        ASSERT_EQ(told.size(), recorded - dropped + (dropped > 0 ? 1 : 0));
        if (recorded > 0) {
            EXPECT_EQ(told.front(), "lost " + std::to_string(dropped)) << "the oldest kept comes first";
        }
        if (dropped > 0) {
            EXPECT_EQ(told.back(), FormatString(Str::LostWorkDropped, static_cast<long>(dropped)));
        }
        EXPECT_TRUE(TakeLostWork().empty());
    }
}

// A worker that throws ends as failed: its host is told and closed, and the run goes on.
TEST(LateWorker, AnExceptionLeavingAWorkerFailsItWithAMessage)
{
    auto host = std::make_shared<ScriptedHost>();
    const OperationOutcome outcome = RunOperation(
        [](OperationHost&) -> OperationOutcome { throw std::length_error("vector"); }, host, nullptr);
    EXPECT_EQ(outcome.result, kResultFailed);
    ASSERT_EQ(host->Count(HostEvent::Box), 1);
    EXPECT_EQ(host->Of(HostEvent::Box)[0].text, FormatString(Str::WorkerStopped, "vector"));
    EXPECT_EQ(host->Count(HostEvent::Close), 1);
}
