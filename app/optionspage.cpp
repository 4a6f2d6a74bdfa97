// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/optionspage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/drivebindings.h"
#include "app/drivesdialog.h"
#include "ui/sounds.h"
#include "ui/uitext.h"

namespace vokta {
namespace {

// The language list holds each language by its own name, the same in every language
// module: they are no resources. Their order is the "Language" setting's value.
constexpr const char* kLanguageNames[] = {"English (U.S.)", "Italiano"};
constexpr const char* kItalianName = "Italiano";

// The system's sound folder, where a sound file is looked for first.
QString SystemSoundFolder()
{
    const QString sounds = QStringLiteral("/usr/share/sounds");
    return QDir(sounds).exists() ? sounds : QDir::homePath();
}

}  // namespace

OptionsPage::OptionsPage(Shell& shell, QWidget* parent) : QWidget(parent), shell_(shell), play_(PlaySoundAndWait)
{
    BuildControls();
}

QWidget* OptionsPage::Switch(int id, bool Settings::*setting)
{
    auto* box = WithControlId(new QCheckBox(UiText(Dialog::Options, id), this), id);
    box->setChecked(shell_.settings.*setting);
    connect(box, &QCheckBox::clicked, this, [this, setting](bool checked) { shell_.settings.*setting = checked; });
    return box;
}

void OptionsPage::BuildControls()
{
    using namespace OptionsControl;
    auto* sounds = new QGroupBox(UiText(Dialog::Options, Unnumbered::SoundsGroup), this);
    auto* soundRows = new QGridLayout(sounds);
    const struct {
        int browse;
        int play;
        int text;
        std::string Settings::*setting;
    } rows[] = {
        {JobSoundBrowse, PlayJobSound, JobSoundText, &Settings::jobCompletedSoundPath},
        {ErrorSoundBrowse, PlayErrorSound, ErrorSoundText, &Settings::errorSoundPath},
    };
    for (int row = 0; row < 2; ++row) {
        const auto& sound = rows[row];
        auto* browse = WithControlId(new QPushButton(UiText(Dialog::Options, sound.browse), sounds), sound.browse);
        auto* play = WithControlId(new QPushButton(UiText(Dialog::Options, sound.play), sounds), sound.play);
        auto* text = WithControlId(new QLineEdit(QString::fromStdString(shell_.settings.*sound.setting), sounds),
                                   sound.text);
        text->setReadOnly(true);
        text->setEnabled(false);
        soundRows->addWidget(browse, row, 0);
        soundRows->addWidget(play, row, 1);
        soundRows->addWidget(text, row, 2);
        connect(browse, &QPushButton::clicked, this, [this, sound, text] { BrowseSound(sound.setting, text); });
        connect(play, &QPushButton::clicked, this, [this, sound, play] { PlaySound(play, sound.setting); });
    }
    soundRows->setColumnStretch(2, 1);

    language_ = WithControlId(new QComboBox(this), Language);
    for (const char* name : kLanguageNames)
        language_->addItem(QString::fromUtf8(name));
    language_->setCurrentIndex(shell_.settings.language == 1 ? 1 : 0);
    connect(language_, &QComboBox::currentIndexChanged, this, &OptionsPage::ChooseLanguage);
    auto* languageLabel = new QLabel(UiText(Dialog::Options, Unnumbered::LanguageLabel), this);
    languageLabel->setBuddy(language_);

    auto* drives = WithControlId(new QPushButton(UiText(Dialog::Options, Unnumbered::DrivesButton), this), Drives);
    connect(drives, &QPushButton::clicked, this, &OptionsPage::EditDrives);

    auto* languageRow = new QHBoxLayout;
    languageRow->addWidget(languageLabel);
    languageRow->addWidget(language_);
    languageRow->addStretch();
    languageRow->addWidget(drives);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(sounds);
    layout->addWidget(Switch(ToolTips, &Settings::enableToolTips));
    layout->addWidget(Switch(HardDisks, &Settings::enableHardDisks));
    layout->addWidget(Switch(TopMost, &Settings::enableTopMostAtEnd));
    layout->addWidget(Switch(MultiWriteFormat, &Settings::enableMultiWriteFormat));
    layout->addWidget(Switch(HideSubst, &Settings::hideSubstDrives));
    layout->addLayout(languageRow);
    layout->addStretch();
    layout->addWidget(WithControlId(new QLabel(this), BottomLine));
}

void OptionsPage::BrowseSound(std::string Settings::*setting, QLineEdit* shown)
{
    FileRequest request;
    request.folder = SystemSoundFolder();
    request.fileName = QStringLiteral("*.wav");
    request.filter = QtFileFilter(UiText(Str::SoundFileFilter));
    request.defaultSuffix = QStringLiteral("wav");
    const QString chosen = chooseFile_(this, request);
    if (chosen.isEmpty())
        return;
    shell_.settings.*setting = chosen.toStdString();
    shown->setText(chosen);
    play_(shell_.settings.*setting);
}

void OptionsPage::PlaySound(QPushButton* button, std::string Settings::*setting)
{
    // The sound plays to its end before the page answers again, as the button shows.
    button->setEnabled(false);
    play_(shell_.settings.*setting);
    button->setEnabled(true);
}

void OptionsPage::ChooseLanguage()
{
    shell_.settings.language = language_->currentText() == QLatin1String(kItalianName) ? 1 : 0;
    emit languageChanged();
}

void OptionsPage::EditDrives()
{
    DrivesDialog dialog(shell_.store ? ReadDriveBindings(*shell_.store) : std::vector<DriveOption>(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (shell_.store) {
        WriteDriveBindings(*shell_.store, dialog.bindings());
        shell_.store->sync();
    }
    if (shell_.drives)
        BindDrives(*shell_.drives, dialog.bindings(), shell_.commandLineDrives);
}

}  // namespace vokta
