// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <span>

#include "res/codepage.h"
#include "res/strings.h"

namespace vokta {

// What every table of texts has to be, checked where it is compiled: the built-in English
// tables and a language module's alike.

// Sorted by id, each id once.
constexpr bool SortedById(std::span<const StringEntry> entries)
{
    for (size_t i = 1; i < entries.size(); ++i)
        if (entries[i - 1].id >= entries[i].id)
            return false;
    return true;
}

// Sorted by dialog and control, each pair once.
constexpr bool SortedByDialogAndControl(std::span<const DialogTextEntry> entries)
{
    for (size_t i = 1; i < entries.size(); ++i) {
        const DialogTextEntry& a = entries[i - 1];
        const DialogTextEntry& b = entries[i];
        if (a.dialog > b.dialog || (a.dialog == b.dialog && a.control >= b.control))
            return false;
    }
    return true;
}

// 0 when every string is valid UTF-8; otherwise the number of the first that is not.
constexpr uint32_t FirstStringNotUtf8(std::span<const StringEntry> entries)
{
    for (const StringEntry& e : entries)
        if (!IsValidUtf8(e.text))
            return static_cast<uint32_t>(e.id);
    return 0;
}

constexpr bool DialogTextsUtf8(std::span<const DialogTextEntry> entries)
{
    for (const DialogTextEntry& e : entries)
        if (!IsValidUtf8(e.text))
            return false;
    return true;
}

}  // namespace vokta
