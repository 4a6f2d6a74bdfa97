// SPDX-License-Identifier: GPL-3.0-or-later
// The Format page and its volume label dialog as their user drives them, on diskette files
// and emulated drives of the test's own table; the diskettes checked with dosfstools and
// mtools.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <fstream>

#include "drive/backend/emulated/emulateddrive.h"
#include "ui/tooltips.h"
#include "drive/diskerror.h"
#include "app/pages/formatpage.h"
#include "app/pages/volumelabeldialog.h"
#include "ui/pagetesting.h"
#include "ui/uitext.h"
#include "res/languagemodule.h"
#include "support/requiretools.h"
#include "support/tempdir.h"
#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::test;
using namespace vokta::FormatControl;

namespace {

struct FormatPageTest : ::testing::Test {
    TempDir dir;
    DriveTable table;
    vokta::Shell shell;
    std::unique_ptr<FormatPage> page;

    void SetUp() override
    {
        UseTestDrives(shell, table, dir);
        shell.settings.enableMultiWriteFormat = false;
        shell.settings.enableTopMostAtEnd = false;
    }
    ~FormatPageTest() override { SetResourceModule(nullptr); }

    // A diskette file in a drive of `kind` on `letter`, made by `make` with IMG for its
    // path; an empty file is an unformatted diskette.
    std::string BindFile(char letter, DriveKind kind, std::string make = "truncate -s 0 IMG")
    {
        const std::string path = dir.File(std::string(1, letter) + ".img");
        make.replace(make.find("IMG"), 3, "'" + path + "'");
        EXPECT_EQ(test::Shell(make + " >/dev/null 2>&1"), 0) << make;
        table.Bind(BindingFor(DriveOption{letter, path, kind}));
        return path;
    }

    void Open()
    {
        page = std::make_unique<FormatPage>(shell);
        page->SetSoundPlayer([](const std::string&) {});
        page->resize(page->sizeHint());
        page->show();
        WaitForDriveSelectors(page.get());
    }

    template <typename T = QWidget>
    T* Control(int id)
    {
        return ControlOf<T>(page.get(), id);
    }

    void ChooseDrive(char letter)
    {
        auto* drive = Control<QComboBox>(Drive);
        for (int i = 0; i < drive->count(); ++i)
            if (drive->itemText(i).startsWith(QChar(letter))) {
                drive->setCurrentIndex(i);
                emit drive->activated(i);
                return;
            }
        ADD_FAILURE() << "no drive " << letter;
    }

    std::vector<int> EnabledMedia()
    {
        std::vector<int> enabled;
        for (int id : {MediaAuto, Media720K, Media12M, Media144M, Media168M, Media172M})
            if (Control(id)->isEnabled())
                enabled.push_back(id);
        return enabled;
    }

