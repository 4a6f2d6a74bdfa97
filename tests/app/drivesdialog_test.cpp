// SPDX-License-Identifier: GPL-3.0-or-later
// Letters bound to diskette files: kept in the settings, bound into the drive table, and
// edited in the drives dialog.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>

#include "app/drivebindings.h"
#include "app/drivesdialog.h"
#include "drive/diskdrive.h"
#include "drive/media.h"
#include "ui/uitext.h"
#include "support/requiretools.h"
#include "support/tempdir.h"

using namespace vokta;
using namespace vokta::test;

namespace {

struct StoredBindings : ::testing::Test {
    QTemporaryDir folder;
    QSettings store{folder.filePath("vokta.ini"), QSettings::IniFormat};
};

TEST_F(StoredBindings, ReadBackAsWrittenInLetterOrder)
{
    const std::vector<DriveOption> written = {
        {'Z', "/data/with, a comma,type=and more.img", DriveKind::Floppy525HD},
        {'A', "/data/a.img", DriveKind::Floppy35HD},
        {'B', "/dev/fd1", DriveKind::Floppy35DD},
    };
    WriteDriveBindings(store, written);
    store.sync();
    QSettings again(store.fileName(), QSettings::IniFormat);
    again.beginGroup(kDrivesGroup);
    EXPECT_EQ(again.value("A").toString(), "/data/a.img,type=1.44m");
    EXPECT_EQ(again.value("B").toString(), "/dev/fd1,type=720k");
    again.endGroup();
    EXPECT_EQ(ReadDriveBindings(again), (std::vector<DriveOption>{written[1], written[2], written[0]}));

    // Writing again replaces: a letter no longer bound is gone from the store.
    WriteDriveBindings(store, {written[1]});
    EXPECT_EQ(ReadDriveBindings(store), std::vector<DriveOption>{written[1]});
}

TEST_F(StoredBindings, EntriesThatAreNoBindingArePassedOver)
{
    store.beginGroup(kDrivesGroup);
    store.setValue("C", "/good.img,type=720k");
    store.setValue("D", "");                      // no file
    store.setValue("E", "/x.img,type=2.88m");     // no such type for a diskette file
    store.setValue("F", ",type=1.44m");           // a type but no file
    store.setValue("GH", "/y.img");               // no letter
    store.setValue("1", "/z.img");                // no letter
    store.setValue("I", QStringList{"/a", "/b"});  // not a text
    store.endGroup();
    EXPECT_EQ(ReadDriveBindings(store), (std::vector<DriveOption>{{'C', "/good.img", DriveKind::Floppy35DD}}));
}

TEST(BindDrives, StoredAndCommandLineLettersOpenTheirDiskettesAndTheCommandLineWins)
{
    if (!RequireTools({"mkfs.fat", "mformat"}))
        return;
    TempDir dir;
    const std::string hd = dir.File("hd.img");
    const std::string dd = dir.File("dd.img");
    ASSERT_EQ(Shell("mkfs.fat -C '" + hd + "' 1440 >/dev/null"), 0);
    ASSERT_EQ(Shell("MTOOLS_SKIP_CHECK=1 mformat -C -i '" + dd + "' -f 720 :: >/dev/null 2>&1"), 0);

    DriveTable table;
    table.Bind(DriveBinding{'Q', SystemDriveType::Removable, "/old", {}});
    BindDrives(table, {{'A', hd, DriveKind::Floppy35HD}, {'K', hd, DriveKind::Floppy35HD}},
               {{'K', dd, DriveKind::Floppy35DD}});
    EXPECT_EQ(table.Find('Q'), nullptr);  // the table was built anew
    const std::pair<char, int32_t> expected[] = {{'A', kMedia144M}, {'K', kMedia720K}};
    for (const auto& [letter, media] : expected) {
        SCOPED_TRACE(letter);
        ASSERT_NE(table.Find(letter), nullptr);
        DiskDrive drive(letter, table);
        ASSERT_TRUE(drive.SelectMedia(kMediaUnknown, false));
        EXPECT_EQ(drive.mediaType, media);
    }
}

struct Dialog : ::testing::Test {
    TempDir dir;
    DrivesDialog dialog{{}};
    std::vector<std::pair<QString, Icon>> told;
    Answer answer = Answer::Yes;

    void SetUp() override
    {
        dialog.SetMessageBox([this](QWidget&, const std::string& text, const std::string&, Buttons, Icon icon) {
            told.emplace_back(QString::fromStdString(text), icon);
            return answer;
        });
    }

    template <typename T>
    T* Control(Str id)
    {
        T* control = FindControl<T>(&dialog, static_cast<int>(id));
        EXPECT_NE(control, nullptr);
        return control;
    }

    void Add(char letter, const std::string& path, const QString& kind = "FLOPPY 3½ 1.44M")
    {
        Control<QComboBox>(Str::TipBindingLetter)->setCurrentText(QString(QChar(letter)) + ':');
        Control<QLineEdit>(Str::TipBindingPath)->setText(QString::fromStdString(path));
        Control<QComboBox>(Str::TipBindingKind)->setCurrentText(kind);
        Control<QPushButton>(Str::TipAddBinding)->click();
    }

