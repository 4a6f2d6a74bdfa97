// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

// The Italian module's file name.
constexpr const char* kItalianModuleName = "libvoktaita.so";

// Loads a language module by file name or path; nullptr when it cannot be loaded or is no
// module of this version. A loaded module stays loaded until the process ends.
const StringTable* LoadLanguageModule(const char* name);

// Where a module called `name` is looked for, in this order: the lib folder beside the
// folder of `executable` (a build tree), the installation's module folder relative to the
// executable's folder (an installation under any prefix), that folder where the build put
// it, and the bare name for the system's loader. A name with a '/' is a path: only itself.
std::vector<std::string> LanguageModulePlaces(const std::string& executable, const std::string& name);

// The first of the places of `name` around the running program that holds a module.
const StringTable* FindLanguageModule(const char* name = kItalianModuleName);

// Whether the locale the environment names for messages is Italian: the first of LC_ALL,
// LC_MESSAGES and LANG that is set and not empty decides, as for setlocale ("it",
// "it_IT.UTF-8", "it_CH@euro").
bool ItalianLocale(const char* lcAll, const char* lcMessages, const char* lang);

// The same for this process's environment.
bool ItalianLocale();

}  // namespace vokta
