// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

namespace vokta {

// The short user guide behind the main window's "&Help" button: what each tab does, the
// drives and diskette files, where the settings live. It opens over the main window and
// is not modal, so that the guide can stay open while the user works; Escape closes it.
class HelpWindow final : public QDialog {
    Q_OBJECT

public:
    explicit HelpWindow(QWidget* owner);
};

}  // namespace vokta
