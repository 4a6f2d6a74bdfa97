// The Italian language module: nothing but its two tables and the one function the
// loader looks up by name.
#include <iterator>

#include "res/codepage.h"
#include "res/languagemodule.h"

namespace vokta {
namespace {

constexpr StringEntry kItalian[] = {
#include "res/strings_it.inc"
};

constexpr bool SortedById()
{
    for (size_t i = 1; i < std::size(kItalian); ++i)
        if (kItalian[i - 1].id >= kItalian[i].id)
            return false;
    return true;
}
static_assert(SortedById(), "the Italian string table must be sorted by id, ids unique");

constexpr bool StringsUtf8()
{
    for (const StringEntry& e : kItalian)
        if (!IsValidUtf8(e.text))
            return false;
    return true;
}
static_assert(StringsUtf8(), "an Italian string is not valid UTF-8");

constexpr DialogTextEntry kItalianDialogTexts[] = {
#include "res/dialogtexts_it.inc"
};

constexpr bool DialogTextsSorted()
{
    for (size_t i = 1; i < std::size(kItalianDialogTexts); ++i) {
        const DialogTextEntry& a = kItalianDialogTexts[i - 1];
        const DialogTextEntry& b = kItalianDialogTexts[i];
        if (a.dialog > b.dialog || (a.dialog == b.dialog && a.control >= b.control))
            return false;
    }
    return true;
}
static_assert(DialogTextsSorted(), "the Italian dialog texts must be sorted by dialog and control, each once");

constexpr bool DialogTextsUtf8()
{
    for (const DialogTextEntry& e : kItalianDialogTexts)
        if (!IsValidUtf8(e.text))
            return false;
    return true;
}
static_assert(DialogTextsUtf8(), "an Italian dialog text is not valid UTF-8");

constexpr LanguageModuleTables kTables{
    kLanguageModuleVersion, kItalian, std::size(kItalian), kItalianDialogTexts, std::size(kItalianDialogTexts),
};

}  // namespace
}  // namespace vokta

// The library is built with hidden visibility: this is the only symbol it exports.
extern "C" __attribute__((visibility("default"))) const vokta::LanguageModuleTables* vokta_language_module()
{
    return &vokta::kTables;
}
