// Saves a picture of every tab of the main window, of the About box and of the help, as
// the program shows them after start-up; tools/screenshots.sh runs it under a virtual
// X server. The settings go to a temporary folder, not to the user's.
#include <QApplication>
#include <QDir>
#include <QTabWidget>
#include <QTemporaryDir>
#include <cstdio>

#include "app/aboutbox.h"
#include "app/helpwindow.h"
#include "app/mainwindow.h"
#include "app/startup.h"

namespace {

bool Save(QWidget& widget, const QString& path)
{
    QApplication::processEvents();
    const bool saved = widget.grab().save(path);
    std::printf("%s %s\n", saved ? "saved" : "could not save", qPrintable(path));
    return saved;
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace vokta;
    QApplication application(argc, argv);
    QApplication::setApplicationName("vokta");
    if (argc != 2) {
        std::fprintf(stderr, "Usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    QTemporaryDir settingsFolder;
    QSettings store(settingsFolder.filePath("vokta.conf"), QSettings::IniFormat);
    DriveTable drives;
    bool allSaved = true;
    const StartupInputs inputs{{}, QApplication::applicationFilePath(), &store, &drives};
    const int status = RunStartup(inputs, [&](MainWindow& window) {
        window.show();
        QTabWidget& pages = window.pages();
        for (int page = 0; page < pages.count(); ++page) {
            pages.setCurrentIndex(page);
            const QString name = pages.tabText(page).remove('&').toLower();
            allSaved &= Save(window, QString("%1/tab%2-%3.png").arg(folder).arg(page + 1).arg(name));
        }
        AboutBox about(&window);
        about.show();
        allSaved &= Save(about, folder + "/about.png");
        about.close();
        HelpWindow help(&window);
        help.show();
        allSaved &= Save(help, folder + "/help.png");
        window.close();
    });
    return status != 0 ? status : allSaved ? 0 : 1;
}
