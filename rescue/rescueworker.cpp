// SPDX-License-Identifier: GPL-3.0-or-later
// The rescue read: every sector that can be read, into an image file kept with its map.
#include <algorithm>
#include <vector>

#include "boot/bootsector.h"
#include "drive/bytes.h"
#include "drive/fatlayout.h"
#include "fat/volumemap.h"
#include "image/duplicate_common.h"
#include "rescue/rescue.h"
#include "rescue/rescuetarget.h"

namespace vokta {

using namespace dup;

std::string DefaultMapPath(const std::string& imagePath)
{
    return imagePath + ".map";
}

std::string RescueSummary(const OperationFigures& figures)
{
    std::string text = FormatString(Str::RescueSummary, static_cast<long>(figures.sectorsRead),
                                    static_cast<long>(figures.sectorsRecovered), static_cast<long>(figures.sectorsIgnored));
    if (figures.sectorsHeldBefore > 0)
        text += "\n" + FormatString(Str::RescueEarlier, static_cast<long>(figures.sectorsHeldBefore));
    return text;
}

namespace {

struct TrackSpan {
    uint16_t cylinder;
    uint8_t head;
    uint32_t first;  // its first logical sector
    uint16_t count;
};

enum class Step { Go, Aborted, Failed };

// One rescue run over an opened drive and target.
class Rescue {
public:
    Rescue(const RescueJob& job, OperationSession& session, DiskDrive& drive, RescueTarget& target)
        : job_(job), session_(session), host_(session.host()), drive_(drive), target_(target),
          spt_(drive.params.sectorsPerTrack()), heads_(static_cast<uint8_t>(drive.params.heads())),
          cylinders_(drive.params.cylinders()), recovered_(target.map().sectors.size(), false), skipped_(target.map().sectors.size(), false)
    {
    }

    Step Run()
    {
        session_.BeginTrackMap(drive_.params);
        for (uint16_t c = 0; c < cylinders_; ++c)
            for (uint8_t h = 0; h < heads_; ++h)
                if (Pending(Track(c, h)) != Track(c, h).count)
                    ShowFinal(Track(c, h));
        if (const Step step = WholeTracks(); step != Step::Go)
            return step;
        for (unsigned pass = 2; pass <= job_.passes; ++pass)
            if (const Step step = SectorBySector(pass); step != Step::Go)
                return step;
        if (target_.map().Done())
            target_.SetPhase(SectorRescue::Finished, target_.map().currentPass);
        return Checkpoint() ? Step::Go : Step::Failed;
    }

    // The sectors still missing: not read, and not passed over as BAD.
    uint32_t Lost() const
    {
        uint32_t lost = 0;
        for (size_t s = 0; s < skipped_.size(); ++s)
            lost += target_.map().sectors[s] != SectorRescue::Finished && !skipped_[s];
        return lost;
    }
    bool Skipped(uint32_t sector) const { return skipped_[sector]; }

private:
    TrackSpan Track(uint16_t c, uint8_t h) const
    {
        return {c, h, (uint32_t{c} * heads_ + h) * spt_, spt_};
    }

    SectorRescue StatusOf(uint32_t sector) const { return target_.map().sectors[sector]; }

    uint16_t Pending(const TrackSpan& track) const
    {
        uint16_t pending = 0;
        for (uint32_t s = track.first; s < track.first + track.count; ++s)
            pending += StatusOf(s) != SectorRescue::Finished && !skipped_[s];
        return pending;
    }

