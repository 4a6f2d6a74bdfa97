// Start-up and the main window as a user meets them: a fresh user's first run, the
// settings written when the window closes, the language switch, the tool tips, the About
// box, the command line and the ".dim" association. The settings and the data folder live
// in a temporary folder; the modal showing of the window is replaced by each test's steps.
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QHelpEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QToolTip>
#include <QtTest>
#include <functional>

#include "app/aboutbox.h"
#include "app/helpwindow.h"
#include "app/mainwindow.h"
#include "app/programline.h"
#include "app/startup.h"
#include "ops/uitext.h"

namespace vokta {
namespace {

const QStringList kEnglishTabs = {"DupDisk", "Format", "Repair", "Boot", "Info", "Options"};
const QStringList kEnglishButtons = {"&Quit", "&About", "&Help"};
const QStringList kItalianTabs = {"Duplica", "Formatta", "Ripara", "Boot", "Info", "Opzioni"};
const QStringList kItalianButtons = {"&Esci", "&Informazioni", "&Guida"};
constexpr const char* kMissingModule = "libvokta-no-such-module.so";
// By its path: the sanitizers' dlopen does not search the test's run path.
constexpr const char* kItalianModule = VOKTA_BINARY_DIR "/lib/libvoktaita.so";

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
    for (int id : {MainWindow::kQuitButton, MainWindow::kAboutButton, MainWindow::kHelpButton})
        pass.buttons << FindControl<QPushButton>(&window, id)->text();
    pass.title = window.windowTitle();
    return pass;
}

void Quit(MainWindow& window)
{
    QTest::mouseClick(FindControl<QPushButton>(&window, MainWindow::kQuitButton), Qt::LeftButton);
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

// What desktop-file-validate says of a desktop entry: nothing when it is valid, without a hint.
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

// A check by a tool nobody here wrote: skipped when the tool is missing, but failed where
// the tools are required (CI), since a check that did not run is no check.
#define REQUIRE_TOOL(tool)                                                 \
    do {                                                                   \
        if (QStandardPaths::findExecutable(tool).isEmpty()) {              \
            if (qEnvironmentVariable("VOKTA_REQUIRE_TOOLS") == "1")        \
                QFAIL(tool " is not installed");                           \
            QSKIP(tool " is not installed");                               \
        }                                                                  \
    } while (false)

QString ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

}  // namespace

class StartupTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> home_;
    DriveTable drives_;

    QString SettingsFile() const { return home_->filePath("config/Harlen/vokta.conf"); }
    QString DataHome() const { return home_->filePath("data"); }

