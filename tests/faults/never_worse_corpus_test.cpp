// SPDX-License-Identifier: GPL-3.0-or-later
// Every writing operation over a corpus of diskettes that other tools make every day and of
// damaged ones: no run may leave a diskette worse. After each run fsck.fat -n complains no
// more than before and every file that copied out before copies out identical, or the
// operation refused and changed nothing. The diskettes are made here by mkfs.fat and
// mformat, filled by mmd and mcopy, then edited byte by byte or given sectors that do not
// read (ImageDisk files).
#include <fnmatch.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <optional>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "boot/bootworkers.h"
#include "drive/fatlayout.h"
#include "fat/repair.h"
#include "fat/volumelabel.h"
#include "image/duplicate.h"
#include "support/diskettestate.h"
#include "support/imagediskfile.h"
#include "support/requiretools.h"
#include "support/scriptedhost.h"
#include "support/tempdir.h"
#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::test;

namespace {

using Edit = std::function<void(std::vector<uint8_t>&)>;

struct CorpusDiskette {
    const char* name;
    MediaType type;  // the drive it goes in, and the geometry its ImageDisk file is written in
    const char* make;  // makes the diskette file IMG
    Edit edit;  // after the files are in
    std::set<uint32_t> unreadable = {};
};

void Put16(std::vector<uint8_t>& b, size_t at, uint16_t value)
{
    b[at] = static_cast<uint8_t>(value);
    b[at + 1] = static_cast<uint8_t>(value >> 8);
}

Edit SetByte(size_t at, uint8_t value)
{
    return [=](std::vector<uint8_t>& b) { b[at] = value; };
}

Edit SetWord(size_t at, uint16_t value)
{
    return [=](std::vector<uint8_t>& b) { Put16(b, at, value); };
}

Edit ZeroSectors(uint32_t first, uint32_t count)
{
    return [=](std::vector<uint8_t>& b) { std::fill_n(b.begin() + first * 512, count * 512, 0); };
}

// mkfs.fat's 1.44M diskette: boot sector, FATs on sectors 1-9 and 10-18, root on 19-32.
constexpr const char* kMkfs144 = "mkfs.fat -C --invariant IMG 1440";

const std::vector<CorpusDiskette>& Corpus()
{
    static const std::vector<CorpusDiskette> corpus = {
        // Valid diskettes, of the media table's layouts and of others.
        {"mkfs 1.44M", kMedia144M, kMkfs144, {}},
        {"mkfs -R 4", kMedia144M, "mkfs.fat -C --invariant -R 4 IMG 1440", {}},
        {"mkfs -f 1", kMedia144M, "mkfs.fat -C --invariant -f 1 IMG 1440", {}},
        {"mkfs -f 4", kMedia144M, "mkfs.fat -C --invariant -f 4 IMG 1440", {}},
        {"mkfs -s 2", kMedia144M, "mkfs.fat -C --invariant -s 2 IMG 1440", {}},
        {"mkfs -r 16", kMedia144M, "mkfs.fat -C --invariant -r 16 IMG 1440", {}},
        {"mkfs -r 512", kMedia144M, "mkfs.fat -C --invariant -r 512 IMG 1440", {}},
        {"mkfs -S 1024", kMedia144M, "mkfs.fat -C --invariant -S 1024 IMG 1440", {}},
        {"mkfs -S 4096", kMedia144M, "mkfs.fat -C --invariant -S 4096 IMG 1440", {}},
        {"mkfs -R 4 -f 1", kMedia144M, "mkfs.fat -C --invariant -R 4 -f 1 IMG 1440", {}},
        {"mkfs 720K", kMedia720K, "mkfs.fat -C --invariant IMG 720", {}},
        {"mformat -d 1", kMedia144M, "mformat -C -N 1D0C0D01 -i IMG -f 1440 -d 1 ::", {}},
        {"mformat 80x2x18", kMedia144M, "mformat -C -N 1D0C0D02 -i IMG -t 80 -h 2 -s 18 ::", {}},
        {"mformat 720K", kMedia720K, "mformat -C -N 1D0C0D03 -i IMG -f 720 ::", {}},
        {"mformat 1.2M", kMedia12M, "mformat -C -N 1D0C0D04 -i IMG -f 1200 ::", {}},
        {"mformat 1.72M", kMedia172M, "mformat -C -N 1D0C0D05 -i IMG -t 82 -h 2 -s 21 ::", {}},
        // Boot sectors that say what the diskette is not.
        {"boot 1 head", kMedia144M, kMkfs144, SetWord(26, 1)},
        {"boot 65535 heads", kMedia144M, kMkfs144, SetWord(26, 65535)},
        {"boot 21 sectors a track", kMedia144M, kMkfs144, SetWord(24, 21)},
        {"boot 0 sectors a cluster", kMedia144M, kMkfs144, SetByte(13, 0)},
        {"boot 0 root entries", kMedia144M, kMkfs144, SetWord(17, 0)},
        {"boot 1 sector a FAT", kMedia144M, kMkfs144, SetWord(22, 1)},
        {"boot 200 sectors a FAT", kMedia144M, kMkfs144, SetWord(22, 200)},
        {"boot 255 FATs", kMedia144M, kMkfs144, SetByte(16, 255)},
        {"boot zeroed", kMedia144M, kMkfs144, ZeroSectors(0, 1)},
        {"boot bad signature", kMedia144M, kMkfs144, SetWord(510, 0)},
        // FATs.
        {"first FAT zeroed", kMedia144M, kMkfs144, ZeroSectors(1, 9)},
        {"first FAT wrong media byte", kMedia144M, kMkfs144, SetByte(512, 0xF9)},
        // Sectors that do not read.
        {"FAT sector unreadable in one copy", kMedia144M, kMkfs144, {}, {1}},
        {"FAT sector unreadable in both copies", kMedia144M, kMkfs144, {}, {1, 10}},
        {"root sector unreadable", kMedia144M, kMkfs144, {}, {19}},
        {"boot sector unreadable", kMedia144M, kMkfs144, {}, {0}},
        {"data sector unreadable", kMedia144M, kMkfs144, {}, {40}},
    };
    return corpus;
}

// Runs known to leave their diskette worse today: each is told and let pass, so that the
// test fails only on a new one; take a line away once its runs leave the diskette sound.
struct KnownWorse {
    const char* diskette;
    const char* operation;  // a pattern of operation names: "Repair new boot/*" is 8 runs
    const char* what;       // what got worse when the line was written
};

const std::vector<KnownWorse> kKnownWorse = {
    // Read Disk cannot have a FAT sector that no copy gives, and writes it back as zeros;
    // the judge reads the bytes the ImageDisk file records, which no drive delivers.
    {"FAT sector unreadable in both copies", "Write Disk of its own image", "fsck.fat 0 -> 1, every file gone"},
};

const KnownWorse* KnownFor(const std::string& diskette, const std::string& operation)
{
    for (const KnownWorse& k : kKnownWorse)
        if (diskette == k.diskette && fnmatch(k.operation, operation.c_str(), 0) == 0)
            return &k;
    return nullptr;
}

// The answers that go on: Yes, OK, Retry a few times and then Ignore (or Cancel where
// there is no Ignore).
Answer Proceeding(Buttons buttons, int& retries)
{
    constexpr int kRetries = 2;
    switch (buttons) {
    case Buttons::Ok:
    case Buttons::OkCancel: return Answer::Ok;
    case Buttons::YesNo:
    case Buttons::YesNoCancel: return Answer::Yes;
    case Buttons::AbortRetryIgnore: return retries++ < kRetries ? Answer::Retry : Answer::Ignore;
    case Buttons::RetryCancel: return retries++ < kRetries ? Answer::Retry : Answer::Cancel;
    }
    return Answer::Cancel;
}

void GoOn(ScriptedHost& host)
{
    host.answerWith = [retries = 0](const std::string&, Buttons buttons) mutable { return Proceeding(buttons, retries); };
    // An operation that keeps asking is stopped rather than left to run for ever.
    host.abortWhen = [](const ScriptedHost& h) { return h.Count(HostEvent::Box) > 400; };
}

class ProceedingReporter final : public BootReporter {
public:
    bool written = false;
    void EnableActions(bool) override {}
    void AddResult(const std::string&) override {}
    void SetState(const std::string&) override {}
    void PlaySound(const std::string&) override {}
    Answer MessageBox(const std::string&, const std::string&, Buttons buttons, Icon) override
    {
        return Proceeding(buttons, retries_);
    }

private:
    int retries_ = 0;
};

// A writing operation on the diskette in drive A: of `drives`; true when it reported success.
struct WritingOperation {
    std::string name;
    std::function<bool(const DriveTable&)> run;
};

const char* NameOf(BootChoice c)
{
    return c == BootChoice::WriteNew ? "new boot" : "boot stop";
}

const char* NameOf(SystemChoice c)
{
    return c == SystemChoice::TryFormat ? "format system" : "system stop";
}

const char* NameOf(DataChoice c)
{
    switch (c) {
    case DataChoice::TryFormat: return "format data";
    case DataChoice::MarkTrack: return "mark track";
    case DataChoice::MarkCylinder: return "mark cylinder";
    case DataChoice::Stop: return "data stop";
    }
    return "?";
}

std::vector<WritingOperation> Operations()
{
    std::vector<WritingOperation> operations;
    operations.push_back({"Boot Recreate", [](const DriveTable& drives) {
                              ProceedingReporter page;
                              return RunBootRecreate({"A:", {}}, page, drives);
                          }});
    for (BootChoice boot : {BootChoice::WriteNew, BootChoice::Stop})
        for (SystemChoice system : {SystemChoice::TryFormat, SystemChoice::Stop})
            for (DataChoice data : {DataChoice::TryFormat, DataChoice::MarkTrack, DataChoice::MarkCylinder, DataChoice::Stop})
                operations.push_back({std::string("Repair ") + NameOf(boot) + "/" + NameOf(system) + "/" + NameOf(data),
                                      [=](const DriveTable& drives) {
                                          RepairJob job;
                                          job.inputs->driveText = "A:";
                                          job.inputs->boot = boot;
                                          job.inputs->system = system;
                                          job.inputs->data = data;
                                          job.drives = drives;
                                          ScriptedHost host;
                                          GoOn(host);
                                          return RepairWorker(job, host).result == kResultDone;
                                      }});
    operations.push_back({"label", [](const DriveTable& drives) { return SetVolumeLabel('A', "CORPUS", drives).done; }});
    // Read Disk, then Write Disk of the image read, back onto the same diskette.
    operations.push_back({"Write Disk of its own image", [](const DriveTable& drives) {
                              DuplicateJob job;
                              job.driveText = "A:";
                              job.drives = drives;
                              ScriptedHost host;
                              GoOn(host);
                              if (ReadDiskWorker(job, host).result != kResultDone)
                                  return false;
                              job.serialField = job.image->serialText;
                              return WriteDiskWorker(job, host).result == kResultDone;
                          }});
    return operations;
}

DriveKind DriveFor(MediaType type)
{
    return type == kMedia12M ? DriveKind::Floppy525HD : DriveKind::Floppy35HD;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

struct MadeDiskette {
    std::string path;  // empty when it could not be made
    // The boot sector the tools wrote, where the edit changed it: the volume as it really is.
    std::optional<std::vector<uint8_t>> madeBoot;
};

// Makes the diskette file in `folder` (an ImageDisk file when some sector does not read),
// or says why it could not in `why`.
MadeDiskette MakeDiskette(const CorpusDiskette& d, const TempDir& folder, std::string& why)
{
    const std::string raw = folder.File("made.img");
    auto run = [&](const std::string& command) {
        std::string output;
        if (Shell(command + " 2>&1", &output) == 0)
            return true;
        why = command + ": " + output;
        return false;
    };
    if (!run(Replaced(d.make, "IMG", ShellQuoted(raw))) || !run("mmd -i " + ShellQuoted(raw) + " ::SUB"))
        return {};
    // A small file, one of many clusters in the subdirectory, and one after them.
    const std::pair<const char*, size_t> files[] = {{"README.TXT", 700}, {"SUB/BIG.BIN", 30000}, {"LAST.BIN", 5000}};
    unsigned seed = 1;
    for (const auto& [name, size] : files) {
        const std::string local = folder.File("file" + std::to_string(seed));
        WriteFile(local, RandomBytes(size, seed++));
        if (!run("mcopy -i " + ShellQuoted(raw) + " " + ShellQuoted(local) + " ::" + name))
            return {};
    }
    std::vector<uint8_t> bytes = ReadFile(raw);
    const std::vector<uint8_t> boot(bytes.begin(), bytes.begin() + 512);
    if (d.edit)
        d.edit(bytes);
    MadeDiskette made{raw, std::nullopt};
    if (!std::equal(boot.begin(), boot.end(), bytes.begin()))
        made.madeBoot = boot;
    if (d.unreadable.empty()) {
        WriteFile(raw, bytes);
        return made;
    }
    made.path = folder.File("made.imd");
    WriteImageDiskFile(made.path, d.type, bytes, d.unreadable);
    return made;
}

// The tools look at each outcome once: several operations often leave the same sectors.
class Examiner {
public:
    explicit Examiner(std::string scratch) : scratch_(std::move(scratch)) {}
    const DisketteState& Examined(const DisketteState& state)
    {
        const auto seen = std::ranges::find_if(seen_, [&](const DisketteState& e) { return e.SameSectors(state); });
        if (seen != seen_.end())
            return *seen;
        Examine(seen_.emplace_back(state), scratch_);
        return seen_.back();
    }

private:
    std::string scratch_;
    std::deque<DisketteState> seen_;
};

// The root directory's volume label of a diskette laid out as `boot` says; blanks when none.
std::string RootLabel(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& boot)
{
    const std::optional<FatLayout> layout = FatLayout::FromBootSector(boot);
    if (!layout)
        return "NO NAME    ";
    for (size_t at = size_t{layout->rootFirstSector} * 512; at < size_t{layout->firstDataSector} * 512 &&
                                                             at + 32 <= bytes.size() && bytes[at] != 0;
         at += 32)
        if (bytes[at] != 0xE5 && (bytes[at + 11] & 0x1F) == 0x08)
            return std::string(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                               bytes.begin() + static_cast<std::ptrdiff_t>(at + 11));
    return "NO NAME    ";
}

// How a diskette is looked at: as its boot sector says, and, when that lies, as the tools
// made it, with the boot sector they wrote put back (its label that of the root directory,
// which an operation may change): so that a write the lying boot sector led astray is seen
// where it landed.
struct View {
    const char* name;
    std::optional<std::vector<uint8_t>> boot;
    DisketteState Of(DisketteState state) const
    {
        if (!boot || state.bytes.size() < boot->size())
            return state;
        std::vector<uint8_t> sector = *boot;
        const std::string label = RootLabel(state.bytes, sector);
        std::copy(label.begin(), label.end(), sector.begin() + 43);
        std::copy(sector.begin(), sector.end(), state.bytes.begin());
        state.unreadable.erase(0);
        return state;
    }
};

struct Tally {
    size_t diskettes = 0;
    size_t runs = 0;
    size_t changed = 0;  // runs that wrote something
    size_t worse = 0;
    size_t knownWorse = 0;
    std::set<const KnownWorse*> knownMet;
};

class NeverWorseCorpus : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!RequireTools({"mkfs.fat", "mformat", "mmd", "mcopy", "fsck.fat"}))
            GTEST_SKIP();
        // The tools' own dates and serial numbers are pinned: the corpus is the same at every run.
        setenv("MTOOLS_SKIP_CHECK", "1", 1);
        setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
        setenv("TZ", "UTC", 1);
    }

    void RunAll(const CorpusDiskette& d, const std::vector<WritingOperation>& operations, Tally& tally)
    {
        SCOPED_TRACE(d.name);
        TempDir folder;
        std::string why;
        const MadeDiskette made = MakeDiskette(d, folder, why);
        ASSERT_FALSE(made.path.empty()) << why;
        const std::vector<uint8_t> original = ReadFile(made.path);
        const DisketteState before = ReadDisketteFile(made.path, d.type);
        std::vector<View> views = {{"", std::nullopt}};
        if (made.madeBoot)
            views.push_back({"as made: ", made.madeBoot});
        Examiner examiner(folder.path());
        ++tally.diskettes;
        const std::string disk = folder.File(made.path.ends_with(".imd") ? "disk.imd" : "disk.img");
        for (const WritingOperation& operation : operations) {
            SCOPED_TRACE(operation.name);
            WriteFile(disk, original);
            DriveTable drives;
            std::shared_ptr<RecordingService> recorder = BindRecordedFile(drives, 'A', disk, DriveFor(d.type));
            ASSERT_TRUE(recorder) << "the diskette file is refused";
            const bool ok = operation.run(drives);
            // The diskette file is saved when its last user lets it go.
            recorder.reset();
            drives.Unbind('A');
            ++tally.runs;

            const DisketteState after = ReadDisketteFile(disk, d.type);
            if (after.SameSectors(before))
                continue;
            ++tally.changed;
            std::string worse, reports;
            for (const View& view : views) {
                const DisketteState& was = examiner.Examined(view.Of(before));
                const DisketteState& now = examiner.Examined(view.Of(after));
                if (const std::string got = WhatGotWorse(was, now); !got.empty()) {
                    worse += view.name + got;
                    reports += std::string("fsck.fat ") + view.name + "before:\n" + was.checkerReport + "after:\n" +
                               now.checkerReport;
                }
            }
            if (worse.empty())
                continue;
            ++tally.worse;
            worse += ok ? "reported OK" : "reported a failure";
            if (const KnownWorse* known = KnownFor(d.name, operation.name)) {
                tally.knownMet.insert(known);
                ++tally.knownWorse;
                std::printf("known worse, skipped: %s / %s: %s\n", d.name, operation.name.c_str(), worse.c_str());
                continue;
            }
            ADD_FAILURE() << d.name << " / " << operation.name << " made the diskette worse: " << worse << "\n" << reports;
        }
    }
};

}  // namespace

