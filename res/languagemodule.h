// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>

#include "res/strings.h"

namespace vokta {

// What a language module (a shared library such as libvoktaita.so) exports: its strings
// and dialog texts under the same ids as the English tables.
struct LanguageModuleTables {
    uint32_t version;
    const StringEntry* strings;
    size_t stringCount;
    const DialogTextEntry* dialogTexts;
    size_t dialogTextCount;
};

// Changes whenever the layout of the tables above changes, so that a stale module is
// refused rather than misread.
constexpr uint32_t kLanguageModuleVersion = 1;

// The module's one exported function, by this name, returns its tables.
using LanguageModuleEntry = const LanguageModuleTables* (*)();
constexpr const char* kLanguageModuleEntryName = "vokta_language_module";

// The Italian module, loaded by name as the system's library loader finds it.
constexpr const char* kItalianModuleName = "libvoktaita.so";

// Loads a language module by name; nullptr when it cannot be loaded or is no module of
// this version. A loaded module stays loaded until the process ends.
const StringTable* LoadLanguageModule(const char* name);

}  // namespace vokta
