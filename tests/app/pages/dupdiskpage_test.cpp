// SPDX-License-Identifier: GPL-3.0-or-later
// The DupDisk page as its user drives it, on diskette files made by mkfs.fat and mcopy in
// drives of the test's own table: the image named on the command line, Read, Write and
// Compare, a read aborted half-way, the image files, the drive selector.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <future>

#include "ui/tooltips.h"
#include "drive/diskdrive.h"
#include "ui/pagetesting.h"
#include "app/pages/dupdiskpage.h"
#include "ui/progressdialog.h"
#include "ui/uitext.h"
#include "support/requiretools.h"
#include "support/tempdir.h"
#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::test;
using namespace vokta::DupDiskControl;

namespace {

struct DupDiskPageTest : ::testing::Test {
    TempDir dir;
    DriveTable table;
    vokta::Shell shell;
    std::unique_ptr<DupDiskPage> page;
    std::vector<FileRequest> asked;  // the file dialogs the page opened
    QStringList answers;             // what the user picks in them, in turn; empty: Cancel

    void SetUp() override
    {
        UseTestDrives(shell, table, dir);
        shell.settings.enableMultiWriteFormat = false;
        shell.settings.enableTopMostAtEnd = false;
    }

    // A 1.44M diskette made by mkfs.fat with a file copied on by mcopy.
    std::string MakeDiskette(const std::string& name, const std::string& label, const std::string& serial)
    {
        const std::string path = dir.File(name);
        const std::string text = dir.File("readme.txt");
        std::ofstream(text) << "copied by mcopy\n";
        EXPECT_EQ(test::Shell("mkfs.fat -C -n " + label + " -i " + serial + " '" + path +
                              "' 1440 >/dev/null && mcopy -i '" + path + "' '" + text + "' ::"),
                  0);
        return path;
    }

    void Open()
    {
        page = std::make_unique<DupDiskPage>(shell);
        page->SetSoundPlayer([](const std::string&) {});
        page->SetFileChooser([this](QWidget*, const FileRequest& request) {
            asked.push_back(request);
            return answers.isEmpty() ? QString() : answers.takeFirst();
        });
        page->resize(page->sizeHint());
        page->show();
        WaitForDriveSelectors(page.get());
    }

    template <typename T = QWidget>
    T* Control(int id)
    {
        T* control = FindControl<T>(page.get(), id);
        EXPECT_NE(control, nullptr) << "control " << id;
        return control;
    }

    QString Text(int id) { return Control<QLabel>(id)->text(); }
    QString ResultText() { return Control<QLineEdit>(Result)->text(); }

