// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up and the main window as a user meets them: a fresh user's first run, the
// settings written when the window closes, the language switch, the tool tips, the About
// box and the help, the command line and the ".dim" association. The settings and the data
// folder live in a temporary folder; each showing of the window is handed to the test's
// steps in place of the program's own modal loop.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QToolTip>
#include <algorithm>
#include <functional>
#include <ostream>

#include "app/aboutbox.h"
#include "app/helpwindow.h"
#include "app/mainwindow.h"
#include "app/optionspage.h"
#include "app/programline.h"
#include "app/startup.h"
#include "ui/uitext.h"
#include "support/requiretools.h"

QT_BEGIN_NAMESPACE
// Failures name the texts rather than their bytes.
void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

using namespace vokta;

namespace {

const QStringList kEnglishTabs = {"DupDisk", "Format", "Repair", "Boot", "Info", "Options"};
const QStringList kEnglishButtons = {"&Quit", "&About", "&Help"};
const QStringList kItalianTabs = {"Duplica", "Formatta", "Ripara", "Boot", "Info", "Opzioni"};
const QStringList kItalianButtons = {"&Esci", "&Informazioni", "&Guida"};
constexpr const char* kMissingModule = "libvokta-no-such-module.so";
// By its path: the sanitizers' dlopen does not search the test's run path.
constexpr const char* kItalianModule = VOKTA_BINARY_DIR "/lib/libvoktaita.so";
constexpr int kWindowButtons[] = {MainWindow::kQuitButton, MainWindow::kAboutButton, MainWindow::kHelpButton};

// What one showing of the main window looked like.
struct Pass {
    int page = -1;
    QStringList tabs;
    QStringList buttons;
    QString title;
};

Pass Look(MainWindow& window)
{
    Pass pass;
    pass.page = window.pages().currentIndex();
    for (int i = 0; i < window.pages().count(); ++i)
        pass.tabs << window.pages().tabText(i);
    for (int id : kWindowButtons)
        pass.buttons << FindControl<QPushButton>(&window, id)->text();
    pass.title = window.windowTitle();
    return pass;
}

void Quit(MainWindow& window)
{
    QTest::mouseClick(FindControl<QPushButton>(&window, MainWindow::kQuitButton), Qt::LeftButton);
}

// Chooses another language on the Options page, as the user does.
void ChooseLanguage(MainWindow& window, int language)
{
    window.pages().setCurrentIndex(MainWindow::kOptionsPage);
    FindControl<QComboBox>(&window, OptionsControl::Language)->setCurrentIndex(language);
}

// Whether each of the Options page's switches is ticked, in the order of their ids.
std::vector<bool> Switches(MainWindow& window)
{
    std::vector<bool> ticked;
    for (int id : {OptionsControl::HardDisks, OptionsControl::ToolTips, OptionsControl::TopMost,
                   OptionsControl::MultiWriteFormat, OptionsControl::HideSubst})
        ticked.push_back(FindControl<QCheckBox>(&window, id)->isChecked());
    return ticked;
}

QString ShownText(MainWindow& window, int id)
{
    return FindControl<QLineEdit>(&window, id)->text();
}

// The tip a hover over `control` shows now, empty when none. A tip being hidden fades
// out, so a tip of its own is up before the hover and counts as none.
QString TipAt(QWidget* control)
{
    const QString before = "no tip from the hover";
    const QPoint where = control->mapToGlobal(QPoint(2, 2));
    QToolTip::showText(where, before, control);
    QHelpEvent hover(QEvent::ToolTip, QPoint(2, 2), where);
    QApplication::sendEvent(control, &hover);
    const QString shown = QToolTip::isVisible() ? QToolTip::text() : QString();
    return shown == before ? QString() : shown;
}

QString ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// What desktop-file-validate says of a desktop entry: nothing when it is valid, not even a hint.
QString Validate(const QString& file)
{
    QProcess validate;
    validate.setProcessChannelMode(QProcess::MergedChannels);
    validate.start("desktop-file-validate", {file});
    if (!validate.waitForFinished())
        return "desktop-file-validate did not finish";
    const QString said = QString::fromUtf8(validate.readAll());
    return validate.exitCode() == 0 ? said : "exit " + QString::number(validate.exitCode()) + ": " + said;
}

class StartupTest : public testing::Test {
protected:
    StartupTest()
    {
        // The association and the default diskette file go to the data folder.
        qputenv("XDG_DATA_HOME", DataHome().toUtf8());
        qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
        // A first start speaks the locale's language: these start from English.
        qputenv("LC_ALL", "C.UTF-8");
    }

