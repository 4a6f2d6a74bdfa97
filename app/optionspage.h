#pragma once

#include <QWidget>

#include "app/shell.h"

namespace vokta {

// The sixth tab: the two sounds, the five switches, the language, and the letters bound to
// diskette files or floppy devices. Every change holds in the shell's settings at once.
class OptionsPage final : public QWidget {
    Q_OBJECT

public:
    explicit OptionsPage(Shell& shell, QWidget* parent = nullptr);

signals:
    // Another language was chosen: the main window closes as by "&Quit", and start-up
    // builds it again in that language, on this page.
    void languageChanged();

private:
    Shell& shell_;
};

}  // namespace vokta
