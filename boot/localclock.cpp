// SPDX-License-Identifier: GPL-3.0-or-later
#include "boot/localclock.h"

#include <ctime>

namespace vokta {
namespace {

LocalClock& InstalledClock()
{
    static LocalClock clock;
    return clock;
}

LocalTime SystemLocalTime()
{
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    localtime_r(&now, &parts);
    LocalTime t;
    t.year = parts.tm_year + 1900;
    t.month = parts.tm_mon + 1;
    t.day = parts.tm_mday;
    t.dayOfWeek = parts.tm_wday;
    t.hour = parts.tm_hour;
    t.minute = parts.tm_min;
    t.second = parts.tm_sec > 59 ? 59 : parts.tm_sec;  // a leap second would spill into the minutes
    return t;
}

}  // namespace

LocalTime CurrentLocalTime()
{
    const LocalClock& clock = InstalledClock();
    return clock ? clock() : SystemLocalTime();
}

void SetLocalClock(LocalClock clock)
{
    InstalledClock() = std::move(clock);
}

}  // namespace vokta
