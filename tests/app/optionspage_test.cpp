// SPDX-License-Identifier: GPL-3.0-or-later
// The Options page as its user drives it: switches, sounds, language, and the drives
// dialog it opens, each change in the shell's settings at once.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include "app/drivebindings.h"
#include "app/drivesdialog.h"
#include "app/optionspage.h"
#include "ui/tooltips.h"
#include "ui/pagetesting.h"
#include "ui/uitext.h"
#include "support/tempdir.h"

using namespace vokta;
using namespace vokta::test;

namespace {

struct Options : ::testing::Test {
    QTemporaryDir folder;
    QSettings store{folder.filePath("vokta.ini"), QSettings::IniFormat};
    vokta::Shell shell;
    DriveTable table;
    std::vector<std::string> played;
    std::unique_ptr<OptionsPage> page;

    void SetUp() override
    {
        shell.drives = &table;
        shell.store = &store;
        shell.settings.enableHardDisks = true;
        shell.settings.enableToolTips = false;
        shell.settings.jobCompletedSoundPath = "/sounds/done.wav";
        Build();
    }

    void Build()
    {
        page = std::make_unique<OptionsPage>(shell);
        page->SetSoundPlayer([this](const std::string& sound) { played.push_back(sound); });
    }

    template <typename T = QWidget>
    T* Control(int id)
    {
        T* control = FindControl<T>(page.get(), id);
        EXPECT_NE(control, nullptr) << "control " << id;
        return control;
    }
};

TEST_F(Options, ControlsShowTheSettingsUnderTheirIdsAndTexts)
{
    using namespace OptionsControl;
    EXPECT_EQ(Control<QPushButton>(JobSoundBrowse)->text(), "&End ...");
    EXPECT_EQ(Control<QPushButton>(PlayJobSound)->text(), "&Play");
    EXPECT_EQ(Control<QPushButton>(ErrorSoundBrowse)->text(), "E&rror  ...");
    EXPECT_EQ(Control<QPushButton>(PlayErrorSound)->text(), "P&lay");
    EXPECT_EQ(Control<QPushButton>(Drives)->text(), "&Drives ...");
    EXPECT_EQ(Control<QLineEdit>(JobSoundText)->text(), "/sounds/done.wav");
    EXPECT_EQ(Control<QLineEdit>(ErrorSoundText)->text(), "SystemExclamation");
    EXPECT_FALSE(Control<QLineEdit>(ErrorSoundText)->isEnabled());
    EXPECT_TRUE(Control<QCheckBox>(HardDisks)->isChecked());
    EXPECT_FALSE(Control<QCheckBox>(ToolTips)->isChecked());
    EXPECT_TRUE(Control<QCheckBox>(HideSubst)->isChecked());
    EXPECT_EQ(Control<QCheckBox>(TopMost)->text(), "&Bring Vokta topmost after an operation");
    auto* language = Control<QComboBox>(Language);
    ASSERT_EQ(language->count(), 2);
    EXPECT_EQ(language->itemText(0), "English (U.S.)");
    EXPECT_EQ(language->itemText(1), "Italiano");
    EXPECT_EQ(language->currentIndex(), 0);
    EXPECT_NE(Control(BottomLine), nullptr);
}

TEST_F(Options, EverySwitchHoldsInTheSettingsAtOnce)
{
    using namespace OptionsControl;
    const std::pair<int, bool Settings::*> switches[] = {
        {ToolTips, &Settings::enableToolTips},
        {HardDisks, &Settings::enableHardDisks},
        {TopMost, &Settings::enableTopMostAtEnd},
        {MultiWriteFormat, &Settings::enableMultiWriteFormat},
        {HideSubst, &Settings::hideSubstDrives},
    };
    for (const auto& [id, setting] : switches) {
        SCOPED_TRACE(id);
        const bool before = shell.settings.*setting;
        Control<QCheckBox>(id)->click();
        EXPECT_EQ(shell.settings.*setting, !before);
        Control<QCheckBox>(id)->click();
        EXPECT_EQ(shell.settings.*setting, before);
    }
}

TEST_F(Options, AControlsTipIsTheStringOfItsIdWhileTipsAreOn)
{
    ToolTipRule rule(shell.settings);
    qApp->installEventFilter(&rule);
    page->show();
    const auto tipOf = [&](int id) { return ToolTipOf(Control(id)); };
    EXPECT_EQ(tipOf(OptionsControl::JobSoundBrowse), "");  // tips are off
    Control<QCheckBox>(OptionsControl::ToolTips)->click();
    EXPECT_EQ(tipOf(OptionsControl::JobSoundBrowse), "Set the Job Completed Sound.");
    EXPECT_EQ(tipOf(OptionsControl::Language), "Select a language");
    EXPECT_EQ(tipOf(OptionsControl::HideSubst), "Hide all drives created by the SUBST command");
    EXPECT_EQ(tipOf(OptionsControl::Drives), "Bind drive letters to diskette files or floppy drives.");
    qApp->removeEventFilter(&rule);
    QToolTip::hideText();
}

TEST_F(Options, AChosenSoundBecomesTheSettingAndItsTextAndIsPlayedOnce)
{
    struct Case {
        int browse;
        int text;
        std::string Settings::*setting;
    };
    for (const Case& sound : {Case{OptionsControl::JobSoundBrowse, OptionsControl::JobSoundText,
                                   &Settings::jobCompletedSoundPath},
                              Case{OptionsControl::ErrorSoundBrowse, OptionsControl::ErrorSoundText,
                                   &Settings::errorSoundPath}}) {
        SCOPED_TRACE(sound.browse);
        played.clear();
        FileRequest asked;
        const QString chosen = QStringLiteral("/home/user/Sounds/ding %1.wav").arg(sound.browse);
        page->SetFileChooser([&](QWidget*, const FileRequest& request) {
            asked = request;
            return chosen;
        });
        Control<QPushButton>(sound.browse)->click();
        EXPECT_EQ(shell.settings.*sound.setting, chosen.toStdString());
        EXPECT_EQ(Control<QLineEdit>(sound.text)->text(), chosen);
        EXPECT_EQ(played, std::vector<std::string>{chosen.toStdString()});
        EXPECT_EQ(asked.filter, "Wave Sound Files (*.wav)");
        EXPECT_EQ(asked.fileName, "*.wav");
        EXPECT_TRUE(asked.mustExist);
        EXPECT_EQ(asked.folder, QDir("/usr/share/sounds").exists() ? "/usr/share/sounds" : QDir::homePath());
    }
}

TEST_F(Options, ACancelledFileDialogChangesNothing)
{
    page->SetFileChooser([](QWidget*, const FileRequest&) { return QString(); });
    Control<QPushButton>(OptionsControl::ErrorSoundBrowse)->click();
    Control<QPushButton>(OptionsControl::JobSoundBrowse)->click();
    EXPECT_EQ(shell.settings.errorSoundPath, "SystemExclamation");
    EXPECT_EQ(shell.settings.jobCompletedSoundPath, "/sounds/done.wav");
    EXPECT_EQ(Control<QLineEdit>(OptionsControl::JobSoundText)->text(), "/sounds/done.wav");
    EXPECT_TRUE(played.empty());
}

TEST_F(Options, PlayKeepsItsButtonDisabledUntilTheSoundHasEnded)
{
    for (const auto& [id, expected] : {std::pair{OptionsControl::PlayJobSound, "/sounds/done.wav"},
                                       std::pair{OptionsControl::PlayErrorSound, "SystemExclamation"}}) {
        SCOPED_TRACE(id);
        auto* button = Control<QPushButton>(id);
        std::vector<bool> enabledWhilePlaying;
        std::string sound;
        page->SetSoundPlayer([&](const std::string& name) {
            sound = name;
            enabledWhilePlaying.push_back(button->isEnabled());
        });
        button->click();
        EXPECT_EQ(sound, expected);
        EXPECT_EQ(enabledWhilePlaying, std::vector<bool>{false});
        EXPECT_TRUE(button->isEnabled());
    }
}

TEST_F(Options, ChoosingALanguageSetsItAndAsksForTheWindowAnew)
{
    int rebuilds = 0;
    QObject::connect(page.get(), &OptionsPage::languageChanged, [&] { ++rebuilds; });
    auto* language = Control<QComboBox>(OptionsControl::Language);
    language->setCurrentIndex(1);
    EXPECT_EQ(shell.settings.language, 1);
    EXPECT_EQ(rebuilds, 1);
    language->setCurrentIndex(0);
    EXPECT_EQ(shell.settings.language, 0);
    EXPECT_EQ(rebuilds, 2);

    // The page built again in Italian shows its language without asking for another window.
    shell.settings.language = 1;
    Build();
    int rebuildsOfTheNewPage = 0;
    QObject::connect(page.get(), &OptionsPage::languageChanged, [&] { ++rebuildsOfTheNewPage; });
    EXPECT_EQ(Control<QComboBox>(OptionsControl::Language)->currentText(), "Italiano");
    EXPECT_EQ(rebuildsOfTheNewPage, 0);
}

TEST_F(Options, DrivesBoundInTheDialogAreStoredAndBoundAtOnce)
{
    TempDir dir;
    const std::string diskette = dir.File("k.img");
    WriteFile(diskette, {});
    // A: bound too, so that no default diskette file is made in the user's data folder.
    shell.commandLineDrives = {DriveOption{'A', dir.File("a.img"), DriveKind::Floppy35HD},
                               DriveOption{'M', dir.File("m.img"), DriveKind::Floppy35DD}};
    bool dialogSeen = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<DrivesDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialogSeen = true;
        FindControl<QComboBox>(dialog, static_cast<int>(Str::TipBindingLetter))->setCurrentText("K:");
        FindControl<QLineEdit>(dialog, static_cast<int>(Str::TipBindingPath))->setText(QString::fromStdString(diskette));
        FindControl<QPushButton>(dialog, static_cast<int>(Str::TipAddBinding))->click();
        FindControl<QPushButton>(dialog, static_cast<int>(Str::TipKeepBindings))->click();
    });
    Control<QPushButton>(OptionsControl::Drives)->click();
    ASSERT_TRUE(dialogSeen);

    const DriveBinding* bound = table.Find('K');
    ASSERT_NE(bound, nullptr);
    EXPECT_EQ(bound->path, diskette);
    EXPECT_NE(table.Find('M'), nullptr);  // the command line's binding stays for the run
    QSettings again(store.fileName(), QSettings::IniFormat);
    EXPECT_EQ(ReadDriveBindings(again), (std::vector<DriveOption>{{'K', diskette, DriveKind::Floppy35HD}}));
}

}  // namespace
