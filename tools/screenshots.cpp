// SPDX-License-Identifier: GPL-3.0-or-later
// Saves a picture of every tab of the main window, of the About box, of the help and of the
// drives dialog with the file dialog its Browse opens, as the program shows them after start-up, and of the pages after a real operation on a
// diskette file bound to A:, in English and in Italian; tools/screenshots.sh runs it under
// a virtual X server. The settings go to a temporary folder, not to the user's.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "app/aboutbox.h"
#include "app/drivesdialog.h"
#include "app/helpwindow.h"
#include "app/mainwindow.h"
#include "ui/settingsstore.h"
#include "app/startup.h"
#include "app/pages/bootpage.h"
#include "app/pages/repairpage.h"
#include "app/pages/dupdiskpage.h"
#include "app/pages/rescuedialog.h"
#include "app/pages/infopage.h"
#include "ui/progressdialog.h"
#include "ui/trackmapview.h"
#include "ui/uitext.h"

namespace {

enum PageIndex { kDupDiskPage, kRepairPage = 2, kBootPage, kInfoPage };

bool Save(QWidget& widget, const QString& path)
{
    QApplication::processEvents();
    const bool saved = widget.grab().save(path);
    std::printf("%s %s\n", saved ? "saved" : "could not save", qPrintable(path));
    return saved;
}

// What a Spectator pictures, each once; an empty path pictures nothing.
struct Pictures {
    QString progress;  // the progress dialog at a third of its way or more
    QString progressMap;  // the same with its track map shown, once the map has begun
    QString rescue;  // the rescue dialog, before it is answered with `rescueImage`
    QString rescueImage;
    QString trackMap;  // the page's track map, with the line of a lost track if any
};

// Stands in for the user while an operation's modal loops run: every question is answered
// Yes (or OK), and the windows of `pictures` are pictured as they come.
class Spectator {
public:
    explicit Spectator(Pictures pictures) : pictures_(std::move(pictures))
    {
        timer_.setInterval(2);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Look(); });
        timer_.start();
    }
    bool progressSaved() const { return progressSaved_; }
    bool progressMapSaved() const { return progressMapSaved_; }

private:
    void Look()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            QAbstractButton* yes = box->button(QMessageBox::Yes);
            (yes ? yes : box->button(QMessageBox::Ok))->click();
        } else if (auto* dialog = qobject_cast<vokta::ProgressDialog*>(modal)) {
            LookAtProgress(*dialog);
        } else if (auto* rescue = qobject_cast<vokta::RescueDialog*>(modal)) {
            AnswerRescue(*rescue);
        } else if (auto* view = modal ? modal->findChild<vokta::TrackMapView*>() : nullptr) {
            LookAtMap(*view);
            qobject_cast<QDialog*>(modal)->accept();
        }
    }

    void LookAtProgress(vokta::ProgressDialog& dialog)
    {
        if (dialog.Bar().Percent() < 30)
            return;
        if (!pictures_.progress.isEmpty() && !progressSaved_)
            progressSaved_ = Save(dialog, pictures_.progress);
        auto* details = vokta::FindControl<QPushButton>(&dialog, vokta::ProgressControl::Details);
        if (pictures_.progressMap.isEmpty() || progressMapSaved_ || !details->isEnabled())
            return;
        details->click();
        progressMapSaved_ = Save(dialog, pictures_.progressMap);
        details->click();
    }

    void AnswerRescue(vokta::RescueDialog& dialog)
    {
        dialog.findChild<QLineEdit*>(QStringLiteral("image"))->setText(pictures_.rescueImage);
        if (!pictures_.rescue.isEmpty())
            Save(dialog, pictures_.rescue);
        dialog.accept();
    }

    void LookAtMap(vokta::TrackMapView& view)
    {
        const vokta::TrackMap& map = view.Map();
        for (uint16_t cylinder = 0; cylinder < map.shape().cylinders; ++cylinder)
            for (uint8_t head = 0; head < map.shape().heads; ++head)
                if (map.State(cylinder, head) == vokta::TrackState::Lost && view.TrackLineText().isEmpty())
                    view.Select(cylinder, head);
        if (view.TrackLineText().isEmpty())
            view.Select(0, 0);
        if (!pictures_.trackMap.isEmpty())
            Save(*view.window(), pictures_.trackMap);
    }

    Pictures pictures_;
    bool progressSaved_ = false;
    bool progressMapSaved_ = false;
    QTimer timer_;
};

// Presses the button with `id` on `page` of the window as the user does.
bool Press(vokta::MainWindow& window, int page, int id)
{
    window.pages().setCurrentIndex(page);
    QApplication::processEvents();
    auto* button = vokta::FindControl<QAbstractButton>(window.pages().widget(page), id);
    if (button == nullptr)
        return false;
    button->click();
    return true;
}

