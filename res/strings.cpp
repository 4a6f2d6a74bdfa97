#include "res/strings.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <iterator>

namespace vokta {
namespace {

constexpr StringEntry kEnglish[] = {
#include "res/strings_en.inc"
};

constexpr bool SortedById()
{
    for (size_t i = 1; i < std::size(kEnglish); ++i)
        if (kEnglish[i - 1].id >= kEnglish[i].id)
            return false;
    return true;
}
static_assert(SortedById(), "the string table must be sorted by id, ids unique");

class BuiltInTable final : public StringTable {
public:
    std::string_view Find(uint32_t id) const override
    {
        auto it = std::lower_bound(std::begin(kEnglish), std::end(kEnglish), id,
                                   [](const StringEntry& e, uint32_t key) { return e.id < key; });
        if (it == std::end(kEnglish) || it->id != id)
            return {};
        return it->text;
    }
};

const StringTable* currentModule = nullptr;

template <typename... Args>
std::string Format(uint32_t id, Args... args)
{
    const std::string format = LoadString(id);
    const int size = std::snprintf(nullptr, 0, format.c_str(), args...);
    if (size <= 0)
        return format;
    std::string out(static_cast<size_t>(size) + 1, '\0');
    std::snprintf(out.data(), out.size(), format.c_str(), args...);
    out.resize(static_cast<size_t>(size));
    return out;
}

}  // namespace

const StringTable& EnglishStrings()
{
    static const BuiltInTable table;
    return table;
}

void SetResourceModule(const StringTable* module)
{
    currentModule = module;
}

std::string LoadString(uint32_t id)
{
    if (currentModule) {
        std::string_view text = currentModule->Find(id);
        if (!text.empty())
            return std::string(text);
    }
    return std::string(EnglishStrings().Find(id));
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
std::string FormatString(uint32_t id, long value)
{
    // "%d" and "%ld" formats both occur; pass an int where the text asks for %d.
    const std::string format = LoadString(id);
    if (format.find("%l") == std::string::npos)
        return Format(id, static_cast<int>(value));
    return Format(id, value);
}

std::string FormatString(uint32_t id, long first, long second)
{
    const std::string format = LoadString(id);
    if (format.find("%l") == std::string::npos)
        return Format(id, static_cast<int>(first), static_cast<int>(second));
    return Format(id, first, second);
}

std::string FormatString(uint32_t id, const std::string& value)
{
    return Format(id, value.c_str());
}

std::string FormatString(uint32_t id, const std::string& first, const std::string& second)
{
    return Format(id, first.c_str(), second.c_str());
}
#pragma GCC diagnostic pop

}  // namespace vokta
