// SPDX-License-Identifier: GPL-3.0-or-later
// The DupDisk page as its user drives it, on diskette files made by mkfs.fat and mcopy in
// drives of the test's own table: the image named on the command line, Read, Write and
// Compare, a read aborted half-way, the image files, the drive selector; the rescue read
// of a diskette file with sectors that fail to read, and the track map.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <future>

#include "ui/tooltips.h"
#include "drive/diskdrive.h"
#include "ui/pagetesting.h"
#include "app/pages/dupdiskpage.h"
#include "app/pages/rescuedialog.h"
#include "rescue/rescue.h"
#include "support/imagediskfile.h"
#include "support/scriptedhost.h"
#include "ui/trackmapview.h"
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
              (std::vector<int>{ReadDisk, Verify, WriteDisk, Compare, Drive, LoadImage, SaveImage, RescueDisk, MapButton}));

    ToolTipRule rule(shell.settings);
    qApp->installEventFilter(&rule);
    const auto tipOf = [&](int id) { return ToolTipOf(Control(id)); };
    EXPECT_EQ(tipOf(Result), "") << "string 1158 is another page's text";
    EXPECT_EQ(tipOf(LabelCaption), "This is the Memory Image disk label");
    EXPECT_EQ(tipOf(SaveImage), "Save the  Memory Image to a file");
}

// The map dialog's view, as Track Map opens it, handed to `look`.
void LookAtMap(DupDiskPage& page, const std::function<void(TrackMapView&)>& look)
{
    bool looked = false;
    WhenModal<QDialog>([&](QDialog& dialog) {
        if (auto* view = dialog.findChild<TrackMapView*>()) {
            look(*view);
            looked = true;
        }
        dialog.accept();
    });
    FindControl<QPushButton>(&page, MapButton)->click();
    EXPECT_TRUE(looked);
}

template <typename T>
T* Child(QDialog& dialog, const char* name)
{
    return dialog.findChild<T*>(QLatin1String(name));
}

TEST_F(DupDiskPageTest, TheButtonsCarryTheirTextsAndTipsAndTheMapWaitsForAMap)
{
    Open();
    EXPECT_EQ(Control<QPushButton>(RescueDisk)->text(), "Resc&ue Disk…");
    EXPECT_EQ(Control<QPushButton>(MapButton)->text(), "Track &Map");
    EXPECT_TRUE(Control(RescueDisk)->isEnabled());
    EXPECT_FALSE(Control(MapButton)->isEnabled());
    ToolTipRule rule(shell.settings);
    qApp->installEventFilter(&rule);
    EXPECT_EQ(ToolTipOf(Control(RescueDisk)), UiText(Str::TipRescueDisk));
    EXPECT_EQ(ToolTipOf(Control(MapButton)), UiText(Str::TipTrackMap));
    // The new buttons come after every control that was there.
    EXPECT_GT(Control(RescueDisk)->geometry().top(), Control(Result)->geometry().bottom());
}

// A read gives the page its map when the read reports its tracks: the button follows what
// the same read does under a host of the test's own.
TEST_F(DupDiskPageTest, TrackMapFollowsTheMapOfARead)
{
    if (!RequireMtools())
        return;
    table.Bind(BindingFor(DriveOption{'A', MakeDiskette("made.img", "RESCUE", "7BAD5EC7"), DriveKind::Floppy35HD}));
    DuplicateJob job;
    job.driveText = "A:";
    job.drives = table;
    ScriptedHost host;
    const OperationOutcome alone = ReadDiskWorker(job, host);
    ASSERT_EQ(alone.result, kResultDone);

    Open();
    BoxAnswerer boxes;
    Press(ReadDisk, 'A');
    ASSERT_EQ(ResultText(), "OK.");
    EXPECT_EQ(Control(MapButton)->isEnabled(), !alone.trackMap.empty());
    if (!alone.trackMap.empty())
        LookAtMap(*page, [&](TrackMapView& view) { EXPECT_EQ(view.Map(), alone.trackMap); });
}