    // A run that ends in Italian leaves that module selected: the next test starts in English.
    ~StartupTest() override { SetResourceModule(nullptr); }

    QString SettingsFile() const { return home.filePath("config/Harlen/vokta.conf"); }
    QString DataHome() const { return home.filePath("data"); }

    // Runs start-up as the program does, each showing of the window handed to `steps`.
    int Run(const std::function<void(MainWindow&)>& steps, QStringList arguments = {},
            const char* italianModule = kMissingModule, QString executable = "/usr/bin/vokta",
            std::FILE* errors = stderr)
    {
        QSettings store(SettingsFile(), QSettings::IniFormat);
        StartupInputs inputs{arguments, executable, &store, &drives, italianModule, stdout, errors};
        return RunStartup(inputs, [&](MainWindow& window) {
            window.show();
            steps(window);
        });
    }

    void Store(const QString& name, const QVariant& value) const
    {
        QSettings store(SettingsFile(), QSettings::IniFormat);
        store.setValue("Options/" + name, value);
    }

    int StoredNumber(const QString& name) const
    {
        return QSettings(SettingsFile(), QSettings::IniFormat).value("Options/" + name).toInt();
    }

    // One showing of the window looked at and quit; nothing when start-up failed.
    std::vector<Pass> LookAndQuit(const char* italianModule)
    {
        std::vector<Pass> passes;
        const int status = Run(
            [&](MainWindow& window) {
                passes.push_back(Look(window));
                Quit(window);
            },
            {}, italianModule);
        return status == 0 ? passes : std::vector<Pass>{};
    }

    // Italian chosen on the first showing, English on the second, quit on the third.
    std::vector<Pass> SwitchToItalianAndBack(const char* italianModule)
    {
        std::vector<Pass> passes;
        const int status = Run(
            [&](MainWindow& window) {
                passes.push_back(Look(window));
                if (passes.size() == 3)
                    return Quit(window);
                ChooseLanguage(window, passes.size() == 1 ? 1 : 0);
            },
            {}, italianModule);
        return status == 0 ? passes : std::vector<Pass>{};
    }

    QTemporaryDir home;
    DriveTable drives;
};

}  // namespace

TEST_F(StartupTest, AFreshUserGetsTheDefaultsAndQuitStoresAllTen)
{
    std::vector<Pass> passes;
    std::vector<bool> switches;
    QString jobSound, errorSound, language;
    Settings held;
    ASSERT_EQ(Run([&](MainWindow& window) {
                  passes.push_back(Look(window));
                  switches = Switches(window);
                  jobSound = ShownText(window, OptionsControl::JobSoundText);
                  errorSound = ShownText(window, OptionsControl::ErrorSoundText);
                  language = FindControl<QComboBox>(&window, OptionsControl::Language)->currentText();
                  held = window.shell().settings;
                  Quit(window);
              }),
              0);
    ASSERT_EQ(passes.size(), 1u);
    EXPECT_EQ(passes[0].page, 0);
    EXPECT_EQ(passes[0].tabs, kEnglishTabs);
    EXPECT_EQ(passes[0].buttons, kEnglishButtons);
    EXPECT_EQ(passes[0].title, "VK Disk Utility for Windows 95");
    // Hard disks off; tool tips, topmost, multiple write and format, hidden SUBST on.
    EXPECT_EQ(switches, (std::vector<bool>{false, true, true, true, true}));
    EXPECT_EQ(jobSound, "SystemDefault");
    EXPECT_EQ(errorSound, "SystemExclamation");
    EXPECT_EQ(language, "English (U.S.)");
    EXPECT_TRUE(held.verifyAfterWrite);
    EXPECT_TRUE(held.verifyAfterFormat);

    QSettings stored(SettingsFile(), QSettings::IniFormat);
    stored.beginGroup("Options");
    QStringList keys = stored.childKeys();
    keys.sort();
    EXPECT_EQ(keys, (QStringList{"EnableHardDisks", "EnableMultiWriteFormat", "EnableToolTips", "EnableTopMostAtEnd",
                                 "Error Sound Path", "HideSubstDrives", "Job Completed Sound Path", "Language",
                                 "VerifyAfterFormat", "VerifyAfterWrite"}));
    for (const char* on : {"EnableMultiWriteFormat", "EnableToolTips", "EnableTopMostAtEnd", "HideSubstDrives",
                           "VerifyAfterFormat", "VerifyAfterWrite"})
        EXPECT_EQ(stored.value(on).toInt(), 1) << on;
    EXPECT_EQ(stored.value("EnableHardDisks").toInt(), 0);
    EXPECT_EQ(stored.value("Language").toInt(), 0);
    EXPECT_EQ(stored.value("Error Sound Path").toString(), "SystemExclamation");
    EXPECT_EQ(stored.value("Job Completed Sound Path").toString(), "SystemDefault");
}

