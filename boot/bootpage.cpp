#include "boot/bootpage.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "app/driveselector.h"
#include "app/sounds.h"
#include "ops/uithreadcalls.h"
#include "ops/uitext.h"

namespace vokta {
namespace {

using namespace BootControl;

}  // namespace

// Where one worker's reports go: each call carried out on the page's thread while the
// worker waits, and none once the page has let the worker go. Sounds play on the
// worker's thread, which waits for them to end.
class BootPageReporter final : public BootReporter {
public:
    BootPageReporter(BootPage& page, SoundPlayer play) : page_(&page), play_(std::move(play)) {}

    void Detach() { calls_.Detach(); }

    void EnableActions(bool enabled) override
    {
        OnPage([enabled](BootPage& page) {
            page.check_->setEnabled(enabled);
            page.recreate_->setEnabled(enabled);
        });
    }

    void AddResult(const std::string& line) override
    {
        OnPage([line](BootPage& page) { page.results_->addItem(UiText(line)); });
    }

    void SetState(const std::string& text) override
    {
        OnPage([text](BootPage& page) { page.state_->setText(UiText(text)); });
    }

    void PlaySound(const std::string& sound) override
    {
        if (play_ && !calls_.Detached())
            play_(sound);
    }

    Answer MessageBox(const std::string& text, const std::string& caption, Buttons buttons, Icon icon) override
    {
        const Answer harmless = SafeAnswer(buttons);
        return calls_.Run<Answer>(
            [page = page_, text, caption, buttons, icon, harmless] {
                return page ? AskInMessageBox(*page, text, caption, buttons, icon) : harmless;
            },
            harmless);
    }

private:
    void OnPage(std::function<void(BootPage&)> change)
    {
        calls_.Run([page = page_, change = std::move(change)] {
            if (page)
                change(*page);
        });
    }

    UiThreadCalls calls_;
    QPointer<BootPage> page_;
    SoundPlayer play_;
};

BootPage::BootPage(Shell& shell, QWidget* parent) : QWidget(parent), shell_(shell), play_(PlaySoundAndWait)
{
    BuildControls();
    FillDriveSelector(*drive_, shell_, false);
}

BootPage::~BootPage()
{
    if (reporter_)
        reporter_->Detach();
    // Abandoned by the run's own end when it has not ended by then.
    if (running_)
        running_->WaitFor(kWorkerGrace);
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

    connect(check_, &QPushButton::clicked, this, [this] { Start(BootCheckWorker); });
    connect(recreate_, &QPushButton::clicked, this, [this] { Start(BootRecreateWorker); });
    // The user's choice only: the refills of the selector are no change of drive.
    connect(drive_, &QComboBox::activated, this, &BootPage::DriveChosen);
}

void BootPage::showEvent(QShowEvent* event)
{
    // A window coming back from the task bar is no return to the page.
    if (!event->spontaneous()) {
        Uncheck();
        FillDriveSelector(*drive_, shell_, false);
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

void BootPage::Start(int (*worker)(BootJob, BootReporter&, const DriveTable&))
{
    Uncheck();
    if (shell_.drives == nullptr)
        return;
    // The buttons go off at once, before the worker says so from its thread, so that a
    // second click already queued cannot start a second worker.
    check_->setEnabled(false);
    recreate_->setEnabled(false);
    // The last worker turned the buttons back on as its last call: it is ending now. One
    // that has not ended by then is let go, and shows nothing more.
    if (running_ && !running_->WaitFor(kWorkerGrace))
        reporter_->Detach();
    BootJob job{drive_->currentText().toStdString(), shell_.settings.OperationSounds()};
    reporter_ = std::make_shared<BootPageReporter>(*this, play_);
    // The worker has its own copy of the drive table and shares its reporter, so that
    // neither ends under it if the page lets it go.
    running_ = std::make_unique<RunningOperation>(
        [worker, job = std::move(job), reporter = reporter_, drives = *shell_.drives](OperationHost&) {
            worker(job, *reporter, drives);
            return OperationOutcome{kResultDone};
        },
        // It reports to the page through its reporter: nothing goes through a host.
        nullptr);
}

}  // namespace vokta
