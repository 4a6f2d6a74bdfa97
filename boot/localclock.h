// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

namespace vokta {

// The local date and time as the volume serial number and directory entries use it.
struct LocalTime {
    int year = 1980;     // full year
    int month = 1;       // 1..12
    int day = 1;         // 1..31
    int dayOfWeek = 0;   // Sunday = 0
    int hour = 0;
    int minute = 0;
    int second = 0;
};

using LocalClock = std::function<LocalTime()>;

// The time from the installed clock: the system's local time unless a test replaced it.
LocalTime CurrentLocalTime();

// Installs a clock; an empty one goes back to the system's.
void SetLocalClock(LocalClock clock);

}  // namespace vokta
