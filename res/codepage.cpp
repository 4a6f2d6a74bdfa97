// SPDX-License-Identifier: GPL-3.0-or-later
#include "res/codepage.h"

#include <array>
#include <utility>

namespace vokta {
namespace {

// Code points of the bytes 80h..9Fh; 0 where the byte has no character.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

constexpr char32_t kNoCharacter = 0xFFFD;

char32_t CodePointOf(uint8_t byte)
{
    if (byte >= 0x80 && byte <= 0x9F)
        return kHighControls[byte - 0x80] ? kHighControls[byte - 0x80] : kNoCharacter;
    return byte;
}

char ByteOf(char32_t code)
{
    if (code < 0x80 || (code >= 0xA0 && code <= 0xFF))
        return static_cast<char>(code);
    for (size_t i = 0; i < kHighControls.size(); ++i)
        if (kHighControls[i] != 0 && kHighControls[i] == code)
            return static_cast<char>(0x80 + i);
    return kWindows1252Replacement;
}

// The code point at `i` and its length in bytes; kNoCharacter and 1 for a malformed one.
std::pair<char32_t, size_t> DecodeUtf8(std::string_view text, size_t i)
{
    const auto lead = static_cast<uint8_t>(text[i]);
    if (lead < 0x80)
        return {lead, 1};
    size_t length = 1;
    while (length < 4 && i + length < text.size() && (static_cast<uint8_t>(text[i + length]) & 0xC0) == 0x80)
        ++length;
    const std::string_view sequence = text.substr(i, length);
    if (length == 1 || !IsValidUtf8(sequence))
        return {kNoCharacter, 1};
    char32_t code = lead & (0xFFu >> (length + 1));
    for (size_t k = 1; k < length; ++k)
        code = (code << 6) | (static_cast<uint8_t>(sequence[k]) & 0x3Fu);
    return {code, length};
}

}  // namespace

void AppendUtf8(std::string& out, char32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

std::string Utf8ToWindows1252(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const auto [code, length] = DecodeUtf8(text, i);
        out += ByteOf(code);
        i += length;
    }
    return out;
}

std::string Windows1252ToUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char c : bytes)
        AppendUtf8(out, CodePointOf(static_cast<uint8_t>(c)));
    return out;
}

}  // namespace vokta
