// SPDX-License-Identifier: GPL-3.0-or-later
#include "info/sizetext.h"

#include <cstdio>

#include "res/strings.h"

namespace vokta {

std::string SizeLine(Str label, uint64_t bytes)
{
    // One rounding, from the exact count to single precision: the product of the factors
    // was rounded once, however they are grouped.
    const auto v = static_cast<float>(bytes);
    long double shown = v;
    const char* unit = "Bytes";
    if (v > 1000000000.0f) {
        shown = static_cast<long double>(v) * static_cast<long double>(0.000000001f);
        unit = "GB";
    } else if (v > 1000000.0f) {
        shown = static_cast<long double>(v) * static_cast<long double>(0.000001f);
        unit = "MB";
    } else if (v > 1000.0f) {
        shown = static_cast<long double>(v) * static_cast<long double>(0.001f);
        unit = "KB";
    }
    char number[64];
    std::snprintf(number, sizeof number, "%1.3Lf", shown);
    return LoadString(label) + " " + number + " " + unit;
}

}  // namespace vokta
