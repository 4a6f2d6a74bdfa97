// Saves a picture of every tab of the main window, of the About box and of the help, as
// the program shows them after start-up, and of the pages after a real operation on a
// diskette file bound to A:, in English and in Italian; tools/screenshots.sh runs it under
// a virtual X server. The settings go to a temporary folder, not to the user's.
#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <cstdio>

#include "app/aboutbox.h"
#include "app/helpwindow.h"
#include "app/mainwindow.h"
#include "app/settingsstore.h"
#include "app/startup.h"
#include "info/infopage.h"
#include "ops/uitext.h"

namespace {

constexpr int kInfoPage = 4;

bool Save(QWidget& widget, const QString& path)
{
    QApplication::processEvents();
    const bool saved = widget.grab().save(path);
    std::printf("%s %s\n", saved ? "saved" : "could not save", qPrintable(path));
    return saved;
}

// The Info tab after "&Get Info" on drive A:.
bool SaveInfoReport(vokta::MainWindow& window, const QString& path)
{
    window.pages().setCurrentIndex(kInfoPage);
    QApplication::processEvents();
    auto* getInfo = vokta::FindControl<QPushButton>(&window, vokta::InfoControl::GetInfo);
    if (getInfo == nullptr)
        return false;
    getInfo->click();
    return Save(window, path);
}

// Runs the program once in `language` with the diskette file bound to A:, and hands its
// main window to `look`.
int RunWith(int language, const QString& diskette, const std::function<void(vokta::MainWindow&)>& look)
{
    using namespace vokta;
    QTemporaryDir settingsFolder;
    QSettings store(settingsFolder.filePath("vokta.conf"), QSettings::IniFormat);
    store.setValue(QString("%1/Language").arg(kOptionsGroup), language);
    // The sounds would only slow the pictures down.
    store.setValue(QString("%1/Job Completed Sound Path").arg(kOptionsGroup), "");
    store.setValue(QString("%1/Error Sound Path").arg(kOptionsGroup), "");
    DriveTable drives;
    const StartupInputs inputs{{"--drive", "A:=" + diskette}, QApplication::applicationFilePath(), &store, &drives};
    return RunStartup(inputs, [&](MainWindow& window) {
        window.show();
        look(window);
        window.close();
    });
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace vokta;
    QApplication application(argc, argv);
    QApplication::setApplicationName("vokta");
    if (argc != 3) {
        std::fprintf(stderr, "Usage: %s FOLDER DISKETTE-FILE\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QString diskette = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(folder);
    bool allSaved = true;
    int status = RunWith(0, diskette, [&](MainWindow& window) {
        QTabWidget& pages = window.pages();
        for (int page = 0; page < pages.count(); ++page) {
            pages.setCurrentIndex(page);
            const QString name = pages.tabText(page).remove('&').toLower();
            allSaved &= Save(window, QString("%1/tab%2-%3.png").arg(folder).arg(page + 1).arg(name));
        }
        allSaved &= SaveInfoReport(window, folder + "/info.png");
        AboutBox about(&window);
        about.show();
        allSaved &= Save(about, folder + "/about.png");
        about.close();
        HelpWindow help(&window);
        help.show();
        allSaved &= Save(help, folder + "/help.png");
    });
    if (status == 0)
        status = RunWith(1, diskette, [&](MainWindow& window) {
            allSaved &= SaveInfoReport(window, folder + "/info-it.png");
        });
    return status != 0 ? status : allSaved ? 0 : 1;
}
