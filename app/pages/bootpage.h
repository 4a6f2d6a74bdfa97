// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <memory>

#include "ui/driveselector.h"
#include "ui/shell.h"
#include "boot/bootworkers.h"
#include "ui/qthost.h"
#include "ops/runner.h"

class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;

namespace vokta {

// The controls of the page by their ids; each one's tool tip is the string of its id.
namespace BootControl {
constexpr int Recreate = 1001;
constexpr int Check = 1002;
constexpr int Drive = 1047;
constexpr int State = 1048;
constexpr int Results = 1054;
}  // namespace BootControl

class BootPageReporter;

// The fourth tab: checks the boot sector of the chosen drive test by test, or writes a good
// one over it. Each runs on a thread of its own with no progress dialog: the page turns
// its buttons off meanwhile and shows the worker's progress in its state text and its
// findings in the results list, while the drive selector and the other tabs stay usable.
class BootPage final : public QWidget {
    Q_OBJECT

public:
    explicit BootPage(Shell& shell, QWidget* parent = nullptr);
    // A worker still running is let go: it shows nothing more, and is waited for at
    // program exit, so that a write under way still reaches the diskette.
    ~BootPage() override;

    // The desktop's sound player by default (it returns when the sound has ended); a test
    // records in its place. Called on the worker's thread.
    void SetSoundPlayer(SoundPlayer player) { play_ = std::move(player); }

protected:
    // Each time the tab is shown the drives are offered afresh and the page is unchecked.
    void showEvent(QShowEvent* event) override;

private:
    void BuildControls();
    void Uncheck();
    void DriveChosen();
    void EnableActions(bool enabled);
    void Start(bool (*work)(const BootJob&, BootReporter&, const DriveTable&), const QString& caption);

    friend class BootPageReporter;

    Shell& shell_;
    SoundPlayer play_;
    QPushButton* check_ = nullptr;
    QPushButton* recreate_ = nullptr;
    QComboBox* drive_ = nullptr;
    QLabel* state_ = nullptr;
    QListWidget* results_ = nullptr;
    std::unique_ptr<WorkerRun> run_;
    // Gathers the selector's entries off the window's thread; goes first, with the page.
    std::unique_ptr<DriveSelectorFiller> driveFill_;
};

}  // namespace vokta
