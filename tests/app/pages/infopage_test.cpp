// SPDX-License-Identifier: GPL-3.0-or-later
// The Info page as its user drives it: Get Info on diskettes made by mkfs.fat and on an
// emulated drive, the "&Save ..." button's state, the saved report, the insert-disk question.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "ui/pagetesting.h"
#include "app/pages/infopage.h"
#include "ui/uitext.h"
#include "support/requiretools.h"
#include "support/tempdir.h"
#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::test;

namespace {

// Answers every message box that opens with `button`, and remembers its text.
class MessageBoxAnswerer {
public:
    explicit MessageBoxAnswerer(QMessageBox::StandardButton button)
    {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this, button] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr)
                return;
            texts.push_back(box->text());
            box->button(button)->click();
        });
        timer_.start();
    }
    QStringList texts;

private:
    QTimer timer_;
};

struct InfoPageTest : ::testing::Test {
    vokta::Shell shell;
    DriveTable table;
    std::vector<std::string> played;
    std::unique_ptr<InfoPage> page;

    void SetUp() override
    {
        shell.settings.jobCompletedSoundPath = "done.wav";
        shell.settings.errorSoundPath = "error.wav";
    }

    void Build(DriveTable& drives)
    {
        shell.drives = &drives;
        page = std::make_unique<InfoPage>(shell);
        page->SetSoundPlayer([this](const std::string& sound) { played.push_back(sound); });
        page->show();
        WaitForDriveSelectors(page.get());
    }

    template <typename T = QWidget>
    T* Control(int id)
    {
        return ControlOf<T>(page.get(), id);
    }

    QStringList Report()
    {
        QStringList lines;
        auto* list = Control<QListWidget>(InfoControl::Report);
        for (int row = 0; row < list->count(); ++row)
            lines << list->item(row)->text();
        return lines;
    }

    // Get Info as the user clicks it: "Wait ..." with the button and the drive selector off
    // while the report is gathered off the window's thread, then the report.
    void GetInfoAndWait()
    {
        auto* getInfo = Control<QPushButton>(InfoControl::GetInfo);
        getInfo->click();
        EXPECT_EQ(getInfo->text().toStdString(), LoadString(Str::Wait));
        EXPECT_FALSE(Control(InfoControl::Drive)->isEnabled());
        EXPECT_TRUE(QTest::qWaitFor([getInfo] { return getInfo->isEnabled(); }, 30000));
        EXPECT_TRUE(Control(InfoControl::Drive)->isEnabled());
    }

    void Choose(char letter)
    {
        auto* drive = Control<QComboBox>(InfoControl::Drive);
        const int index = drive->findText(QString("%1:").arg(letter), Qt::MatchStartsWith);
        ASSERT_GE(index, 0) << letter;
        drive->setCurrentIndex(index);
    }

    // A 1.44M diskette file made by mkfs.fat, bound to `letter` of the test's table.
    std::shared_ptr<RecordingService> MakeDiskette(const TempDir& folder, char letter)
    {
        const std::string path = folder.File(std::string(1, letter) + ".img");
        if (vokta::test::Shell("mkfs.fat -C " + path + " 1440 >/dev/null") != 0)
            return nullptr;
        return BindRecordedFile(table, letter, path, DriveKind::Floppy35HD);
    }
};

TEST_F(InfoPageTest, ControlsCarryTheirIdsTextsAndOrder)
{
    Build(table);
    using InfoControl::Drive, InfoControl::GetInfo, InfoControl::Save;
    EXPECT_EQ(Control<QPushButton>(GetInfo)->text(), "&Get Info");
    EXPECT_EQ(Control<QPushButton>(Save)->text(), "&Save ...");
    EXPECT_EQ(Control<QListWidget>(InfoControl::Report)->selectionMode(), QAbstractItemView::NoSelection);
    EXPECT_EQ(Control(GetInfo)->nextInFocusChain(), Control(Save));
    EXPECT_EQ(Control(Save)->nextInFocusChain(), Control(Drive));
    for (const int id : {GetInfo, Save, Drive, InfoControl::Report})
        EXPECT_FALSE(LoadString(static_cast<Str>(id)).empty()) << "no tool tip for " << id;
}

