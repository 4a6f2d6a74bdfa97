// SPDX-License-Identifier: GPL-3.0-or-later
#include "faults/sweep.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <utility>

#include "boot/bootsector.h"
#include "drive/backend/emulated/emulateddrive.h"
#include "drive/diskdrive.h"
#include "fat/repair.h"
#include "format/format.h"
#include "image/duplicate.h"
#include "info/inforeport.h"
#include "res/strings.h"
#include "support/scriptedhost.h"
#include "support/tempdir.h"
#include "support/testdrives.h"

namespace vokta::test::sweep {

namespace {

constexpr int kRetries = 2;         // Retry answers per run before giving up
constexpr size_t kKeptBroken = 20;  // broken invariants described, per sweep

// The layout a format writes: the media table's.
FatLayout TableLayout(MediaType type)
{
    return *FatLayout::FromParams(GeometryOf(type)->ToParams());
}

PhysicalSector PhysicalOf(uint32_t sector, uint16_t sectorsPerTrack)
{
    return {static_cast<uint16_t>(sector / sectorsPerTrack / 2), static_cast<uint8_t>(sector / sectorsPerTrack % 2),
            static_cast<uint8_t>(sector % sectorsPerTrack + 1)};
}

// A drive whose diskette has a sector that will not take new bytes: the first times with an
// error (the sectors before it on the track are written), or always without a word.
class FaultyDrive final : public EmulatedDrive {
public:
    using EmulatedDrive::EmulatedDrive;
    std::optional<PhysicalSector> fails;
    int failures = 2;  // the first one has the whole diskette formatted, the second is asked about
    std::optional<PhysicalSector> stuck;
    // A track that will not format the first times it is asked to (one request with its retries).
    std::optional<std::pair<uint16_t, uint8_t>> formatFails;
    int formatFailures = 3;

protected:
    DiskError FormatTrack(uint16_t cylinder, uint8_t head, std::span<const uint8_t> addressFields, bool bios) override
    {
        if (medium() && formatFails == std::pair{cylinder, head} && formatFailures > 0) {
            --formatFailures;
            return Err::SectorNotFound;
        }
        return EmulatedDrive::FormatTrack(cylinder, head, addressFields, bios);
    }
    DiskError TransferTrack(uint16_t cylinder, uint8_t head, uint16_t first, uint16_t count,
                            std::span<uint8_t> buffer, bool write) override
    {
        auto within = [&](const std::optional<PhysicalSector>& s) {
            return write && s && medium() && s->cylinder == cylinder && s->head == head && s->number > first &&
                   s->number <= first + count;
        };
        if (within(fails) && failures > 0) {
            const auto before = static_cast<uint16_t>(fails->number - 1 - first);
            --failures;
            if (before != 0)
                if (const DiskError e = EmulatedDrive::TransferTrack(cylinder, head, first, before, buffer, true);
                    e != Err::None)
                    return e;
            return Err::WriteFault;
        }
        if (within(stuck)) {
            SectorRecord* s = medium()->Find(cylinder, head, stuck->number);
            const std::vector<uint8_t> old = s ? s->data : std::vector<uint8_t>{};
            const DiskError e = EmulatedDrive::TransferTrack(cylinder, head, first, count, buffer, write);
            if (s)
                s->data = old;
            return e;
        }
        return EmulatedDrive::TransferTrack(cylinder, head, first, count, buffer, write);
    }
};

enum class Touch { None, Read, Write };

// How a request meets the sector: read (a track read or verify holding it), written, or not.
Touch Touches(const DiskRequest& r, uint32_t sector, uint16_t sectorsPerTrack)
{
    const uint8_t minor = r.minor();
    if (r.controlCode == Control::DosIoctl && (minor == Minor::ReadTrack || minor == Minor::WriteTrack) &&
        r.block.size() >= TrackIoBlock::kSize) {
        const uint32_t first =
            (uint32_t{TrackIoBlock::Cylinder(r.block)} * 2 + TrackIoBlock::Head(r.block)) * sectorsPerTrack +
            TrackIoBlock::FirstSector(r.block);
        if (sector < first || sector >= first + TrackIoBlock::Count(r.block))
            return Touch::None;
        return minor == Minor::ReadTrack ? Touch::Read : Touch::Write;
    }
    const uint32_t track = sector / sectorsPerTrack;
    if (r.controlCode == Control::Int13)
        return r.biosFunction() == Bios::FormatTrack && track == (r.regs.ecx >> 8 & 0xFF) * 2 + (r.regs.edx >> 8 & 0xFF)
                   ? Touch::Write
                   : Touch::None;
    if (r.controlCode != Control::DosIoctl || r.block.size() < TrackBlock::kSize ||
        track != uint32_t{TrackBlock::Cylinder(r.block)} * 2 + TrackBlock::Head(r.block))
        return Touch::None;
    // Formatting a track writes each of its sectors anew.
    return r.minor() == Minor::VerifyTrack ? Touch::Read : r.minor() == Minor::FormatTrack ? Touch::Write : Touch::None;
}

bool IsNegative(Answer a)
{
    return a == Answer::Abort || a == Answer::No || a == Answer::Cancel;
}

bool Uniform(std::span<const uint8_t> sector)
{
    return std::all_of(sector.begin(), sector.end(), [&](uint8_t b) { return b == sector.front(); });
}

// One run: the drive, the recorder in front of it, the host, and the fault's state.
class Bench {
public:
    Bench(const Diskettes& diskettes, const Run& run, Figures& figures)
        : diskettes_(diskettes), run_(run), figures_(figures), geometry_(*GeometryOf(diskettes.tree.type)),
          layout_(diskettes.layout)
    {
        recorder_ = BindRecorded(table_, 'A', ShareService(drive_));
        recorder_->faultHook = [this](const DiskRequest& r) { return Hook(r); };
        host_.answerWith = [this](const std::string&, Buttons buttons) {
            PutBack();
            return Decide(buttons);
        };
    }

