// SPDX-License-Identifier: GPL-3.0-or-later
// The Italian language module: nothing but its two tables and the one function the
// loader looks up by name.
#include <iterator>

#include "res/languagemodule.h"
#include "res/tablechecks.h"

namespace vokta {
namespace {

constexpr StringEntry kItalian[] = {
#include "res/strings_it.inc"
};
static_assert(SortedById(kItalian), "the Italian string table must be sorted by id, ids unique");
static_assert(FirstStringNotUtf8(kItalian) == 0, "an Italian string is not valid UTF-8");

constexpr DialogTextEntry kItalianDialogTexts[] = {
#include "res/dialogtexts_it.inc"
};
static_assert(SortedByDialogAndControl(kItalianDialogTexts),
              "the Italian dialog texts must be sorted by dialog and control, each once");
static_assert(DialogTextsUtf8(kItalianDialogTexts), "an Italian dialog text is not valid UTF-8");

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
