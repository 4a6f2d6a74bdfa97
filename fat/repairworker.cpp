// SPDX-License-Identifier: GPL-3.0-or-later
// Repair: the diskette walked from its boot sector to its last sector, each damaged spot
// repaired as the user chose.
#include <algorithm>
#include <iterator>
#include <array>
#include <functional>
#include <optional>
#include <set>
#include <vector>

#include "boot/bootbuilder.h"
#include "boot/bootsector.h"
#include "drive/volume.h"
#include "fat/fatvolume.h"
#include "fat/repair.h"
#include "fat/volumemap.h"
#include "fat/soundfat.h"
#include "steps/session.h"
#include "res/strings.h"

namespace vokta {
namespace {

constexpr int kFormatTentatives = 6;

uint32_t FirstSectorOfTrackHolding(const DeviceParams& params, uint32_t sector)
{
    const uint32_t spt = params.sectorsPerTrack();
    return sector / spt * spt;
}

// The repair's part of the track map: a state per sector, each track shown as its sectors
// settle. A track stays in progress until the walk has settled every sector of it; a later
// state of a sector replaces an earlier one (read, then marked BAD or reformatted).
class RepairMap {
public:
    explicit RepairMap(OperationSession& session) : session_(session) {}

    void Begin(const DeviceParams& params)
    {
        session_.BeginTrackMap(params);
        spt_ = params.sectorsPerTrack();
        heads_ = params.heads();
        sectors_.assign(spt_ == 0 ? 0 : params.totalSectors(), TrackState::NotYet);
    }
    // The walk reaches these sectors: their tracks are in progress.
    void Start(uint32_t first, uint32_t count)
    {
        ForTracks(first, count, [&](uint32_t track) {
            const TrackPlace place = Place(track);
            session_.ShowTrack(place.cylinder, place.head, TrackState::InProgress);
        });
    }
    void Settle(uint32_t first, uint32_t count, TrackState state)
    {
        for (uint32_t s = first; s < first + count && s < sectors_.size(); ++s)
            sectors_[s] = state;
        ForTracks(first, count, [&](uint32_t track) { Show(track, false); });
    }
    // At the end of the walk, wherever it ended: a track the walk left half done takes the
    // state of the sectors it settled, and one it settled nothing of is not yet done.
    void Finish()
    {
        for (uint32_t track = 0; spt_ != 0 && track < sectors_.size() / spt_; ++track) {
            const TrackPlace place = Place(track);
            if (session_.trackMap().State(place.cylinder, place.head) == TrackState::InProgress)
                Show(track, true);
        }
    }

private:
    struct TrackPlace {
        uint16_t cylinder;
        uint8_t head;
    };
    TrackPlace Place(uint32_t track) const
    {
        return {static_cast<uint16_t>(track / heads_), static_cast<uint8_t>(track % heads_)};
    }
    void ForTracks(uint32_t first, uint32_t count, const std::function<void(uint32_t)>& each) const
    {
        if (spt_ == 0 || heads_ == 0 || count == 0)
            return;
        for (uint32_t track = first / spt_; track <= (first + count - 1) / spt_; ++track)
            each(track);
    }
    // Worst first: what a user must know of a track before what went well on it.
    static TrackState Worst(std::span<const TrackState> sectors)
    {
        for (TrackState state : {TrackState::Lost, TrackState::SkippedBad, TrackState::Formatted,
                                 TrackState::Written, TrackState::Recovered, TrackState::Good})
            if (std::ranges::find(sectors, state) != sectors.end())
                return state;
        return TrackState::NotYet;
    }
    void Show(uint32_t track, bool finishing)
    {
        if (size_t{track + 1} * spt_ > sectors_.size())
            return;
        const auto first = sectors_.begin() + static_cast<std::ptrdiff_t>(size_t{track} * spt_);
        TrackReport report{Place(track).cylinder, Place(track).head, TrackState::NotYet, {first, first + spt_}};
        const bool settled = std::ranges::find(report.sectors, TrackState::NotYet) == report.sectors.end();
        report.state = settled || finishing ? Worst(report.sectors) : TrackState::InProgress;
        if (report.state == TrackState::InProgress)
            report.sectors.clear();
        session_.ShowTrack(report);
    }

