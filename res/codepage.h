// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vokta {

// Text inside the program is UTF-8. Bytes that reach a diskette (volume labels in the
// boot sector and the root directory) or a saved report are in the Windows code page
// 1252, as the diskettes' other readers expect them.

// What a character that code page 1252 cannot hold becomes there.
constexpr char kWindows1252Replacement = '?';

constexpr bool IsValidUtf8(std::string_view text)
{
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<uint8_t>(text[i]);
        size_t length = 0;
        uint32_t code = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            code = lead & 0x1Fu;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            code = lead & 0x0Fu;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            code = lead & 0x07u;
        } else {
            return false;
        }
        if (i + length > text.size())
            return false;
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<uint8_t>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3Fu);
        }
        const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
        if (overlong || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

// Each character in code page 1252, or the replacement; a malformed sequence counts as
// one character that it cannot hold.
std::string Utf8ToWindows1252(std::string_view text);

// Appends a character of the basic multilingual plane in UTF-8.
void AppendUtf8(std::string& out, char32_t code);

// The UTF-8 text of 1252 bytes; the five bytes without a character (81h, 8Dh, 8Fh, 90h,
// 9Dh) become U+FFFD.
std::string Windows1252ToUtf8(std::string_view bytes);

}  // namespace vokta
