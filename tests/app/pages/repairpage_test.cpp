// SPDX-License-Identifier: GPL-3.0-or-later
// The Repair page as its user drives it, on diskettes made by mkfs.fat and mcopy: the
// choices of a fresh page, a repair handed to the disk checker, a repair that ends well.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <cstdlib>

#include "ui/tooltips.h"
#include "drive/backend/files/virtualdrive.h"
#include "app/pages/diskcheckerwindow.h"
#include "app/pages/repairpage.h"
#include "ui/pagetesting.h"
#include "ui/uitext.h"
#include "support/environmentvalue.h"
#include "support/imagediskfile.h"
#include "support/requiretools.h"
#include "support/tempdir.h"

using namespace vokta;
using namespace vokta::test;
using namespace vokta::RepairControl;

namespace {

constexpr uint32_t kFirstFatSector = 1;

struct RepairPageTest : ::testing::Test {
    TempDir dir;
    DriveTable table;
    vokta::Shell shell;
    std::unique_ptr<RepairPage> page;
    std::vector<std::string> sounds;

    void SetUp() override
    {
        UseTestDrives(shell, table, dir);
        shell.settings.enableTopMostAtEnd = false;
        shell.settings.jobCompletedSoundPath = "repaired.wav";
    }

    // A 1.44M diskette from mkfs.fat holding one file that mcopy wrote.
    std::string MakeDiskette()
    {
        const std::string image = dir.File("made.img");
        const std::string note = dir.File("note.txt");
        const std::string make = "mkfs.fat -C -n REPAIRME --invariant '" + image + "' 1440 && head -c 3000 /dev/urandom > '" +
                                 note + "' && mcopy -i '" + image + "' '" + note + "' ::NOTE.TXT";
        EXPECT_EQ(test::Shell(make + " >/dev/null 2>&1"), 0) << make;
        return image;
    }

    void Open(const std::string& diskette)
    {
        table.Bind(VirtualDriveBinding('A', diskette, DriveKind::Floppy35HD));
        page = std::make_unique<RepairPage>(shell);
        page->SetSoundPlayer([this](const std::string& sound) { sounds.push_back(sound); });
        page->resize(page->sizeHint());
        page->show();
        WaitForDriveSelectors(page.get());
    }

    template <typename T = QWidget>
    T* Control(int id)
    {
        return ControlOf<T>(page.get(), id);
    }

