#pragma once

#include <QComboBox>

#include "ui/shell.h"

namespace vokta {

// Refills a page's drive selector with the drives the settings allow (no fixed disks when
// `noHardDisks`, whatever the settings), and reselects the drive chosen last on any page.
void FillDriveSelector(QComboBox& selector, const Shell& shell, bool noHardDisks);

}  // namespace vokta
