// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <functional>
#include <string>

#include "ui/filechooser.h"
#include "ui/shell.h"
#include "ui/qthost.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace vokta {

// The controls of the page by their ids; each one's tool tip is the string of its id.
namespace OptionsControl {
constexpr int JobSoundBrowse = 1084;
constexpr int ErrorSoundBrowse = 1085;
constexpr int JobSoundText = 1086;
constexpr int ErrorSoundText = 1087;
constexpr int HardDisks = 1088;
constexpr int ToolTips = 1089;
constexpr int PlayJobSound = 1090;
constexpr int PlayErrorSound = 1091;
constexpr int TopMost = 1094;
constexpr int MultiWriteFormat = 1095;
constexpr int BottomLine = 1096;
constexpr int Language = 1149;
constexpr int HideSubst = 1153;
constexpr int Drives = 2800;
}  // namespace OptionsControl

// The sixth tab: the two sounds, the five switches, the language, and the letters bound to
// diskette files or floppy drives. Every change holds in the shell's settings at once.
class OptionsPage final : public QWidget {
    Q_OBJECT

public:
    explicit OptionsPage(Shell& shell, QWidget* parent = nullptr);

    // The desktop's sound player (which returns when the sound has ended) and file dialog
    // by default; a test answers in their place.
    void SetSoundPlayer(SoundPlayer player) { play_ = std::move(player); }
    void SetFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }

signals:
    // Another language was chosen: the main window closes as by "&Quit", and start-up
    // builds it again in that language, on this page.
    void languageChanged();

private:
    void BuildControls();
    QWidget* Switch(int id, bool Settings::*setting);
    void BrowseSound(std::string Settings::*setting, QLineEdit* shown);
    void PlaySound(QPushButton* button, std::string Settings::*setting);
    void ChooseLanguage();
    void EditDrives();

    Shell& shell_;
    SoundPlayer play_;
    FileChooser chooseFile_ = AskForFile;
    QComboBox* language_ = nullptr;
};

}  // namespace vokta