    // The first pass: each track, or what an earlier run left of it, in one request; a
    // track that fails is left for the later passes at once.
    Step WholeTracks()
    {
        host_.SetLowerLine(FormatString(Str::RescuePassWhole, static_cast<long>(job_.passes)));
        host_.SetRange(cylinders_);
        target_.SetPhase(SectorRescue::NonTried, 1);
        for (uint16_t c = 0; c < cylinders_; ++c) {
            for (uint8_t h = 0; h < heads_; ++h) {
                if (host_.AbortRequested())
                    return Step::Aborted;
                const TrackSpan track = Track(c, h);
                if (Pending(track) == 0)
                    continue;
                session_.ShowTrack(c, h, TrackState::InProgress);
                for (uint32_t s = track.first; s < track.first + track.count;) {
                    if (StatusOf(s) != SectorRescue::NonTried) {
                        ++s;
                        continue;
                    }
                    uint32_t end = s;
                    while (end < track.first + track.count && StatusOf(end) == SectorRescue::NonTried)
                        ++end;
                    if (const Step step = ReadRun(s, end - s); step != Step::Go)
                        return step;
                    s = end;
                }
                target_.map().currentPosition = uint64_t{track.first + track.count} * kSectorSize;
                ShowFinal(track);
                if (!Checkpoint())
                    return Step::Failed;
            }
            host_.SetProgressPos(c + 1);
        }
        return Step::Go;
    }

    // Sectors [first, first + count) of one track in one request.
    Step ReadRun(uint32_t first, uint32_t count)
    {
        std::vector<uint8_t> buffer(size_t{count} * kSectorSize);
        while (true) {
            if (drive_.ReadSectors(first, static_cast<uint16_t>(count), buffer)) {
                Keep(first, buffer, false);
                return Step::Go;
            }
            const DiskError error = drive_.TakeError();
            if (!DisketteGone(error)) {
                target_.Mark(first, count, SectorRescue::NonScraped);
                return Step::Go;
            }
            if (!WaitForDiskette(drive_, host_))
                return Step::Aborted;
        }
    }

    // A later pass: what is still missing, sector by sector, each with its retries; the
    // passes go forwards and backwards in turn, so the head comes to a track from both sides.
    Step SectorBySector(unsigned pass)
    {
        host_.SetLowerLine(FormatString(Str::RescuePassSectors, static_cast<long>(pass), static_cast<long>(job_.passes)));
        host_.SetProgressPos(0);
        target_.SetPhase(SectorRescue::NonScraped, pass);
        if (DiskService* service = drive_.Service())
            service->SetRetryRevolutions(job_.revolutions);
        PassOverBadClusters();
        const bool backwards = pass % 2 == 1;
        for (uint16_t i = 0; i < cylinders_; ++i) {
            const uint16_t c = backwards ? static_cast<uint16_t>(cylinders_ - 1 - i) : i;
            for (uint8_t j = 0; j < heads_; ++j) {
                const TrackSpan track = Track(c, backwards ? static_cast<uint8_t>(heads_ - 1 - j) : j);
                if (Pending(track) == 0)
                    continue;
                session_.ShowTrack(track.cylinder, track.head, TrackState::InProgress);
                for (uint32_t s = track.first; s < track.first + track.count; ++s) {
                    if (host_.AbortRequested())
                        return Step::Aborted;
                    if (StatusOf(s) == SectorRescue::Finished || skipped_[s])
                        continue;
                    target_.map().currentPosition = uint64_t{s} * kSectorSize;
                    if (const Step step = ReadSectorWithRetries(track, s, pass); step != Step::Go)
                        return step;
                }
                ShowFinal(track, true);
                if (!Checkpoint())
                    return Step::Failed;
            }
            host_.SetProgressPos(i + 1);
        }
        if (DiskService* service = drive_.Service())
            service->SetRetryRevolutions(0);
        return Step::Go;
    }

    // A sector that reads at its first read alone in the second pass failed only with its
    // track; one read on a retry, or in a later pass, was recovered.
    Step ReadSectorWithRetries(const TrackSpan& track, uint32_t sector, unsigned pass)
    {
        std::vector<uint8_t> buffer(kSectorSize);
        for (unsigned attempt = 0; attempt <= job_.retries;) {
            if (attempt > 0)
                MoveHeadAround(track.cylinder, attempt);
            if (drive_.ReadSectors(sector, 1, buffer)) {
                Keep(sector, buffer, attempt > 0 || pass > 2);
                return Step::Go;
            }
            const DiskError error = drive_.TakeError();
            if (DisketteGone(error)) {
                if (!WaitForDiskette(drive_, host_))
                    return Step::Aborted;
                continue;
            }
            ++attempt;
        }
        target_.Mark(sector, 1, SectorRescue::BadSector);
        return Step::Go;
    }

