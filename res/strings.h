#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vokta {

// Every text the user sees is a numbered string of the current resource module.
// The English table is built in; another module can be installed over it.
struct StringEntry {
    uint32_t id;
    const char* text;
};

class StringTable {
public:
    virtual ~StringTable() = default;
    // Empty when the module has no string with that id.
    virtual std::string_view Find(uint32_t id) const = 0;
};

const StringTable& EnglishStrings();

// The module that LoadString reads; nullptr goes back to English.
void SetResourceModule(const StringTable* module);

// The string with that id from the current module, falling back to English.
std::string LoadString(uint32_t id);

// printf-style formatting of a string-table format ("%d", "%ld", "%s", "%2.2d").
std::string FormatString(uint32_t id, long value);
std::string FormatString(uint32_t id, long first, long second);
std::string FormatString(uint32_t id, const std::string& value);
std::string FormatString(uint32_t id, const std::string& first, const std::string& second);

}  // namespace vokta
