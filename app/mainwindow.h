// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include "ui/shell.h"

class QTabWidget;

namespace vokta {

class HelpWindow;

// The main window: the six pages as tabs (DupDisk, Format, Repair, Boot, Info, Options) and
// the buttons "&Quit", "&About" and "&Help". Start-up builds it, shows it until it closes,
// and builds it again after a change of language.
class MainWindow final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kPageCount = 6;
    static constexpr int kOptionsPage = 5;

    // The control ids of the buttons, as the tool-tip rule knows them.
    static constexpr int kQuitButton = 1;
    static constexpr int kAboutButton = 2;
    static constexpr int kHelpButton = 9;

    MainWindow(Shell& shell, const QString& title, int startPage);
    ~MainWindow() override;

    QTabWidget& pages() const { return *pages_; }
    Shell& shell() const { return shell_; }

signals:
    // The window has closed, by "&Quit", by a change of language or by the window manager.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void ShowAbout();
    void ShowHelp();

    Shell& shell_;
    QTabWidget* pages_;
    QPointer<HelpWindow> help_;
};

}  // namespace vokta