// The window manager's close button ends the program as "&Quit" does: what the user had
// is read at start and written back with what changed.
TEST_F(StartupTest, ClosingByTheWindowManagerKeepsTheStoredChoices)
{
    Store("EnableToolTips", 0);
    Store("HideSubstDrives", 0);
    Store("EnableHardDisks", 1);
    Store("Error Sound Path", "/sounds/oops.wav");
    std::vector<bool> switches;
    QString errorSound;
    int passes = 0;
    ASSERT_EQ(Run([&](MainWindow& window) {
                  ++passes;
                  switches = Switches(window);
                  errorSound = ShownText(window, OptionsControl::ErrorSoundText);
                  QTest::mouseClick(FindControl<QCheckBox>(&window, OptionsControl::TopMost), Qt::LeftButton);
                  window.close();
              }),
              0);
    EXPECT_EQ(passes, 1);
    EXPECT_EQ(switches, (std::vector<bool>{true, false, true, true, false}));
    EXPECT_EQ(errorSound, "/sounds/oops.wav");
    EXPECT_EQ(StoredNumber("EnableToolTips"), 0);
    EXPECT_EQ(StoredNumber("EnableHardDisks"), 1);
    EXPECT_EQ(StoredNumber("EnableTopMostAtEnd"), 0);
    EXPECT_EQ(QSettings(SettingsFile(), QSettings::IniFormat).value("Options/Error Sound Path").toString(),
              "/sounds/oops.wav");
}

// Without its module, Italian falls back to the English texts, and the choice is kept.
TEST_F(StartupTest, ALanguageChangeReopensOnTheOptionsPageAndBack)
{
    const std::vector<Pass> passes = SwitchToItalianAndBack(kMissingModule);
    ASSERT_EQ(passes.size(), 3u);
    EXPECT_EQ(passes[0].page, 0);
    EXPECT_EQ(passes[1].page, MainWindow::kOptionsPage);
    EXPECT_EQ(passes[2].page, MainWindow::kOptionsPage);
    for (const Pass& pass : passes)
        EXPECT_EQ(pass.tabs, kEnglishTabs);
    EXPECT_EQ(StoredNumber("Language"), 0);
}

TEST_F(StartupTest, ALanguageChangeReopensInItalianAndBack)
{
    const std::vector<Pass> passes = SwitchToItalianAndBack(kItalianModule);
    ASSERT_EQ(passes.size(), 3u);
    EXPECT_EQ(passes[0].tabs, kEnglishTabs);
    EXPECT_EQ(passes[1].page, MainWindow::kOptionsPage);
    EXPECT_EQ(passes[1].tabs, kItalianTabs);
    EXPECT_EQ(passes[1].buttons, kItalianButtons);
    EXPECT_EQ(passes[1].title, "VK Disk Utility per Windows 95");
    EXPECT_EQ(passes[2].page, MainWindow::kOptionsPage);
    EXPECT_EQ(passes[2].tabs, kEnglishTabs);
    EXPECT_EQ(passes[2].buttons, kEnglishButtons);
    EXPECT_EQ(passes[2].title, "VK Disk Utility for Windows 95");
}

TEST_F(StartupTest, AStoredItalianStartsInItalian)
{
    Store("Language", 1);
    const std::vector<Pass> passes = LookAndQuit(kItalianModule);
    ASSERT_EQ(passes.size(), 1u);
    EXPECT_EQ(passes[0].page, 0);
    EXPECT_EQ(passes[0].tabs, kItalianTabs);
    EXPECT_EQ(passes[0].buttons, kItalianButtons);
    EXPECT_EQ(passes[0].title, "VK Disk Utility per Windows 95");
}

