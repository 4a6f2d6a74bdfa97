// SPDX-License-Identifier: GPL-3.0-or-later
#include "res/languagemodule.h"

#include <dlfcn.h>

#include <map>
#include <memory>
#include <string>

namespace vokta {

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

}  // namespace vokta