    OperationSession& session_;
    uint32_t spt_ = 0;
    uint32_t heads_ = 0;
    std::vector<TrackState> sectors_;
};

// How a stage ended: go on with the next one, or end the operation: the walk done, a
// failure, the user's abort (or Cancel, or the hand-over to the disk checker), or at
// damage the user chose to leave.
enum class Walk { Go, Done, Failed, Aborted, DefectsLeft };

class Repairer {
public:
    Repairer(RepairJob job, OperationSession& session, FatVolume& volume)
        : job_(std::move(job)), inputs_(*job_.inputs), session_(session), host_(session.host()),
          drive_(volume.drive()), volume_(volume), buffer_(*job_.trackBuffer), map_(session)
    {
    }

    // The walk, to the diskette's last sector.
    Walk Run();
    bool checkerWanted() const { return checkerWanted_; }
    // Settles the map wherever the walk ended.
    void FinishMap() { map_.Finish(); }
    const LostSectors& lost() const { return lost_; }

private:
    void ShowError() { ShowPendingError(drive_, host_, session_.errorCaption(), Buttons::Ok); }
    // Shows a failure known by its value; whatever the drive has pending goes with it.
    void ShowError(DiskError error)
    {
        (void)drive_.TakeError();
        host_.MessageBox(drive_.ErrorText(error), session_.errorCaption(), Buttons::Ok, Icon::Error);
    }
    Answer Box(Str text, Str caption, Buttons buttons, Icon icon)
    {
        return host_.MessageBox(LoadString(text), LoadString(caption), buttons, icon);
    }
    uint16_t Spt() const { return drive_.params.sectorsPerTrack(); }

    Walk CheckBoot();
    Walk CheckFat();
    Walk ConfirmFat();
    Walk WalkSystemArea(uint32_t firstDataSector);
    Walk RescanTrack(uint32_t start);
    Walk WalkDataArea(uint32_t firstDataSector);
    Walk RepairDataTrack(uint32_t& sector, uint16_t cylinder);
    Walk Reformat(uint32_t sector);
    // The track a reformat rewrote, or the sectors it could not save.
    void ShowReformat(uint32_t sector, DiskError e, const std::vector<uint32_t>& lost);
    DiskStatus MarkBad(const std::function<DiskStatus()>& mark);
    VolumeMap MapNow(const std::set<uint32_t>& lost = {});