// The first start speaks the locale's language; a stored choice wins over it.
TEST_F(StartupTest, AFirstStartSpeaksTheLocalesLanguage)
{
    const auto lookIn = [&](const char* lcAll) {
        qputenv("LC_ALL", lcAll);
        const std::vector<Pass> passes = LookAndQuit(kItalianModule);
        SetResourceModule(nullptr);
        return passes.size() == 1 ? passes[0].tabs : QStringList{};
    };
    const QStringList fresh = lookIn("it_IT.UTF-8");
    const QStringList storedItalian = lookIn("C");
    Store("Language", 0);
    const QStringList storedEnglish = lookIn("it_CH");
    EXPECT_EQ(fresh, kItalianTabs);
    EXPECT_EQ(StoredNumber("Language"), 0);
    EXPECT_EQ(storedItalian, kItalianTabs);
    EXPECT_EQ(storedEnglish, kEnglishTabs);
}

TEST_F(StartupTest, AStoredItalianWithoutItsModuleStartsInEnglish)
{
    Store("Language", 1);
    const std::vector<Pass> passes = LookAndQuit(kMissingModule);
    ASSERT_EQ(passes.size(), 1u);
    EXPECT_EQ(passes[0].tabs, kEnglishTabs);
    EXPECT_EQ(passes[0].buttons, kEnglishButtons);
    EXPECT_EQ(StoredNumber("Language"), 1);
}

// The rule asks for the text at every hover, so switching tips off holds at once.
TEST_F(StartupTest, ToolTipsFollowTheSettingAtEveryHover)
{
    QStringList tipsOn, tipsOff, buttonTips;
    ASSERT_EQ(Run([&](MainWindow& window) {
                  window.pages().setCurrentIndex(MainWindow::kOptionsPage);
                  auto* tips = FindControl<QCheckBox>(&window, OptionsControl::ToolTips);
                  tipsOn << TipAt(tips);
                  for (int id : kWindowButtons)
                      buttonTips << TipAt(FindControl(&window, id));
                  // Clicked without the mouse: the tip just shown covers the spot a mouse would click.
                  tips->click();
                  tipsOff << TipAt(tips);
                  for (int id : kWindowButtons)
                      tipsOff << TipAt(FindControl(&window, id));
                  tips->click();
                  tipsOn << TipAt(tips);
                  Quit(window);
              }),
              0);
    const QString expected = "Enable/Disable These tool Tips messages.";
    EXPECT_EQ(tipsOn, (QStringList{expected, expected}));
    // The window's buttons have no string of their ids: no tip even with tips on.
    EXPECT_EQ(buttonTips, (QStringList{"", "", ""}));
    EXPECT_EQ(tipsOff, (QStringList{"", "", "", ""}));
}

TEST_F(StartupTest, AboutOpensTheAboutBoxAndTheWindowStays)
{
    QString aboutTitle, product, version;
    bool stillShown = false;
    ASSERT_EQ(Run([&](MainWindow& window) {
                  QTimer::singleShot(0, [&] {
                      auto* about = qobject_cast<AboutBox*>(QApplication::activeModalWidget());
                      ASSERT_NE(about, nullptr);
                      aboutTitle = about->windowTitle();
                      product = FindControl<QLabel>(about, 1064)->text();
                      version = FindControl<QLabel>(about, 1066)->text();
                      QTest::mouseClick(FindControl<QPushButton>(about, 1), Qt::LeftButton);
                  });
                  QTest::mouseClick(FindControl<QPushButton>(&window, MainWindow::kAboutButton), Qt::LeftButton);
                  stillShown = window.isVisible();
                  Quit(window);
              }),
              0);
    EXPECT_EQ(aboutTitle, "About " + QApplication::applicationName() + " ...");
    EXPECT_EQ(product, "Vokta");
    EXPECT_EQ(version, VOKTA_VERSION);
    EXPECT_TRUE(stillShown);
}

