// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSettings>

#include "ui/settings.h"

namespace vokta {

// The settings' home: organisation "Harlen", application the executable's base name, as
// the platform keeps such settings (an INI file under ~/.config on Linux).
constexpr const char* kSettingsOrganisation = "Harlen";
constexpr const char* kOptionsGroup = "Options";

// "Language", read once at start; without one, 1 (Italiano) when the locale is Italian
// and 0 otherwise.
int ReadLanguage(QSettings& store);

// The other nine values, in the order start-up reads them; a value that is missing or
// not a 32-bit integer falls back to its default.
void ReadOptions(QSettings& store, Settings& settings);

// All ten values, in the order start-up writes them; integers are written as numbers.
void WriteOptions(QSettings& store, const Settings& settings);

}  // namespace vokta
