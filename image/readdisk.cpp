// SPDX-License-Identifier: GPL-3.0-or-later
// Read Disk: the whole diskette into the memory image, cylinder by cylinder.
#include <algorithm>
#include <iterator>
#include <set>

#include "boot/bootsector.h"
#include "fat/fatvolume.h"
#include "fat/volumemap.h"
#include "image/duplicate_common.h"

namespace vokta {

using namespace dup;

namespace {

// A track that cannot be read is passed over without a question when the FAT already
// marks the cluster of its first sector BAD. Nullopt when the FAT cannot be read.
std::optional<bool> MarkedBad(FatVolume& volume, uint32_t firstSectorOfTrack)
{
    DiskDrive& drive = volume.drive();
    const std::optional<FatLayout> layout = FatLayout::FromParams(drive.params);
    if (layout && layout->firstDataSector >= firstSectorOfTrack)
        return false;
    if (const DiskStatus loaded = volume.HasFat() ? DiskStatus() : volume.Load(); !loaded) {
        // A FAT that cannot be read is the end; one that reads but is not sound marks nothing
        // BAD, and the user decides.
        if (volume.trust() == FatVolume::Trust::Trusted || loaded.error() != Err::UnrecognizedMedia)
            return std::nullopt;
        drive.TakeError();
        return false;
    }
    return volume.IsClusterBad(volume.ClusterOfSector(firstSectorOfTrack));
}

enum class CylinderRead { Read, Aborted, FatUnreadable };

// The sectors a read left as zeros: those the user chose to ignore, and the tracks passed
// over for a BAD cluster, which may hold data of other clusters too.
struct SectorsNotRead {
    std::set<uint32_t> ignored;
    std::set<uint32_t> passedOver;
};

// Reads cylinder c head by head. A track that fails is passed over when the FAT marks it
// BAD; otherwise the user chooses: Retry reads the cylinder again from head 0, Ignore
// keeps what can be read of the track, sector by sector, and goes on with the next head.
CylinderRead ReadWholeCylinder(FatVolume& volume, OperationSession& session, uint16_t c, std::span<uint8_t> target,
                               SectorsNotRead& notRead)
{
    DiskDrive& drive = volume.drive();
    OperationHost& host = session.host();
    CylinderRead outcome = CylinderRead::Read;
    const uint32_t spt = drive.params.sectorsPerTrack();
    const uint32_t cylinderStart = uint32_t{c} * spt * drive.params.heads();
    std::vector<uint32_t> passed;
    auto decide = [&] {
        const DiskError error = drive.TakeError();
        const uint32_t failedTrack = drive.lastSector;
        // Without its diskette the drive says nothing about the track, and the FAT cannot be
        // read either: the user, who can put the diskette back, is asked instead of the FAT.
        const std::optional<bool> bad = DisketteGone(error) ? std::optional<bool>(false) : MarkedBad(volume, failedTrack);
        if (!bad) {
            drive.TakeError();
            outcome = CylinderRead::FatUnreadable;
            return TrackFailure::Stop;
        }
        if (*bad) {
            for (uint32_t s = failedTrack; s < failedTrack + spt; ++s)
                passed.push_back(s);
            return TrackFailure::PassOver;
        }
        const std::string text = drive.ErrorText(error);
        if (text.empty()) {
            passed.clear();
            return TrackFailure::Retry;
        }
        switch (host.MessageBox(text, LoadString(Str::DuplicateError), Buttons::AbortRetryIgnore, Icon::Error)) {
        case Answer::Ignore: return TrackFailure::Salvage;
        case Answer::Abort: outcome = CylinderRead::Aborted; return TrackFailure::Stop;
        default: passed.clear(); return TrackFailure::Retry;
        }
    };
    std::vector<size_t> unread;
    std::vector<TrackReport> found;
    ReadCylinderTracks(drive, session, c, target, decide, unread, found);
    ShowTracks(session, found);
    for (const TrackReport& track : found)
        session.figures().sectorsRecovered +=
            static_cast<uint32_t>(std::ranges::count(track.sectors, TrackState::Recovered));
    for (size_t offset : unread)
        notRead.ignored.insert(cylinderStart + static_cast<uint32_t>(offset / kSectorSize));
    notRead.passedOver.insert(passed.begin(), passed.end());
    return outcome;
}

// The sectors the image holds as zeros for want of a read.
uint32_t ZeroedCount(const SectorsNotRead& notRead)
{
    return static_cast<uint32_t>(notRead.ignored.size() + notRead.passedOver.size());
}

// A FAT sector that did not read is the same sector of another copy that did: left as
// zeros it would free every cluster it describes once the image is written.
void TakeFatSectorsFromTwins(const DeviceParams& params, std::span<uint8_t> image, std::set<uint32_t>& ignored)
{
    const std::optional<FatLayout> layout = FatLayout::FromParams(params);
    if (!layout)
        return;
    const auto sectorAt = [&](uint32_t s) { return image.subspan(size_t{s} * kSectorSize, kSectorSize); };
    for (auto it = ignored.begin(); it != ignored.end();) {
        const uint32_t s = *it;
        bool restored = false;
        if (s >= layout->FatSector(0) && s < layout->FatSector(layout->fatCount)) {
            const uint32_t within = (s - layout->FatSector(0)) % layout->sectorsPerFat;
            for (unsigned copy = 0; copy < layout->fatCount && !restored; ++copy) {
                const uint32_t twin = layout->FatSector(copy) + within;
                if (twin == s || ignored.contains(twin) || size_t{twin + 1} * kSectorSize > image.size())
                    continue;
                std::ranges::copy(sectorAt(twin), sectorAt(s).begin());
                restored = true;
            }
        }
        it = restored ? ignored.erase(it) : std::next(it);
    }
}

// FAT sectors taken from a twin copy hold their data after all: recovered on the map.
void ShowTakenFromTwins(OperationSession& session, const DeviceParams& params, const std::set<uint32_t>& before,
                        const std::set<uint32_t>& after)
{
    const uint32_t spt = params.sectorsPerTrack();
    const uint32_t heads = params.heads();
    for (uint32_t s : before) {
        if (after.contains(s) || spt == 0 || heads == 0)
            continue;
        const uint32_t track = s / spt;
        TrackReport report =
            session.trackMap().Report(static_cast<uint16_t>(track / heads), static_cast<uint8_t>(track % heads));
        if (s % spt >= report.sectors.size())
            continue;
        report.sectors[s % spt] = TrackState::Recovered;
        report.state = TrackStateOfSectors(report.sectors);
        session.ShowTrack(report);
        ++session.figures().sectorsRecovered;
    }
}

// What the sectors left as zeros held, told by the image's own FAT and directories. A
// track passed over counts only where it held data.
LostSectors LostInImage(const DeviceParams& params, std::span<const uint8_t> image, const SectorsNotRead& notRead)
{
    std::set<uint32_t> unread = notRead.ignored;
    unread.insert(notRead.passedOver.begin(), notRead.passedOver.end());
    const VolumeMap map = VolumeMap::OfImage(FatLayout::FromParams(params), image, unread);
    LostSectors lost;
    for (uint32_t s : notRead.ignored)
        lost.Add(s, map.OwnerOf(s));
    for (uint32_t s : notRead.passedOver) {
        const SectorOwner owner = map.OwnerOf(s);
        if (owner.use != SectorUse::Free && owner.use != SectorUse::Bad)
            lost.Add(s, owner);
    }
    return lost;
}

}  // namespace

OperationOutcome ReadDiskWorker(DuplicateJob job, OperationHost& host)
{
    OperationSession session(host, LoadString(Str::DuplicateError));
    const char letter = DriveLetter(job);
    DiskImage& image = *job.image;
    image.mediaType = kMediaUnknown;

    DiskDrive drive(letter, job.drives);
    FatVolume volume(drive);
    if (const std::optional<int> ended = StartReading(session, drive))
        return session.End(*ended);
    const int32_t detected = drive.mediaType;
    const uint16_t cylinders = drive.params.cylinders();
    host.SetRange(cylinders);
    host.SetProgressPos(0);

    image.label.clear();
    std::string serial;
    ReadMediaId(drive, image.label, serial);
    if (host.AbortRequested())
        return session.End(kResultAborted);
    host.SetTitle(OperationTitle(LoadString(Str::Reading), letter, image.label));
    host.SetBarColours(BarColour::Cyan, BarColour::Black);

    if (!drive.IsWriteProtected())
        Box(host, Str::SourceNotProtected, Str::Warning, Buttons::Ok, Icon::Information);
    if (CheckBootSector(drive) != 0 &&
        Box(host, Str::BootNotCompliant, Str::Warning, Buttons::YesNo, Icon::Information) != Answer::Yes)
        return session.End(kResultAborted);
    if (host.AbortRequested())
        return session.End(kResultAborted);

    // A fresh zeroed block: sectors passed over hold zeros, never bytes of an earlier image.
    image.data.clear();
    if (!image.TakeBlock(drive.params.totalSectors() * static_cast<uint32_t>(kSectorSize))) {
        Box(host, Str::InsufficientMemory, Str::FatalError, Buttons::Ok, Icon::Error);
        return session.End(kResultFailed);
    }

    host.SetLowerLine(LoadString(Str::Reading));
    drive.TakeError();
    session.BeginTrackMap(drive.params);
    const size_t cylinderBytes = CylinderBytes(drive.params);
    SectorsNotRead notRead;
    OperationFigures& figures = session.figures();
    uint32_t covered = 0;  // the sectors of the cylinders done
    for (uint16_t c = 0; c < cylinders; ++c) {
        if (host.AbortRequested())
            return session.End(kResultAborted);
        const std::span<uint8_t> cylinder = CylinderOf(std::span<uint8_t>(image.data), c, cylinderBytes);
        switch (ReadWholeCylinder(volume, session, c, cylinder, notRead)) {
        case CylinderRead::Read:
            covered += static_cast<uint32_t>(cylinder.size() / kSectorSize);
            figures.sectorsIgnored = ZeroedCount(notRead);
            figures.sectorsRead = covered - figures.sectorsIgnored;
            break;
        case CylinderRead::Aborted: return session.End(kResultAborted);
        case CylinderRead::FatUnreadable:
            Box(host, Str::CannotAccessFat, Str::FatalError, Buttons::Ok, Icon::Error);
            return session.End(kResultFailed);
        }
        host.SetProgressPos(c + 1);
    }

    const std::set<uint32_t> ignoredBefore = notRead.ignored;
    TakeFatSectorsFromTwins(drive.params, image.data, notRead.ignored);
    ShowTakenFromTwins(session, drive.params, ignoredBefore, notRead.ignored);
    figures.sectorsIgnored = ZeroedCount(notRead);
    image.mediaType = detected;
    image.serialText = serial;
    // Kept with the image: an ImageDisk file records them, a write asks about them.
    image.unreadable.insert(notRead.ignored.begin(), notRead.ignored.end());
    image.unreadable.insert(notRead.passedOver.begin(), notRead.passedOver.end());
    const LostSectors lost = LostInImage(drive.params, image.data, notRead);
    const bool dataLost = lost.Tell(host, letter);
    host.PlaySound(job.sounds.jobCompleted);
    OperationOutcome outcome = session.End(kResultDone, FollowUp::ImageRead);
    outcome.dataLost = dataLost;
    outcome.lost = lost.Entries(LostSectors::DriveName(letter));
    return outcome;
}

}  // namespace vokta
