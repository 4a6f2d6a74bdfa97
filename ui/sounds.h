// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace vokta {

// Plays a sound and returns when it has ended: a system sound name of the settings
// ("SystemExclamation", "SystemDefault", ...) as the desktop's matching event sound,
// anything else as a sound file. A sound that cannot be played is skipped without a word.
void PlaySoundAndWait(const std::string& sound);

// The desktop's event sound id for a system sound name; empty when the name is none.
std::string EventSoundFor(const std::string& systemSoundName);

}  // namespace vokta
