// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/pages/repairpage.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <new>
#include <optional>

#include "ui/driveselector.h"
#include "ui/sounds.h"
#include "app/pages/diskcheckerwindow.h"
#include "ui/pagerun.h"
#include "steps/session.h"
#include "ui/uitext.h"

namespace vokta {
namespace {

using namespace RepairControl;

// Each group's buttons in the page's order, with the choice each one stands for.
constexpr std::pair<int, BootChoice> kBootButtons[] = {
    {BootWriteNew, BootChoice::WriteNew},
    {BootStop, BootChoice::Stop},
};
constexpr std::pair<int, SystemChoice> kSystemButtons[] = {
    {SystemFormat, SystemChoice::TryFormat},
    {SystemChecker, SystemChoice::RunDiskChecker},
    {SystemStop, SystemChoice::Stop},
};
// The track above the cylinder, whatever their ids say.
constexpr std::pair<int, DataChoice> kDataButtons[] = {
    {DataFormat, DataChoice::TryFormat},
    {DataMarkTrack, DataChoice::MarkTrack},
    {DataMarkCylinder, DataChoice::MarkCylinder},
    {DataStop, DataChoice::Stop},
};

template <typename Choice, size_t N>
Choice ChoiceOf(const QButtonGroup& group, const std::pair<int, Choice> (&buttons)[N])
{
    for (const auto& [id, choice] : buttons)
        if (group.checkedId() == id)
            return choice;
    return buttons[N - 1].second;  // Stop, last in every group
}

// The job with its track buffer, or nothing when there is no memory for the buffer.
std::optional<RepairJob> TakeJob()
{
    try {
        return RepairJob{};
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

}  // namespace

RepairPage::RepairPage(Shell& shell, QWidget* parent) : QWidget(parent), shell_(shell), play_(PlaySoundAndWait)
{
    BuildControls();
    // Start stays on: turning off the focused first button takes a radio button off the
    // Tab key's round, and Start runs on the drive the selector shows.
    driveFill_ = std::make_unique<DriveSelectorFiller>(*drive_, shell_, std::vector<QWidget*>{});
    driveFill_->Refill(false);
    // A fresh page stops at the first damaged spot until the user chooses otherwise.
    boot_->button(BootStop)->setChecked(true);
    system_->button(SystemStop)->setChecked(true);
    data_->button(DataStop)->setChecked(true);
    ChoicesChanged();
}

QRadioButton* RepairPage::Radio(int id, QButtonGroup& group, QWidget* parent)
{
    auto* radio = new QRadioButton(UiText(Dialog::Repair, id), parent);
    SetControlId(radio, id);
    group.addButton(radio, id);
    return radio;
}

void RepairPage::BuildControls()
{
    // Created in the order the Tab key visits them.
    auto* start = new QPushButton(UiText(Dialog::Repair, Start), this);
    SetControlId(start, Start);
    connect(start, &QPushButton::clicked, this, &RepairPage::StartRepair);

    const auto groupOf = [this](uint16_t title, QButtonGroup*& group, auto& buttons) {
        auto* box = new QGroupBox(UiText(Dialog::Repair, title), this);
        auto* column = new QVBoxLayout(box);
        group = new QButtonGroup(this);
        for (const auto& [id, choice] : buttons)
            column->addWidget(Radio(id, *group, box));
        connect(group, &QButtonGroup::idToggled, this, &RepairPage::ChoicesChanged);
        return box;
    };
    QGroupBox* bootBox = groupOf(Unnumbered::BootErrorGroup, boot_, kBootButtons);
    QGroupBox* systemBox = groupOf(Unnumbered::SystemErrorGroup, system_, kSystemButtons);
    QGroupBox* dataBox = groupOf(Unnumbered::DataErrorGroup, data_, kDataButtons);

    drive_ = new QComboBox(this);
    SetControlId(drive_, Drive);
    connect(drive_, &QComboBox::activated, this,
            [this] { shell_.currentDriveText = drive_->currentText().toStdString(); });
    auto* driveCaption = new QLabel(UiText(Dialog::Repair, Unnumbered::RepairDriveLabel), this);
    driveCaption->setBuddy(drive_);

    result_ = new QLineEdit(UiText(Dialog::Repair, Result), this);
    SetControlId(result_, Result);
    result_->setReadOnly(true);
    result_->setFocusPolicy(Qt::NoFocus);
    auto* resultCaption = new QLabel(UiText(Dialog::Repair, Unnumbered::RepairResultLabel), this);

    auto* driveRow = new QHBoxLayout;
    driveRow->addWidget(driveCaption);
    driveRow->addWidget(drive_, 1);
    driveRow->addStretch(1);
    driveRow->addWidget(start);

    auto* left = new QVBoxLayout;
    left->addWidget(bootBox);
    left->addWidget(systemBox);
    auto* right = new QVBoxLayout;
    right->addWidget(dataBox);
    right->addStretch();
    auto* choices = new QHBoxLayout;
    choices->addLayout(left);
    choices->addLayout(right, 1);

    auto* resultRow = new QHBoxLayout;
    resultRow->addWidget(resultCaption);
    resultRow->addWidget(result_, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(driveRow);
    layout->addLayout(choices);
    layout->addStretch();
    layout->addLayout(resultRow);
}

void RepairPage::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    driveFill_->Refill(false);
}

void RepairPage::ChoicesChanged()
{
    inputs_->boot = ChoiceOf(*boot_, kBootButtons);
    inputs_->system = ChoiceOf(*system_, kSystemButtons);
    inputs_->data = ChoiceOf(*data_, kDataButtons);
}

void RepairPage::StartRepair()
{
    std::optional<RepairJob> job = TakeJob();
    if (!job) {
        PageMessageBoxes(*this).MessageBox(LoadString(Str::InsufficientMemory), LoadString(Str::Error), Buttons::Ok,
                                           Icon::Error);
        return;
    }
    inputs_->driveText = drive_->currentText().toStdString();
    job->inputs = inputs_;
    job->sounds = shell_.settings.OperationSounds();
    job->drives = *shell_.drives;
    // The buffer goes with the worker and is released when the worker is done with it.
    const Worker worker = [job = std::move(*job)](OperationHost& host) mutable {
        return RepairWorker(std::move(job), host);
    };
    PageRunFlags flags;
    flags.bringToFrontAtEnd = shell_.settings.enableTopMostAtEnd;
    const OperationOutcome outcome = RunOperationOnPage(*this, shell_.mainWindow, *result_, worker, flags, {}, play_);
    // A worker abandoned after the grace may still read its choices: the page's later
    // changes go to choices of their own.
    inputs_ = std::make_shared<RepairInputs>(*inputs_);
    // The result is on the page before the checker starts.
    if (outcome.followUp == FollowUp::RunDiskChecker)
        RunDiskCheckerOnDrive();
}

void RepairPage::RunDiskCheckerOnDrive()
{
    DiskCheckerWindow window(DriveLetterOf(drive_->currentText().toStdString()), *shell_.drives, this);
    const DiskCheckerRun run = window.Run();
    if (!run.started)
        PageMessageBoxes(*this).MessageBox(LoadString(Str::CannotRunDiskChecker) + "\n" + run.reason,
                                           LoadString(Str::Error), Buttons::Ok, Icon::Error);
}

}  // namespace vokta
