// SPDX-License-Identifier: GPL-3.0-or-later
#include "res/languagemodule.h"

#include <dlfcn.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <map>
#include <memory>
#include <string_view>

namespace vokta {
namespace {

// The running program's file; empty when the system does not say.
std::string OwnExecutable()
{
    std::array<char, 4096> path{};
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size() - 1);
    return length > 0 ? std::string(path.data(), static_cast<size_t>(length)) : std::string();
}

std::string Folder(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

}  // namespace

const StringTable* LoadLanguageModule(const char* name)
{
    // One table per library, for the life of the process: the library is never closed,
    // so the texts it holds stay valid wherever they were handed out.
    static std::map<void*, std::unique_ptr<ArrayStringTable>> loaded;
    void* library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return nullptr;
    if (auto found = loaded.find(library); found != loaded.end())
        return found->second.get();
    auto entry = reinterpret_cast<LanguageModuleEntry>(dlsym(library, kLanguageModuleEntryName));
    const LanguageModuleTables* tables = entry ? entry() : nullptr;
    if (!tables || tables->version != kLanguageModuleVersion || !tables->strings || !tables->dialogTexts) {
        dlclose(library);
        return nullptr;
    }
    auto table = std::make_unique<ArrayStringTable>(std::span(tables->strings, tables->stringCount),
                                                    std::span(tables->dialogTexts, tables->dialogTextCount));
    return loaded.emplace(library, std::move(table)).first->second.get();
}

std::vector<std::string> LanguageModulePlaces(const std::string& executable, const std::string& name)
{
    if (name.find('/') != std::string::npos)
        return {name};
    std::vector<std::string> places;
    if (!executable.empty()) {
        const std::string folder = Folder(executable);
        places.push_back(folder + "/../lib/" + name);
        places.push_back(folder + "/" VOKTA_MODULE_DIR_FROM_BIN "/" + name);
    }
    places.push_back(VOKTA_MODULE_DIR "/" + name);
    places.push_back(name);
    return places;
}

const StringTable* FindLanguageModule(const char* name)
{
    for (const std::string& place : LanguageModulePlaces(OwnExecutable(), name))
        if (const StringTable* module = LoadLanguageModule(place.c_str()))
            return module;
    return nullptr;
}

bool ItalianLocale(const char* lcAll, const char* lcMessages, const char* lang)
{
    for (const char* value : {lcAll, lcMessages, lang}) {
        if (!value || !*value)
            continue;
        const std::string_view locale(value);
        // The language is what comes before the territory, the code set and the modifier.
        return locale.substr(0, locale.find_first_of("_.@")) == "it";
    }
    return false;
}

bool ItalianLocale()
{
    return ItalianLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"));
}

}  // namespace vokta