// The guide opens over the main window, centred on it as near as the screen lets it, and
// Escape closes it.
TEST_F(StartupTest, HelpShowsTheUserGuide)
{
    QString guide;
    QPoint windowCentre, helpCentre;
    bool closedByEscape = false;
    ASSERT_EQ(Run([&](MainWindow& window) {
                  window.move(300, 200);
                  QTest::mouseClick(FindControl<QPushButton>(&window, MainWindow::kHelpButton), Qt::LeftButton);
                  auto* help = window.findChild<HelpWindow*>();
                  ASSERT_TRUE(help && help->isVisible());
                  guide = help->findChild<QTextBrowser*>()->toPlainText();
                  // Where a window of the guide's size centred on the main window comes to lie
                  // once it is moved onto the screen.
                  const QRect screen = window.screen()->availableGeometry();
                  const QSize half = help->frameGeometry().size() / 2;
                  const QPoint centre = window.frameGeometry().center();
                  const QRect reach = screen.adjusted(half.width(), half.height(), -half.width(), -half.height());
                  windowCentre = {std::clamp(centre.x(), reach.left(), reach.right()),
                                  std::clamp(centre.y(), reach.top(), reach.bottom())};
                  helpCentre = help->frameGeometry().center();
                  QTest::keyClick(help->findChild<QTextBrowser*>(), Qt::Key_Escape);
                  closedByEscape = !help->isVisible();
                  Quit(window);
              }),
              0);
    EXPECT_LE((helpCentre - windowCentre).manhattanLength(), 4)
        << "help centred at " << helpCentre.x() << "," << helpCentre.y();
    EXPECT_TRUE(closedByEscape);
    for (const QString& tab : kEnglishTabs)
        EXPECT_TRUE(guide.contains(tab)) << tab.toStdString();
    EXPECT_TRUE(guide.contains("--drive"));
    EXPECT_TRUE(guide.contains("~/.config/Harlen/vokta.conf"));
}

TEST_F(StartupTest, TheCommandLineNamesTheImageAndBindsDrives)
{
    const QString diskette = home.filePath("b drive.img");
    const QString image = home.filePath("my disk.dim");
    QString kept;
    std::string boundB;
    bool hasA = false;
    ASSERT_EQ(Run(
                  [&](MainWindow& window) {
                      kept = window.shell().commandLineFile;
                      const DriveBinding* b = window.shell().drives->Find('B');
                      boundB = b ? b->path : "";
                      hasA = window.shell().drives->Find('A') != nullptr;
                      Quit(window);
                  },
                  {"--drive", "B:=" + diskette, image}),
              0);
    EXPECT_EQ(kept, image);
    EXPECT_EQ(boundB, diskette.toStdString());
    EXPECT_TRUE(hasA);
}

TEST_F(StartupTest, ABadCommandLineIsToldAndChangesNothing)
{
    std::FILE* errors = std::tmpfile();
    ASSERT_NE(errors, nullptr);
    int passes = 0;
    EXPECT_EQ(Run([&](MainWindow&) { ++passes; }, {"--drive", "Q"}, kMissingModule, "/usr/bin/vokta", errors), 2);
    std::rewind(errors);
    char text[512] = {};
    const size_t read = std::fread(text, 1, sizeof text - 1, errors);
    std::fclose(errors);
    const std::string told(text, read);
    EXPECT_TRUE(told.starts_with("vokta: --drive: ")) << told;
    EXPECT_NE(told.find("Usage: vokta"), std::string::npos) << told;
    EXPECT_EQ(passes, 0);
    EXPECT_FALSE(QFile::exists(SettingsFile()));
}

// The desktop entry opens the program by its full path, quoted as the desktop reads an
// Exec key; the desktop's own tools read both files.
TEST_F(StartupTest, DimFilesAreAssociatedInTheDataFolder)
{
    const QString executable = "/opt/my apps/vok\"ta%1";
    ASSERT_EQ(Run(Quit, {}, kMissingModule, executable), 0);
    const QString entryFile = DataHome() + "/applications/vokta-dimfile.desktop";
    const QString entry = ReadAll(entryFile);
    EXPECT_TRUE(entry.contains("\nName=Vokta diskette Image\n")) << entry.toStdString();
    EXPECT_TRUE(entry.contains("\nExec=\"/opt/my apps/vok\\\\\"ta%%1\" %f\n")) << entry.toStdString();
    if (!test::RequireTools({"desktop-file-validate", "update-desktop-database", "update-mime-database"}))
        return;
    EXPECT_EQ(Validate(entryFile), "");
    EXPECT_TRUE(ReadAll(DataHome() + "/applications/mimeinfo.cache")
                    .contains("application/x-vokta-dim=vokta-dimfile.desktop;"));
    EXPECT_TRUE(ReadAll(DataHome() + "/mime/globs2").contains("application/x-vokta-dim:*.dim"));
}

