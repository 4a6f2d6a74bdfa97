// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "res/dialogtexts.h"
#include "res/stringids.h"

namespace vokta {

// Every text the user sees is a numbered string of the current resource module.
// The English table is built in; another module can be installed over it.
struct StringEntry {
    Str id;
    const char* text;
};

// A resource module: its strings, and the texts of its dialog templates.
class StringTable {
public:
    virtual ~StringTable() = default;
    // Empty when the module has no string with that id.
    virtual std::string_view Find(Str id) const = 0;
    // nullptr when the module has no such text; a text may be empty.
    virtual const char* FindDialogText(Dialog, uint16_t) const { return nullptr; }
};

// A module's strings and dialog texts as two arrays, each in any order.
class ArrayStringTable final : public StringTable {
public:
    constexpr explicit ArrayStringTable(std::span<const StringEntry> entries,
                                        std::span<const DialogTextEntry> dialogTexts = {})
        : entries_(entries), dialogTexts_(dialogTexts)
    {
    }
    std::string_view Find(Str id) const override;
    const char* FindDialogText(Dialog dialog, uint16_t control) const override;

private:
    std::span<const StringEntry> entries_;
    std::span<const DialogTextEntry> dialogTexts_;
};

const StringTable& EnglishStrings();

// The module that LoadString reads; nullptr goes back to English.
void SetResourceModule(const StringTable* module);

// The string with that id from the current module, falling back to English.
std::string LoadString(Str id);

// A dialog template's text from the current module, falling back to English; empty when
// neither has it.
std::string LoadDialogText(Dialog dialog, uint16_t control);

// printf-style formatting of a string-table text ("%d", "%ld", "%2.2d", "%xh", "%s").
// The English text decides the conversions; a module's text whose conversions differ
// from the English ones, in order or in any flag, width, precision or length, is not
// used, so a translation can never hand an argument to the wrong conversion.
std::string FormatString(Str id, long value);
std::string FormatString(Str id, long first, long second);
std::string FormatString(Str id, const std::string& value);
std::string FormatString(Str id, const std::string& first, const std::string& second);
std::string FormatString(Str id, const std::string& text, long first, long second, long third);
std::string FormatString(Str id, long first, long second, long third);
std::string FormatString(Str id, const std::string& first, const std::string& second, const std::string& third);
std::string FormatString(Str id, const std::string& text, long first, long second);

// Whether `translated` may stand for the English format `english`: the same conversions
// in the same order, each with the same flags, width, precision and length, and no '%'
// that starts none.
bool SameConversions(std::string_view english, std::string_view translated);

}  // namespace vokta