    void Go();

private:
    std::optional<InjectedFault> Hook(const DiskRequest& r);
    Answer Decide(Buttons buttons);
    void PutBack()
    {
        if (out_)
            drive_->Insert(*std::exchange(out_, std::nullopt));
    }
    // `what` says, only when asked, what broke: most checks hold, and hold a million times.
    template <typename What>
    void Check(bool holds, What what);
    void Check(bool holds, const char* what)
    {
        Check(holds, [what] { return std::string(what); });
    }
    uint32_t Sectors() const { return geometry_.totalSectors; }
    std::span<const uint8_t> SectorOf(std::span<const uint8_t> bytes, uint32_t s) const
    {
        return bytes.subspan(size_t{s} * kSectorSize, kSectorSize);
    }
    bool SameSector(std::span<const uint8_t> a, std::span<const uint8_t> b, uint32_t s) const
    {
        return std::memcmp(SectorOf(a, s).data(), SectorOf(b, s).data(), kSectorSize) == 0;
    }
    // The diskette put in instead of the one taken out: for a read or compare the empty one,
    // for a write one formatted and blank.
    EmulatedMedium Other() const
    {
        const Diskette& empty = diskettes_.empty;
        return run_.operation == Operation::Write || run_.operation == Operation::WriteWithoutVerify
                   ? EmulatedMedium::Formatted(empty.type)
                                                  : EmulatedMedium::FromImage(empty.type, empty.bytes);
    }
    void CheckCommon(int result);
    // Whether the diskette in the drive holds what was put in: `bytes`, or the other one.
    bool Unchanged(const std::vector<uint8_t>& bytes) const
    {
        if (!drive_->medium())
            return false;
        const std::vector<uint8_t> now = drive_->medium()->ToImage(diskettes_.tree.type);
        return now == bytes || (run_.fault == Fault::Swapped && now == Other().ToImage(diskettes_.tree.type));
    }
    bool Refused() const
    {
        for (const HostEvent& e : host_.Of(HostEvent::Box))
            if (IsNegative(e.answer))
                return true;
        return false;
    }
    // Whether the faulty sector never reads again.
    bool SectorLost() const
    {
        return run_.fault == Fault::PersistentCrc || (run_.fault == Fault::WriteError && IsRepair(run_.operation));
    }
    bool Ignored() const
    {
        for (const HostEvent& e : host_.Of(HostEvent::Box))
            if (e.answer == Answer::Ignore)
                return true;
        return false;
    }
    void ReadDisk();
    void WriteDisk();
    void Compare();
    void Format(bool full);
    void Repair(DataChoice choice);
    void Info();
    // Whether no fault made the operation loop: a whole pass reads and writes every track
    // a few times, and each answer to a question may add a few more.
    void CheckBounded();
    // Every file of the tree holds its bytes on the diskette left behind, but for a sector
    // that could not be read, which holds zeros.
    void CheckFiles(const std::vector<uint8_t>& after);
    // Whether the diskette is a sound empty FAT volume by the system's own checker.
    bool CheckerFindsItClean(const std::vector<uint8_t>& bytes) const;
    DuplicateJob Job()
    {
        DuplicateJob job;
        job.driveText = "A:";
        job.image = image_;
        job.serialField = image_->serialText;
        job.drives = table_;
        job.verifyAfterWrite = run_.operation != Operation::WriteWithoutVerify;
        return job;
    }