TEST_F(DupDiskPageTest, TheDialogAsksForAnImageAndKeepsTheMapBesideIt)
{
    const QString image = QString::fromStdString(dir.File("disk.img"));
    RescueDialog dialog(nullptr, [&](QWidget*, const FileRequest& request) {
        EXPECT_TRUE(request.forSaving);
        EXPECT_FALSE(request.mustExist);
        EXPECT_TRUE(request.filter.contains("*.imd") && request.filter.contains("*.img") &&
                    request.filter.contains("*.ima") && request.filter.contains("*.dim"))
            << request.filter.toStdString();
        return image;
    }, QString());
    auto* passes = Child<QSpinBox>(dialog, "passes");
    auto* retries = Child<QSpinBox>(dialog, "retries");
    auto* revolutions = Child<QSpinBox>(dialog, "revolutions");
    const std::tuple<QSpinBox*, int, int, int> ranges[] = {
        {passes, 1, 99, 3}, {retries, 0, 99, 3}, {revolutions, 0, 20, 0}};
    for (const auto& [box, low, high, value] : ranges) {
        EXPECT_EQ(box->minimum(), low) << box->objectName().toStdString();
        EXPECT_EQ(box->maximum(), high) << box->objectName().toStdString();
        EXPECT_EQ(box->value(), value) << box->objectName().toStdString();
    }
    EXPECT_EQ(revolutions->text(), UiText(Str::RescueRevolutionsOwn));

    // OK without an image says so and stays.
    BoxAnswerer boxes;
    dialog.show();
    dialog.accept();
    EXPECT_EQ(boxes.texts, std::vector<std::string>{LoadString(Str::RescueNoImageFile)});
    EXPECT_EQ(dialog.result(), QDialog::Rejected);

    for (QPushButton* button : dialog.findChildren<QPushButton*>())
        if (button->text() == UiText(Str::RescueBrowse))
            button->click();
    EXPECT_EQ(dialog.Choice().imagePath, image);
    EXPECT_EQ(dialog.Choice().mapPath.toStdString(), DefaultMapPath(dir.File("disk.img")));

    // A map name of the user's own stays when the image changes.
    QTest::keyClicks(Child<QLineEdit>(dialog, "map"), "x");
    Child<QLineEdit>(dialog, "image")->setText(QString::fromStdString(dir.File("other.img")));
    EXPECT_EQ(dialog.Choice().mapPath.toStdString(), DefaultMapPath(dir.File("disk.img")) + "x");
    passes->setValue(1);
    retries->setValue(0);
    revolutions->setValue(5);
    const RescueChoice choice = dialog.Choice();
    EXPECT_EQ(std::tuple(choice.passes, choice.retries, choice.revolutions), std::tuple(1, 0, 5));
}

// Three sectors of an ImageDisk diskette fail to read, two of them on one track: the rescue
// ends done, keeps everything else, leaves the diskette file as it was, and the map names
// the lost sectors.
TEST_F(DupDiskPageTest, ARescueThroughThePageReadsAllButTheUnreadableSectors)
{
    if (!RequireMtools())
        return;
    const std::vector<uint8_t> bytes = ReadFile(MakeDiskette("made.img", "RESCUE", "7BAD5EC7"));
    // Logical sectors 40 and 41 lie on cylinder 1, head 0 (sectors 5 and 6); 100 on
    // cylinder 2, head 1 (sector 11).
    const std::set<uint32_t> unreadable = {40, 41, 100};
    const std::string source = dir.File("failing.imd");
    WriteImageDiskFile(source, kMedia144M, bytes, unreadable);
    const std::vector<uint8_t> sourceBefore = ReadFile(source);
    table.Bind(BindingFor(DriveOption{'A', source, DriveKind::Floppy35HD}));
    Open();

    const std::string rescued = dir.File("rescued.img");
    bool questioned = false;
    WhenModal<RescueDialog>([&](RescueDialog& dialog) {
        questioned = true;
        Child<QLineEdit>(dialog, "image")->setText(QString::fromStdString(rescued));
        Child<QSpinBox>(dialog, "passes")->setValue(2);
        Child<QSpinBox>(dialog, "retries")->setValue(1);
        dialog.accept();
    });
    BoxAnswerer boxes;
    Press(RescueDisk, 'A');
    ASSERT_TRUE(questioned);
    EXPECT_EQ(ResultText(), "OK.");
    EXPECT_EQ(Control<QLabel>(ImageLabel)->text(), "RESCUE     ");
    EXPECT_EQ(Control<QLabel>(ImageSerial)->text(), "7BAD5EC7");
    EXPECT_TRUE(Control(WriteDisk)->isEnabled());
    EXPECT_EQ(ReadFile(source), sourceBefore) << "the rescue changed the diskette";

    const std::vector<uint8_t> image = ReadFile(rescued);
    ASSERT_EQ(image.size(), bytes.size());
    for (uint32_t sector = 0; sector < 2880; ++sector) {
        const auto at = static_cast<ptrdiff_t>(sector) * 512;
        if (!unreadable.contains(sector)) {
            ASSERT_TRUE(std::equal(image.begin() + at, image.begin() + at + 512, bytes.begin() + at)) << sector;
        }
    }
    EXPECT_TRUE(std::ifstream(DefaultMapPath(rescued)).good()) << "no map beside the image";

    ASSERT_TRUE(Control(MapButton)->isEnabled());
    LookAtMap(*page, [&](TrackMapView& view) {
        const TrackMap& map = view.Map();
        EXPECT_EQ(map.shape(), (TrackMapShape{80, 2, 18}));
        EXPECT_EQ(map.State(1, 0), TrackState::Lost);
        EXPECT_EQ(map.State(2, 1), TrackState::Lost);
        EXPECT_EQ(map.Count(TrackState::Lost), 2);
        EXPECT_EQ(map.State(0, 0), TrackState::Good);
        view.show();
        test::ClickAt(view, view.CellRect(1, 0).center());
        EXPECT_EQ(view.TrackLineText(), "Cylinder 1, head 0: 1–4 good, 5–6 has lost sectors, 7–18 good");
        test::ClickAt(view, view.CellRect(2, 1).center());
        EXPECT_EQ(view.TrackLineText(), "Cylinder 2, head 1: 1–10 good, 11 has lost sectors, 12–18 good");
    });
}

}  // namespace
