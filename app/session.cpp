// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/session.h"

#include <algorithm>
#include <array>
#include <vector>

namespace vokta {
namespace {

// Qt's platforms that draw without a display server.
constexpr std::array<std::string_view, 7> kWithoutDisplay = {"offscreen", "minimal",  "minimalegl",  "vnc",
                                                             "linuxfb",   "eglfs",    "vkkhrdisplay"};

std::vector<std::string_view> Platforms(std::string_view list)
{
    std::vector<std::string_view> names;
    while (!list.empty()) {
        const size_t semicolon = std::min(list.find(';'), list.size());
        // A platform may carry options after a colon ("vnc:size=800x600").
        const std::string_view entry = list.substr(0, semicolon);
        if (!entry.empty())
            names.push_back(entry.substr(0, entry.find(':')));
        list.remove_prefix(std::min(semicolon + 1, list.size()));
    }
    return names;
}

bool Set(const Environment& environment, const char* name)
{
    const char* value = environment(name);
    return value && *value;
}

std::string Value(const Environment& environment, const char* name)
{
    const char* value = environment(name);
    return value ? value : "";
}

}  // namespace

SessionPlan PlanSession(const Environment& environment)
{
    const std::string asked = Value(environment, "QT_QPA_PLATFORM");
    const std::vector<std::string_view> askedPlatforms = Platforms(asked);
    if (std::any_of(askedPlatforms.begin(), askedPlatforms.end(), [](std::string_view platform) {
            return std::find(kWithoutDisplay.begin(), kWithoutDisplay.end(), platform) != kWithoutDisplay.end();
        }))
        return {};
    const bool x11 = Set(environment, "DISPLAY");
    const bool wayland = Set(environment, "WAYLAND_DISPLAY");
    if (!x11 && !wayland)
        return {true, {}};
    std::string platforms = asked;
    if (askedPlatforms.empty()) {
        // Qt's own order: the session's kind first.
        const bool waylandFirst = wayland && Value(environment, "XDG_SESSION_TYPE") == "wayland";
        if (waylandFirst)
            platforms = "wayland";
        if (x11)
            platforms += platforms.empty() ? "xcb" : ";xcb";
        if (wayland && !waylandFirst)
            platforms += platforms.empty() ? "wayland" : ";wayland";
    }
    return {false, platforms + ";" + std::string(kNoSessionPlatform)};
}

bool NoSessionOpened(const SessionPlan& plan, std::string_view platform)
{
    return !plan.platforms.empty() && platform == kNoSessionPlatform;
}

}  // namespace vokta