    // Runs start-up as the program does, each showing of the window handed to `steps`.
    int Run(const std::function<void(MainWindow&)>& steps, QStringList arguments = {},
            const char* italianModule = kMissingModule, QString executable = "/usr/bin/vokta",
            std::FILE* errors = stderr)
    {
        QSettings store(SettingsFile(), QSettings::IniFormat);
        StartupInputs inputs{arguments, executable, &store, &drives_, italianModule, stdout, errors};
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

    // Chooses another language as the user does on the Options page.
    static void ChooseLanguage(MainWindow& window, int language)
    {
        window.shell().settings.language = language;
        window.close();
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

private slots:
    void init()
    {
        home_ = std::make_unique<QTemporaryDir>();
        QVERIFY(home_->isValid());
        // The association and the default diskette file go to the data folder.
        qputenv("XDG_DATA_HOME", DataHome().toUtf8());
        qputenv("XDG_CONFIG_HOME", home_->filePath("config").toUtf8());
        drives_ = DriveTable();
    }

    // A run that ends in Italian leaves that module selected: the next test starts in English.
    void cleanup() { SetResourceModule(nullptr); }

    void freshUserGetsTheDefaultsAndQuitStoresAllTen()
    {
        std::vector<Pass> passes;
        Settings shown;
        QCOMPARE(Run([&](MainWindow& window) {
                     passes.push_back(Look(window));
                     shown = window.shell().settings;
                     Quit(window);
                 }),
                 0);
        QCOMPARE(passes.size(), size_t{1});
        QCOMPARE(passes[0].page, 0);
        QCOMPARE(passes[0].tabs, kEnglishTabs);
        QCOMPARE(passes[0].buttons, kEnglishButtons);
        QCOMPARE(passes[0].title, QString("VK Disk Utility for Windows 95"));
        QVERIFY(shown.enableToolTips);
        QVERIFY(!shown.enableHardDisks);
        QVERIFY(shown.hideSubstDrives);
        QVERIFY(shown.enableMultiWriteFormat);
        QVERIFY(shown.verifyAfterWrite);
        QVERIFY(shown.verifyAfterFormat);
        QVERIFY(shown.enableTopMostAtEnd);
        QCOMPARE(shown.jobCompletedSoundPath, std::string("SystemDefault"));
        QCOMPARE(shown.errorSoundPath, std::string("SystemExclamation"));

        QSettings stored(SettingsFile(), QSettings::IniFormat);
        stored.beginGroup("Options");
        QStringList keys = stored.childKeys();
        keys.sort();
        QCOMPARE(keys, (QStringList{"EnableHardDisks", "EnableMultiWriteFormat", "EnableToolTips",
                                    "EnableTopMostAtEnd", "Error Sound Path", "HideSubstDrives",
                                    "Job Completed Sound Path", "Language", "VerifyAfterFormat",
                                    "VerifyAfterWrite"}));
        for (const char* on : {"EnableMultiWriteFormat", "EnableToolTips", "EnableTopMostAtEnd", "HideSubstDrives",
                               "VerifyAfterFormat", "VerifyAfterWrite"})
            QCOMPARE(stored.value(on).toInt(), 1);
        QCOMPARE(stored.value("EnableHardDisks").toInt(), 0);
        QCOMPARE(stored.value("Language").toInt(), 0);
        QCOMPARE(stored.value("Error Sound Path").toString(), QString("SystemExclamation"));
        QCOMPARE(stored.value("Job Completed Sound Path").toString(), QString("SystemDefault"));
    }

    // The window manager's close button ends the program as "&Quit" does: what the user
    // had is read at start and written back.
    void closingByTheWindowManagerKeepsTheStoredChoices()
    {
        Store("EnableToolTips", 0);
        Store("HideSubstDrives", 0);
        Store("EnableHardDisks", 1);
        Store("Error Sound Path", "/sounds/oops.wav");
        Settings shown;
        int passes = 0;
        QCOMPARE(Run([&](MainWindow& window) {
                     ++passes;
                     shown = window.shell().settings;
                     window.shell().settings.verifyAfterWrite = false;
                     window.close();
                 }),
                 0);
        QCOMPARE(passes, 1);
        QVERIFY(!shown.enableToolTips);
        QVERIFY(!shown.hideSubstDrives);
        QVERIFY(shown.enableHardDisks);
        QCOMPARE(shown.errorSoundPath, std::string("/sounds/oops.wav"));
        QSettings stored(SettingsFile(), QSettings::IniFormat);
        QCOMPARE(stored.value("Options/EnableToolTips").toInt(), 0);
        QCOMPARE(stored.value("Options/EnableHardDisks").toInt(), 1);
        QCOMPARE(stored.value("Options/VerifyAfterWrite").toInt(), 0);
        QCOMPARE(stored.value("Options/Error Sound Path").toString(), QString("/sounds/oops.wav"));
    }

    // Without its module, Italian falls back to the English texts, and the choice is kept.
    void languageChangeReopensOnTheOptionsPageAndBack()
    {
        const std::vector<Pass> passes = SwitchToItalianAndBack(kMissingModule);
        QCOMPARE(passes.size(), size_t{3});
        QCOMPARE(passes[0].page, 0);
        QCOMPARE(passes[1].page, MainWindow::kOptionsPage);
        QCOMPARE(passes[2].page, MainWindow::kOptionsPage);
        for (const Pass& pass : passes)
            QCOMPARE(pass.tabs, kEnglishTabs);
        QSettings stored(SettingsFile(), QSettings::IniFormat);
        QCOMPARE(stored.value("Options/Language").toInt(), 0);
    }

    void languageChangeReopensInItalianAndBack()
    {
        const std::vector<Pass> passes = SwitchToItalianAndBack(kItalianModule);
        QCOMPARE(passes.size(), size_t{3});
        QCOMPARE(passes[0].tabs, kEnglishTabs);
        QCOMPARE(passes[1].page, MainWindow::kOptionsPage);
        QCOMPARE(passes[1].tabs, kItalianTabs);
        QCOMPARE(passes[1].buttons, kItalianButtons);
        QCOMPARE(passes[2].page, MainWindow::kOptionsPage);
        QCOMPARE(passes[2].tabs, kEnglishTabs);
        QCOMPARE(passes[2].buttons, kEnglishButtons);
    }

    void storedItalianStartsInItalian()
    {
        Store("Language", 1);
        const std::vector<Pass> passes = LookAndQuit(kItalianModule);
        QCOMPARE(passes.size(), size_t{1});
        QCOMPARE(passes[0].page, 0);
        QCOMPARE(passes[0].tabs, kItalianTabs);
        QCOMPARE(passes[0].buttons, kItalianButtons);
        QCOMPARE(passes[0].title, QString("VK Disk Utility per Windows 95"));
    }

    void storedItalianWithoutItsModuleStartsInEnglish()
    {
        Store("Language", 1);
        const std::vector<Pass> passes = LookAndQuit(kMissingModule);
        QCOMPARE(passes.size(), size_t{1});
        QCOMPARE(passes[0].tabs, kEnglishTabs);
        QCOMPARE(passes[0].buttons, kEnglishButtons);
        QSettings stored(SettingsFile(), QSettings::IniFormat);
        QCOMPARE(stored.value("Options/Language").toInt(), 1);
    }

    // The rule asks for the text at every hover, so switching tips off holds at once.
    void toolTipsFollowTheSettingAtEveryHover()
    {
        QStringList tipsOn, tipsOff, buttonTips;
        QCOMPARE(Run([&](MainWindow& window) {
                     auto* control = new QCheckBox(window.pages().widget(MainWindow::kOptionsPage));
                     SetControlId(control, static_cast<int>(Str::TipEnableToolTips));
                     window.pages().setCurrentIndex(MainWindow::kOptionsPage);
                     control->show();
                     tipsOn << TipAt(control);
                     for (int id : {MainWindow::kQuitButton, MainWindow::kAboutButton, MainWindow::kHelpButton})
                         buttonTips << TipAt(FindControl(&window, id));
                     window.shell().settings.enableToolTips = false;
                     tipsOff << TipAt(control);
                     for (int id : {MainWindow::kQuitButton, MainWindow::kAboutButton, MainWindow::kHelpButton})
                         tipsOff << TipAt(FindControl(&window, id));
                     window.shell().settings.enableToolTips = true;
                     tipsOn << TipAt(control);
                     Quit(window);
                 }),
                 0);
        const QString expected = "Enable/Disable These tool Tips messages.";
        QCOMPARE(tipsOn, (QStringList{expected, expected}));
        // The window's buttons have no string of their id: no tip even with tips on.
        QCOMPARE(buttonTips, (QStringList{"", "", ""}));
        QCOMPARE(tipsOff, (QStringList{"", "", "", ""}));
    }

    void aboutButtonOpensTheAboutBoxAndTheWindowStays()
    {
        QString aboutTitle, product, version;
        bool stillShown = false;
        QCOMPARE(Run([&](MainWindow& window) {
                     QTimer::singleShot(0, [&] {
                         auto* about = qobject_cast<AboutBox*>(QApplication::activeModalWidget());
                         QVERIFY(about);
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
        QCOMPARE(aboutTitle, "About " + QApplication::applicationName() + " ...");
        QCOMPARE(product, QString("Vokta"));
        QCOMPARE(version, QString(VOKTA_VERSION));
        QVERIFY(stillShown);
    }

    void helpButtonShowsTheUserGuide()
    {
        QString guide;
        QCOMPARE(Run([&](MainWindow& window) {
                     QTest::mouseClick(FindControl<QPushButton>(&window, MainWindow::kHelpButton), Qt::LeftButton);
                     auto* help = window.findChild<HelpWindow*>();
                     QVERIFY(help && help->isVisible());
                     guide = help->findChild<QTextBrowser*>()->toPlainText();
                     Quit(window);
                 }),
                 0);
        for (const QString& tab : kEnglishTabs)
            QVERIFY2(guide.contains(tab), qPrintable(tab));
        QVERIFY(guide.contains("--drive"));
        QVERIFY(guide.contains("~/.config/Harlen/vokta.conf"));
    }

    void commandLineNamesTheImageAndBindsDrives()
    {
        const QString diskette = home_->filePath("b drive.img");
        const QString image = home_->filePath("my disk.dim");
        QString kept;
        std::string boundB;
        bool hasA = false;
        QCOMPARE(Run(
                     [&](MainWindow& window) {
                         kept = window.shell().commandLineFile;
                         const DriveBinding* b = window.shell().drives->Find('B');
                         boundB = b ? b->path : "";
                         hasA = window.shell().drives->Find('A') != nullptr;
                         Quit(window);
                     },
                     {"--drive", "B:=" + diskette, image}),
                 0);
        QCOMPARE(kept, image);
        QCOMPARE(QString::fromStdString(boundB), diskette);
        QVERIFY(hasA);
    }

    void badCommandLineIsToldAndChangesNothing()
    {
        std::FILE* errors = std::tmpfile();
        QVERIFY(errors);
        int passes = 0;
        QCOMPARE(Run([&](MainWindow&) { ++passes; }, {"--drive", "Q"}, kMissingModule, "/usr/bin/vokta",
                     errors),
                 2);
        std::rewind(errors);
        char text[512] = {};
        const size_t read = std::fread(text, 1, sizeof text - 1, errors);
        std::fclose(errors);
        const QString told = QString::fromUtf8(text, static_cast<qsizetype>(read));
        QVERIFY2(told.startsWith("vokta: --drive: "), qPrintable(told));
        QVERIFY(told.contains("Usage: vokta"));
        QCOMPARE(passes, 0);
        QVERIFY(!QFile::exists(SettingsFile()));
    }

    // The desktop entry opens the program by its full path, quoted as the desktop reads
    // an Exec key; the desktop's own tools read both files.
    void dimFilesAreAssociatedInTheDataFolder()
    {
        const QString executable = "/opt/my apps/vok\"ta%1";
        QCOMPARE(Run(Quit, {}, kMissingModule, executable), 0);
        const QString entryFile = DataHome() + "/applications/vokta-dimfile.desktop";
        const QString entry = ReadAll(entryFile);
        QVERIFY(entry.contains("\nName=Vokta diskette Image\n"));
        QVERIFY2(entry.contains("\nExec=\"/opt/my apps/vok\\\\\"ta%%1\" %f\n"), qPrintable(entry));
        REQUIRE_TOOL("desktop-file-validate");
        QCOMPARE(Validate(entryFile), QString());
        REQUIRE_TOOL("update-desktop-database");
        QVERIFY(ReadAll(DataHome() + "/applications/mimeinfo.cache")
                    .contains("application/x-vokta-dim=vokta-dimfile.desktop;"));
        REQUIRE_TOOL("update-mime-database");
        QVERIFY(ReadAll(DataHome() + "/mime/globs2").contains("application/x-vokta-dim:*.dim"));
    }

    void programDesktopEntryIsValid()
    {
        REQUIRE_TOOL("desktop-file-validate");
        QCOMPARE(Validate(VOKTA_SOURCE_DIR "/res/desktop/vokta.desktop"), QString());
    }
};

// The About box's fields from the version information, and the template's texts where a
// value is missing.
class AboutBoxTest : public QObject {
    Q_OBJECT

private slots:
    void fieldsShowTheBuildsVersionInformation()
    {
        AboutBox about(nullptr);
        QCOMPARE(about.windowTitle(), "About " + QApplication::applicationName() + " ...");
        QCOMPARE(FindControl<QLabel>(&about, 1064)->text(), QString("Vokta"));
        QCOMPARE(FindControl<QLabel>(&about, 1066)->text(), QString(VOKTA_VERSION));
        for (int id : {1039, 1043, 1067})
            QVERIFY(!FindControl<QLabel>(&about, id)->text().isEmpty());
        QVERIFY(FindControl<QPlainTextEdit>(&about, 1068)->toPlainText().startsWith("Vokta duplicates, formats"));
        QCOMPARE(FindControl<QPushButton>(&about, 1)->text(), QString("&OK"));
    }

    void missingValuesLeaveTheTemplatesTexts()
    {
        AboutBox about(nullptr, VersionInfo{"", "", "9.9", "", ""});
        QCOMPARE(FindControl<QLabel>(&about, 1064)->text(), QString("Vokta"));
        QCOMPARE(FindControl<QLabel>(&about, 1039)->text(), QString("Diskette utility"));
        QCOMPARE(FindControl<QLabel>(&about, 1066)->text(), QString("9.9"));
        QCOMPARE(FindControl<QLabel>(&about, 1043)->text(), QString());
    }
};

// The program's command line: bindings and the image, and what is no such line.
class ProgramLineTest : public QObject {
    Q_OBJECT

private slots:
    void accepted_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("image");
        QTest::addColumn<QString>("drives");
        QTest::newRow("nothing") << QStringList{} << "" << "";
        QTest::newRow("image") << QStringList{"disk.dim"} << "disk.dim" << "";
        QTest::newRow("two bindings") << QStringList{"--drive", "A:=/x/a.img", "--drive=b:=/x/b.img,type=720k", "d.ima"}
                                      << "d.ima" << "A=/x/a.img B=/x/b.img";
        QTest::newRow("image after --") << QStringList{"--", "-odd.dim"} << "-odd.dim" << "";
    }

    void accepted()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, image);
        QFETCH(QString, drives);
        std::vector<std::string> given;
        for (const QString& argument : arguments)
            given.push_back(argument.toStdString());
        std::string error;
        const std::optional<ProgramLine> line = ParseProgramLine(given, error);
        QVERIFY2(line, error.c_str());
        QCOMPARE(QString::fromStdString(line->imageFile), image);
        QStringList bound;
        for (const DriveOption& drive : line->drives)
            bound << QString("%1=%2").arg(drive.letter).arg(QString::fromStdString(drive.path));
        QCOMPARE(bound.join(' '), drives);
    }

    void refused_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("reason");
        QTest::newRow("binding missing") << QStringList{"--drive"} << "--drive needs L:=PATH";
        QTest::newRow("no letter") << QStringList{"--drive", "/x/a.img"} << "--drive: ";
        QTest::newRow("unknown option") << QStringList{"--colour"} << "unknown option --colour";
        QTest::newRow("two images") << QStringList{"a.dim", "b.dim"} << "one image file only, not also b.dim";
    }

    void refused()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, reason);
        std::vector<std::string> given;
        for (const QString& argument : arguments)
            given.push_back(argument.toStdString());
        std::string error;
        QVERIFY(!ParseProgramLine(given, error));
        QVERIFY2(QString::fromStdString(error).startsWith(reason), error.c_str());
    }

    void helpIsAsked()
    {
        std::string error;
        const std::optional<ProgramLine> line = ParseProgramLine({"--help"}, error);
        QVERIFY(line && line->help);
        QVERIFY(ProgramUsage("vokta").starts_with("Usage: vokta [--drive L:=PATH[,type=T]]... [IMAGE]\n"));
    }
};

}  // namespace vokta

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName("vokta");
    int failed = 0;
    {
        vokta::StartupTest test;
        failed += QTest::qExec(&test, argc, argv);
    }
    {
        vokta::AboutBoxTest test;
        failed += QTest::qExec(&test, argc, argv);
    }
    {
        vokta::ProgramLineTest test;
        failed += QTest::qExec(&test, argc, argv);
    }
    return failed;
}

#include "startup_test.moc"
