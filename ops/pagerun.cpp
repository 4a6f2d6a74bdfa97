#include "ops/pagerun.h"

#include "ops/uitext.h"

namespace vokta {

OperationOutcome RunOperationOnPage(QWidget& page, QWidget* mainWindow, QLineEdit& resultField, Worker worker,
                                    const PageRunFlags& flags, const PageFollowUp& followUp,
                                    SoundPlayer playSound)
{
    QWidget* owner = mainWindow ? mainWindow : page.window();
    OperationOutcome outcome;
    {
        ProgressDialog dialog(&page, owner);
        if (flags.questionMarkFirst)
            resultField.setText(QStringLiteral("?"));
        // The worker's calls wait for the dialog's loop, which starts with exec(): none is
        // carried out, and none lost, before the dialog shows.
        auto host = std::make_shared<QtHost>(dialog, page, std::move(playSound));
        outcome = RunOperation(std::move(worker), host, [&dialog] { dialog.exec(); }, flags.grace);
        host->Detach();
        if (followUp)
            followUp(outcome);
        ShowResult(resultField, outcome.result);
    }
    if (flags.bringToFrontAtEnd && owner)
        BringToFront(*owner);
    return outcome;
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
