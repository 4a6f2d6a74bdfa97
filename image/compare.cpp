// SPDX-License-Identifier: GPL-3.0-or-later
// Compare: the diskette against the memory image, cylinder by cylinder.
#include <algorithm>
#include <new>
#include <vector>

#include "boot/bootsector.h"
#include "image/duplicate_common.h"

namespace vokta {

using namespace dup;

namespace {

// Reads cylinder c head by head into `read`. On a failing track the user chooses: Retry
// reads the cylinder again, Ignore keeps what can be read of the track, sector by sector,
// and goes on with the next head; the sectors that could not be read are listed in
// `unread`, to be left out of the comparison. False when the user answered Abort.
bool ReadForCompare(DiskDrive& drive, OperationSession& session, uint16_t c, std::span<uint8_t> read,
                    std::vector<size_t>& unread, std::vector<TrackReport>& found)
{
    auto decide = [&] {
        const std::optional<Answer> a =
            ShowPendingError(drive, session.host(), session.errorCaption(), Buttons::AbortRetryIgnore);
        if (a == Answer::Abort)
            return TrackFailure::Stop;
        return a == Answer::Ignore ? TrackFailure::Salvage : TrackFailure::Retry;
    };
    return ReadCylinderTracks(drive, session, c, read, decide, unread, found);
}

// Compares the cylinder sector by sector, leaving out the `unread` ones, and marks on the
// tracks `found` which sectors differ and which could not be compared. True when all
// compared sectors are equal.
bool SameExceptUnread(std::span<const uint8_t> expected, std::span<const uint8_t> read,
                      const std::vector<size_t>& unread, size_t trackBytes, std::vector<TrackReport>& found)
{
    bool same = true;
    for (size_t from = 0; from < expected.size(); from += kSectorSize) {
        const size_t length = std::min(kSectorSize, expected.size() - from);
        const bool left = std::ranges::binary_search(unread, from);
        const bool equal = left || std::equal(expected.begin() + static_cast<std::ptrdiff_t>(from),
                                              expected.begin() + static_cast<std::ptrdiff_t>(from + length),
                                              read.begin() + static_cast<std::ptrdiff_t>(from));
        same = same && equal;
        const size_t head = from / trackBytes;
        const size_t index = from % trackBytes / kSectorSize;
        if (head >= found.size() || index >= found[head].sectors.size())
            continue;
        TrackState& state = found[head].sectors[index];
        if (left)
            state = TrackState::Lost;
        else if (!equal)
            state = TrackState::Differs;
    }
    for (TrackReport& track : found)
        track.state = TrackStateOfSectors(track.sectors);
    return same;
}

// The sectors of cylinder c that the image holds no data of join those the diskette
// did not give: neither side of them can be compared.
void AddUnreadableOfImage(const DiskImage& image, uint16_t c, size_t cylinderBytes, size_t comparedBytes,
                          std::vector<size_t>& unread)
{
    const auto first = static_cast<uint32_t>(c * cylinderBytes / kSectorSize);
    const auto end = static_cast<uint32_t>(first + comparedBytes / kSectorSize);
    for (auto it = image.unreadable.lower_bound(first); it != image.unreadable.end() && *it < end; ++it)
        unread.push_back(size_t{*it - first} * kSectorSize);
    std::ranges::sort(unread);
    unread.erase(std::unique(unread.begin(), unread.end()), unread.end());
}

}  // namespace

OperationOutcome CompareWorker(DuplicateJob job, OperationHost& host)
{
    OperationSession session(host, LoadString(Str::DuplicateError));
    const DiskImage& image = *job.image;
    const char letter = DriveLetter(job);
    if (!image.IsValid()) {
        Box(host, Str::NoCompareSource, Str::Error, Buttons::Ok, Icon::Error);
        return session.End(kResultFailed);
    }
    DiskDrive drive(letter, job.drives);
    if (!Opened(session, drive))
        return session.End(kResultFailed);
    if (!WaitForDiskette(drive, host))
        return session.End(kResultAborted);
    host.SetLowerLine("");
    host.SetUpperLine(LoadString(Str::CheckingMedia));
    if (!DetectMedia(drive, host, session.errorCaption()))
        return session.End(kResultFailed);
    const int32_t detected = drive.mediaType;
    if (detected != image.mediaType) {
        Box(host, Str::MediaDiffers, Str::Error, Buttons::Ok, Icon::Error);
        return session.End(kResultFailed);
    }
    const uint16_t cylinders = drive.params.cylinders();
    host.SetUpperLine(MediaLine(detected));
    host.SetRange(cylinders);
    host.SetProgressPos(0);
    host.SetTitle(OperationTitle(LoadString(Str::Comparing), letter, image.label));
    host.SetBarColours(BarColour::Green, BarColour::Black);
    if (CheckBootSector(drive) != 0)
        Box(host, Str::BootNotCompliant, Str::Message, Buttons::Ok, Icon::Information);
    if (host.AbortRequested())
        return session.End(kResultAborted);

    std::vector<uint8_t> buffer;
    const size_t cylinderBytes = CylinderBytes(drive.params);
    try {
        buffer.resize(cylinderBytes);
    } catch (const std::bad_alloc&) {
        Box(host, Str::InsufficientMemory, Str::FatalError, Buttons::Ok, Icon::Error);
        return session.End(kResultFailed);
    }
    host.SetLowerLine(LoadString(Str::ComparingProgress));
    drive.TakeError();
    std::vector<size_t> unread;
    std::vector<TrackReport> found;
    const size_t trackBytes = size_t{drive.params.sectorsPerTrack()} * kSectorSize;
    session.BeginTrackMap(drive.params);
    for (uint16_t c = 0; c < cylinders; ++c) {
        if (host.AbortRequested())
            return session.End(kResultFailed);
        const std::span<const uint8_t> expected = CylinderOf(std::span<const uint8_t>(image.data), c, cylinderBytes);
        // The diskette's part beyond an image of its size is compared with nothing.
        const std::span<uint8_t> read = std::span<uint8_t>(buffer).first(expected.size());
        if (!ReadForCompare(drive, session, c, read, unread, found)) {
            ShowTracks(session, found);
            return session.End(kResultAborted);
        }
        const auto unreadCount = static_cast<uint32_t>(unread.size());
        session.figures().sectorsRead += static_cast<uint32_t>(read.size() / kSectorSize) - unreadCount;
        session.figures().sectorsIgnored += unreadCount;
        AddUnreadableOfImage(image, c, cylinderBytes, expected.size(), unread);
        const bool same = SameExceptUnread(expected, read, unread, trackBytes, found);
        ShowTracks(session, found);
        if (!same) {
            session.figures().firstDifferingCylinder = c;
            Box(host, Str::NoMatch, Str::Message, Buttons::Ok, Icon::Error);
            return session.End(kResultAborted);
        }
        host.SetProgressPos(c + 1);
    }
    host.PlaySound(job.sounds.jobCompleted);
    return session.End(kResultDone);
}

}  // namespace vokta