TEST_F(InfoPageTest, SaveIsEnabledByGetInfoAndDisabledByAnotherDrive)
{
    if (!RequireTools({"mkfs.fat"}))
        return;
    TempDir folder;
    const auto a = MakeDiskette(folder, 'A');
    const auto b = MakeDiskette(folder, 'B');
    ASSERT_TRUE(a && b);
    Build(table);
    auto* save = Control<QPushButton>(InfoControl::Save);
    EXPECT_FALSE(save->isEnabled());
    Choose('A');
    GetInfoAndWait();
    EXPECT_TRUE(save->isEnabled());
    EXPECT_EQ(Report().value(1), "Detected Media = 1.44M (DS HD)");
    EXPECT_EQ(played, std::vector<std::string>{"done.wav"});
    EXPECT_EQ(Control<QPushButton>(InfoControl::GetInfo)->text(), "&Get Info");

    Choose('B');
    EXPECT_FALSE(save->isEnabled());
    EXPECT_TRUE(Report().isEmpty());
    EXPECT_EQ(shell.currentDriveText.substr(0, 2), "B:");

    // Leaving the page and coming back empties the list but leaves Save as it was.
    GetInfoAndWait();
    page->hide();
    page->show();
    WaitForDriveSelectors(page.get());
    EXPECT_TRUE(Report().isEmpty());
    EXPECT_TRUE(save->isEnabled());
}

TEST_F(InfoPageTest, SavedReportOfA144MDisketteHas29CrLfLines)
{
    if (!RequireTools({"mkfs.fat"}))
        return;
    TempDir folder;
    const auto a = MakeDiskette(folder, 'A');
    ASSERT_TRUE(a);
    Build(table);
    Choose('A');
    GetInfoAndWait();
    const std::string path = folder.File("report.txt");
    WriteFile(path, std::vector<uint8_t>(5000, 'x'));  // replaced without a question
    FileRequest asked;
    page->SetFileChooser([&](QWidget*, const FileRequest& request) {
        asked = request;
        return QString::fromStdString(path);
    });
    MessageBoxAnswerer user(QMessageBox::Ok);
    Control<QPushButton>(InfoControl::Save)->click();
    EXPECT_TRUE(user.texts.isEmpty()) << user.texts.join('\n').toStdString();
    EXPECT_TRUE(asked.forSaving);
    EXPECT_EQ(asked.defaultSuffix, "txt");
    EXPECT_EQ(asked.fileName, "*.txt");

    const std::vector<uint8_t> bytes = ReadFile(path);
    const QString text = QString::fromLatin1(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()));
    ASSERT_TRUE(text.endsWith("\r\n"));
    QStringList lines = text.split("\r\n");
    lines.removeLast();
    ASSERT_EQ(lines.size(), 29) << text.toStdString();
    EXPECT_EQ(lines[0], "-------------- Vokta Information report --------------");
    EXPECT_EQ(lines[1], "Drive = A:");
    EXPECT_EQ(lines[2], "Volume Label = <none>");
    EXPECT_TRUE(lines.contains("Total Disk Sectors = 2880"));
    EXPECT_TRUE(lines.contains("Disk Size = 1.475 MB"));
    EXPECT_TRUE(lines.contains("Root Dir Sector = 19"));
    EXPECT_EQ(lines[28], "First DATA Sector = 33");
    EXPECT_EQ(lines.mid(2), Report());
    EXPECT_FALSE(text.contains('\n' + QString("\n")));
}

TEST_F(InfoPageTest, CancellingTheInsertDiskQuestionKeepsThePreviousReport)
{
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    setup.drive->Insert(EmulatedMedium::FromImage(kMedia144M, FatImage(kMedia144M)));
    Build(setup.table);
    Choose('A');
    GetInfoAndWait();
    const QStringList before = Report();
    ASSERT_EQ(before.size(), 27);

    setup.drive->Eject();
    MessageBoxAnswerer user(QMessageBox::Cancel);
    GetInfoAndWait();
    EXPECT_EQ(user.texts, QStringList{"Please insert a disk !"});
    EXPECT_EQ(Report(), before);
    auto* getInfo = Control<QPushButton>(InfoControl::GetInfo);
    EXPECT_TRUE(getInfo->isEnabled());
    EXPECT_EQ(getInfo->text(), "&Get Info");
    EXPECT_EQ(played, std::vector<std::string>{"done.wav"});
}

TEST_F(InfoPageTest, UnformattedDisketteGivesTheErrorLineAndLeavesSaveDisabled)
{
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    setup.drive->Insert(EmulatedMedium(MediumDensity::High));
    Build(setup.table);
    Choose('A');
    GetInfoAndWait();
    EXPECT_EQ(Report(), QStringList{"Error: Cannot establish the media type !"});
    EXPECT_FALSE(Control<QPushButton>(InfoControl::Save)->isEnabled());
    EXPECT_EQ(played, std::vector<std::string>{"error.wav"});
}

}  // namespace
