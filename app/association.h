// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace vokta {

// Associates "*.dim" files with the program the desktop's way, in the user's data folder
// ($XDG_DATA_HOME, else ~/.local/share): a shared-mime-info package naming the type, and a
// desktop entry "Vokta diskette Image" that opens such a file with `executable`. Written at
// every start; a failure is ignored.
void WriteDimAssociation(const QString& executable);

}  // namespace vokta