TEST_F(NeverWorseCorpus, NoWritingOperationMakesADisketteWorse)
{
    const std::vector<WritingOperation> operations = Operations();
    Tally tally;
    // VOKTA_CORPUS_ONLY=TEXT runs only the diskettes whose name holds TEXT, to look at one case.
    const char* only = std::getenv("VOKTA_CORPUS_ONLY");
    for (const CorpusDiskette& d : Corpus())
        if (!only || std::string(d.name).find(only) != std::string::npos)
            RunAll(d, operations, tally);
    size_t nowSound = 0;
    for (const KnownWorse& k : kKnownWorse)
        if (!tally.knownMet.count(&k) && (!only || std::string(k.diskette).find(only) != std::string::npos)) {
            ++nowSound;
            std::printf("known worse, now sound (take it off the list): %s / %s\n", k.diskette, k.operation);
        }
    std::printf("never-worse corpus: %zu diskettes, %zu writing runs (%zu changed the diskette), %zu made a diskette "
                "worse (%zu of them known); known-worse list: %zu lines, %zu of them now sound\n",
                tally.diskettes, tally.runs, tally.changed, tally.worse, tally.knownWorse, kKnownWorse.size(), nowSound);
    if (!only) {
        EXPECT_EQ(tally.diskettes, Corpus().size());
        // A corpus the operations all refused, or wrote nothing on, would prove nothing.
        EXPECT_GT(tally.changed * 10, tally.runs);
    }
}