    const Diskettes& diskettes_;
    const Run& run_;
    Figures& figures_;
    const MediaGeometry geometry_;
    const FatLayout layout_;  // the tree's own, which a repair must keep
    std::shared_ptr<FaultyDrive> drive_ = std::make_shared<FaultyDrive>(DriveKind::Floppy35HD, 1);
    DriveTable table_;
    std::shared_ptr<RecordingService> recorder_;
    ScriptedHost host_;
    std::shared_ptr<DiskImage> image_ = std::make_shared<DiskImage>();
    bool struck_ = false;
    bool brokenBefore_ = false;
    int retries_ = 0;
    std::optional<EmulatedMedium> out_;
    std::optional<EmulatedMedium> swappedOut_;  // the diskette taken out for another
    int requestsWhileOut_ = 0;
};

std::optional<InjectedFault> Bench::Hook(const DiskRequest& r)
{
    if (out_ && ++requestsWhileOut_ >= 3)
        PutBack();
    const Touch touch = Touches(r, run_.sector, geometry_.sectorsPerTrack);
    if (touch == Touch::None)
        return std::nullopt;
    const bool first = !struck_;
    switch (run_.fault) {
    case Fault::PersistentCrc:
    case Fault::Differs: struck_ |= touch == Touch::Read; break;
    case Fault::WriteError:
    case Fault::StuckSector: struck_ |= touch == Touch::Write; break;
    case Fault::TransientCrc:
        if (first && touch == Touch::Read) {
            struck_ = true;
            return InjectedFault{false, Err::BadCrc};
        }
        break;
    case Fault::NotReady:
    case Fault::Swapped:
        if (first) {
            struck_ = true;
            out_ = drive_->Eject();
            if (run_.fault == Fault::Swapped) {
                swappedOut_ = std::move(out_);
                out_ = Other();
            }
            requestsWhileOut_ = 0;
            // Put back a few seconds on, should the operation wait rather than ask.
            host_.At(host_.now + 3000, [this] { PutBack(); });
        }
        break;
    }
    return std::nullopt;
}

Answer Bench::Decide(Buttons buttons)
{
    const bool retry = retries_ < kRetries;
    switch (buttons) {
    case Buttons::Ok: return Answer::Ok;
    // The questions asked before the fault struck (protection, boot sector, contents) are
    // answered Yes, so that the run reaches it; the refusals of them are runs of their own.
    case Buttons::OkCancel:
        return run_.answers == Answers::Refuse && struck_ ? Answer::Cancel : Answer::Ok;
    case Buttons::YesNo: return run_.answers == Answers::Refuse && struck_ ? Answer::No : Answer::Yes;
    case Buttons::YesNoCancel:
        return run_.answers == Answers::Refuse && struck_ ? Answer::Cancel : Answer::Yes;
    case Buttons::AbortRetryIgnore:
        switch (run_.answers) {
        case Answers::Refuse: return Answer::Abort;
        case Answers::Accept: return Answer::Ignore;
        case Answers::RetryFirst: return retry ? (++retries_, Answer::Retry) : Answer::Abort;
        }
        break;
    case Buttons::RetryCancel:
        if (run_.answers == Answers::Refuse || !retry)
            return Answer::Cancel;
        ++retries_;
        return Answer::Retry;
    }
    return Answer::Cancel;
}

template <typename What>
void Bench::Check(bool holds, What what)
{
    ++figures_.invariants;
    if (holds)
        return;
    ++figures_.failures;
    if (figures_.broken.size() < kKeptBroken && !brokenBefore_) {
        brokenBefore_ = true;  // one description a run
        std::string boxes;
        for (const HostEvent& e : host_.Of(HostEvent::Box))
            boxes += " [" + e.text + "]";
        figures_.broken.push_back(Describe(run_) + ": " + what() + "; boxes:" + boxes);
    }
}

// What holds after every operation: the result follows from the answers, a failure is
// never reported as success, and no fault makes it loop.
void Bench::CheckCommon(int result)
{
    // A failure told in a box ends the operation, unless a question after it went on
    // (a quick format that could not write offers a full one).
    // The warning that names the sectors a done operation lost tells no failure.
    bool refused = false, failureShown = false;
    for (const HostEvent& e : host_.Of(HostEvent::Box)) {
        if (e.text.starts_with(LoadString(Str::LostSectorsHeader)))
            continue;
        refused |= IsNegative(e.answer);
        if (e.buttons == Buttons::Ok)
            failureShown |= e.icon == Icon::Error || e.icon == Icon::Warning;
        else if (!IsNegative(e.answer))
            failureShown = false;
    }
    const bool expectDone = !refused && !failureShown;
    if (figures_.trace) {
        std::string line = Describe(run_) + " -> " + std::to_string(result) + (struck_ ? "" : " (not met)");
        for (const HostEvent& e : host_.Of(HostEvent::Box))
            line += " [" + e.text + " / " + std::to_string(static_cast<int>(e.answer)) + "]";
        line += " requests " + std::to_string(recorder_->log.size()) + ", writes:";
        // Appended piece by piece: an optimised build sees a false overlap in `" " + to_string(...)`.
        for (const LoggedRequest& w : recorder_->Requests(Minor::WriteTrack))
            for (const auto& [separator, value] :
                 {std::pair{' ', TrackIoBlock::Cylinder(w.block)}, std::pair{'/', TrackIoBlock::Head(w.block)},
                  std::pair{'/', TrackIoBlock::FirstSector(w.block)}, std::pair{'+', TrackIoBlock::Count(w.block)}}) {
                line += separator;
                line += std::to_string(value);
            }
        figures_.trace(line);
    }
    Check((result == kResultDone) == expectDone, [&] {
        return "result " + std::to_string(result) +
               (expectDone ? " where nothing was refused or failed" : " after a refusal or failure");
    });
    // A failure the fault brought about is told as what it is, not as another one.
    const std::map<Fault, Str> told = {{Fault::PersistentCrc, Str::BadCrc}, {Fault::TransientCrc, Str::BadCrc},
                                       {Fault::NotReady, Str::DriveNotReady}, {Fault::Swapped, Str::InvalidDiskChange},
                                       {Fault::StuckSector, Str::WriteFailed},
                                       {Fault::Differs, Str::NoMatch}};
    // The format's verify tells a failing system area its own way: a track of it cannot be
    // marked BAD, and a FAT that does not read is not verified against. So does a repair,
    // one whose track will not format again, and one that cannot confirm the volume or find
    // a sound FAT before it writes.
    const bool formatOrRepair = run_.operation == Operation::QuickFormat || run_.operation == Operation::FullFormat ||
                                IsRepair(run_.operation);
    const bool toldByVerify = formatOrRepair && (host_.Shown(HostEvent::Box, LoadString(Str::EndOfDisk)) ||
                                                 host_.Shown(HostEvent::Box, LoadString(Str::CannotAccessFat)) ||
                                                 host_.Shown(HostEvent::Box, LoadString(Str::CannotFormatTrack)) ||
                                                 host_.Shown(HostEvent::Box, LoadString(Str::VolumeNotConfirmed)) ||
                                                 host_.Shown(HostEvent::Box, LoadString(Str::RepairNoSoundFat)));
    if (struck_ && result != kResultDone && !refused && !toldByVerify && told.count(run_.fault))
        Check(host_.Shown(HostEvent::Box, LoadString(told.at(run_.fault))) ||
                  (run_.fault == Fault::Swapped && (host_.Shown(HostEvent::Box, LoadString(Str::NoMatch)) ||
                                                    host_.Shown(HostEvent::Box, LoadString(Str::DriveNotReady)))),
              "the failure was not told as such");
    CheckBounded();
}

void Bench::CheckBounded()
{
    // A pass: format, write, verify; an answer: a track read sector by sector, a retried cylinder.
    const size_t tracks = size_t{geometry_.cylinders} * 2;
    const size_t perAnswer = 4 * size_t{geometry_.sectorsPerTrack} + 8;
    Check(recorder_->log.size() <= 6 * tracks + 200 + perAnswer * host_.Of(HostEvent::Box).size(),
          [&] { return "took " + std::to_string(recorder_->log.size()) + " requests"; });
    PutBack();
}

void Bench::ReadDisk()
{
    const Diskette& source = diskettes_.tree;
    drive_->Insert(EmulatedMedium::FromImage(source.type, source.bytes));
    drive_->medium()->writeProtected = true;
    if (run_.fault == Fault::PersistentCrc)
        drive_->medium()->defects.insert(PhysicalOf(run_.sector, geometry_.sectorsPerTrack));
    // An image of another diskette is in memory: none of it may survive into the new one.
    image_->data = diskettes_.empty.bytes;
    image_->mediaType = source.type;
    const int result = ReadDiskWorker(Job(), host_).result;
    CheckCommon(result);
    Check(Unchanged(source.bytes), "the source diskette changed");
    if (result != kResultDone) {
        Check(!image_->IsValid(), "a failed read left an image to write");
        return;
    }
    Check(image_->mediaType == source.type && image_->data.size() == source.bytes.size(), "image of another size");
    if (image_->data.size() != source.bytes.size())
        return;
    // A diskette put in for the source before the first track was read is copied whole.
    if (run_.fault == Fault::Swapped && image_->data == Other().ToImage(source.type))
        return;
    for (uint32_t s = 0; s < Sectors(); ++s) {
        if (SameSector(image_->data, source.bytes, s))
            continue;
        const bool lost = (s == run_.sector && run_.fault == Fault::PersistentCrc) ||
                          (run_.fault == Fault::Swapped && Ignored());
        const auto got = SectorOf(image_->data, s);
        Check(lost && Uniform(got) && got.front() == 0,
              [s] { return "sector " + std::to_string(s) + " differs from the diskette"; });
    }
}

void Bench::WriteDisk()
{
    const Diskette& target = diskettes_.empty;
    drive_->Insert(EmulatedMedium::FromImage(target.type, target.bytes));
    const PhysicalSector at = PhysicalOf(run_.sector, geometry_.sectorsPerTrack);
    if (run_.fault == Fault::PersistentCrc)
        drive_->medium()->defects.insert(at);
    if (run_.fault == Fault::WriteError)
        drive_->fails = at;
    if (run_.fault == Fault::StuckSector)
        drive_->stuck = at;
    image_->data = diskettes_.tree.bytes;
    image_->mediaType = diskettes_.tree.type;
    image_->serialText = "SWEEPSRC";
    const int result = WriteDiskWorker(Job(), host_).result;
    CheckCommon(result);
    const std::vector<uint8_t> after = drive_->medium()->ToImage(target.type);
    if (result == kResultDone)
        Check(after == image_->data, "reported written, yet the diskette differs from the image");
    // The cylinders the bar says were copied hold the image, when the copy (not a format
    // before it) was the last thing done.
    const std::vector<std::string> lower = host_.Texts(HostEvent::Lower);
    const bool copying = !lower.empty() && (lower.back() == LoadString(Str::Writing) ||
                                            lower.back() == LoadString(Str::VerifyingProgress));
    const uint32_t copied = copying ? static_cast<uint32_t>(host_.position) * 2 * geometry_.sectorsPerTrack : 0;
    for (uint32_t s = 0; s < Sectors(); ++s) {
        if (s < copied)
            Check(SameSector(after, image_->data, s),
                  [s] { return "sector " + std::to_string(s) + " of a copied cylinder differs"; });
        else if (!SameSector(after, image_->data, s) && !SameSector(after, target.bytes, s))
            Check(Uniform(SectorOf(after, s)),
                  [s] { return "sector " + std::to_string(s) + " holds neither image, old bytes nor filler"; });
    }
}

void Bench::Compare()
{
    const Diskette& source = diskettes_.tree;
    drive_->Insert(EmulatedMedium::FromImage(source.type, source.bytes));
    const PhysicalSector at = PhysicalOf(run_.sector, geometry_.sectorsPerTrack);
    if (run_.fault == Fault::PersistentCrc)
        drive_->medium()->defects.insert(at);
    if (run_.fault == Fault::Differs)
        drive_->medium()->Find(at.cylinder, at.head, at.number)->data[run_.sector % kSectorSize] ^= 0x5A;
    const std::vector<uint8_t> inserted = drive_->medium()->ToImage(source.type);
    image_->data = source.bytes;
    image_->mediaType = source.type;
    const int result = CompareWorker(Job(), host_).result;
    CheckCommon(result);
    if (run_.fault == Fault::Differs && struck_)
        Check(result != kResultDone, "a differing sector was reported as matching");
    Check(Unchanged(inserted), "the compared diskette changed");
    if (run_.fault == Fault::Swapped && struck_ && result == kResultDone)
        Check(Ignored(), "another diskette was reported as matching");
}

bool Bench::CheckerFindsItClean(const std::vector<uint8_t>& bytes) const
{
    TempDir dir;
    WriteFile(dir.File("d.img"), bytes);
    return Shell("fsck.fat -n " + ShellQuoted(dir.File("d.img")) + " >/dev/null 2>&1") == 0;
}

// A quick format over the file tree rewrites the system area only; a full one formats every
// track first. Both then verify every track and mark the failing ones BAD.
void Bench::Format(bool full)
{
    const Diskette& source = diskettes_.tree;
    drive_->Insert(EmulatedMedium::FromImage(source.type, source.bytes));
    const PhysicalSector at = PhysicalOf(run_.sector, geometry_.sectorsPerTrack);
    if (run_.fault == Fault::PersistentCrc)
        drive_->medium()->defects.insert(at);
    const FatLayout formatted = TableLayout(source.type);
    const uint32_t systemArea = formatted.firstDataSector;
    // A full format meets a write error as a track that will not format; the system area
    // written after it fails too.
    if (run_.fault == Fault::WriteError && (!full || run_.sector <= systemArea))
        drive_->fails = at;
    if (run_.fault == Fault::WriteError && full)
        drive_->formatFails = std::pair{at.cylinder, at.head};
    FormatJob job;
    job.inputs->driveText = "A:";
    job.inputs->media = source.type;
    job.inputs->full = full;
    job.inputs->verify = true;
    job.drives = table_;
    const int result = FormatWorker(std::move(job), host_).result;
    CheckCommon(result);
    if (!drive_->medium())
        return;
    const std::vector<uint8_t> after = drive_->medium()->ToImage(source.type);
    // The files' sectors stay as they were unless a full format was asked for, but for the
    // first one, which the empty system area is written over with; a 21-sector diskette has
    // its cylinder 0 formatted anew.
    full |= host_.Shown(HostEvent::Box, LoadString(Str::AskFullFormat)) && !Refused();
    const uint32_t firstKept = std::max(geometry_.sectorsPerTrack == 21 ? 2 * 21u : 0u, systemArea + 1);
    if (!full && run_.fault != Fault::Swapped)
        for (uint32_t s = firstKept; s < Sectors(); ++s)
            Check(SameSector(after, source.bytes, s),
                  [s] { return "sector " + std::to_string(s) + " of the data area changed"; });
    if (result != kResultDone)
        return;
    Check(CheckerFindsItClean(after), "fsck.fat finds the formatted diskette unsound");
    // A full format that went through leaves no byte of the files, but on a track it was told
    // to skip.
    if (full && !Ignored())
        for (uint32_t s = firstKept; s < Sectors(); ++s)
            Check(Uniform(SectorOf(after, s)), [s] { return "sector " + std::to_string(s) + " kept old bytes"; });
    // The verify finds a sector that will not read, and its track is marked BAD.
    if (run_.fault == Fault::PersistentCrc && run_.sector >= systemArea) {
        const uint32_t cluster = (run_.sector - systemArea) / geometry_.sectorsPerCluster + 2;
        const size_t at12 = size_t{formatted.firstFatSector} * kSectorSize + cluster * 3 / 2;
        const uint16_t pair = static_cast<uint16_t>(after[at12] | after[at12 + 1] << 8);
        const uint16_t entry = cluster % 2 ? pair >> 4 : pair & 0xFFF;
        Check(entry == 0xFF7, [cluster] { return "cluster " + std::to_string(cluster) + " not marked BAD"; });
    }
}

// A repair of the file tree: every file keeps its bytes, whatever the repair did and however
// it ended, and the diskette stays sound.
void Bench::Repair(DataChoice choice)
{
    const Diskette& source = diskettes_.tree;
    drive_->Insert(EmulatedMedium::FromImage(source.type, source.bytes));
    const PhysicalSector at = PhysicalOf(run_.sector, geometry_.sectorsPerTrack);
    // A repair writes only where it repairs: its write error lies in a sector that does not read.
    if (SectorLost())
        drive_->medium()->defects.insert(at);
    if (run_.fault == Fault::WriteError)
        drive_->fails = at;
    RepairJob job;
    job.inputs->driveText = "A:";
    job.inputs->boot = BootChoice::WriteNew;
    job.inputs->system = SystemChoice::TryFormat;
    job.inputs->data = choice;
    job.drives = table_;
    const int result = RepairWorker(std::move(job), host_).result;
    CheckCommon(result);
    if (run_.fault == Fault::Swapped && swappedOut_) {
        // A boot sector that fails the nine tests is rewritten before the walk meets the swap.
        const std::vector<uint8_t> out = swappedOut_->ToImage(source.type);
        const auto from = static_cast<std::ptrdiff_t>(ValidateBootSector(source.bytes) == 0 ? 0 : kSectorSize);
        Check(out.size() == source.bytes.size() && std::equal(out.begin() + from, out.end(), source.bytes.begin() + from),
              "the diskette taken out changed");
        if (drive_->medium())
            Check(Unchanged(diskettes_.empty.bytes), "the diskette put in instead was written");
        return;
    }
    if (!drive_->medium())
        return;
    std::vector<uint8_t> after = drive_->medium()->ToImage(source.type);
    // A FAT sector that never reads again, left by a repair that stopped, holds what the
    // format left there: a reader takes that sector from the other copy, as the checker is
    // shown it.
    if (SectorLost() && layout_.fatCount == 2 && run_.sector >= layout_.firstFatSector &&
        run_.sector < layout_.rootFirstSector) {
        const uint32_t twin = run_.sector < layout_.FatSector(1) ? run_.sector + layout_.sectorsPerFat
                                                                 : run_.sector - layout_.sectorsPerFat;
        std::copy_n(after.begin() + static_cast<std::ptrdiff_t>(size_t{twin} * kSectorSize), kSectorSize,
                    after.begin() + static_cast<std::ptrdiff_t>(size_t{run_.sector} * kSectorSize));
    }
    // A directory sector that does not read is restored as zeros: what it named is lost, and
    // the clusters of that are left to the disk checker to free.
    const bool directoryLost =
        SectorLost() && std::ranges::any_of(diskettes_.files, [this](const TreeFile& f) {
            return std::ranges::count(f.entrySectors, run_.sector) != 0;
        });
    if (!directoryLost)
        Check(CheckerFindsItClean(after), "fsck.fat finds the repaired diskette unsound");
    CheckFiles(after);
    // A diskette that was out for a moment has no damaged track to mark. Its boot sector
    // may be rewritten: one of another layout than the table's fails the nine tests.
    const auto fatStart = static_cast<std::ptrdiff_t>(size_t{layout_.firstFatSector} * kSectorSize);
    if (run_.fault == Fault::NotReady)
        Check(std::equal(after.begin() + fatStart,
                         after.begin() + static_cast<std::ptrdiff_t>(size_t{layout_.rootFirstSector} * kSectorSize),
                         source.bytes.begin() + fatStart),
              "the FAT changed for a diskette taken out");
}

void Bench::CheckFiles(const std::vector<uint8_t>& after)
{
    const std::vector<TreeFile> now = FilesOf({diskettes_.tree.type, after});
    const bool lostOne = SectorLost();
    for (const TreeFile& was : diskettes_.files) {
        // A file whose directory entry cannot be read is lost with it.
        if (lostOne && std::ranges::count(was.entrySectors, run_.sector) != 0)
            continue;
        const auto found = std::ranges::find(now, was.path, &TreeFile::path);
        if (found == now.end()) {
            Check(false, [&] { return was.path + " is gone"; });
            continue;
        }
        // The lost sector holds zeros once restored, or whatever the diskette keeps there.
        std::vector<uint8_t> expected = was.bytes;
        const auto lost = std::ranges::find(was.sectors, run_.sector);
        if (lostOne && lost != was.sectors.end() && found->bytes.size() == expected.size()) {
            const auto offset = (lost - was.sectors.begin()) * static_cast<std::ptrdiff_t>(kSectorSize);
            const auto end =
                std::min(static_cast<std::ptrdiff_t>(expected.size()), offset + static_cast<std::ptrdiff_t>(kSectorSize));
            std::copy(found->bytes.begin() + offset, found->bytes.begin() + end, expected.begin() + offset);
        }
        Check(found->bytes == expected, [&] { return was.path + " reads back other bytes"; });
    }
}

// The report of a diskette without faults.
std::vector<std::string> CleanReport(const Diskette& diskette)
{
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    setup.drive->Insert(EmulatedMedium::FromImage(diskette.type, diskette.bytes));
    ScriptedHost host;
    return GetInfo('A', setup.table, host).lines;
}

// Whether a report tells only what `clean` tells, or says in its own words what it could not
// find out: the label, the boot sector (and so all below it), the free space left out.
bool TellsOnlyTheTruth(const std::vector<std::string>& lines, const std::vector<std::string>& clean)
{
    if (lines.empty() || clean.empty())
        return false;
    if (lines[0] != clean[0] && lines[0] != LoadString(Str::CannotGetLabel))
        return false;
    if (lines.size() == 2 && lines[1] == LoadString(Str::CannotReadBootSector))
        return true;
    size_t j = 1;
    for (size_t i = 1; i < lines.size(); ++i, ++j) {
        if (j < clean.size() && lines[i] != clean[j] && clean[j].starts_with(LoadString(Str::InfoFreeSpace)))
            ++j;
        if (j >= clean.size() || lines[i] != clean[j])
            return false;
    }
    return j == clean.size() || (j + 1 == clean.size() && clean[j].starts_with(LoadString(Str::InfoFreeSpace)));
}

// The information report on the file tree: every figure it gives is the diskette's, or the
// line says that it could not be had.
void Bench::Info()
{
    const Diskette& source = diskettes_.tree;
    drive_->Insert(EmulatedMedium::FromImage(source.type, source.bytes));
    if (run_.fault == Fault::PersistentCrc)
        drive_->medium()->defects.insert(PhysicalOf(run_.sector, geometry_.sectorsPerTrack));
    const InfoResult got = GetInfo('A', table_, host_);
    CheckBounded();
    if (figures_.trace) {
        std::string line = Describe(run_) + " ->";
        for (const std::string& l : got.lines)
            line += " | " + l;
        figures_.trace(line);
    }
    switch (got.outcome) {
    case InfoOutcome::Done:
        Check(TellsOnlyTheTruth(got.lines, CleanReport(source)) ||
                  (run_.fault == Fault::Swapped && TellsOnlyTheTruth(got.lines, CleanReport(diskettes_.empty))),
              [&] {
                  std::string all;
                  for (const std::string& l : got.lines)
                      all += " | " + l;
                  return "the report tells what is not so:" + all;
              });
        break;
    case InfoOutcome::MediaUnknown:
        Check(got.lines == std::vector{LoadString(Str::CannotEstablishMedia)}, "an unknown media told otherwise");
        break;
    case InfoOutcome::Cancelled:
    case InfoOutcome::NoDrive: Check(got.lines.empty(), "a report without a diskette"); break;
    }
}

void Bench::Go()
{
    switch (run_.operation) {
    case Operation::Read: ReadDisk(); break;
    case Operation::Write:
    case Operation::WriteWithoutVerify: WriteDisk(); break;
    case Operation::Info: Info(); break;
    case Operation::Compare: Compare(); break;
    case Operation::QuickFormat: Format(false); break;
    case Operation::FullFormat: Format(true); break;
    case Operation::RepairFormat: Repair(DataChoice::TryFormat); break;
    case Operation::RepairMarkTrack: Repair(DataChoice::MarkTrack); break;
    case Operation::RepairMarkCylinder: Repair(DataChoice::MarkCylinder); break;
    case Operation::RepairStop: Repair(DataChoice::Stop); break;
    }
    ++figures_.runs;
    figures_.faultsInjected += struck_;
}

const char* NameOf(Operation o)
{
    switch (o) {
    case Operation::Read: return "Read";
    case Operation::Write: return "Write";
    case Operation::Compare: return "Compare";
    case Operation::QuickFormat: return "Quick format";
    case Operation::FullFormat: return "Full format";
    case Operation::RepairFormat: return "Repair (reformat)";
    case Operation::RepairMarkTrack: return "Repair (mark track)";
    case Operation::RepairMarkCylinder: return "Repair (mark cylinder)";
    case Operation::RepairStop: return "Repair (stop)";
    case Operation::WriteWithoutVerify: return "Write without verify";
    case Operation::Info: return "Info";
    }
    return "?";
}

const char* NameOf(Fault f)
{
    switch (f) {
    case Fault::PersistentCrc: return "persistent CRC";
    case Fault::TransientCrc: return "transient CRC";
    case Fault::WriteError: return "write error";
    case Fault::StuckSector: return "stuck sector";
    case Fault::NotReady: return "taken out";
    case Fault::Swapped: return "swapped";
    case Fault::Differs: return "differs";
    }
    return "?";
}

const char* NameOf(Answers a)
{
    switch (a) {
    case Answers::Refuse: return "refuse";
    case Answers::Accept: return "accept";
    case Answers::RetryFirst: return "retry first";
    }
    return "?";
}

}  // namespace

Layout DefaultLayout(MediaType type)
{
    if (type == kMedia172M)
        return {type, true, "-t 82 -h 2 -s 21", "1.72M"};
    return {type, false, "", "1.44M"};
}

std::vector<Layout> OtherLayouts()
{
    return {{kMedia144M, false, "-R 4 -f 1", "-R4-f1"}, {kMedia144M, true, "-f 1440 -d 1", "-d1"}};
}

std::optional<Diskettes> MakeDiskettes(MediaType type, const std::string& folder, std::string& why)
{
    return MakeDiskettes(DefaultLayout(type), folder, why);
}

std::optional<Diskettes> MakeDiskettes(const Layout& layout, const std::string& folder, std::string& why)
{
    const MediaType type = layout.type;
    const std::optional<MediaGeometry> g = GeometryOf(type);
    if (!g || (type != kMedia144M && type != kMedia172M)) {
        why = "no maker for this media";
        return std::nullopt;
    }
    for (const char* tool : {"mkfs.fat", "mformat", "mcopy", "mmd"})
        if (Shell(std::string("command -v ") + tool + " >/dev/null 2>&1") != 0) {
            why = std::string(tool) + " is not installed";
            return std::nullopt;
        }
    // The tree carries a label, which the report must find or say it could not.
    auto make = [&](const std::string& file, const char* serial) {
        auto label = [&](const char* option) {
            return file.ends_with("tree.img") ? option + std::string("SWEEPTREE") : std::string();
        };
        if (layout.mformat)
            return "mformat -i " + ShellQuoted(file) + " -C " + layout.options + " -N " + serial + label(" -v ") + " ::";
        return "mkfs.fat -C " + layout.options + " -i " + std::string(serial) + label(" -n ") + " " + ShellQuoted(file) +
               " " + std::to_string(g->totalSectors / 2);
    };
    auto run = [&](const std::string& command) {
        std::string output;
        if (Shell("MTOOLS_SKIP_CHECK=1 " + command + " 2>&1", &output) == 0)
            return true;
        why = command + ": " + output;
        return false;
    };
    const std::string tree = folder + "/tree.img", empty = folder + "/empty.img";
    if (!run(make(tree, "1D0C7EEE")) || !run(make(empty, "0E0E0E0E")))
        return std::nullopt;
    // Directories two deep, and files from a few bytes to a third of the diskette, the
    // largest spread over many cylinders.
    if (!run("mmd -i " + ShellQuoted(tree) + " ::DOCS ::DOCS/OLD ::GAMES"))
        return std::nullopt;
    const std::pair<const char*, size_t> files[] = {
        {"README.TXT", 700},      {"DOCS/MANUAL.DOC", 70000}, {"DOCS/OLD/NOTES.TXT", 1},
        {"DOCS/OLD/A.BIN", 5121}, {"GAMES/BIG.DAT", 480000},  {"LAST.BIN", 30000},
    };
    unsigned seed = 1;
    for (const auto& [name, size] : files) {
        const std::string local = folder + "/file" + std::to_string(seed);
        WriteFile(local, RandomBytes(size, seed++));
        if (!run("mcopy -i " + ShellQuoted(tree) + " " + ShellQuoted(local) + " ::" + name))
            return std::nullopt;
    }
    Diskettes d;
    d.tree = {type, ReadFile(tree)};
    d.empty = {type, ReadFile(empty)};
    d.files = FilesOf(d.tree);
    const std::optional<FatLayout> own = FatLayout::FromBootSector(d.tree.bytes);
    if (!own) {
        why = "the tools made a diskette without a FAT layout";
        return std::nullopt;
    }
    d.layout = *own;
    const size_t bytes = size_t{g->totalSectors} * kSectorSize;
    if (d.tree.bytes.size() != bytes || d.empty.bytes.size() != bytes) {
        why = "the tools made a diskette of another size";
        return std::nullopt;
    }
    return d;
}

namespace {

uint16_t U16(std::span<const uint8_t> b, size_t at)
{
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

// The diskette's own parameter block, not the media table's: the tools choose some fields
// (root entries, FAT size) themselves.
struct Bpb {
    uint32_t spc = 0, reserved = 0, fats = 0, rootEntries = 0, total = 0, spf = 0;
    uint32_t rootSector() const { return reserved + fats * spf; }
    uint32_t firstData() const { return rootSector() + rootEntries * 32 / uint32_t{kSectorSize}; }
    uint32_t clusters() const { return spc ? (total - firstData()) / spc : 0; }
};

class TreeReader {
public:
    explicit TreeReader(const std::vector<uint8_t>& bytes) : bytes_(bytes)
    {
        if (bytes.size() < kSectorSize)
            return;
        bpb_ = {bytes[13], U16(bytes, 14), bytes[16], U16(bytes, 17), U16(bytes, 19), U16(bytes, 22)};
        if (bpb_.spc == 0 || size_t{bpb_.total} * kSectorSize > bytes.size() || bpb_.firstData() >= bpb_.total)
            bpb_ = {};
    }

    std::vector<TreeFile> Files()
    {
        if (bpb_.spc == 0)
            return {};
        std::vector<uint32_t> root;
        for (uint32_t s = bpb_.rootSector(); s < bpb_.firstData(); ++s)
            root.push_back(s);
        Directory(root, "", {}, 0);
        return std::move(files_);
    }

private:
    uint16_t Entry(uint32_t cluster) const
    {
        const size_t at = size_t{bpb_.reserved} * kSectorSize + cluster * 3 / 2;
        const uint16_t pair = U16(bytes_, at);
        return cluster % 2 ? pair >> 4 : pair & 0xFFF;
    }
    // The sectors of a chain, to where it ends or breaks.
    std::vector<uint32_t> Chain(uint32_t cluster) const
    {
        std::vector<uint32_t> sectors;
        std::set<uint32_t> seen;
        while (cluster >= 2 && cluster < bpb_.clusters() + 2 && seen.insert(cluster).second) {
            for (uint32_t i = 0; i < bpb_.spc; ++i)
                sectors.push_back(bpb_.firstData() + (cluster - 2) * bpb_.spc + i);
            cluster = Entry(cluster);
        }
        return sectors;
    }
    void Directory(const std::vector<uint32_t>& sectors, const std::string& path, std::vector<uint32_t> way, int depth)
    {
        way.insert(way.end(), sectors.begin(), sectors.end());
        for (uint32_t s : sectors)
            for (size_t at = size_t{s} * kSectorSize; at < (size_t{s} + 1) * kSectorSize; at += 32) {
                const auto e = std::span(bytes_).subspan(at, 32);
                if (e[0] == 0)
                    return;
                if (e[0] == 0xE5 || e[0] == '.' || (e[11] & 0x08))
                    continue;
                std::string name(e.begin(), e.begin() + 8), ext(e.begin() + 8, e.begin() + 11);
                name.erase(name.find_last_not_of(' ') + 1);
                ext.erase(ext.find_last_not_of(' ') + 1);
                const std::string full = path + name + (ext.empty() ? "" : "." + ext);
                const std::vector<uint32_t> chain = Chain(U16(e, 26));
                if (e[11] & 0x10) {
                    if (depth < 8)
                        Directory(chain, full + "/", way, depth + 1);
                    continue;
                }
                const uint32_t size = U16(e, 28) | uint32_t{U16(e, 30)} << 16;
                TreeFile file{full, {}, {}, way};
                for (uint32_t c : chain) {
                    if (file.bytes.size() >= size)
                        break;
                    const auto sector = std::span(bytes_).subspan(size_t{c} * kSectorSize, kSectorSize);
                    const size_t part = std::min<size_t>(kSectorSize, size - file.bytes.size());
                    file.bytes.insert(file.bytes.end(), sector.begin(), sector.begin() + static_cast<std::ptrdiff_t>(part));
                    file.sectors.push_back(c);
                }
                files_.push_back(std::move(file));
            }
    }

    const std::vector<uint8_t>& bytes_;
    Bpb bpb_;
    std::vector<TreeFile> files_;
};

}  // namespace

std::vector<TreeFile> FilesOf(const Diskette& diskette)
{
    return TreeReader(diskette.bytes).Files();
}

bool Applies(Operation operation, Fault fault)
{
    switch (fault) {
    // Without its verify, Write Disk reads nothing but a boot sector.
    case Fault::PersistentCrc:
    case Fault::TransientCrc: return operation != Operation::WriteWithoutVerify;
    case Fault::NotReady:
    case Fault::Swapped: return true;
    case Fault::WriteError:
        return operation != Operation::Read && operation != Operation::Compare && operation != Operation::Info;
    // A verify of the tracks reads no data back: only Write Disk compares what it wrote, and
    // without its verify a write that silently did not take goes unseen.
    case Fault::StuckSector: return operation == Operation::Write;
    case Fault::Differs: return operation == Operation::Compare;
    }
    return false;
}

bool IsRepair(Operation operation)
{
    return operation >= Operation::RepairFormat && operation <= Operation::RepairStop;
}

// A repair asks nothing of a sector that does not read: it repairs it as chosen, or stops.
// The report asks only for a diskette before it starts.
bool Asked(Operation operation, Fault fault)
{
    if (operation == Operation::Info)
        return false;
    return !IsRepair(operation) || (fault != Fault::PersistentCrc && fault != Fault::TransientCrc);
}

std::string Describe(const Run& run)
{
    return std::string(NameOf(run.operation)) + ", " + NameOf(run.fault) + " at sector " + std::to_string(run.sector) +
           ", " + NameOf(run.answers);
}

void RunOne(const Diskettes& diskettes, const Run& run, Figures& figures)
{
    Bench(diskettes, run, figures).Go();
}

namespace {

std::vector<uint32_t> Positions(const FatLayout& layout, uint32_t step)
{
    std::set<uint32_t> at = {0, layout.rootFirstSector, layout.firstDataSector};
    for (unsigned copy = 0; copy < layout.fatCount; ++copy)
        at.insert(layout.FatSector(copy));
    for (uint32_t s = 0; s < layout.totalSectors; s += std::max(step, 1u))
        at.insert(s);
    return {at.begin(), at.end()};
}

}  // namespace

std::vector<uint32_t> Positions(MediaType type, uint32_t step)
{
    return Positions(TableLayout(type), step);
}

std::vector<uint32_t> Positions(const Diskettes& diskettes, uint32_t step)
{
    return Positions(diskettes.layout, step);
}

void Sweep(const Diskettes& diskettes, Operation operation, uint32_t step, Figures& figures)
{
    std::vector<uint32_t> positions = Positions(diskettes, step);
    // The report reads the system area only: every sector of it, and none other.
    if (operation == Operation::Info) {
        positions.clear();
        for (uint32_t s = 0; s < diskettes.layout.firstDataSector; ++s)
            positions.push_back(s);
    }
    for (uint32_t sector : positions)
        SweepAt(diskettes, operation, sector, figures);
}

void SweepAt(const Diskettes& diskettes, Operation operation, uint32_t sector, Figures& figures)
{
    for (Fault fault : {Fault::PersistentCrc, Fault::TransientCrc, Fault::WriteError, Fault::StuckSector, Fault::NotReady,
                        Fault::Swapped, Fault::Differs})
        if (Applies(operation, fault))
            for (Answers answers : {Answers::Refuse, Answers::Accept, Answers::RetryFirst})
                if (Asked(operation, fault) || answers == Answers::Accept)
                    RunOne(diskettes, {operation, fault, answers, sector}, figures);
}

}  // namespace vokta::test::sweep