    QStringList Row(int row)
    {
        auto* table = Control<QTableWidget>(Str::TipDriveBindings);
        QStringList cells;
        for (int column = 0; column < table->columnCount(); ++column)
            cells << table->item(row, column)->text();
        return cells;
    }
};

TEST_F(Dialog, AddsReplacesAndRemovesBindings)
{
    const std::string first = dir.File("first.img");
    const std::string second = dir.File("second.imd");
    WriteFile(first, {});
    WriteFile(second, {});
    Add('B', first, "FLOPPY 3½ 720K");
    Add('A', first);
    Add('B', second, "FLOPPY 5¼ 1.2M");  // B: bound a second time: the second binding holds
    EXPECT_TRUE(told.empty());
    EXPECT_EQ(dialog.bindings(), (std::vector<DriveOption>{{'A', first, DriveKind::Floppy35HD},
                                                          {'B', second, DriveKind::Floppy525HD}}));
    auto* table = Control<QTableWidget>(Str::TipDriveBindings);
    ASSERT_EQ(table->rowCount(), 2);
    EXPECT_EQ(Row(0), (QStringList{"A:", QString::fromStdString(first), "FLOPPY 3½ 1.44M"}));
    EXPECT_EQ(Row(1), (QStringList{"B:", QString::fromStdString(second), "FLOPPY 5¼ 1.2M"}));

    table->selectRow(0);
    Control<QPushButton>(Str::TipRemoveBinding)->click();
    EXPECT_EQ(dialog.bindings(), (std::vector<DriveOption>{{'B', second, DriveKind::Floppy525HD}}));
    EXPECT_EQ(table->rowCount(), 1);
    EXPECT_FALSE(Control<QPushButton>(Str::TipRemoveBinding)->isEnabled());  // nothing selected
}

TEST_F(Dialog, AMissingFileIsCreatedEmptyOnlyWhenTheUserAgrees)
{
    const std::string declined = dir.File("declined.img");
    answer = Answer::No;
    Add('C', declined);
    EXPECT_FALSE(FileExists(declined));
    EXPECT_TRUE(dialog.bindings().empty());
    ASSERT_EQ(told.size(), 1u);
    EXPECT_TRUE(told[0].first.startsWith(QString::fromStdString(declined) + " does not exist."));
    EXPECT_EQ(told[0].second, Icon::Question);

    const std::string agreed = dir.File("agreed.img");
    answer = Answer::Yes;
    Add('C', agreed);
    ASSERT_TRUE(FileExists(agreed));
    EXPECT_TRUE(ReadFile(agreed).empty());  // an unformatted diskette
    EXPECT_EQ(dialog.bindings(), (std::vector<DriveOption>{{'C', agreed, DriveKind::Floppy35HD}}));
}

TEST_F(Dialog, AFolderOrAFileThatCannotBeMadeIsRefusedWithItsReason)
{
    Add('D', dir.path());
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].first, QString::fromStdString(dir.path() + ": is a directory"));
    EXPECT_EQ(told[0].second, Icon::Error);

    told.clear();
    const std::string unreachable = dir.File("no folder/x.img");
    Add('D', unreachable);
    ASSERT_EQ(told.size(), 2u);  // the offer to create it, then why it could not be
    EXPECT_EQ(told[1].first, QString::fromStdString(unreachable + " could not be created: No such file or directory"));
    EXPECT_EQ(told[1].second, Icon::Error);
    EXPECT_TRUE(dialog.bindings().empty());
    // What was typed stays, to be corrected.
    EXPECT_EQ(Control<QLineEdit>(Str::TipBindingPath)->text(), QString::fromStdString(unreachable));
}

TEST_F(Dialog, BrowseOffersDisketteFilesAndTakesANewName)
{
    FileRequest asked;
    dialog.SetFileChooser([&](QWidget*, const FileRequest& request) {
        asked = request;
        return QString::fromStdString(dir.File("new.img"));
    });
    auto* browse = FindControl<QPushButton>(&dialog, static_cast<int>(Str::TipBrowseDisketteFile));
    ASSERT_NE(browse, nullptr);
    browse->click();
    EXPECT_EQ(Control<QLineEdit>(Str::TipBindingPath)->text(), QString::fromStdString(dir.File("new.img")));
    EXPECT_EQ(asked.filter,
              "Diskette and Flux Files (*.img *.ima *.dim *.imd *.scp *.hfe);;Flux Files (*.scp *.hfe);;"
              "Diskette Files (*.img *.ima *.dim *.imd);;All Files (*)");
    EXPECT_FALSE(asked.mustExist);
}

TEST(FileFilters, TheStringTablesFiltersInQtsForm)
{
    EXPECT_EQ(QtFileFilter(UiText(Str::SoundFileFilter)), "Wave Sound Files (*.wav)");
    EXPECT_EQ(QtFileFilter(UiText(Str::ImageFileFilter)),
              "VOKTA Image Files (*.dim);;Physical Image Files (*.ima);;All Files (*)");
    EXPECT_EQ(QtFileFilter("Texts|*.txt;*.text||"), "Texts (*.txt *.text)");
    EXPECT_EQ(QtFileFilter(""), "");
}

}  // namespace
