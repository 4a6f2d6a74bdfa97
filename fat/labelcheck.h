// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "res/stringids.h"

namespace vokta {

constexpr size_t kMaxLabelCharacters = 11;

// Whether a character of code page 1252 may stand in a volume label: a letter or digit
// of ASCII, one of _ $ % ' - @ ~ ! ( ) { } # & and the blank, or any code from 127 on.
bool IsValidLabelByte(unsigned char code);

// The position (in characters) of the first character of the UTF-8 `label` that may not
// stand in a volume label, or nullopt when every one may. A character that code page 1252
// cannot hold has no place on the diskette and is refused too.
std::optional<size_t> FirstInvalidLabelCharacter(std::string_view label);

// The number of characters of the UTF-8 `label`.
size_t LabelLength(std::string_view label);

// Why `label` cannot be a volume label (too long, or a character a label may not hold),
// or nullopt when it can.
std::optional<Str> LabelProblem(std::string_view label);

}  // namespace vokta
