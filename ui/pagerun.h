// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLineEdit>
#include <QWidget>
#include <chrono>
#include <functional>

#include "ui/qthost.h"
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
// thread of its own, the dialog run modally, then the wait for the worker (the window's
// events still handled, the user's input held back), the page's follow-up, the result in
// `resultField`, and what drive objects could not make last told under the dialog's
// title. A worker that has not ended within the grace is abandoned: it counts as failed
// and never reaches the dialog or the page again.
OperationOutcome RunOperationOnPage(QWidget& page, QWidget* mainWindow, QLineEdit& resultField, Worker worker,
                                    const PageRunFlags& flags, const PageFollowUp& followUp,
                                    SoundPlayer playSound);

// The page's side of work without a progress dialog: `worker` started on `run` with a
// host over `page` (message boxes, OnPage changes, sounds), and `ended` called with its
// outcome on the user-interface thread once it has ended, unless the page is gone by then.
void StartOnPage(WorkerRun& run, QWidget& page, SoundPlayer playSound,
                 std::function<OperationOutcome(QtHost&)> worker,
                 std::function<void(const OperationOutcome&)> ended);

// What drive objects recorded as lost since last told, in one message box over `owner`
// under `caption`; nothing when none was.
void TellLostWork(QWidget& owner, const std::string& caption);

// "OK.", "Aborted !" or "Failed !" in the page's result field.
void ShowResult(QLineEdit& resultField, int result);

// The main window restored if minimised, raised and activated.
void BringToFront(QWidget& mainWindow);

}  // namespace vokta
