// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

#include "boot/bootworkers.h"

namespace vokta::test {

// A Boot page stand-in: records what a worker shows, in order, and answers its boxes.
class ScriptedReporter : public BootReporter {
public:

    struct Box {
        std::string text;
        std::string caption;
        Buttons buttons;
        Icon icon;
    };

    std::vector<std::string> results;
    std::vector<std::string> states;
    std::vector<Box> boxes;
    std::vector<std::string> sounds;
    // Every call as one line ("state: ...", "result: ...", "box: ...", "sound: ...",
    // "actions: on/off"), to check their order.
    std::vector<std::string> events;

    std::string state() const { return states.empty() ? "" : states.back(); }

    void EnableActions(bool enabled) override { events.push_back(enabled ? "actions: on" : "actions: off"); }
    void AddResult(const std::string& line) override
    {
        results.push_back(line);
        events.push_back("result: " + line);
    }
    void SetState(const std::string& text) override
    {
        states.push_back(text);
        events.push_back("state: " + text);
    }
    Answer MessageBox(const std::string& text, const std::string& caption, Buttons buttons, Icon icon) override
    {
        boxes.push_back({text, caption, buttons, icon});
        events.push_back("box: " + caption + ": " + text);
        return SafeAnswer(buttons);
    }
    void PlaySound(const std::string& sound) override
    {
        sounds.push_back(sound);
        events.push_back("sound: " + sound);
    }
};

}  // namespace vokta::test