// Waits, for at most 30 s, until the button that a worker of its own holds disabled is
// enabled again.
void WaitForButton(vokta::MainWindow& window, int page, int id)
{
    auto* button = vokta::FindControl<QWidget>(window.pages().widget(page), id);
    QElapsedTimer clock;
    clock.start();
    while (button != nullptr && !button->isEnabled() && clock.elapsed() < 30000)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
}

// A rescue read of A: into a file of its own, with the rescue dialog, the progress dialog
// with its track map (unless Read Disk gave it already), and the map after it, the names
// ending in `suffix`.
bool SaveRescue(vokta::MainWindow& window, const QString& folder, const QString& suffix)
{
    using namespace vokta;
    QTemporaryDir scratch;
    const QString progressMap = folder + "/progress-map" + suffix + ".png";
    Spectator spectator({.progressMap = QFileInfo::exists(progressMap) ? QString() : progressMap,
                         .rescue = folder + "/rescue" + suffix + ".png",
                         .rescueImage = scratch.filePath("rescued.img"),
                         .trackMap = folder + "/trackmap" + suffix + ".png"});
    window.pages().setCurrentIndex(kDupDiskPage);
    WaitForButton(window, kDupDiskPage, DupDiskControl::RescueDisk);
    bool saved = Press(window, kDupDiskPage, DupDiskControl::RescueDisk);
    saved &= Save(window, folder + "/dupdisk-rescue" + suffix + ".png");
    saved &= Press(window, kDupDiskPage, DupDiskControl::MapButton);
    return saved && QFileInfo::exists(progressMap);
}

// The pages after a real operation each on the diskette of drive A:: a Read Disk (and the
// progress dialog half-way through it), a repair that finds nothing, a boot sector check,
// and the information report. The Format page's pictures come from its own tests.
bool SaveOperations(vokta::MainWindow& window, const QString& folder)
{
    using namespace vokta;
    bool saved = true;
    {
        Spectator spectator({.progress = folder + "/progress-read.png", .progressMap = folder + "/progress-map.png"});
        // Read Disk waits for the drive selector's entries.
        window.pages().setCurrentIndex(kDupDiskPage);
        WaitForButton(window, kDupDiskPage, DupDiskControl::ReadDisk);
        saved &= Press(window, kDupDiskPage, DupDiskControl::ReadDisk) && Save(window, folder + "/dupdisk.png");
        saved &= spectator.progressSaved();
    }
    saved &= SaveRescue(window, folder, QString());
    Spectator spectator({});
    saved &= Press(window, kRepairPage, RepairControl::Start) && Save(window, folder + "/repair.png");
    saved &= Press(window, kBootPage, BootControl::Check);
    WaitForButton(window, kBootPage, BootControl::Check);
    saved &= Save(window, folder + "/boot.png");
    saved &= Press(window, kInfoPage, InfoControl::GetInfo);
    WaitForButton(window, kInfoPage, InfoControl::GetInfo);
    saved &= Save(window, folder + "/info.png");
    return saved;
}

// The drives dialog with the diskette file bound to A:, and the file dialog its Browse
// opens, showing the first of the kinds of files it offers (all of them are printed).
bool SaveDrivesDialog(QWidget& window, const QString& folder, const QString& diskette)
{
    using namespace vokta;
    DrivesDialog dialog({{'A', diskette.toStdString(), DriveKind::Floppy35HD}}, &window);
    bool saved = true;
    dialog.SetFileChooser([&](QWidget* parent, const FileRequest& request) {
        QFileDialog files(parent, QString(), request.folder, request.filter);
        files.setOption(QFileDialog::DontUseNativeDialog);
        files.show();
        std::printf("file kinds offered: %s\n", qPrintable(request.filter));
        saved &= Save(files, folder + "/drives-browse.png");
        return QString();
    });
    dialog.show();
    saved &= Save(dialog, folder + "/drives.png");
    auto* browse = FindControl<QPushButton>(&dialog, static_cast<int>(Str::TipBrowseDisketteFile));
    if (browse == nullptr)
        return false;
    browse->click();
    return saved;
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
        allSaved &= SaveOperations(window, folder);
        AboutBox about(&window);
        about.show();
        allSaved &= Save(about, folder + "/about.png");
        about.close();
        HelpWindow help(&window);
        help.show();
        allSaved &= Save(help, folder + "/help.png");
        allSaved &= SaveDrivesDialog(window, folder, diskette);
    });
    if (status == 0)
        status = RunWith(1, diskette, [&](MainWindow& window) {
            allSaved &= SaveRescue(window, folder, QStringLiteral("-it"));
            Spectator spectator({});
            allSaved &= Press(window, kInfoPage, InfoControl::GetInfo);
            WaitForButton(window, kInfoPage, InfoControl::GetInfo);
            allSaved &= Save(window, folder + "/info-it.png");
        });
    return status != 0 ? status : allSaved ? 0 : 1;
}
