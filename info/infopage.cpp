#include "info/infopage.h"

#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "app/driveselector.h"
#include "app/sounds.h"
#include "info/inforeport.h"
#include "ops/uitext.h"

namespace vokta {

InfoPage::InfoPage(Shell& shell, QWidget* parent) : QWidget(parent), shell_(shell), play_(PlaySoundAndWait)
{
    BuildControls();
    save_->setEnabled(false);
    // Fixed disks are always offered here: reading their report changes nothing on them.
    FillDriveSelector(*drive_, shell_, false);
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
        FillDriveSelector(*drive_, shell_, false);
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
    getInfo_->setEnabled(false);
    // The report is gathered right here, so the caption is painted before the work starts.
    getInfo_->repaint();
    PageMessageBoxes boxes(*this);
    const InfoResult info = vokta::GetInfo(entry.at(0).toLatin1(), *shell_.drives, boxes);
    getInfo_->setText(caption);
    getInfo_->setEnabled(true);
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
