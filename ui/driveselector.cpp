// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/driveselector.h"

#include <QSignalBlocker>

#include "ui/pagerun.h"

namespace vokta {

DriveSelectorFiller::DriveSelectorFiller(QComboBox& selector, const Shell& shell, std::vector<QWidget*> actions)
    : selector_(selector), shell_(shell), actions_(std::move(actions))
{
}

// The run's link is cut here, before the page's widgets go.
DriveSelectorFiller::~DriveSelectorFiller() = default;

void DriveSelectorFiller::Refill(bool noHardDisks, std::function<void()> filled)
{
    Request request{noHardDisks, std::move(filled)};
    // One worker at a time asks a page's drives: the later request waits its turn.
    if (run_ && !run_->Ended()) {
        next_ = std::move(request);
        return;
    }
    Start(std::move(request));
}

void DriveSelectorFiller::Start(Request request)
{
    SetFilling(true);
    auto entries = std::make_shared<std::vector<std::string>>();
    run_ = std::make_unique<WorkerRun>();
    StartOnPage(
        *run_, selector_, {},
        [entries, drives = shell_.drives ? *shell_.drives : DriveTable{}, sources = shell_.machineDrives,
         settings = shell_.settings.DriveList(), noHardDisks = request.noHardDisks](QtHost&) {
            const DriveTableQuery query(drives, MachineDrives(sources));
            *entries = ListDrives(query, DriveSelectorMask(settings, noHardDisks));
            return OperationOutcome{kResultDone};
        },
        [this, entries, filled = std::move(request.filled)](const OperationOutcome&) { Ended(*entries, filled); });
}

void DriveSelectorFiller::Ended(const std::vector<std::string>& entries, const std::function<void()>& filled)
{
    if (next_) {
        Request next = std::move(*next_);
        next_.reset();
        Start(std::move(next));
        return;
    }
    // A refill is no choice of the user's: it must not become the drive chosen last.
    {
        const QSignalBlocker quiet(selector_);
        selector_.clear();
        for (const std::string& entry : entries)
            selector_.addItem(QString::fromStdString(entry));
        const std::optional<size_t> selected = SelectedDriveEntry(entries, shell_.currentDriveText);
        selector_.setCurrentIndex(selected ? static_cast<int>(*selected) : -1);
    }
    SetFilling(false);
    if (filled)
        filled();
}

void DriveSelectorFiller::SetFilling(bool filling)
{
    selector_.setProperty(kDriveSelectorFilling, filling);
    if (filling) {
        for (QWidget* action : actions_) {
            if (action->isEnabled()) {
                // The window's focus, which an inactive window keeps too.
                const bool focused = action->window()->focusWidget() == action;
                action->setEnabled(false);
                turnedOff_.push_back(action);
                if (focused)
                    focus_ = {action, action->window()->focusWidget()};
            }
        }
        return;
    }
    for (QWidget* action : turnedOff_)
        action->setEnabled(true);
    turnedOff_.clear();
    // The focus the fill moved off an action goes back, unless the user has moved it since.
    if (focus_.action && selector_.window()->focusWidget() == focus_.movedTo)
        focus_.action->setFocus();
    focus_ = {};
}

}  // namespace vokta
