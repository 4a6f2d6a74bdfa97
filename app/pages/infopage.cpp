// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/pages/infopage.h"

#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "ui/driveselector.h"
#include "ui/sounds.h"
#include "info/inforeport.h"
#include "ui/pagerun.h"
#include "ui/uitext.h"

namespace vokta {

InfoPage::InfoPage(Shell& shell, QWidget* parent) : QWidget(parent), shell_(shell), play_(PlaySoundAndWait)
{
    BuildControls();
    save_->setEnabled(false);
    driveFill_ = std::make_unique<DriveSelectorFiller>(*drive_, shell_, std::vector<QWidget*>{getInfo_});
    // Fixed disks are always offered here: reading their report changes nothing on them.
    driveFill_->Refill(false);
}

void InfoPage::BuildControls()
{
    getInfo_ = WithControlId(new QPushButton(UiText(Dialog::Info, InfoControl::GetInfo), this), InfoControl::GetInfo);
    save_ = WithControlId(new QPushButton(UiText(Dialog::Info, InfoControl::Save), this), InfoControl::Save);
    drive_ = WithControlId(new QComboBox(this), InfoControl::Drive);
    auto* driveLabel = new QLabel(UiText(Dialog::Info, Unnumbered::InfoDriveLabel), this);
    driveLabel->setBuddy(drive_);

    auto* group = new QGroupBox(UiText(Dialog::Info, Unnumbered::InfoReportGroup), this);
    report_ = WithControlId(new QListWidget(group), InfoControl::Report);
    report_->setSelectionMode(QAbstractItemView::NoSelection);
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addWidget(report_);

    auto* driveRow = new QHBoxLayout;
    driveRow->addWidget(driveLabel);
    driveRow->addWidget(drive_, 1);
    driveRow->addStretch(2);
    auto* left = new QVBoxLayout;
    left->addLayout(driveRow);
    left->addWidget(group, 1);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(getInfo_);
    buttons->addWidget(save_);
    buttons->addStretch();

    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left, 1);
    layout->addLayout(buttons);

    setTabOrder(getInfo_, save_);
    setTabOrder(save_, drive_);
    setTabOrder(drive_, report_);

    connect(getInfo_, &QPushButton::clicked, this, &InfoPage::ReportOnDrive);
    connect(save_, &QPushButton::clicked, this, &InfoPage::SaveReport);
    connect(drive_, &QComboBox::currentIndexChanged, this, &InfoPage::DriveChanged);
}

void InfoPage::showEvent(QShowEvent* event)
{
    // A window coming back from the task bar is no return to the page.
    if (!event->spontaneous()) {
        driveFill_->Refill(false);
        report_->clear();
    }
    QWidget::showEvent(event);
}

void InfoPage::ReportOnDrive()
{
    const QString entry = drive_->currentText();
    if (entry.isEmpty() || shell_.drives == nullptr)
        return;
    const QString caption = getInfo_->text();
    getInfo_->setText(UiText(Str::Wait));
    // The report belongs to the drive chosen: no other is chosen until it is there.
    SetGathering(true);
    auto info = std::make_shared<InfoResult>();
    run_ = std::make_unique<WorkerRun>();
    StartOnPage(
        *run_, *this, {},
        [letter = entry.at(0).toLatin1(), drives = *shell_.drives, info](QtHost& host) {
            *info = vokta::GetInfo(letter, drives, host);
            return OperationOutcome{kResultDone};
        },
        [this, caption, info](const OperationOutcome&) { ReportGathered(*info, caption); });
}

void InfoPage::ReportGathered(const InfoResult& info, const QString& caption)
{
    getInfo_->setText(caption);
    SetGathering(false);
    TellLostWork(*this, QString(caption).remove(QLatin1Char('&')).toStdString());
    switch (info.outcome) {
    case InfoOutcome::Done:
        ShowReport(info.lines);
        save_->setEnabled(true);
        report_->setFocus();
        play_(shell_.settings.jobCompletedSoundPath);
        break;
    case InfoOutcome::MediaUnknown:
        ShowReport(info.lines);
        play_(shell_.settings.errorSoundPath);
        break;
    case InfoOutcome::Cancelled:
    case InfoOutcome::NoDrive:
        break;
    }
}

void InfoPage::SetGathering(bool gathering)
{
    getInfo_->setEnabled(!gathering);
    drive_->setEnabled(!gathering);
}

void InfoPage::ShowReport(const std::vector<std::string>& lines)
{
    report_->clear();
    for (const std::string& line : lines)
        report_->addItem(QString::fromStdString(line));
}

void InfoPage::DriveChanged()
{
    report_->clear();
    shell_.currentDriveText = drive_->currentText().toStdString();
    save_->setEnabled(false);
}

void InfoPage::SaveReport()
{
    FileRequest request;
    request.fileName = QStringLiteral("*.txt");
    request.filter = QtFileFilter(UiText(Str::ReportFileFilter));
    request.defaultSuffix = QStringLiteral("txt");
    request.mustExist = false;
    request.forSaving = true;
    const QString path = chooseFile_(this, request);
    if (path.isEmpty())
        return;
    std::vector<std::string> lines;
    lines.reserve(static_cast<size_t>(report_->count()));
    for (int row = 0; row < report_->count(); ++row)
        lines.push_back(report_->item(row)->text().toStdString());
    PageMessageBoxes boxes(*this);
    SaveReportFile(QFile::encodeName(path).toStdString(), SavedReport(drive_->currentText().toStdString(), lines),
                   boxes);
}

}  // namespace vokta