TEST(ProgramDesktopEntry, IsValid)
{
    if (!test::RequireTools({"desktop-file-validate"}))
        return;
    EXPECT_EQ(Validate(VOKTA_SOURCE_DIR "/res/desktop/org.example.vokta.desktop"), "");
}

// The About box's fields from the version information, and the template's texts where a
// value is missing.
TEST(AboutBox, FieldsShowTheBuildsVersionInformation)
{
    AboutBox about(nullptr);
    EXPECT_EQ(about.windowTitle(), "About " + QApplication::applicationName() + " ...");
    EXPECT_EQ(FindControl<QLabel>(&about, 1064)->text(), "Vokta");
    EXPECT_EQ(FindControl<QLabel>(&about, 1066)->text(), VOKTA_VERSION);
    for (int id : {1039, 1043, 1067})
        EXPECT_FALSE(FindControl<QLabel>(&about, id)->text().isEmpty()) << id;
    EXPECT_EQ(FindControl<QLabel>(&about, 1069)->text(),
              "This program is free software under the GNU General Public License, version 3 or later.");
    EXPECT_TRUE(FindControl<QPlainTextEdit>(&about, 1068)->toPlainText().startsWith("Vokta duplicates, formats"));
    EXPECT_EQ(FindControl<QPushButton>(&about, 1)->text(), "&OK");
}

TEST(AboutBox, MissingValuesLeaveTheTemplatesTexts)
{
    AboutBox about(nullptr, VersionInfo{"", "", "9.9", "", ""});
    EXPECT_EQ(FindControl<QLabel>(&about, 1064)->text(), "Vokta");
    EXPECT_EQ(FindControl<QLabel>(&about, 1039)->text(), "Diskette utility");
    EXPECT_EQ(FindControl<QLabel>(&about, 1066)->text(), "9.9");
    EXPECT_EQ(FindControl<QLabel>(&about, 1043)->text(), "");
}

// The program's command line: bindings and the image, and what is no such line.
namespace {

std::optional<ProgramLine> Parse(std::vector<std::string> arguments, std::string& error)
{
    return ParseProgramLine(arguments, error);
}

std::string Bound(const ProgramLine& line)
{
    std::string bound;
    for (const DriveOption& drive : line.drives)
        bound += (bound.empty() ? "" : " ") + std::string(1, drive.letter) + "=" + drive.path;
    return bound;
}

}  // namespace

TEST(ProgramLine, TakesBindingsAndOneImage)
{
    struct Case {
        std::vector<std::string> arguments;
        std::string image;
        std::string drives;
    };
    const Case cases[] = {
        {{}, "", ""},
        {{"disk.dim"}, "disk.dim", ""},
        {{"--drive", "A:=/x/a.img", "--drive=b:=/x/b.img,type=720k", "d.ima"}, "d.ima", "A=/x/a.img B=/x/b.img"},
        {{"--", "-odd.dim"}, "-odd.dim", ""},
    };
    for (const Case& c : cases) {
        std::string error;
        const std::optional<ProgramLine> line = Parse(c.arguments, error);
        ASSERT_TRUE(line) << error;
        EXPECT_EQ(line->imageFile, c.image);
        EXPECT_EQ(Bound(*line), c.drives);
        EXPECT_FALSE(line->help);
    }
}

TEST(ProgramLine, RefusesWhatIsNoSuchLine)
{
    struct Case {
        std::vector<std::string> arguments;
        std::string reason;
    };
    const Case cases[] = {
        {{"--drive"}, "--drive needs L:=PATH"},
        {{"--drive", "/x/a.img"}, "--drive: "},
        {{"--colour"}, "unknown option --colour"},
        {{"a.dim", "b.dim"}, "one image file only, not also b.dim"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(Parse(c.arguments, error));
        EXPECT_TRUE(error.starts_with(c.reason)) << error;
    }
}

TEST(ProgramLine, HelpIsAsked)
{
    std::string error;
    const std::optional<ProgramLine> line = Parse({"--help"}, error);
    ASSERT_TRUE(line);
    EXPECT_TRUE(line->help);
    EXPECT_TRUE(ProgramUsage("vokta").starts_with("Usage: vokta [--drive L:=PATH[,type=T]]... [IMAGE]\n"));
}
