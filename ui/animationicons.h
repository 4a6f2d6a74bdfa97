// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPixmap>

namespace vokta {

// The progress dialog's four animation pictures: a diskette whose hub turns a quarter
// and whose shutter slides with each phase (0 to 3).
constexpr int kAnimationPhases = 4;

QPixmap AnimationIcon(int phase, int size = 32);

}  // namespace vokta
