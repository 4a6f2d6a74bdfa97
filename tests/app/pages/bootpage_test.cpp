// SPDX-License-Identifier: GPL-3.0-or-later
// The Boot page as its user drives it: Check and Recreate on diskette files made by
// mkfs.fat and mcopy, the worker's reports on the page, the page unchecked by another
// drive; the diskettes checked afterwards with dosfstools and mtools.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <cstdlib>

#include "app/pages/bootpage.h"
#include "ui/pagetesting.h"
#include "ui/uitext.h"
#include "support/requiretools.h"
#include "support/tempdir.h"

using namespace vokta;
using namespace vokta::test;
using namespace vokta::BootControl;

namespace {

struct BootPageTest : ::testing::Test {
    TempDir dir;
    DriveTable table;
    vokta::Shell shell;
    std::vector<std::string> played;
    std::unique_ptr<BootPage> page;

    void SetUp() override
    {
        UseTestDrives(shell, table, dir);
        shell.settings.errorSoundPath = "error.wav";
        shell.settings.jobCompletedSoundPath = "done.wav";
    }

    // A 1.44M diskette file made by mkfs.fat, then changed by `change` with IMG for its path.
    std::string BindDiskette(char letter, std::string change = "")
    {
        const std::string path = dir.File(std::string(1, letter) + ".img");
        std::string make = "mkfs.fat -C --invariant IMG 1440";
        if (!change.empty())
            make += " && " + change;
        for (size_t at; (at = make.find("IMG")) != std::string::npos;)
            make.replace(at, 3, "'" + path + "'");
        EXPECT_EQ(test::Shell(make + " >/dev/null 2>&1"), 0) << make;
        table.Bind(BindingFor(DriveOption{letter, path, DriveKind::Floppy35HD}));
        return path;
    }

    void Open()
    {
        page = std::make_unique<BootPage>(shell);
        // Played on the worker's thread, which then still reports to the page and waits
        // for the page's thread: the test reads the sounds only after that.
        page->SetSoundPlayer([this](const std::string& sound) { played.push_back(sound); });
        page->resize(page->sizeHint().expandedTo(QSize(480, 300)));
        page->show();
        WaitForDriveSelectors(page.get());
    }

    template <typename T = QWidget>
    T* Control(int id)
    {
        return ControlOf<T>(page.get(), id);
    }

    void ChooseDrive(char letter) { ChooseDriveEntry(*Control<QComboBox>(Drive), letter); }

    // Clicks `button` and lets the page run until its worker has given the buttons back.
    void Run(int button)
    {
        Control<QPushButton>(button)->click();
        EXPECT_FALSE(Control(Check)->isEnabled());
        EXPECT_FALSE(Control(Recreate)->isEnabled());
        EXPECT_TRUE(QTest::qWaitFor([this] { return Control(Check)->isEnabled(); }, 60000));
        EXPECT_TRUE(Control(Recreate)->isEnabled());
    }

    QString State() { return Control<QLabel>(BootControl::State)->text(); }

    QStringList Results()
    {
        QStringList lines;
        auto* list = Control<QListWidget>(BootControl::Results);
        for (int row = 0; row < list->count(); ++row)
            lines << list->item(row)->text();
        return lines;
    }
};

TEST_F(BootPageTest, AnAllZeroBootSectorListsNineLinesAndAnotherDriveUnchecksThePage)
{
    if (!RequireTools({"mkfs.fat"}))
        return;
    BindDiskette('A', "dd if=/dev/zero of=IMG bs=512 count=1 conv=notrunc");
    BindDiskette('B');
    Open();
    EXPECT_EQ(State(), "Unchecked !");
    EXPECT_EQ(Control<QPushButton>(Check)->text(), "&Check");
    EXPECT_EQ(Control<QPushButton>(Recreate)->text(), "&Recreate");
    EXPECT_EQ(Control(Check)->nextInFocusChain(), Control(Recreate));
    EXPECT_EQ(Control(Recreate)->nextInFocusChain(), Control(Drive));
    for (const int id : {Check, Recreate, Drive, BootControl::Results})
        EXPECT_FALSE(LoadString(static_cast<Str>(id)).empty()) << "no tool tip for " << id;

    ChooseDrive('A');
    Run(Check);
    EXPECT_EQ(Results(), (QStringList{"Invalid final signature.", "Invalid initial op codes.",
                                      "Invalid sector length.", "Invalid begin sector number.",
                                      "Invalid number of FATs.", "Invalid extended boot signature.",
                                      "Invalid media code.", "Invalid file system name.",
                                      "Invalid total number of sectors."}));
    EXPECT_EQ(State(), "Boot Checked !");
    EXPECT_EQ(played, std::vector<std::string>{"error.wav"});
    Shoot(*page, "boot.png");

    ChooseDrive('B');
    EXPECT_EQ(State(), "Unchecked !");
    EXPECT_TRUE(Results().isEmpty());
    EXPECT_EQ(shell.currentDriveText.substr(0, 2), "B:");
}

TEST_F(BootPageTest, CheckOnAMkfsDisketteIsOk)
{
    if (!RequireTools({"mkfs.fat"}))
        return;
    BindDiskette('A');
    Open();
    Run(Check);
    EXPECT_EQ(Results(), QStringList{"OK."});
    EXPECT_EQ(State(), "Boot Checked !");
    EXPECT_EQ(played, std::vector<std::string>{"done.wav"});
}

TEST_F(BootPageTest, RecreateWritesABootSectorFsckAcceptsAndTheFilesStayReadable)
{
    if (!RequireTools({"mkfs.fat", "fsck.fat", "mlabel", "mcopy", "mtype"}))
        return;
    const std::string text = dir.File("kept.txt");
    ASSERT_EQ(test::Shell("seq 1 3000 > '" + text + "'"), 0);
    const std::string image =
        BindDiskette('A', "mlabel -i IMG ::KEPT && mcopy -i IMG '" + text + "' :: && "
                          "dd if=/dev/zero of=IMG bs=1 seek=11 count=20 conv=notrunc");
    Open();
    Run(Recreate);
    EXPECT_EQ(State(), "Write OK.");
    EXPECT_TRUE(Results().isEmpty());
    EXPECT_EQ(played, std::vector<std::string>{"done.wav"});

    // fsck.fat also holds the boot sector's label to the root directory's.
    std::string fsck;
    EXPECT_EQ(test::Shell("fsck.fat -n '" + image + "' 2>&1", &fsck), 0) << fsck;
    std::string copied;
    EXPECT_EQ(test::Shell("mtype -i '" + image + "' ::KEPT.TXT | cmp - '" + text + "' 2>&1", &copied), 0) << copied;

    Run(Check);
    EXPECT_EQ(Results(), QStringList{"OK."});
}

TEST_F(BootPageTest, AWindowClosedDuringRecreateStillFinishesTheWriteBeforeExit)
{
    if (!RequireTools({"mkfs.fat"}))
        return;
    const std::string image = BindDiskette('A', "dd if=/dev/zero of=IMG bs=512 count=1 conv=notrunc");
    Open();
    // The worker's first report waits for this thread, which closes the page instead.
    Control<QPushButton>(Recreate)->click();
    page.reset();
    // As at program exit: the worker let go is waited for.
    WaitForAbandonedWorkers();
    EXPECT_TRUE(played.empty()) << "nothing is shown or played once the page has gone";
    std::string check;
    EXPECT_EQ(test::Shell("fsck.fat -n '" + image + "' 2>&1", &check), 0) << check;
}

}  // namespace
