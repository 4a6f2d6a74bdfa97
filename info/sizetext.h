// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

#include "res/stringids.h"

namespace vokta {

// "<label> 1.475 MB": the size line of the report for `bytes`, whose label is the text of
// `label` ("Disk Size =", "Free Disk Space ="). The count is held as a float and scaled in
// decimal units by the float nearest each power of ten, so the third decimal is the one
// the reports have always shown (1000000 bytes print as "1000.000 KB").
std::string SizeLine(Str label, uint64_t bytes);

}  // namespace vokta
