// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "drive/backend/emulated/driveclock.h"
#include "ops/operation.h"

namespace vokta::test {

// Everything an operation told its host, in order.
struct HostEvent {
    enum Kind { Upper, Lower, Title, Range, Position, Colours, AbortCaption, Box, Sound, Close, MapBegun, Track };
    Kind kind;
    std::string text;
    std::string caption;
    Buttons buttons = Buttons::Ok;
    Icon icon = Icon::None;
    Answer answer = Answer::Ok;
    int value = 0;
    Rgb fill, textColour;
    uint64_t tick = 0;
    TrackMapShape shape{};  // MapBegun
    TrackReport track{};    // Track
};

// The host of the tests: records every call, answers message boxes from a script, can
// press Abort when a condition holds, and runs on a fake clock whose rests run the
// scheduled events (a diskette taken out, another put in).
class ScriptedHost final : public OperationHost {
public:
    std::vector<HostEvent> events;
    // Answers for the boxes, in order; an empty script answers every box harmlessly.
    std::deque<Answer> answers;
    // Answers the boxes the script leaves unanswered, when set; else the harmless answer.
    std::function<Answer(const std::string& text, Buttons buttons)> answerWith;
    // Presses Abort once this holds (checked whenever the operation polls).
    std::function<bool(const ScriptedHost&)> abortWhen;
    bool abortRequested = false;
    uint64_t now = 0;
    // The emulated drive's clock when a test watches the mechanics: the host's rests pass
    // on it too (the motor stops), and its counters say what the operation cost the drive.
    DriveClock* driveClock = nullptr;
    // Runs `action` once the clock reaches `at`.
    void At(uint64_t at, std::function<void()> action) { timeline_.push_back({at, std::move(action)}); }

    Answer MessageBox(const std::string& text, const std::string& caption, Buttons buttons, Icon icon) override;
    void SetUpperLine(const std::string& text) override { Record(HostEvent::Upper, text); }
    void SetLowerLine(const std::string& text) override { Record(HostEvent::Lower, text); }
    void SetTitle(const std::string& text) override { Record(HostEvent::Title, text); }
    void SetRange(int high) override;
    int SetProgressPos(int position) override;
    void SetBarColours(Rgb fill, Rgb text) override;
    void SetAbortCaption(AbortButton button) override { Record(HostEvent::AbortCaption, AbortButtonCaption(button)); }
    bool AbortRequested() override;
    void PlaySound(const std::string& sound) override { Record(HostEvent::Sound, sound); }
    void Close() override { Record(HostEvent::Close, ""); }
    uint64_t TickCount() override { return now; }
    void Rest(int milliseconds) override;
    void BeginTrackMap(const TrackMapShape& shape) override;
    void ShowTrack(const TrackReport& report) override;
    // The map as the host was told it: begun afresh by every BeginTrackMap.
    TrackMap trackMap;

    // Queries for the assertions.
    std::vector<HostEvent> Of(HostEvent::Kind kind) const;
    std::vector<std::string> Texts(HostEvent::Kind kind) const;
    std::vector<std::string> BoxTexts() const { return Texts(HostEvent::Box); }
    bool Shown(HostEvent::Kind kind, const std::string& text) const;
    int Count(HostEvent::Kind kind) const { return static_cast<int>(Of(kind).size()); }
    int position = 0;
    int rangeHigh = 0;

private:
    void Record(HostEvent::Kind kind, const std::string& text, int value = 0);
    struct Scheduled {
        uint64_t at;
        std::function<void()> action;
    };
    std::vector<Scheduled> timeline_;
};

}  // namespace vokta::test
