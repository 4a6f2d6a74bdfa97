// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/startup.h"

#include <QApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QMessageBox>

#include "app/association.h"
#include "app/drivebindings.h"
#include "app/language.h"
#include "app/mainwindow.h"
#include "app/platform.h"
#include "app/programline.h"
#include "ui/settingsstore.h"
#include "ui/shell.h"
#include "ui/tooltips.h"
#include "ui/dialogframe.h"
#include "ops/runner.h"
#include "ui/uitext.h"

namespace vokta {
namespace {

void RefusePlatform()
{
    QMessageBox refusal(QMessageBox::Critical, UiText(Str::FatalError), UiText(Str::NotWindows95), QMessageBox::Ok);
    refusal.setWindowModality(Qt::ApplicationModal);
    FitFrame(refusal, FrameButtons::Close);
    refusal.exec();
}

std::vector<std::string> Strings(const QStringList& list)
{
    std::vector<std::string> strings;
    for (const QString& item : list)
        strings.push_back(item.toStdString());
    return strings;
}

}  // namespace

void ShowUntilClosed(MainWindow& window)
{
    QEventLoop loop;
    QObject::connect(&window, &MainWindow::closed, &loop, &QEventLoop::quit);
    window.show();
    loop.exec();
}

int RunStartup(const StartupInputs& inputs, const ShowMainWindow& show)
{
    WriteDimAssociation(inputs.executable);
    QSettings& store = *inputs.store;
    Shell shell;
    shell.settings.language = ReadLanguage(store);
    LanguageSelection languages(inputs.italianModule);
    languages.Select(shell.settings.language);
    if (!PlatformSupported()) {
        RefusePlatform();
        return 1;
    }
    const std::string program = QFileInfo(inputs.executable).fileName().toStdString();
    const ProgramStart start = ReadProgramLine(Strings(inputs.arguments), program, inputs.output, inputs.errors);
    if (!start.line)
        return start.status;
    const ProgramLine& line = *start.line;
    shell.commandLineFile = QString::fromStdString(line.imageFile);
    shell.store = &store;
    shell.commandLineDrives = line.drives;
    BindDrives(*inputs.drives, ReadDriveBindings(store), line.drives);
    shell.drives = inputs.drives;

    ToolTipRule tips(shell.settings);
    qApp->installEventFilter(&tips);
    int startPage = 0;
    for (;;) {
        const int language = shell.settings.language;
        languages.Select(language);
        const QString title = UiText(Str::SheetTitle);
        // Read before the window is built: its pages take their first state from them.
        ReadOptions(store, shell.settings);
        {
            MainWindow window(shell, title, startPage);
            show(window);
        }
        WriteOptions(store, shell.settings);
        store.sync();
        if (shell.settings.language == language)
            break;
        startPage = MainWindow::kOptionsPage;
    }
    qApp->removeEventFilter(&tips);
    // A worker a closed page let go still writes what it was writing, before the program ends.
    WaitForAbandonedWorkers();
    return 0;
}

}  // namespace vokta
