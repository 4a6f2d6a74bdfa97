// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>

namespace vokta {

// The program's icon, a 3½" diskette, drawn from its SVG at the sizes a desktop asks for.
QIcon ProgramIcon();

}  // namespace vokta
