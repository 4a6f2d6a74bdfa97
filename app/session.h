// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace vokta {

// How the desktop program meets the graphical session, decided before Qt starts: Qt ends
// the process when no platform it was asked for opens, so the program asks for a last one
// that needs no display and, when Qt lands there, tells the user itself.
struct SessionPlan {
    bool noSession = false;  // the environment names no display at all
    std::string platforms;   // QT_QPA_PLATFORM for Qt's start; empty leaves it as it is
};

// The platform that stands for "no session could be opened".
constexpr std::string_view kNoSessionPlatform = "minimal";

// The variable's value, nullptr when it is not set.
using Environment = std::function<const char*(const char*)>;

// The plan for an environment: a platform asked for in QT_QPA_PLATFORM that needs no
// display (offscreen, minimal, vnc...) is left alone; otherwise the platforms asked for,
// or those of the displays that DISPLAY and WAYLAND_DISPLAY name, then the stand-in.
SessionPlan PlanSession(const Environment& environment);

// Whether Qt, started on `plan`, came up on `platform` because no session opened.
bool NoSessionOpened(const SessionPlan& plan, std::string_view platform);

}  // namespace vokta