    // Before a retry the head leaves the track: back to track 0 and out again, or to the
    // next cylinder, so the read comes to the track from below and from above in turn.
    void MoveHeadAround(uint16_t cylinder, unsigned attempt)
    {
        DiskService* service = drive_.Service();
        if (!service)
            return;
        if (attempt % 2 == 1) {
            service->Recalibrate();
            return;
        }
        service->SeekHead(cylinder + 1 < cylinders_ ? static_cast<uint16_t>(cylinder + 1)
                                                    : static_cast<uint16_t>(cylinder > 0 ? cylinder - 1 : 0));
    }

    // Sectors of clusters the diskette's own FAT marks BAD hold nothing: they are not read
    // sector by sector, once the FAT was read.
    void PassOverBadClusters()
    {
        std::set<uint32_t> unread;
        for (uint32_t s = 0; s < target_.map().sectors.size(); ++s)
            if (StatusOf(s) != SectorRescue::Finished)
                unread.insert(s);
        const VolumeMap volume =
            VolumeMap::OfImage(FatLayout::FromParams(drive_.params), target_.image().data, unread);
        for (uint32_t s : unread)
            if (volume.OwnerOf(s).use == SectorUse::Bad && !skipped_[s]) {
                skipped_[s] = true;
                target_.Mark(s, 1, SectorRescue::BadSector);
            }
    }

    void Keep(uint32_t first, std::span<const uint8_t> bytes, bool retried)
    {
        target_.Keep(first, bytes);
        const uint32_t count = static_cast<uint32_t>(bytes.size() / kSectorSize);
        for (uint32_t s = first; s < first + count; ++s) {
            recovered_[s] = retried;
        }
        OperationFigures& figures = session_.figures();
        figures.sectorsRead += count;
        if (retried)
            figures.sectorsRecovered += count;
    }

    TrackState SectorState(uint32_t sector) const
    {
        if (StatusOf(sector) == SectorRescue::Finished)
            return recovered_[sector] ? TrackState::Recovered : TrackState::Good;
        return skipped_[sector] ? TrackState::SkippedBad : TrackState::Lost;
    }

    // A track read sector by sector is good only after retries, even where each of its
    // sectors read at once.
    void ShowFinal(const TrackSpan& track, bool readBySector = false)
    {
        TrackReport report{track.cylinder, track.head, TrackState::Good, {}};
        for (uint32_t s = track.first; s < track.first + track.count; ++s)
            report.sectors.push_back(SectorState(s));
        report.state = TrackStateOfSectors(report.sectors);
        if (readBySector && report.state == TrackState::Good)
            report.state = TrackState::Recovered;
        session_.ShowTrack(report);
    }

    bool Checkpoint()
    {
        std::string reason;
        if (target_.Checkpoint(reason))
            return true;
        host_.MessageBox(reason, session_.errorCaption(), Buttons::Ok, Icon::Error);
        return false;
    }

