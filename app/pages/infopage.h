// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <memory>

#include "ui/filechooser.h"
#include "ui/driveselector.h"
#include "ui/shell.h"
#include "info/inforeport.h"
#include "ui/qthost.h"
#include "ops/runner.h"

class QComboBox;
class QListWidget;
class QPushButton;

namespace vokta {

// The controls of the page by their ids; each one's tool tip is the string of its id.
namespace InfoControl {
constexpr int GetInfo = 1049;
constexpr int Drive = 1050;
constexpr int Report = 1051;
constexpr int Save = 1148;
}  // namespace InfoControl

// The fifth tab: the information report of the chosen drive, gathered on a worker's thread
// while "&Get Info" reads "Wait ...", and saved as a text file.
class InfoPage final : public QWidget {
    Q_OBJECT

public:
    explicit InfoPage(Shell& shell, QWidget* parent = nullptr);

    // The desktop's sound player and save dialog by default; a test answers in their place.
    void SetSoundPlayer(SoundPlayer player) { play_ = std::move(player); }
    void SetFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }

protected:
    // Each time the tab is shown the drives are offered afresh and the report is gone.
    void showEvent(QShowEvent* event) override;

private:
    void BuildControls();
    void ReportOnDrive();
    void ReportGathered(const InfoResult& info, const QString& caption);
    void SetGathering(bool gathering);
    void DriveChanged();
    void SaveReport();
    void ShowReport(const std::vector<std::string>& lines);

    Shell& shell_;
    SoundPlayer play_;
    FileChooser chooseFile_ = AskForFile;
    QComboBox* drive_ = nullptr;
    QListWidget* report_ = nullptr;
    QPushButton* getInfo_ = nullptr;
    QPushButton* save_ = nullptr;
    std::unique_ptr<WorkerRun> run_;
    // Gathers the selector's entries off the window's thread; goes first, with the page.
    std::unique_ptr<DriveSelectorFiller> driveFill_;
};

}  // namespace vokta
