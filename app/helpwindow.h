#pragma once

#include <QWidget>

namespace vokta {

// The short user guide behind the main window's "&Help" button: what each tab does, the
// drives and diskette files, where the settings live. A window of its own beside the main
// window, so that the guide can stay open while the user works.
class HelpWindow final : public QWidget {
    Q_OBJECT

public:
    explicit HelpWindow(QWidget* owner);
};

}  // namespace vokta
