// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/pages/formatpage.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "ui/driveselector.h"
#include "ui/sounds.h"
#include "app/pages/labeledit.h"
#include "app/pages/volumelabeldialog.h"
#include "ui/pagerun.h"
#include "steps/session.h"
#include "ui/uitext.h"

namespace vokta {
namespace {

using namespace FormatControl;

// The media buttons in the order of the page, each with the media it asks for.
constexpr std::pair<int, int32_t> kMediaButtons[] = {
    {MediaAuto, kMediaUnknown}, {Media720K, kMedia720K}, {Media12M, kMedia12M},
    {Media144M, kMedia144M},    {Media168M, kMedia168M}, {Media172M, kMedia172M},
};

// The device type of a 5¼-inch 1.2M drive.
constexpr int kDeviceType12M = 1;

// What the drive of a selector entry is, as the system reports it.
struct DriveKindOfEntry {
    bool fixedDisk = false;
    bool drive12M = false;
};

DriveKindOfEntry KindOfDrive(const Shell& shell, char letter)
{
    const DriveTableQuery query(*shell.drives, MachineDrives(shell.machineDrives));
    for (const SystemDrive& drive : query.Drives())
        if (drive.letter == letter && drive.type == SystemDriveType::Fixed)
            return {.fixedDisk = true};
    return {.drive12M = query.DeviceType(letter) == kDeviceType12M};
}

}  // namespace

FormatPage::FormatPage(Shell& shell, QWidget* parent) : QWidget(parent), shell_(shell), play_(PlaySoundAndWait)
{
    BuildControls();
    verify_->setChecked(shell_.settings.verifyAfterFormat);
    media_->button(MediaAuto)->setChecked(true);
    format_->button(Full)->setChecked(true);
    mode_->button(Optimized)->setChecked(true);
    driveFill_ = std::make_unique<DriveSelectorFiller>(
        *drive_, shell_,
        std::vector<QWidget*>{FindControl<QPushButton>(this, FormatControl::StartFormat),
                              FindControl<QPushButton>(this, ChangeLabel)});
    driveFill_->Refill(true, [this] { DriveChanged(); });
}

QRadioButton* FormatPage::Radio(int id, QButtonGroup& group, QWidget* parent)
{
    auto* radio = new QRadioButton(UiText(Dialog::Format, id), parent);
    SetControlId(radio, id);
    group.addButton(radio, id);
    return radio;
}

void FormatPage::BuildControls()
{
    // Created in the order the Tab key visits them.
    drive_ = new QComboBox(this);
    SetControlId(drive_, Drive);
    connect(drive_, &QComboBox::activated, this, [this] {
        shell_.currentDriveText = drive_->currentText().toStdString();
        DriveChanged();
    });

    auto* mediaBox = new QGroupBox(UiText(Dialog::Format, Unnumbered::MediaGroup), this);
    auto* mediaColumn = new QVBoxLayout(mediaBox);
    media_ = new QButtonGroup(this);
    for (const auto& [id, media] : kMediaButtons)
        mediaColumn->addWidget(Radio(id, *media_, mediaBox));

    auto* modeBox = new QGroupBox(UiText(Dialog::Format, Unnumbered::ModeGroup), this);
    auto* modeColumn = new QVBoxLayout(modeBox);
    mode_ = new QButtonGroup(this);
    modeColumn->addWidget(Radio(Standard, *mode_, modeBox));
    modeColumn->addWidget(Radio(Optimized, *mode_, modeBox));

    auto* formatBox = new QGroupBox(UiText(Dialog::Format, Unnumbered::FormatGroup), this);
    auto* formatColumn = new QVBoxLayout(formatBox);
    format_ = new QButtonGroup(this);
    formatColumn->addWidget(Radio(Full, *format_, formatBox));
    formatColumn->addWidget(Radio(Quick, *format_, formatBox));
    // A quick format rewrites the system area only: it lays out no track.
    connect(format_->button(Quick), &QRadioButton::clicked, this, [this] {
        mode_->button(Standard)->setEnabled(false);
        mode_->button(Optimized)->setEnabled(false);
    });
    connect(format_->button(Full), &QRadioButton::clicked, this, [this] {
        mode_->button(Standard)->setEnabled(true);
        mode_->button(Optimized)->setEnabled(true);
    });

    label_ = new QLineEdit(this);
    SetControlId(label_, Label);
    MakeLabelEdit(*label_, *this);
    auto* labelCaption = new QLabel(UiText(Dialog::Format, Unnumbered::FormatLabelLabel), this);
    labelCaption->setBuddy(label_);

    verify_ = new QCheckBox(UiText(Dialog::Format, Verify), this);
    SetControlId(verify_, Verify);
    connect(verify_, &QCheckBox::clicked, this, [this](bool checked) { shell_.settings.verifyAfterFormat = checked; });

    auto* start = new QPushButton(UiText(Dialog::Format, FormatControl::StartFormat), this);
    SetControlId(start, FormatControl::StartFormat);
    connect(start, &QPushButton::clicked, this, &FormatPage::StartFormat);
    auto* changeLabel = new QPushButton(UiText(Dialog::Format, ChangeLabel), this);
    SetControlId(changeLabel, ChangeLabel);
    connect(changeLabel, &QPushButton::clicked, this, &FormatPage::ChangeVolumeLabel);

    result_ = new QLineEdit(UiText(Dialog::Format, Result), this);
    SetControlId(result_, Result);
    result_->setReadOnly(true);
    result_->setFocusPolicy(Qt::NoFocus);
    auto* resultCaption = new QLabel(UiText(Dialog::Format, Unnumbered::FormatResultLabel), this);

    auto* choices = new QGridLayout;
    choices->addWidget(mediaBox, 0, 0, 2, 1);
    choices->addWidget(modeBox, 0, 1);
    choices->addWidget(formatBox, 1, 1);

    auto* labelRow = new QHBoxLayout;
    labelRow->addWidget(labelCaption);
    labelRow->addWidget(label_, 1);
    labelRow->addWidget(verify_);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(start);
    buttons->addWidget(changeLabel);
    buttons->addStretch();

    auto* resultRow = new QHBoxLayout;
    resultRow->addWidget(resultCaption);
    resultRow->addWidget(result_, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(drive_);
    layout->addLayout(choices);
    layout->addLayout(labelRow);
    layout->addLayout(buttons);
    layout->addStretch();
    layout->addLayout(resultRow);
}

void FormatPage::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    driveFill_->Refill(false, [this] { DriveChanged(); });
}

void FormatPage::DriveChanged()
{
    const std::string entry = drive_->currentText().toStdString();
    const DriveKindOfEntry kind = KindOfDrive(shell_, DriveLetterOf(entry));
    auto* standard = mode_->button(Standard);
    auto* optimized = mode_->button(Optimized);
    if (kind.fixedDisk) {
        standard->setChecked(true);
        standard->setText(UiText(Str::LowLevelButton));
        optimized->setEnabled(false);
        media_->button(MediaAuto)->setChecked(true);
        for (const auto& [id, media] : kMediaButtons)
            if (id != MediaAuto)
                media_->button(id)->setEnabled(false);
        return;
    }
    standard->setText(UiText(Str::StandardButton));
    optimized->setEnabled(true);
    for (const auto& [id, media] : kMediaButtons)
        if (id != MediaAuto)
            media_->button(id)->setEnabled((id == Media12M) == kind.drive12M);
}

FormatInputs FormatPage::Inputs() const
{
    FormatInputs inputs;
    inputs.driveText = drive_->currentText().toStdString();
    for (const auto& [id, media] : kMediaButtons)
        if (media_->checkedId() == id)
            inputs.media = media;
    inputs.optimized = mode_->checkedId() == Optimized;
    inputs.full = format_->checkedId() == Full;
    inputs.label = label_->text().toStdString();
    inputs.verify = verify_->isChecked();
    inputs.multiple = shell_.settings.enableMultiWriteFormat;
    return inputs;
}

void FormatPage::StartFormat()
{
    FormatJob job;
    *job.inputs = Inputs();
    job.sounds = shell_.settings.OperationSounds();
    job.drives = *shell_.drives;
    const Worker worker = [job = std::move(job)](OperationHost& host) { return FormatWorker(job, host); };
    PageRunFlags flags;
    flags.bringToFrontAtEnd = shell_.settings.enableTopMostAtEnd;
    const PageFollowUp fellBackToFull = [this](const OperationOutcome& outcome) {
        if (outcome.followUp == FollowUp::FormattedFull && format_->checkedId() == Quick) {
            format_->button(Full)->setChecked(true);
            mode_->button(Standard)->setEnabled(true);
            mode_->button(Optimized)->setEnabled(true);
        }
    };
    RunOperationOnPage(*this, shell_.mainWindow, *result_, worker, flags, fellBackToFull, play_);
}

void FormatPage::ChangeVolumeLabel()
{
    VolumeLabelDialog dialog(drive_->currentText().toStdString(), *shell_.drives, this);
    if (dialog.exec() == QDialog::Accepted)
        label_->setText(QString::fromStdString(dialog.label()));
    // Entries that show a volume label show the new one.
    driveFill_->Refill(false);
}

}  // namespace vokta