    std::string Tool(const std::string& command, const std::string& image)
    {
        std::string out;
        test::Shell(command + " -i '" + image + "' :: 2>&1", &out);
        return out;
    }
};

TEST_F(FormatPageTest, AFixedDiskIsFormattedLowLevelInItsOwnMediaOnly)
{
    BindFile('A', DriveKind::Floppy35HD);
    BindRecorded(table, 'C', std::make_unique<EmulatedDrive>(DriveKind::FixedDisk, 3), SystemDriveType::Fixed);
    shell.settings.enableHardDisks = true;
    Open();
    Control<QRadioButton>(Media144M)->click();
    ChooseDrive('C');
    EXPECT_EQ(shell.currentDriveText.substr(0, 2), "C:");
    EXPECT_EQ(Control<QRadioButton>(Standard)->text(), "Lo&w Level");
    EXPECT_TRUE(Control<QRadioButton>(Standard)->isChecked());
    EXPECT_FALSE(Control(Optimized)->isEnabled());
    EXPECT_TRUE(Control<QRadioButton>(MediaAuto)->isChecked());
    EXPECT_EQ(EnabledMedia(), std::vector<int>{MediaAuto});

    ChooseDrive('A');
    EXPECT_EQ(Control<QRadioButton>(Standard)->text(), "Stan&dard");
    EXPECT_TRUE(Control(Optimized)->isEnabled());
    EXPECT_EQ(EnabledMedia(), (std::vector<int>{MediaAuto, Media720K, Media144M, Media168M, Media172M}));
}

TEST_F(FormatPageTest, AFiveAndAQuarterInchDriveTakesOnly12MDiskettes)
{
    BindFile('A', DriveKind::Floppy35HD);
    BindFile('B', DriveKind::Floppy525HD);
    Open();
    ChooseDrive('B');
    EXPECT_EQ(EnabledMedia(), (std::vector<int>{MediaAuto, Media12M}));
    EXPECT_EQ(Control<QRadioButton>(Standard)->text(), "Stan&dard");
    ChooseDrive('A');
    EXPECT_EQ(EnabledMedia(), (std::vector<int>{MediaAuto, Media720K, Media144M, Media168M, Media172M}));
    EXPECT_TRUE(Control<QRadioButton>(MediaAuto)->isChecked());
}

TEST_F(FormatPageTest, QuickGreysTheLayoutAndFullBringsItBack)
{
    BindFile('A', DriveKind::Floppy35HD);
    Open();
    EXPECT_TRUE(Control<QRadioButton>(Full)->isChecked());
    EXPECT_TRUE(Control<QRadioButton>(Optimized)->isChecked());
    Control<QRadioButton>(Quick)->click();
    EXPECT_FALSE(Control(Standard)->isEnabled());
    EXPECT_FALSE(Control(Optimized)->isEnabled());
    EXPECT_FALSE(page->Inputs().full);
    Control<QRadioButton>(Full)->click();
    EXPECT_TRUE(Control(Standard)->isEnabled());
    EXPECT_TRUE(Control(Optimized)->isEnabled());
    EXPECT_TRUE(page->Inputs().full);
}

TEST_F(FormatPageTest, AnInvalidLabelCharacterIsNamedAndTakenOut)
{
    BindFile('A', DriveKind::Floppy35HD);
    Open();
    BoxAnswerer boxes;
    auto* label = Control<QLineEdit>(Label);
    label->setFocus();
    QTest::keyClicks(label, "A*B");
    EXPECT_EQ(label->text(), "AB");
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_EQ(boxes.texts[0], LoadString(Str::InvalidLabelLetter));
    EXPECT_FALSE(label->isUndoAvailable() && (label->undo(), label->text().contains('*')));

    // A paste with two invalid characters: each one named, each one taken out.
    label->clear();
    label->insert(QString::fromUtf8("é?x+y"));
    EXPECT_EQ(label->text(), QString::fromUtf8("éxy"));
    EXPECT_EQ(boxes.texts.size(), 3u);
    QTest::keyClicks(label, "123456789");
    EXPECT_EQ(label->text().size(), 11);
}

TEST_F(FormatPageTest, TabVisitsTheControlsInTheTemplatesOrderAndTipsFollowTheSetting)
{
    BindFile('A', DriveKind::Floppy35HD);
    Open();
    EXPECT_EQ(TabOrder(Control(Drive)), (std::vector<int>{Drive, MediaAuto, Media720K, Media12M, Media144M, Media168M, Media172M,
                                         Standard, Optimized, Full, Quick, Label, Verify, StartFormat, ChangeLabel}));

    ToolTipRule rule(shell.settings);
    qApp->installEventFilter(&rule);
    const auto tipOf = [&](int id) { return ToolTipOf(Control(id)); };
    shell.settings.enableToolTips = false;
    EXPECT_EQ(tipOf(Media168M), "");
    shell.settings.enableToolTips = true;
    EXPECT_EQ(tipOf(Media168M), "80 tracks, 21 sectors, 16 root entries");
    EXPECT_EQ(tipOf(ChangeLabel), "Edit the current drive Volume Label.");
}

TEST_F(FormatPageTest, VerifyFollowsTheSettingAndChangesIt)
{
    BindFile('A', DriveKind::Floppy35HD);
    shell.settings.verifyAfterFormat = false;
    Open();
    auto* verify = Control<QCheckBox>(Verify);
    EXPECT_FALSE(verify->isChecked());
    verify->click();
    EXPECT_TRUE(shell.settings.verifyAfterFormat);
    EXPECT_TRUE(page->Inputs().verify);
    shell.settings.enableMultiWriteFormat = true;
    EXPECT_TRUE(page->Inputs().multiple);
}

TEST_F(FormatPageTest, AFullFormatEndsOkWithADisketteTheToolsAccept)
{
    if (!RequireTools({"fsck.fat", "minfo", "mlabel"}))
        return;
    const std::string image = BindFile('A', DriveKind::Floppy35HD);
    Open();
    Control<QRadioButton>(Media144M)->click();
    Control<QRadioButton>(Standard)->click();
    QTest::keyClicks(Control<QLineEdit>(Label), "PAGEMADE");
    BoxAnswerer boxes;
    Control<QPushButton>(StartFormat)->click();
    EXPECT_EQ(Control<QLineEdit>(Result)->text(), "OK.");
    std::string fsck;
    EXPECT_EQ(test::Shell("fsck.fat -n '" + image + "' 2>&1", &fsck), 0) << fsck;
    EXPECT_NE(Tool("minfo", image).find("sectors per track: 18"), std::string::npos) << Tool("minfo", image);
    EXPECT_NE(Tool("mlabel -s", image).find("PAGEMADE"), std::string::npos);
    Shoot(*page, "format.png");
}

namespace {

// The dialog reads and writes off the window's thread, with "Change" off meanwhile.
bool LabelRead(VolumeLabelDialog& dialog)
{
    return FindControl<QPushButton>(&dialog, VolumeLabelControl::Change)->isEnabled();
}

}  // namespace

TEST_F(FormatPageTest, TheVolumeLabelDialogWritesALabelMtoolsReads)
{
    if (!RequireTools({"mkfs.fat", "mlabel"}))
        return;
    const std::string image = BindFile('A', DriveKind::Floppy35HD, "mkfs.fat -C -n OLDLABEL --invariant IMG 1440");
    Open();
    std::string shown;
    WhenModal<VolumeLabelDialog>(
        [&](VolumeLabelDialog& dialog) {
            auto* edit = FindControl<QLineEdit>(&dialog, VolumeLabelControl::Label);
            shown = edit->text().toStdString();
            Shoot(dialog, "volumelabel.png");
            edit->setText("FRESH ONE");
            FindControl<QPushButton>(&dialog, VolumeLabelControl::Change)->click();
        },
        LabelRead);
    Control<QPushButton>(ChangeLabel)->click();
    EXPECT_EQ(shown, "OLDLABEL");
    EXPECT_EQ(Control<QLineEdit>(Label)->text(), "FRESH ONE");
    EXPECT_NE(Tool("mlabel -s", image).find("FRESH ONE"), std::string::npos) << Tool("mlabel -s", image);
}

TEST_F(FormatPageTest, AWriteProtectedDisketteRefusesTheLabelAndTheDialogStays)
{
    if (!RequireTools({"mkfs.fat"}))
        return;
    // A diskette mkfs.fat made, in an emulated drive whose write-protect tab is set: the
    // refusal comes from the drive, as it would for root, who may write any file.
    const std::string made = BindFile('B', DriveKind::Floppy35HD, "mkfs.fat -C --invariant IMG 1440");
    std::ifstream file(made, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    setup.drive->Insert(EmulatedMedium::FromImage(kMedia144M, bytes));
    setup.drive->medium()->writeProtected = true;
    shell.drives = &setup.table;
    Open();
    BoxAnswerer boxes;
    bool stayedOpen = false;
    WhenModal<VolumeLabelDialog>(
        [&](VolumeLabelDialog& dialog) {
            FindControl<QLineEdit>(&dialog, VolumeLabelControl::Label)->setText("REFUSED");
            FindControl<QPushButton>(&dialog, VolumeLabelControl::Change)->click();
            EXPECT_TRUE(QTest::qWaitFor([&] { return LabelRead(dialog) && !boxes.texts.empty(); }, 30000));
            stayedOpen = dialog.isVisible();
            FindControl<QPushButton>(&dialog, VolumeLabelControl::Cancel)->click();
        },
        LabelRead);
    Control<QPushButton>(ChangeLabel)->click();
    EXPECT_TRUE(stayedOpen);
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_TRUE(boxes.texts[0].starts_with(LoadString(Str::CannotChangeLabel))) << boxes.texts[0];
    EXPECT_NE(boxes.texts[0].find(DiskErrorText(Err::WriteProtect)), std::string::npos) << boxes.texts[0];
    EXPECT_EQ(Control<QLineEdit>(Label)->text(), "");
    EXPECT_FALSE(setup.drive->modified);
}

TEST_F(FormatPageTest, TheItalianPageAfterAFormat)
{
    const StringTable* italian = LoadLanguageModule(VOKTA_BINARY_DIR "/lib/libvoktaita.so");
    ASSERT_NE(italian, nullptr);
    SetResourceModule(italian);
    BindFile('A', DriveKind::Floppy35HD);
    Open();
    EXPECT_EQ(Control<QPushButton>(StartFormat)->text(), "&Avvia formattazione");
    Control<QRadioButton>(Media720K)->click();
    Control<QRadioButton>(Standard)->click();
    Control<QCheckBox>(Verify)->click();
    BoxAnswerer boxes;
    Control<QPushButton>(StartFormat)->click();
    EXPECT_EQ(Control<QLineEdit>(Result)->text(), UiText(Str::Ok));
    Shoot(*page, "format-it.png");
}

}  // namespace
