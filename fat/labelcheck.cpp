// SPDX-License-Identifier: GPL-3.0-or-later
#include "fat/labelcheck.h"

#include <string>
#include <string_view>

#include "res/codepage.h"

namespace vokta {

bool IsValidLabelByte(unsigned char code)
{
    constexpr std::string_view kPunctuation = "_ $%'-@~!(){}#&";
    const bool asciiLetterOrDigit = (code >= 'A' && code <= 'Z') || (code >= 'a' && code <= 'z') ||
                                    (code >= '0' && code <= '9');
    return asciiLetterOrDigit || code >= 127 || kPunctuation.find(static_cast<char>(code)) != std::string_view::npos;
}

std::optional<size_t> FirstInvalidLabelCharacter(std::string_view label)
{
    // One byte per character; a character outside the code page becomes the replacement,
    // which is itself no label character.
    const std::string bytes = Utf8ToWindows1252(label);
    for (size_t i = 0; i < bytes.size(); ++i)
        if (!IsValidLabelByte(static_cast<unsigned char>(bytes[i])))
            return i;
    return std::nullopt;
}

size_t LabelLength(std::string_view label)
{
    return Utf8ToWindows1252(label).size();
}

std::optional<Str> LabelProblem(std::string_view label)
{
    if (LabelLength(label) > kMaxLabelCharacters)
        return Str::LabelTooLong;
    if (FirstInvalidLabelCharacter(label))
        return Str::InvalidLabelLetter;
    return std::nullopt;
}

}  // namespace vokta
