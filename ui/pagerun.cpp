// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/pagerun.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include "drive/lostwork.h"
#include "ui/uitext.h"

namespace vokta {
namespace {

// Keeps the window's events going until the run ends or `grace` has passed, without
// taking the user's input, so the page cannot change or go under the wait.
std::optional<OperationOutcome> AwaitWorker(WorkerRun& run, std::chrono::milliseconds grace)
{
    if (!run.Ended()) {
        QEventLoop loop;
        QTimer poll;
        poll.setInterval(5);
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (run.Ended())
                loop.quit();
        });
        QTimer::singleShot(grace, &loop, &QEventLoop::quit);
        poll.start();
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    return run.WaitFor(std::chrono::milliseconds(0));
}

}  // namespace

OperationOutcome RunOperationOnPage(QWidget& page, QWidget* mainWindow, QLineEdit& resultField, Worker worker,
                                    const PageRunFlags& flags, const PageFollowUp& followUp,
                                    SoundPlayer playSound)
{
    QWidget* owner = mainWindow ? mainWindow : page.window();
    OperationOutcome outcome{kResultFailed, FollowUp::None};
    {
        ProgressDialog dialog(&page, owner);
        if (flags.questionMarkFirst)
            resultField.setText(QStringLiteral("?"));
        WorkerRun run;
        // The worker's calls wait for the dialog's loop, which starts with exec(): none is
        // carried out, and none lost, before the dialog shows.
        run.Start(std::move(worker), std::make_shared<QtHost>(&dialog, page, std::move(playSound), run.Link()));
        dialog.exec();
        if (std::optional<OperationOutcome> ended = AwaitWorker(run, flags.grace))
            outcome = *ended;
        else
            run.Abandon();
        if (followUp)
            followUp(outcome);
        ShowResult(resultField, outcome.result);
        TellLostWork(page, dialog.windowTitle().toStdString());
    }
    if (flags.bringToFrontAtEnd && owner)
        BringToFront(*owner);
    return outcome;
}

void StartOnPage(WorkerRun& run, QWidget& page, SoundPlayer playSound,
                 std::function<OperationOutcome(QtHost&)> worker,
                 std::function<void(const OperationOutcome&)> ended)
{
    auto host = std::make_shared<QtHost>(nullptr, page, std::move(playSound), run.Link());
    run.Start(
        // The worker talks to its own host directly: it answers harmlessly once cut.
        [host, worker = std::move(worker)](OperationHost&) { return worker(*host); }, host,
        [link = run.Link(), page = QPointer<QWidget>(&page), ended = std::move(ended)](const OperationOutcome& outcome) {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [link, page, ended, outcome] {
                    if (page && !link->IsCut())
                        ended(outcome);
                },
                Qt::QueuedConnection);
        });
}

void TellLostWork(QWidget& owner, const std::string& caption)
{
    const std::vector<std::string> lost = TakeLostWork();
    if (lost.empty())
        return;
    std::string text;
    for (const std::string& line : lost)
        text += (text.empty() ? "" : "\n") + line;
    AskInMessageBox(owner, text, caption, Buttons::Ok, Icon::Warning);
}

void ShowResult(QLineEdit& resultField, int result)
{
    resultField.setText(UiText(ResultText(result)));
}

void BringToFront(QWidget& mainWindow)
{
    if (mainWindow.isMinimized())
        mainWindow.setWindowState(mainWindow.windowState() & ~Qt::WindowMinimized);
    mainWindow.show();
    mainWindow.raise();
    mainWindow.activateWindow();
}

}  // namespace vokta