// The judge itself: a file gone, a file of other bytes, a FAT the checker finds damaged are
// each seen; a file that holds a sector which does not read is not one that copied out.
TEST_F(NeverWorseCorpus, TheJudgeSeesWhatGotWorse)
{
    TempDir folder;
    std::string why;
    const MadeDiskette made = MakeDiskette(Corpus().front(), folder, why);
    ASSERT_FALSE(made.path.empty()) << why;
    DisketteState before = ReadDisketteFile(made.path, kMedia144M);
    Examine(before, folder.path());
    ASSERT_EQ(before.complaints, 0) << before.checkerReport;
    ASSERT_EQ(before.files.size(), 3u);

    auto worse = [&](const std::function<void(DisketteState&)>& change) {
        DisketteState after = before;
        change(after);
        Examine(after, folder.path());
        return WhatGotWorse(before, after);
    };
    EXPECT_EQ(worse([](DisketteState&) {}), "");
    // The root directory begins at sector 19: SUB, README.TXT, LAST.BIN.
    EXPECT_NE(worse([](DisketteState& s) { s.bytes[19 * 512 + 32] = 0xE5; }).find("README.TXT gone"), std::string::npos);
    EXPECT_NE(worse([](DisketteState& s) { s.bytes[50 * 512] ^= 1; }).find("SUB/BIG.BIN differs"), std::string::npos);
    EXPECT_NE(worse([](DisketteState& s) { std::fill_n(s.bytes.begin() + 512, 512, 0); }).find("fsck.fat complaints 0 -> "),
              std::string::npos);
    DisketteState lost = before;
    lost.unreadable = {50};
    Examine(lost, folder.path());
    EXPECT_EQ(lost.files.count("SUB/BIG.BIN"), 0u);
    EXPECT_EQ(lost.files.size(), 2u);
}