    const RescueJob& job_;
    OperationSession& session_;
    OperationHost& host_;
    DiskDrive& drive_;
    RescueTarget& target_;
    const uint16_t spt_;
    const uint8_t heads_;
    const uint16_t cylinders_;
    std::vector<bool> recovered_;
    std::vector<bool> skipped_;
};

// The serial number a boot sector's extended fields hold, if it has them.
std::optional<uint32_t> BootSerial(std::span<const uint8_t> boot)
{
    if (boot.size() < 43 || boot[38] != 0x29)
        return std::nullopt;
    return GetU32(boot, 39);
}

// An earlier run's image whose boot sector was read names its diskette: another diskette
// must not be merged into it.
bool SameDiskette(const RescueTarget& target, const std::string& driveSerial, MessageBoxHost& boxes,
                  const std::string& caption)
{
    if (!target.resumed() || driveSerial.empty() || target.map().sectors.empty() ||
        target.map().sectors[0] != SectorRescue::Finished)
        return true;
    const std::optional<uint32_t> imageSerial = BootSerial(std::span(target.image().data).first(kSectorSize));
    if (!imageSerial || SerialText(*imageSerial) == driveSerial)
        return true;
    boxes.MessageBox(FormatString(Str::RescueOtherDiskette, target.imagePath(), driveSerial, SerialText(*imageSerial)),
                     caption, Buttons::Ok, Icon::Error);
    return false;
}

std::string CommandLineOf(const RescueJob& job, char letter, const std::string& mapPath)
{
    return "rescue " + std::string(1, letter) + ": " + job.imagePath + " --map " + mapPath + " --passes " +
           std::to_string(job.passes) + " --retries " + std::to_string(job.retries) + " --revolutions " +
           std::to_string(job.revolutions);
}

}  // namespace

OperationOutcome RescueWorker(RescueJob job, OperationHost& host)
{
    OperationSession session(host, LoadString(Str::RescueError));
    const char letter = DriveLetterOf(job.driveText);
    DiskImage& image = *job.image;
    image.mediaType = kMediaUnknown;
    job.passes = std::max(job.passes, 1u);

    DiskDrive drive(letter, job.drives);
    if (const std::optional<int> ended = StartReading(session, drive))
        return session.End(*ended);
    const int32_t detected = drive.mediaType;

    std::string label;
    std::string serial;
    ReadMediaId(drive, label, serial);
    host.SetTitle(OperationTitle(LoadString(Str::Rescuing), letter, label));
    host.SetBarColours(BarColour::Cyan, BarColour::Black);

    const std::string mapPath = job.mapPath.empty() ? DefaultMapPath(job.imagePath) : job.mapPath;
    std::string refusal;
    const std::unique_ptr<RescueTarget> target = RescueTarget::Open(job.imagePath, mapPath, detected, refusal);
    if (!target) {
        host.MessageBox(refusal, session.errorCaption(), Buttons::Ok, Icon::Error);
        return session.End(kResultFailed);
    }
    if (!SameDiskette(*target, serial, host, session.errorCaption()))
        return session.End(kResultFailed);
    target->SetCommandLine(CommandLineOf(job, letter, mapPath));
    // No test of the write protection: it writes a sector back, and a failing diskette is
    // never written.

    session.figures().sectorsHeldBefore = target->map().Count(SectorRescue::Finished);
    drive.TakeError();
    Rescue rescue(job, session, drive, *target);
    const Step step = rescue.Run();
    std::string reason;
    if (step == Step::Aborted && !target->Checkpoint(reason))
        host.MessageBox(reason, session.errorCaption(), Buttons::Ok, Icon::Error);
    if (step != Step::Go)
        return session.End(step == Step::Aborted ? kResultAborted : kResultFailed);

    OperationFigures& figures = session.figures();
    figures.sectorsIgnored = rescue.Lost();
    LostSectors lost;
    std::set<uint32_t> unread;
    for (uint32_t s = 0; s < target->map().sectors.size(); ++s)
        if (target->map().sectors[s] != SectorRescue::Finished)
            unread.insert(s);
    const VolumeMap volume = VolumeMap::OfImage(FatLayout::FromParams(drive.params), target->image().data, unread);
    for (uint32_t s : unread)
        if (!rescue.Skipped(s))
            lost.Add(s, volume.OwnerOf(s));
    lost.Tell(host, letter);

    image = target->image();
    image.unreadable = unread;
    image.mediaType = detected;
    image.label = label;
    image.serialText = serial;
    image.fileName = job.imagePath;
    host.PlaySound(job.sounds.jobCompleted);
    OperationOutcome outcome = session.End(kResultDone, FollowUp::ImageRead);
    outcome.dataLost = !lost.Empty();
    outcome.lost = lost.Entries(LostSectors::DriveName(letter));
    return outcome;
}

}  // namespace vokta
