// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ops/messagebox.h"
#include "ops/trackmap.h"

namespace vokta {

// The exit code of an operation: 0 done, 1 aborted (the user's Abort or Cancel, or a
// refused question), anything else failed (2 by convention).
enum OperationResult : int { kResultDone = 0, kResultAborted = 1, kResultFailed = 2 };

// The Abort button's two faces: "&Abort", and "&Finish" while a run of several diskettes
// waits for the next one. Hosts recognise the face by kind, never by its translated text.
enum class AbortButton { Abort, Finish };

// The sounds the settings name, resolved once when an operation is prepared: a system
// sound name or a sound file, handed unchanged to the host.
struct Sounds {
    std::string error = "SystemExclamation";
    std::string jobCompleted = "SystemDefault";
};

// What the page does after an operation, beside showing its result.
enum class FollowUp {
    None,
    ImageRead,       // the image holds a diskette now: Write Disk, Compare and Save File Image
    RunDiskChecker,  // the user asked for the system's disk checker on the drive
    FormattedFull,   // a quick format found no usable system area and went on as a full one
};

// What an operation moved between the diskette and memory, counted where it transfers.
struct OperationFigures {
    uint32_t sectorsRead = 0;
    // Read but unreadable: left as zeros in the image, or left out of a comparison.
    uint32_t sectorsIgnored = 0;
    // Read only after a first read failed: on a retry, or in a later pass of a rescue.
    uint32_t sectorsRecovered = 0;
    // A resumed rescue: the sectors an earlier run had read already.
    uint32_t sectorsHeldBefore = 0;
    uint32_t sectorsWritten = 0;
    // Read back, or verified by the drive, after writing or formatting.
    uint32_t sectorsVerified = 0;
    // Compare: the first cylinder where the diskette differs from the image.
    std::optional<uint16_t> firstDifferingCylinder;
};

// The value an operation ends with.
struct OperationOutcome {
    int result = kResultFailed;
    FollowUp followUp = FollowUp::None;
    // Done, but sectors that held data could not be read and were left as zeros; the
    // operation has named them to the user.
    bool dataLost = false;
    // Ended at damage the user chose to leave as it is (a repair told to stop there): the
    // diskette has defects that were found and not mended.
    bool defectsLeft = false;
    OperationFigures figures{};
    // What lost sectors, one entry per file, directory or area, as the operation named them.
    std::vector<std::string> lost{};
    // The state every track of the medium was left in: what the operation did, track by track.
    TrackMap trackMap{};
};

// "OK.", "Aborted !" or "Failed !".
std::string ResultText(int result);

// "&Abort" or "&Finish".
std::string AbortButtonCaption(AbortButton button);

struct Rgb {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    bool operator==(const Rgb&) const = default;
};

namespace BarColour {
constexpr Rgb Blue{0, 0, 255};
constexpr Rgb Cyan{0, 255, 255};
constexpr Rgb Green{0, 200, 0};
constexpr Rgb Red{255, 0, 0};
constexpr Rgb White{255, 255, 255};
constexpr Rgb Black{0, 0, 0};
}  // namespace BarColour

// Where message boxes go: the page's dialogs on the desktop, the terminal, or a test script.
class MessageBoxHost {
public:
    virtual ~MessageBoxHost() = default;
    virtual Answer MessageBox(const std::string& text, const std::string& caption, Buttons buttons,
                              Icon icon) = 0;
};

// What an operation may do with the progress dialog and the user while it runs. The
// operation never touches a widget: the desktop, the terminal and the tests each answer
// these calls in their own way.
class OperationHost : public MessageBoxHost {
public:
    virtual void SetUpperLine(const std::string& text) = 0;
    virtual void SetLowerLine(const std::string& text) = 0;
    virtual void SetTitle(const std::string& text) = 0;
    // Range 0..high of the bar.
    virtual void SetRange(int high) = 0;
    // Returns the previous position.
    virtual int SetProgressPos(int position) = 0;
    virtual void SetBarColours(Rgb fill, Rgb text) = 0;
    virtual void SetAbortCaption(AbortButton button) = 0;
    // Set by the Abort button (or Finish); polled at the points each operation names.
    virtual bool AbortRequested() = 0;
    // Plays a sound name or a sound file and returns when it has ended.
    virtual void PlaySound(const std::string& sound) = 0;
    // The operation's last use of the dialog, exactly once on every path.
    virtual void Close() = 0;
    // Milliseconds of a monotonic clock, and a short rest between polls of a waiting loop.
    virtual uint64_t TickCount() = 0;
    virtual void Rest(int milliseconds) = 0;
    // The track map: begun once the operation knows the medium's tracks, then told of each
    // track whose state changes. A host that shows no map ignores both.
    virtual void BeginTrackMap(const TrackMapShape& /*shape*/) {}
    virtual void ShowTrack(const TrackReport& /*report*/) {}
};

}  // namespace vokta
