// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLineEdit>

namespace vokta {

// A volume label's edit: at most 11 characters, and every change checked at once. The
// first character a label may not hold is named in a message box owned by `owner` and
// taken out of the text for good (not as an edit the user could undo); taking it out is
// a change too, so the check runs until the text is a valid label.
void MakeLabelEdit(QLineEdit& edit, QWidget& owner);

}  // namespace vokta
