// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/pages/bootpage.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "ui/driveselector.h"
#include "ui/sounds.h"
#include "ui/pagerun.h"
#include "ui/uitext.h"

namespace vokta {
namespace {

using namespace BootControl;

}  // namespace

// The boot workers' reports, made through the page's host: each change carried out on
// the page's thread while the worker waits, and none once the page has let the worker go.
class BootPageReporter final : public BootReporter {
public:
    explicit BootPageReporter(QtHost& host) : host_(host) {}

    void EnableActions(bool enabled) override
    {
        OnPage([enabled](BootPage& page) { page.EnableActions(enabled); });
    }

    void AddResult(const std::string& line) override
    {
        OnPage([line](BootPage& page) { page.results_->addItem(UiText(line)); });
    }

    void SetState(const std::string& text) override
    {
        OnPage([text](BootPage& page) { page.state_->setText(UiText(text)); });
    }

    void PlaySound(const std::string& sound) override { host_.PlaySound(sound); }

    Answer MessageBox(const std::string& text, const std::string& caption, Buttons buttons, Icon icon) override
    {
        return host_.MessageBox(text, caption, buttons, icon);
    }

private:
    void OnPage(std::function<void(BootPage&)> change)
    {
        host_.OnPage([change = std::move(change)](QWidget& page) { change(static_cast<BootPage&>(page)); });
    }

    QtHost& host_;
};

BootPage::BootPage(Shell& shell, QWidget* parent) : QWidget(parent), shell_(shell), play_(PlaySoundAndWait)
{
    BuildControls();
    driveFill_ = std::make_unique<DriveSelectorFiller>(*drive_, shell_, std::vector<QWidget*>{check_, recreate_});
    driveFill_->Refill(false);
}

BootPage::~BootPage() = default;

void BootPage::EnableActions(bool enabled)
{
    check_->setEnabled(enabled);
    recreate_->setEnabled(enabled);
}

void BootPage::BuildControls()
{
    // Created in the order the Tab key visits them.
    check_ = WithControlId(new QPushButton(UiText(Dialog::Boot, Check), this), Check);
    recreate_ = WithControlId(new QPushButton(UiText(Dialog::Boot, Recreate), this), Recreate);
    drive_ = WithControlId(new QComboBox(this), Drive);
    auto* driveLabel = new QLabel(UiText(Dialog::Boot, Unnumbered::BootDriveLabel), this);
    driveLabel->setBuddy(drive_);
    state_ = WithControlId(new QLabel(UiText(Dialog::Boot, State), this), State);
    auto* stateLabel = new QLabel(UiText(Dialog::Boot, Unnumbered::BootStateLabel), this);

    auto* group = new QGroupBox(UiText(Dialog::Boot, Unnumbered::BootResultsGroup), this);
    results_ = WithControlId(new QListWidget(group), Results);
    results_->setSelectionMode(QAbstractItemView::NoSelection);
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addWidget(results_);

    auto* driveRow = new QHBoxLayout;
    driveRow->addWidget(driveLabel);
    driveRow->addWidget(drive_, 1);
    driveRow->addStretch(1);
    auto* stateRow = new QHBoxLayout;
    stateRow->addWidget(stateLabel);
    stateRow->addWidget(state_, 1);
    auto* left = new QVBoxLayout;
    left->addLayout(driveRow);
    left->addLayout(stateRow);
    left->addWidget(group, 1);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(check_);
    buttons->addWidget(recreate_);
    buttons->addStretch();

    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left, 1);
    layout->addLayout(buttons);

    setTabOrder(check_, recreate_);
    setTabOrder(recreate_, drive_);
    setTabOrder(drive_, results_);

    connect(check_, &QPushButton::clicked, this, [this] { Start(RunBootCheck, check_->text().remove(QLatin1Char('&'))); });
    connect(recreate_, &QPushButton::clicked, this, [this] { Start(RunBootRecreate, recreate_->text().remove(QLatin1Char('&'))); });
    // The user's choice only: the refills of the selector are no change of drive.
    connect(drive_, &QComboBox::activated, this, &BootPage::DriveChosen);
}

void BootPage::showEvent(QShowEvent* event)
{
    // A window coming back from the task bar is no return to the page.
    if (!event->spontaneous()) {
        Uncheck();
        driveFill_->Refill(false);
    }
    QWidget::showEvent(event);
}

void BootPage::Uncheck()
{
    state_->setText(UiText(Dialog::Boot, State));
    results_->clear();
}

void BootPage::DriveChosen()
{
    Uncheck();
    shell_.currentDriveText = drive_->currentText().toStdString();
}

void BootPage::Start(bool (*work)(const BootJob&, BootReporter&, const DriveTable&), const QString& caption)
{
    Uncheck();
    if (shell_.drives == nullptr)
        return;
    // The buttons go off at once, before the worker says so from its thread, so that a
    // second click already queued cannot start a second worker.
    EnableActions(false);
    // The last worker turned the buttons back on as its last call: it is ending now, and
    // is let go if it has not.
    run_ = std::make_unique<WorkerRun>();
    StartOnPage(
        *run_, *this, play_,
        [work, job = BootJob{drive_->currentText().toStdString(), shell_.settings.OperationSounds()},
         drives = *shell_.drives](QtHost& host) {
            BootPageReporter reporter(host);
            work(job, reporter, drives);
            return OperationOutcome{kResultDone};
        },
        // A worker that failed before giving the buttons back still gives them back.
        [this, caption = caption.toStdString()](const OperationOutcome&) {
            EnableActions(true);
            TellLostWork(*this, caption);
        });
}

}  // namespace vokta
