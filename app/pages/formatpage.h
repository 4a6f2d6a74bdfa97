// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <memory>

#include "ui/driveselector.h"
#include "ui/shell.h"
#include "format/format.h"
#include "ui/qthost.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;

namespace vokta {

// The controls of the page by their ids; each one's tool tip is the string of its id.
namespace FormatControl {
constexpr int Drive = 1027;
constexpr int MediaAuto = 1100;
constexpr int Media720K = 1102;
constexpr int Media144M = 1104;
constexpr int Media12M = 1105;
constexpr int Media168M = 1106;
constexpr int Media172M = 1107;
constexpr int Standard = 1013;
constexpr int Optimized = 1014;
constexpr int Full = 1015;
constexpr int Quick = 1016;
constexpr int Label = 1017;
constexpr int StartFormat = 1055;
constexpr int Verify = 1056;
constexpr int ChangeLabel = 1083;
constexpr int Result = 1150;
}  // namespace FormatControl

// The second tab: the drive, the media, the sector layout, full or quick, the label and
// verification, then "&Start Format"; its choices follow the kind of drive selected.
class FormatPage final : public QWidget {
    Q_OBJECT

public:
    FormatPage(Shell& shell, QWidget* parent = nullptr);

    // The desktop's sound player by default (it returns when the sound has ended); a test
    // records in its place.
    void SetSoundPlayer(SoundPlayer player) { play_ = std::move(player); }

    // The choices of the controls, as the format operation reads them.
    FormatInputs Inputs() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildControls();
    QRadioButton* Radio(int id, QButtonGroup& group, QWidget* parent);
    // Adapts the choices to the kind of drive selected: a fixed disk is formatted low
    // level in the media it has, a 5¼-inch drive takes only 1.2M diskettes, and a 3½-inch
    // one every other media.
    void DriveChanged();
    void StartFormat();
    void ChangeVolumeLabel();

    Shell& shell_;
    SoundPlayer play_;
    QComboBox* drive_ = nullptr;
    QButtonGroup* media_ = nullptr;
    QButtonGroup* mode_ = nullptr;
    QButtonGroup* format_ = nullptr;
    QLineEdit* label_ = nullptr;
    QCheckBox* verify_ = nullptr;
    QLineEdit* result_ = nullptr;
    // Gathers the selector's entries off the window's thread; goes first, with the page.
    std::unique_ptr<DriveSelectorFiller> driveFill_;
};

}  // namespace vokta