    std::vector<int> Checked()
    {
        std::vector<int> checked;
        for (int id : {BootWriteNew, BootStop, SystemFormat, SystemChecker, SystemStop, DataFormat, DataMarkTrack,
                       DataMarkCylinder, DataStop})
            if (Control<QRadioButton>(id)->isChecked())
                checked.push_back(id);
        return checked;
    }
};

TEST_F(RepairPageTest, AFreshPageStopsInEveryGroupAndKeepsTheChoicesItIsGiven)
{
    Open(dir.File("absent.img"));
    EXPECT_EQ(Checked(), (std::vector<int>{BootStop, SystemStop, DataStop}));
    EXPECT_EQ(page->Inputs().boot, BootChoice::Stop);
    EXPECT_EQ(page->Inputs().system, SystemChoice::Stop);
    EXPECT_EQ(page->Inputs().data, DataChoice::Stop);
    EXPECT_EQ(Control<QLineEdit>(Result)->text(), "?");
    EXPECT_TRUE(Control<QComboBox>(Drive)->currentText().startsWith("A:"));

    Control<QRadioButton>(BootWriteNew)->click();
    Control<QRadioButton>(DataMarkTrack)->click();
    page->hide();
    page->show();
    WaitForDriveSelectors(page.get());
    EXPECT_EQ(Checked(), (std::vector<int>{BootWriteNew, SystemStop, DataMarkTrack}));
    EXPECT_EQ(page->Inputs().boot, BootChoice::WriteNew);
    EXPECT_EQ(page->Inputs().data, DataChoice::MarkTrack);

    EXPECT_EQ(TabOrder(Control(Start)), (std::vector<int>{Start, BootWriteNew, BootStop, SystemFormat, SystemChecker, SystemStop,
                                         DataFormat, DataMarkTrack, DataMarkCylinder, DataStop, Drive}));

    ToolTipRule rule(shell.settings);
    qApp->installEventFilter(&rule);
    const auto tipOf = [&](int id) { return ToolTipOf(Control(id)); };
    shell.settings.enableToolTips = true;
    EXPECT_EQ(tipOf(BootWriteNew), "Automatically write a  good boot sector");
    EXPECT_EQ(tipOf(DataMarkCylinder), "Read data, Mark the whole cylinder BAD and Write back data");
}

// An unreadable FAT sector with the checker chosen: the repair ends aborted, and then the
// checker reports on the diskette in its own window; a checker that cannot be found is
// told in a box.
TEST_F(RepairPageTest, TheCheckerChoiceEndsAbortedAndShowsTheCheckersReport)
{
    if (!RequireTools({"mkfs.fat", "mcopy", "fsck.fat"}))
        return;
    const std::string damaged = dir.File("damaged.imd");
    WriteImageDiskFile(damaged, kMedia144M, ReadFile(MakeDiskette()), kFirstFatSector);
    Open(damaged);
    Control<QRadioButton>(SystemChecker)->click();
    {
        const EnvironmentValue noPath("PATH", "");
        BoxAnswerer boxes;
        Control<QPushButton>(Start)->click();
        ASSERT_EQ(boxes.texts.size(), 1u);
        EXPECT_TRUE(boxes.texts[0].starts_with("Cannot execute Scandiskw !\nfsck.fat could not be started"))
            << boxes.texts[0];
        EXPECT_EQ(Control<QLineEdit>(Result)->text(), "Aborted !");
    }

    QString resultWhileChecking, report, verdict, title;
    WhenModal<DiskCheckerWindow>(
        [&](DiskCheckerWindow& window) {
            resultWhileChecking = Control<QLineEdit>(Result)->text();
            report = window.Report();
            verdict = window.Verdict();
            title = window.windowTitle();
            Shoot(window, "diskchecker.png");
            window.reject();
        },
        [](DiskCheckerWindow& window) { return window.HasEnded(); });
    BoxAnswerer boxes;
    Control<QPushButton>(Start)->click();

    EXPECT_TRUE(boxes.texts.empty()) << boxes.texts.front();
    EXPECT_EQ(resultWhileChecking, "Aborted !");
    EXPECT_EQ(Control<QLineEdit>(Result)->text(), "Aborted !");
    EXPECT_EQ(title, "Disk check of A:");
    EXPECT_TRUE(report.contains("2880 sectors total")) << report.toStdString();
    EXPECT_TRUE(report.contains("FATs differ")) << report.toStdString();
    // What the checker's copy lacks is told first, and the report names the drive.
    EXPECT_TRUE(report.startsWith("Sectors of A: (damaged.imd) that could not be read")) << report.toStdString();
    EXPECT_FALSE(report.contains("vokta-check-")) << report.toStdString();
    EXPECT_EQ(verdict, "fsck.fat found errors and left the diskette unchanged. Sectors of the diskette that could "
                       "not be read: 1; fsck.fat saw zeros in their place (they are listed above its report).");
    EXPECT_TRUE(sounds.empty());
}

TEST_F(RepairPageTest, ACleanDisketteIsWalkedToItsEndAndStaysClean)
{
    if (!RequireTools({"mkfs.fat", "mcopy", "fsck.fat"}))
        return;
    const std::string image = MakeDiskette();
    const std::vector<uint8_t> before = ReadFile(image);
    Open(image);
    Control<QRadioButton>(SystemChecker)->click();
    Control<QRadioButton>(DataMarkTrack)->click();
    BoxAnswerer boxes;
    Control<QPushButton>(Start)->click();

    EXPECT_TRUE(boxes.texts.empty()) << boxes.texts.front();
    EXPECT_EQ(Control<QLineEdit>(Result)->text(), "OK.");
    EXPECT_EQ(sounds, std::vector<std::string>{"repaired.wav"});
    std::string fsck;
    EXPECT_EQ(test::Shell("fsck.fat -n '" + image + "' 2>&1", &fsck), 0) << fsck;
    EXPECT_TRUE(ReadFile(image) == before) << "nothing to repair, nothing changed";
    Shoot(*page, "repair.png");
}

}  // namespace
