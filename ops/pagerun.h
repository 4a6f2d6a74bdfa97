#pragma once

#include <QLineEdit>
#include <QWidget>
#include <chrono>
#include <functional>

#include "ops/qthost.h"
#include "ops/runner.h"

namespace vokta {

// How a page runs its operation.
struct PageRunFlags {
    // "?" in the result field while the operation runs (Read Disk keeps the old result).
    bool questionMarkFirst = true;
    // The setting "EnableTopMostAtEnd": the main window restored and brought to the front
    // at the end.
    bool bringToFrontAtEnd = false;
    // How long the page waits for its worker once the progress dialog has ended.
    std::chrono::milliseconds grace = kWorkerGrace;
};

// The page's own step after the worker, before the result is shown.
using PageFollowUp = std::function<void(const OperationOutcome&)>;

// The routine of an operation button: the progress dialog over `page`, the worker on a
// thread of its own, the dialog run modally, then the wait for the worker, the page's
// follow-up and the result in `resultField`. A worker that has not ended within the grace
// is abandoned: it counts as failed and never reaches the dialog or the page again.
OperationOutcome RunOperationOnPage(QWidget& page, QWidget* mainWindow, QLineEdit& resultField, Worker worker,
                                    const PageRunFlags& flags, const PageFollowUp& followUp,
                                    SoundPlayer playSound);

// "OK.", "Aborted !" or "Failed !" in the page's result field.
void ShowResult(QLineEdit& resultField, int result);

// The main window restored if minimised, raised and activated.
void BringToFront(QWidget& mainWindow);

}  // namespace vokta