    void Press(int id, char drive)
    {
        auto* selector = Control<QComboBox>(Drive);
        selector->setCurrentIndex(selector->findText(QString(QChar(drive)), Qt::MatchStartsWith));
        Control<QPushButton>(id)->click();
    }
};

bool RequireMtools()
{
    return RequireTools({"mkfs.fat", "mcopy"});
}

TEST_F(DupDiskPageTest, TheImageOnTheCommandLineIsShownWithWriteDiskFocused)
{
    if (!RequireMtools())
        return;
    shell.commandLineFile = QString::fromStdString(MakeDiskette("start.dim", "CMDLINE", "1234ABCD"));
    Open();
    EXPECT_EQ(Text(ImageLabel), "CMDLINE    ");
    EXPECT_EQ(Text(ImageSerial), "1234ABCD");
    EXPECT_EQ(Text(ImageMedia).toStdString(), GetMediaTypeName(kMedia144M));
    for (int id : {WriteDisk, Compare, SaveImage, LabelCaption, SerialCaption, MediaCaption})
        EXPECT_TRUE(Control(id)->isEnabled()) << id;
    EXPECT_EQ(page->focusWidget(), Control(WriteDisk));
    EXPECT_EQ(ResultText(), "?");
}

TEST_F(DupDiskPageTest, ReadThenWriteThenCompareEndOkAndTheCopyEqualsTheSource)
{
    if (!RequireMtools())
        return;
    const std::string source = MakeDiskette("a.img", "SOURCE", "5EED1234");
    const std::string copy = dir.File("b.img");
    std::ofstream(copy).close();  // an empty file: a diskette never formatted
    table.Bind(BindingFor(DriveOption{'A', source, DriveKind::Floppy35HD}));
    table.Bind(BindingFor(DriveOption{'B', copy, DriveKind::Floppy35HD}));
    Open();
    BoxAnswerer boxes;
    Press(ReadDisk, 'A');
    EXPECT_EQ(ResultText(), "OK.");
    EXPECT_EQ(Text(ImageLabel), "SOURCE     ");
    EXPECT_EQ(Text(ImageSerial), "5EED1234");
    EXPECT_EQ(page->focusWidget(), Control(WriteDisk));
    Shoot(*page, "dupdisk.png");

    Press(WriteDisk, 'B');
    EXPECT_EQ(ResultText(), "OK.");
    Press(Compare, 'B');
    EXPECT_EQ(ResultText(), "OK.");
    EXPECT_EQ(ReadFile(copy), ReadFile(source));
}

TEST_F(DupDiskPageTest, AReadAbortedAfterAGoodOneKeepsTheOldTextsAndSavesNothing)
{
    if (!RequireMtools())
        return;
    const std::string first = MakeDiskette("first.img", "FIRST", "11112222");
    const std::string second = MakeDiskette("second.img", "SECOND", "33334444");
    table.Bind(BindingFor(DriveOption{'A', first, DriveKind::Floppy35HD}));
    std::shared_ptr<RecordingService> b = BindRecordedFile(table, 'B', second, DriveKind::Floppy35HD);
    ASSERT_NE(b, nullptr);
    Open();
    BoxAnswerer boxes;
    Press(ReadDisk, 'A');
    ASSERT_EQ(ResultText(), "OK.");

    // The second read stops at cylinder 40 until the progress dialog has been pictured and
    // its Abort pressed.
    std::atomic<bool> paused = false;
    std::promise<void> resume;
    std::shared_future<void> resumed = resume.get_future().share();
    b->faultHook = [&, resumed](const DiskRequest& r) -> std::optional<InjectedFault> {
        const bool readTrack = r.controlCode == Control::DosIoctl && r.minor() == Minor::ReadTrack;
        if (readTrack && TrackIoBlock::Cylinder(r.block) == 40 && !paused.exchange(true))
            resumed.wait_for(std::chrono::seconds(30));
        return std::nullopt;
    };
    WhenModal<ProgressDialog>(
        [&](ProgressDialog& dialog) {
            Shoot(dialog, "progress-read.png");
            FindControl<QPushButton>(&dialog, ProgressControl::Abort)->click();
            resume.set_value();
        },
        [&](ProgressDialog&) { return paused.load(); });
    Press(ReadDisk, 'B');
    EXPECT_TRUE(paused);
    EXPECT_EQ(ResultText(), "Aborted !");
    EXPECT_EQ(Text(ImageLabel), "FIRST      ");
    EXPECT_EQ(Text(ImageSerial), "11112222");
    EXPECT_EQ(Text(ImageMedia).toStdString(), GetMediaTypeName(kMedia144M));
    EXPECT_EQ(page->Image().mediaType, kMediaUnknown);
    EXPECT_TRUE(Control(WriteDisk)->isEnabled());

    // Half a diskette is no image to keep in a file.
    boxes.texts.clear();
    Control<QPushButton>(SaveImage)->click();
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(boxes.texts, std::vector<std::string>{LoadString(Str::NoSourceRead)});
}

TEST_F(DupDiskPageTest, ImageFilesAreProposedInSeriesAndACancelKeepsTheName)
{
    if (!RequireMtools())
        return;
    const std::string disk1 = MakeDiskette("disk1.dim", "SERIES", "ABCDEF01");
    Open();
    EXPECT_FALSE(Control(SaveImage)->isEnabled());
    answers = {QString::fromStdString(disk1), "", ""};
    Control<QPushButton>(LoadImage)->click();
    EXPECT_EQ(Text(ImageLabel), "SERIES     ");
    Control<QPushButton>(SaveImage)->click();
    Control<QPushButton>(SaveImage)->click();
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_FALSE(asked[0].forSaving);
    EXPECT_EQ(asked[0].filter, ImageFileDialogFilter());
    EXPECT_EQ(asked[1].filter, ImageFileDialogFilter());
    EXPECT_EQ(asked[0].defaultSuffix, "dim");
    EXPECT_TRUE(asked[1].forSaving);
    EXPECT_EQ(asked[1].fileName, "disk2.dim");
    EXPECT_EQ(asked[2].fileName, "disk2.dim") << "a cancelled dialog leaves the name";
    EXPECT_EQ(asked[2].folder.toStdString(), dir.path());

    answers = {QString::fromStdString(dir.File("disk2.dim"))};
    Control<QPushButton>(SaveImage)->click();
    EXPECT_EQ(ReadFile(dir.File("disk2.dim")), ReadFile(disk1));
}

// The system's own filters first and as they are, then raw images and ImageDisk files;
// a name chosen under the last one saves an ImageDisk file.
TEST_F(DupDiskPageTest, ImageFileDialogsOfferRawAndImageDiskFilesAfterTheSystemsOwn)
{
    EXPECT_EQ(ImageFileDialogFilter().split(QStringLiteral(";;")),
              (QStringList{"VOKTA Image Files (*.dim)", "Physical Image Files (*.ima)", "All Files (*)",
                           "Raw Diskette Images (*.img)", "ImageDisk Files (*.imd)"}));
    if (!RequireMtools())
        return;
    const std::string disk = MakeDiskette("disk.dim", "IMAGEDISK", "ABCDEF02");
    Open();
    answers = {QString::fromStdString(disk), QString::fromStdString(dir.File("copy.imd")),
               QString::fromStdString(dir.File("copy.img"))};
    Control<QPushButton>(LoadImage)->click();
    Control<QPushButton>(SaveImage)->click();
    Control<QPushButton>(SaveImage)->click();
    const std::vector<uint8_t> saved = ReadFile(dir.File("copy.imd"));
    ASSERT_GT(saved.size(), 4u);
    EXPECT_EQ(std::string(saved.begin(), saved.begin() + 4), "IMD ");
    EXPECT_EQ(ReadFile(dir.File("copy.img")), ReadFile(disk)) << "a raw image under any other name";
    answers = {QString::fromStdString(dir.File("copy.imd"))};
    Control<QPushButton>(LoadImage)->click();
    EXPECT_EQ(page->Image().data, ReadFile(disk));
    EXPECT_EQ(Text(ImageLabel), "IMAGEDISK  ");
}

TEST_F(DupDiskPageTest, TheControlsStartAsTheTemplateSaysAndNoHardDiskIsOffered)
{
    std::ofstream(dir.File("a.img")).close();
    table.Bind(BindingFor(DriveOption{'A', dir.File("a.img"), DriveKind::Floppy35HD}));
    BindRecorded(table, 'C', std::make_unique<EmulatedDrive>(DriveKind::FixedDisk, 3), SystemDriveType::Fixed);
    shell.settings.enableHardDisks = true;
    shell.settings.verifyAfterWrite = false;
    Open();
    const auto entries = [&] {
        QStringList texts;
        for (int i = 0; i < Control<QComboBox>(Drive)->count(); ++i)
            texts << Control<QComboBox>(Drive)->itemText(i).left(2);
        return texts;
    };
    EXPECT_EQ(entries(), QStringList{"A:"});
    page->hide();
    page->show();
    WaitForDriveSelectors(page.get());
    EXPECT_EQ(entries(), QStringList{"A:"}) << "nor when the page is shown again";

    for (int id : {WriteDisk, Compare, SaveImage, LabelCaption, SerialCaption, MediaCaption})
        EXPECT_FALSE(Control(id)->isEnabled()) << id;
    for (int id : {ImageLabel, ImageSerial, ImageMedia})
        EXPECT_EQ(Text(id), "?");
    auto* verify = Control<QCheckBox>(Verify);
    EXPECT_FALSE(verify->isChecked());
    verify->click();
    EXPECT_TRUE(shell.settings.verifyAfterWrite);

    EXPECT_EQ(TabOrder(Control(ReadDisk)),
              (std::vector<int>{ReadDisk, Verify, WriteDisk, Compare, Drive, LoadImage, SaveImage}));

    ToolTipRule rule(shell.settings);
    qApp->installEventFilter(&rule);
    const auto tipOf = [&](int id) { return ToolTipOf(Control(id)); };
    EXPECT_EQ(tipOf(Result), "") << "string 1158 is another page's text";
    EXPECT_EQ(tipOf(LabelCaption), "This is the Memory Image disk label");
    EXPECT_EQ(tipOf(SaveImage), "Save the  Memory Image to a file");
}

}  // namespace
