// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/scriptedhost.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace vokta::test {

namespace {
constexpr uint64_t kRunawayWait = 24ull * 3600 * 1000;  // a waiting loop that never ends
}  // namespace

void ScriptedHost::Record(HostEvent::Kind kind, const std::string& text, int value)
{
    HostEvent e{kind, text};
    e.value = value;
    e.tick = now;
    events.push_back(std::move(e));
}

Answer ScriptedHost::MessageBox(const std::string& text, const std::string& caption, Buttons buttons, Icon icon)
{
    Answer answer = answerWith && answers.empty() ? answerWith(text, buttons) : SafeAnswer(buttons);
    if (!answers.empty()) {
        answer = answers.front();
        answers.pop_front();
    }
    HostEvent e{HostEvent::Box, text, caption, buttons, icon, answer};
    e.tick = now;
    events.push_back(std::move(e));
    return answer;
}

void ScriptedHost::SetRange(int high)
{
    rangeHigh = high;
    Record(HostEvent::Range, "", high);
}

int ScriptedHost::SetProgressPos(int p)
{
    const int previous = position;
    position = p;
    Record(HostEvent::Position, "", p);
    return previous;
}

void ScriptedHost::SetBarColours(Rgb fill, Rgb text)
{
    HostEvent e{HostEvent::Colours, ""};
    e.fill = fill;
    e.textColour = text;
    events.push_back(e);
}

bool ScriptedHost::AbortRequested()
{
    if (!abortRequested && abortWhen && abortWhen(*this))
        abortRequested = true;
    return abortRequested;
}

void ScriptedHost::Rest(int milliseconds)
{
    now += static_cast<uint64_t>(milliseconds);
    if (driveClock)
        driveClock->Idle(milliseconds);
    for (Scheduled& s : timeline_)
        if (s.action && s.at <= now)
            std::exchange(s.action, nullptr)();
    if (now > kRunawayWait) {
        ADD_FAILURE() << "the operation waited a whole day of fake time";
        abortRequested = true;
    }
}

void ScriptedHost::BeginTrackMap(const TrackMapShape& shape)
{
    trackMap = TrackMap(shape);
    HostEvent e{HostEvent::MapBegun, ""};
    e.shape = shape;
    events.push_back(std::move(e));
}

void ScriptedHost::ShowTrack(const TrackReport& report)
{
    trackMap.Apply(report);
    HostEvent e{HostEvent::Track, ""};
    e.track = report;
    events.push_back(std::move(e));
}

std::vector<HostEvent> ScriptedHost::Of(HostEvent::Kind kind) const
{
    std::vector<HostEvent> out;
    std::copy_if(events.begin(), events.end(), std::back_inserter(out), [&](const HostEvent& e) { return e.kind == kind; });
    return out;
}

std::vector<std::string> ScriptedHost::Texts(HostEvent::Kind kind) const
{
    std::vector<std::string> out;
    for (const HostEvent& e : Of(kind))
        out.push_back(e.text);
    return out;
}

bool ScriptedHost::Shown(HostEvent::Kind kind, const std::string& text) const
{
    const auto texts = Texts(kind);
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

}  // namespace vokta::test