    RepairJob job_;
    const RepairInputs& inputs_;
    OperationSession& session_;
    OperationHost& host_;
    DiskDrive& drive_;
    FatVolume& volume_;
    std::span<uint8_t> buffer_;
    bool checkerWanted_ = false;
    LostSectors lost_;
    RepairMap map_;
};

Walk Repairer::Run()
{
    host_.SetLowerLine(LoadString(Str::CheckingMedia));
    if (!drive_.SelectMedia(kMediaUnknown, false)) {
        ShowError();
        return Walk::Failed;
    }
    host_.SetUpperLine(MediaLine(drive_.mediaType));
    map_.Begin(drive_.params);
    MediaIdBlock id;
    std::string label;
    if (drive_.GenericIoctl(Minor::GetMediaId, id.bytes))
        label = id.label();
    (void)drive_.TakeError();
    host_.SetTitle(OperationTitle(LoadString(Str::Repairing), DriveLetterOf(inputs_.driveText), label));
    host_.SetBarColours(BarColour::Blue, BarColour::White);
    if (host_.AbortRequested())
        return Walk::Aborted;
    // Every track passes through the buffer, whole.
    if (buffer_.size() < size_t{Spt()} * kSectorSize) {
        Box(Str::InsufficientMemory, Str::FatalError, Buttons::Ok, Icon::Error);
        return Walk::Failed;
    }

    if (const Walk boot = CheckBoot(); boot != Walk::Go)
        return boot;
    // The system area as the selected media describes it, reserved sectors included.
    const std::optional<FatLayout> layout = FatLayout::FromParams(drive_.params);
    const uint32_t firstDataSector = layout ? layout->firstDataSector : 1;
    if (const Walk fat = CheckFat(); fat != Walk::Go)
        return fat;
    if (const Walk system = WalkSystemArea(firstDataSector); system != Walk::Go)
        return system;
    if (!volume_.Load() && volume_.trust() == FatVolume::Trust::Trusted) {
        Box(Str::CannotAccessFat, Str::FatalError, Buttons::Ok, Icon::Warning);
        (void)drive_.TakeError();
        return Walk::Failed;
    }
    if (const Walk confirmed = ConfirmFat(); confirmed != Walk::Go)
        return confirmed;
    // Copies that did not read, or were unsound, are written anew from the sound FAT, so
    // that all agree.
    volume_.MendCopies();
    return WalkDataArea(firstDataSector);
}

Walk Repairer::CheckBoot()
{
    host_.SetLowerLine(LoadString(Str::CheckingBootSector));
    map_.Start(0, 1);
    BootCheckResult checked = CheckBootSector(drive_);
    // A read that failed once says nothing yet of the sector, and one that failed because
    // the diskette is gone nothing at all: a boot sector written then would replace a sound
    // one, or land on another diskette.
    if (checked == BootCheck::ReadError) {
        const std::span<uint8_t> sector = buffer_.first(kSectorSize);
        const DiskStatus read = drive_.ReadSectors(0, 1, sector);
        if (read)
            checked = ValidateBootSector(sector);
        else if (DisketteGone(read.error())) {
            ShowError();
            return Walk::Failed;
        }
        (void)drive_.TakeError();
    }
    if (checked == 0) {
        map_.Settle(0, 1, TrackState::Good);
        return Walk::Go;
    }
    if (inputs_.boot == BootChoice::Stop) {
        Box(Str::InvalidBootSector, Str::Error, Buttons::Ok, Icon::Error);
        return Walk::DefectsLeft;
    }
    host_.SetLowerLine(LoadString(Str::FixingBootSector));
    // The new boot sector describes the volume as the diskette bears it out, or none is
    // written and the repair goes no further.
    const VolumeFinding found = EstablishVolume(drive_);
    if (!found.volume) {
        host_.MessageBox(VolumeDoubtText(found.doubt, drive_), LoadString(Str::Error), Buttons::Ok, Icon::Error);
        return Walk::Failed;
    }
    // Asked again while the write fails, with the error that refused it beneath.
    for (;;) {
        const DiskStatus written =
            WriteVolumeBootSector(drive_, *found.volume, RootDirectoryLabel(drive_, found.volume->layout));
        if (written)
            break;
        (void)drive_.TakeError();
        const std::string text = LoadString(Str::CannotWriteBootSector) + drive_.ErrorText(written.error());
        if (host_.MessageBox(text, LoadString(Str::Error), Buttons::RetryCancel, Icon::Error) != Answer::Retry)
            return Walk::Aborted;
    }
    map_.Settle(0, 1, TrackState::Written);
    host_.SetUpperLine(LoadString(Str::BootSectorFixed));
    return Walk::Go;
}

// Before anything of the system area is written: a FAT that no sound copy gives would be
// made up by any repair of it. The root directory is the walk's to repair, and is looked
// at after it.
Walk Repairer::CheckFat()
{
    const DiskStatus loaded = volume_.LoadFatOnly();
    volume_.ReleaseTables();
    if (DisketteGone(loaded.error())) {
        ShowError(loaded.error());
        return Walk::Failed;
    }
    (void)drive_.TakeError();
    if (loaded || volume_.trust() == FatVolume::Trust::Trusted)
        return Walk::Go;
    return ConfirmFat();
}

// A FAT that no sound copy gives would be made up by any repair of it, and one written
// back where the boot sector misplaces the volume would land on the files.
Walk Repairer::ConfirmFat()
{
    if (volume_.trust() != FatVolume::Trust::Trusted) {
        (void)drive_.TakeError();
        Box(Str::RepairNoSoundFat, Str::RepairError, Buttons::Ok, Icon::Error);
        return Walk::Failed;
    }
    if (!volume_.RootConfirmsLayout()) {
        volume_.ReleaseTables();
        Box(Str::LayoutNotConfirmed, Str::RepairError, Buttons::Ok, Icon::Error);
        return Walk::Failed;
    }
    return Walk::Go;
}

Walk Repairer::WalkSystemArea(uint32_t firstDataSector)
{
    uint32_t sector = 1;
    while (sector < firstDataSector) {
        host_.SetLowerLine(LoadString(Str::CheckingSystemArea));
        if (host_.AbortRequested())
            return Walk::Aborted;
        map_.Start(sector, Spt());
        const DiskStatus read = drive_.ReadSectors(sector, Spt(), buffer_);
        if (read) {
            map_.Settle(sector, Spt(), TrackState::Good);
            session_.figures().sectorsRead += Spt();
            sector += Spt();
            continue;
        }
        if (DisketteGone(read.error())) {
            ShowError();
            return Walk::Failed;
        }
        (void)drive_.TakeError();
        const uint32_t start = FirstSectorOfTrackHolding(drive_.params, sector);
        if (const Walk rescanned = RescanTrack(start); rescanned != Walk::Go)
            return rescanned;
        sector = start + Spt();
    }
    return Walk::Go;
}

// The track of a chunk that failed, sector by sector: each sector that fails is repaired as
// the system-area choice says.
Walk Repairer::RescanTrack(uint32_t start)
{
    for (uint32_t s = start; s < start + Spt(); ++s) {
        const DiskStatus read = drive_.ReadSectors(s, 1, buffer_);
        if (read) {
            map_.Settle(s, 1, TrackState::Good);
            ++session_.figures().sectorsRead;
            continue;
        }
        if (DisketteGone(read.error())) {
            ShowError();
            return Walk::Failed;
        }
        if (host_.AbortRequested())
            return Walk::Aborted;
        if (inputs_.system != SystemChoice::TryFormat)
            map_.Settle(s, 1, TrackState::Lost);
        switch (inputs_.system) {
        case SystemChoice::Stop:
            ShowError();
            return Walk::DefectsLeft;
        case SystemChoice::RunDiskChecker:
            checkerWanted_ = true;
            return Walk::Aborted;
        case SystemChoice::TryFormat:
            host_.SetLowerLine(LoadString(Str::FixingSystemArea));
            (void)drive_.TakeError();
            if (const Walk reformatted = Reformat(s); reformatted != Walk::Go)
                return reformatted;
            host_.SetUpperLine(LoadString(Str::SystemAreaFixed));
            break;
        }
    }
    return Walk::Go;
}

// Who owns what, as the diskette and the tables in memory say now; the `lost` sectors
// count as unreadable, as they were before a repair wrote them back as zeros. Sectors of
// the system area alone need no walk.
VolumeMap Repairer::MapNow(const std::set<uint32_t>& lost)
{
    const std::optional<FatLayout> layout = FatLayout::FromParams(drive_.params);
    if (!layout)
        return {};
    if (!lost.empty() && *lost.rbegin() < layout->firstDataSector)
        return VolumeMap(*layout);
    const SectorReader readDisk = [&](uint32_t first, std::span<uint8_t> buffer) {
        const auto count = static_cast<uint16_t>(buffer.size() / kSectorSize);
        const auto hole = lost.lower_bound(first);
        if (hole != lost.end() && *hole < first + count)
            return false;
        const DiskStatus read = drive_.ReadSectors(first, count, buffer);
        (void)drive_.TakeError();
        return static_cast<bool>(read);
    };
    if (!volume_.HasFat())
        return VolumeMap(*layout, readDisk);
    // The root directory as the repair changed it, not yet written.
    return VolumeMap(*layout, volume_.fat(), [&](uint32_t first, std::span<uint8_t> buffer) {
        const size_t offset = size_t{first - layout->rootFirstSector} * kSectorSize;
        const std::span<const uint8_t> root = volume_.rootDir();
        if (first < layout->rootFirstSector || first >= layout->firstDataSector ||
            offset + buffer.size() > root.size())
            return readDisk(first, buffer);
        std::copy_n(root.begin() + static_cast<ptrdiff_t>(offset), buffer.size(), buffer.begin());
        return true;
    });
}

Walk Repairer::Reformat(uint32_t sector)
{
    std::vector<uint32_t> lost;
    const DiskError e = ReformatTrack(host_, drive_, sector, buffer_, &lost);
    ShowReformat(sector, e, lost);
    // The track holds what it held, but for the sectors lost.
    if (!lost.empty()) {
        const VolumeMap map = MapNow({lost.begin(), lost.end()});
        for (uint32_t s : lost)
            lost_.Add(s, map.OwnerOf(s));
    }
    if (e == Err::None)
        return Walk::Go;
    if (DisketteGone(e)) {
        ShowError(e);
        return Walk::Failed;
    }
    if (e == kNoSoundFat) {
        Box(Str::RepairNoSoundFat, Str::RepairError, Buttons::Ok, Icon::Error);
        return Walk::Failed;
    }
    Box(Str::CannotFormatTrack, Str::FatalError, Buttons::Ok, Icon::Error);
    return e == kWriteBackCancelled ? Walk::Aborted : Walk::Failed;
}

void Repairer::ShowReformat(uint32_t sector, DiskError e, const std::vector<uint32_t>& lost)
{
    const uint32_t first = FirstSectorOfTrackHolding(drive_.params, sector);
    if (e == Err::None) {
        map_.Settle(first, Spt(), TrackState::Formatted);
        // Format mode on 21-sector media formats track 0 too, and writes it back.
        if (Spt() == 21 && first != 0)
            map_.Settle(0, Spt(), TrackState::Formatted);
    } else if (DisketteGone(e) || e == kNoSoundFat) {
        // Refused before the format: the track is as it was, but for the sector that failed.
        map_.Settle(sector, 1, TrackState::Lost);
    } else {
        map_.Settle(first, Spt(), TrackState::Lost);
    }
    for (uint32_t s : lost)
        map_.Settle(s, 1, TrackState::Lost);
}

Walk Repairer::WalkDataArea(uint32_t firstDataSector)
{
    const uint32_t perCylinder = uint32_t{Spt()} * drive_.params.heads();
    const uint16_t cylinders = drive_.params.cylinders();
    const uint32_t total = drive_.params.totalSectors();
    host_.SetRange(cylinders - 1);
    uint16_t shown = 0;
    for (uint32_t sector = firstDataSector; sector < total;) {
        const auto count = static_cast<uint16_t>(Spt() - sector % perCylinder % Spt());
        const auto c = static_cast<uint16_t>(sector / perCylinder);
        if (c != shown) {
            host_.SetProgressPos(c);
            host_.SetLowerLine(FormatString(Str::CheckingDataArea, long{c}, long{cylinders}));
            shown = c;
        }
        if (host_.AbortRequested())
            return Walk::Aborted;
        map_.Start(sector, count);
        const DiskStatus read = drive_.ReadSectors(sector, count, buffer_);
        if (read) {
            map_.Settle(sector, count, TrackState::Good);
            session_.figures().sectorsRead += count;
            sector += count;
            continue;
        }
        if (DisketteGone(read.error())) {
            ShowError();
            return Walk::Failed;
        }
        if (const Walk repaired = RepairDataTrack(sector, c); repaired != Walk::Go)
            return repaired;
        sector += count;
    }
    return Walk::Done;
}

// Marks as `mark` does; the sectors that could not be read when their clusters moved
// moved as zeros. Who owned them is known from before the moves.
DiskStatus Repairer::MarkBad(const std::function<DiskStatus()>& mark)
{
    const VolumeMap map = MapNow();
    volume_.TakeSectorsLostInMoves();
    const DiskStatus marked = mark();
    for (uint32_t s : volume_.TakeSectorsLostInMoves())
        lost_.Add(s, map.OwnerOf(s));
    return marked;
}

// A data track whose read failed, as the data-area choice says. Marking a whole cylinder
// moves `sector` to its last track, so that the walk goes on behind the cylinder.
Walk Repairer::RepairDataTrack(uint32_t& sector, uint16_t cylinder)
{
    if (host_.AbortRequested())
        return Walk::Aborted;
    DiskStatus repaired = Err::GeneralFailure;
    switch (inputs_.data) {
    case DataChoice::MarkCylinder:
        host_.SetUpperLine(FormatString(Str::MarkingCylinderBad, long{cylinder}));
        (void)drive_.TakeError();
        repaired = MarkBad([&] { return volume_.MarkCylinderBad(cylinder); });
        if (repaired) {
            const uint32_t heads = drive_.params.heads();
            map_.Settle(heads * cylinder * Spt(), heads * Spt(), TrackState::SkippedBad);
            sector = (heads * cylinder + heads - 1) * Spt();
        }
        break;
    case DataChoice::MarkTrack:
        host_.SetUpperLine(FormatString(Str::MarkingTrackBad, long{cylinder}));
        (void)drive_.TakeError();
        repaired = MarkBad([&] { return volume_.MarkTrackBadAtSector(sector); });
        if (repaired)
            map_.Settle(FirstSectorOfTrackHolding(drive_.params, sector), Spt(), TrackState::SkippedBad);
        break;
    case DataChoice::TryFormat:
        host_.SetUpperLine(FormatString(Str::ReformattingTrack, long{cylinder}));
        (void)drive_.TakeError();
        return Reformat(sector);
    case DataChoice::Stop:
        map_.Settle(sector, Spt() - sector % Spt(), TrackState::Lost);
        ShowError();
        return Walk::DefectsLeft;
    }
    if (repaired)
        return Walk::Go;
    map_.Settle(sector, Spt() - sector % Spt(), TrackState::Lost);
    // The damage a walk met is the mark's answer alone; a drive's failure is also pending.
    ShowError(repaired.error());
    return Walk::Failed;
}

}  // namespace

namespace {

bool FormatWithTentatives(OperationHost& host, DiskDrive& drive, uint16_t cylinder, uint16_t head)
{
    GoOnAfterFailure tentatives(drive);
    for (int t = 0; t < kFormatTentatives; ++t) {
        host.SetLowerLine(FormatString(Str::FormattingTentative, long{t}));
        if (tentatives(drive.FormatTrack(cylinder, head, true)))
            return true;
    }
    return false;
}

// A FAT sector that does not read is written back as the FAT's sound copies give it, not
// as zeros, which would free every cluster it describes. Without a sound copy of it the
// answer is kNoSoundFat, and the track must not be formatted. The positions of `unread`
// whose bytes stay lost go to `lost`.
DiskError FillFromSoundFat(DiskDrive& drive, uint32_t first, std::span<uint8_t> track,
                           const std::vector<uint32_t>& unread, std::vector<uint32_t>& lost)
{
    const std::optional<FatLayout> layout = FatLayout::FromParams(drive.params);
    if (!layout) {
        lost = unread;
        return Err::None;
    }
    auto inFat = [&](uint32_t i) {
        return first + i >= layout->FatSector(0) && first + i < layout->FatSector(layout->fatCount);
    };
    std::ranges::copy_if(unread, std::back_inserter(lost), [&](uint32_t i) { return !inFat(i); });
    if (std::ranges::none_of(unread, inFat))
        return Err::None;
    const SoundFat fat = ReadSoundFat(drive, *layout, drive.params.u8(DeviceParams::MediaDescriptor));
    if (fat.gone != Err::None)
        return fat.gone;
    if (!fat.sound)
        return kNoSoundFat;
    for (uint32_t i : unread) {
        if (!inFat(i))
            continue;
        const uint32_t within = (first + i - layout->FatSector(0)) % layout->sectorsPerFat;
        std::copy_n(fat.bytes.begin() + static_cast<std::ptrdiff_t>(size_t{within} * kSectorSize), kSectorSize,
                    track.begin() + static_cast<std::ptrdiff_t>(size_t{i} * kSectorSize));
    }
    return Err::None;
}

// Writes a track back, asking whether to try again while it fails: Err::None, or
// kWriteBackCancelled when the user said Cancel, or Err::WriteFault when nothing was asked.
// Given up, each sector that takes its bytes still gets them: the format emptied the
// track, and only the sectors that refuse may stay lost.
DiskError WriteTrackBack(OperationHost& host, DiskDrive& drive, uint32_t first, std::span<const uint8_t> track)
{
    const auto count = static_cast<uint16_t>(track.size() / kSectorSize);
    while (!drive.WriteSectors(first, count, track)) {
        const DiskError failed = drive.PendingError();
        const std::string text = drive.GetErrorText();
        const bool asked = !text.empty();
        if (asked &&
            host.MessageBox(text, LoadString(Str::RepairError), Buttons::RetryCancel, Icon::Error) == Answer::Retry)
            continue;
        GoOnAfterFailure each(drive);
        for (uint16_t i = 0; i < count && !DisketteGone(failed); ++i)
            each(drive.WriteSectors(first + i, 1, track.subspan(size_t{i} * kSectorSize, kSectorSize)));
        return asked ? kWriteBackCancelled : Err::WriteFault;
    }
    return Err::None;
}

}  // namespace

DiskError ReformatTrack(OperationHost& host, DiskDrive& drive, uint32_t sector, std::span<uint8_t> trackBuffer,
                        std::vector<uint32_t>* lostSectors)
{
    host.SetLowerLine(LoadString(Str::ReadingTrack));
    const uint16_t spt = drive.params.sectorsPerTrack();
    const uint32_t perCylinder = uint32_t{spt} * drive.params.heads();
    const size_t trackBytes = size_t{spt} * kSectorSize;
    if (spt == 0 || perCylinder == 0 || trackBuffer.size() < trackBytes)
        return Err::GeneralFailure;
    const uint32_t first = FirstSectorOfTrackHolding(drive.params, sector);
    const auto cylinder = static_cast<uint16_t>(first / perCylinder);
    const auto head = static_cast<uint16_t>(first % perCylinder / spt);
    const std::span<uint8_t> track = trackBuffer.first(trackBytes);
    // A sector that cannot be read comes back as zeros (a FAT sector as the sound FAT gives
    // it), never as what the buffer held of another track. A track read without its
    // diskette would be formatted and written back as zeros, or onto the diskette put in
    // instead: then nothing is done.
    DiskError gone = Err::None;
    const std::vector<uint32_t> unread = ReadSectorsOneByOne(drive, first, track, &gone);
    if (gone != Err::None)
        return gone;
    std::vector<uint32_t> lost;
    if (const DiskError e = FillFromSoundFat(drive, first, track, unread, lost); e != Err::None)
        return e;

    // Format mode on 21-sector media begins with track 0 formatted as a 1.44M track, and
    // its end writes a new boot sector: the diskette keeps its own track 0 and boot sector.
    const bool trackZeroFormattedToo = spt == 21 && first != 0;
    std::vector<uint8_t> ownTrackZero;
    std::span<uint8_t> zero = track;  // what is kept of track 0, from sector 0 on
    std::vector<uint32_t> zeroUnread = unread;
    std::vector<uint32_t> zeroLost;
    if (first != 0) {
        ownTrackZero.resize(trackZeroFormattedToo ? trackBytes : kSectorSize);
        zero = ownTrackZero;
        zeroUnread = ReadSectorsOneByOne(drive, 0, zero, &gone);
        if (gone != Err::None)
            return gone;
        if (const DiskError e = FillFromSoundFat(drive, 0, zero, zeroUnread, zeroLost); e != Err::None)
            return e;
    }
    const bool bootSectorKept = zeroUnread.empty() || zeroUnread.front() != 0;
    if (lostSectors) {
        for (uint32_t i : lost)
            lostSectors->push_back(first + i);
        lostSectors->insert(lostSectors->end(), zeroLost.begin(), zeroLost.end());
    }

    drive.BeginFormat();
    const bool formatted = (!trackZeroFormattedToo || FormatWithTentatives(host, drive, 0, 0)) &&
                           FormatWithTentatives(host, drive, cylinder, head);
    (void)drive.EndFormat([&](DiskDrive& d) {
        return bootSectorKept ? d.WriteSectors(0, 1, zero.first(kSectorSize)) : WriteUnlabelledBootSector(d);
    });
    if (!formatted)
        return Err::GeneralFailure;
    // Without a readable boot sector of its own, track 0 keeps the one the format wrote.
    if (!bootSectorKept) {
        GoOnAfterFailure reread(drive);
        reread(drive.ReadSectors(0, 1, zero.first(kSectorSize)));
    }

    host.SetLowerLine(LoadString(Str::WritingTrack));
    // Track 0 goes back even when the track repaired did not: it holds the system area.
    const DiskError trackBack = WriteTrackBack(host, drive, first, track);
    const DiskError zeroBack = trackZeroFormattedToo ? WriteTrackBack(host, drive, 0, zero) : Err::None;
    return trackBack != Err::None ? trackBack : zeroBack;
}

OperationOutcome RepairWorker(RepairJob job, OperationHost& host)
{
    OperationSession session(host, LoadString(Str::RepairError));
    DiskDrive drive(DriveLetterOf(job.inputs->driveText), job.drives);
    FatVolume volume(drive);
    session.Attach(drive);
    if (!DriveOpened(drive, host, session.errorCaption()))
        return session.End(kResultFailed);
    const std::string jobCompleted = job.sounds.jobCompleted;
    const char letter = DriveLetterOf(job.inputs->driveText);
    Repairer repairer(std::move(job), session, volume);
    const Walk walk = repairer.Run();
    repairer.FinishMap();
    // The sound tells a repair that lasts: the BAD marks are on the diskette first.
    const bool lasts = walk == Walk::Done && session.Commit();
    // Every end tells what the repair lost until then.
    const bool dataLost = repairer.lost().Tell(host, letter);
    session.figures().sectorsIgnored = static_cast<uint32_t>(repairer.lost().Count());
    OperationOutcome outcome;
    if (lasts) {
        host.PlaySound(jobCompleted);
        outcome = session.End(kResultDone);
    } else if (walk == Walk::Done || walk == Walk::Failed) {
        outcome = session.End(kResultFailed);
    } else {
        outcome = session.End(kResultAborted, repairer.checkerWanted() ? FollowUp::RunDiskChecker : FollowUp::None);
        // A session that could not commit ended failed: what it left is not the user's choice.
        outcome.defectsLeft = walk == Walk::DefectsLeft && outcome.result == kResultAborted;
    }
    outcome.dataLost = dataLost;
    outcome.lost = repairer.lost().Entries(LostSectors::DriveName(letter));
    return outcome;
}

}  // namespace vokta
