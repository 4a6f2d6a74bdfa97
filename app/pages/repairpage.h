// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <memory>

#include "ui/driveselector.h"
#include "ui/shell.h"
#include "fat/repair.h"
#include "ui/qthost.h"

class QButtonGroup;
class QComboBox;
class QLineEdit;
class QRadioButton;

namespace vokta {

// The controls of the page by their ids; each one's tool tip is the string of its id.
namespace RepairControl {
constexpr int Start = 1021;
constexpr int BootWriteNew = 1022;
constexpr int BootStop = 1023;
constexpr int SystemFormat = 1024;
constexpr int SystemChecker = 1025;
constexpr int SystemStop = 1026;
constexpr int Drive = 1028;
constexpr int DataFormat = 1057;
constexpr int DataMarkCylinder = 1058;
constexpr int DataMarkTrack = 1059;
constexpr int DataStop = 1060;
constexpr int Result = 1093;
}  // namespace RepairControl

// The third tab: what to do at a damaged boot sector, system area and data area, the
// drive, and "&Start"; the system's disk checker follows a repair that asked for it.
class RepairPage final : public QWidget {
    Q_OBJECT

public:
    explicit RepairPage(Shell& shell, QWidget* parent = nullptr);

    // The desktop's sound player by default (it returns when the sound has ended); a test
    // records in its place.
    void SetSoundPlayer(SoundPlayer player) { play_ = std::move(player); }

    // The choices as the groups show them now.
    const RepairInputs& Inputs() const { return *inputs_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildControls();
    QRadioButton* Radio(int id, QButtonGroup& group, QWidget* parent);
    void ChoicesChanged();
    void StartRepair();
    void RunDiskCheckerOnDrive();

    Shell& shell_;
    SoundPlayer play_;
    // What a running repair reads when an error needs a decision: the groups' checked
    // buttons, kept here as they change. Nothing changes them while the operation runs,
    // for its progress dialog and message boxes keep the user off the page.
    std::shared_ptr<RepairInputs> inputs_ = std::make_shared<RepairInputs>();
    QComboBox* drive_ = nullptr;
    QButtonGroup* boot_ = nullptr;
    QButtonGroup* system_ = nullptr;
    QButtonGroup* data_ = nullptr;
    QLineEdit* result_ = nullptr;
    // Gathers the selector's entries off the window's thread; goes first, with the page.
    std::unique_ptr<DriveSelectorFiller> driveFill_;
};

}  // namespace vokta
