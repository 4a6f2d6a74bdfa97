// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/pages/volumelabeldialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/pages/labeledit.h"
#include "fat/volumelabel.h"
#include "ui/dialogframe.h"
#include "ui/pagerun.h"
#include "ui/qthost.h"
#include "steps/session.h"
#include "ui/uitext.h"

namespace vokta {

VolumeLabelDialog::VolumeLabelDialog(const std::string& driveText, const DriveTable& drives, QWidget* parent)
    : QDialog(parent), letter_(DriveLetterOf(driveText)), drives_(drives)
{
    using namespace VolumeLabelControl;
    setWindowTitle(UiText(Dialog::VolumeLabel, kCaption));
    setModal(true);

    edit_ = new QLineEdit(this);
    SetControlId(edit_, Label);
    MakeLabelEdit(*edit_, *this);
    auto* caption = new QLabel(UiText(Dialog::VolumeLabel, Unnumbered::VolumeLabelLabel), this);
    caption->setBuddy(edit_);

    auto* buttons = new QDialogButtonBox(this);
    change_ = buttons->addButton(UiText(Dialog::VolumeLabel, Change), QDialogButtonBox::AcceptRole);
    auto* cancel = buttons->addButton(UiText(Dialog::VolumeLabel, Cancel), QDialogButtonBox::RejectRole);
    SetControlId(change_, Change);
    SetControlId(cancel, Cancel);
    change_->setDefault(true);
    connect(change_, &QPushButton::clicked, this, &VolumeLabelDialog::ChangeLabel);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* row = new QHBoxLayout;
    row->addWidget(caption);
    row->addWidget(edit_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    setTabOrder(edit_, change_);
    setTabOrder(change_, cancel);
    FitFrame(*this, FrameButtons::Close);
}

std::string VolumeLabelDialog::label() const
{
    return edit_->text().toStdString();
}

void VolumeLabelDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!labelRead_)
        ReadLabel();
}

void VolumeLabelDialog::ReadLabel()
{
    labelRead_ = true;
    auto reading = std::make_shared<LabelReading>();
    OffThread([letter = letter_, drives = drives_, reading] { *reading = ReadVolumeLabel(letter, drives); },
              [this, reading] {
                  if (!reading->label) {
                      AskInMessageBox(*this, LoadString(Str::CannotGetLabel), LoadString(Str::Error), Buttons::Ok,
                                      Icon::None);
                      return;
                  }
                  edit_->setText(QString::fromStdString(*reading->label));
                  edit_->setFocus();
              });
}

void VolumeLabelDialog::ChangeLabel()
{
    auto change = std::make_shared<LabelChange>();
    OffThread([letter = letter_, label = label(), drives = drives_,
               change] { *change = SetVolumeLabel(letter, label, drives); },
              [this, change] {
                  if (change->done) {
                      accept();
                      return;
                  }
                  // The system's refusal, then why: write-protected, not ready, root directory full.
                  std::string text = LoadString(Str::CannotChangeLabel);
                  if (!change->reason.empty())
                      text += "\n" + change->reason;
                  AskInMessageBox(*this, text, LoadString(Str::Error), Buttons::Ok, Icon::Error);
              });
}

void VolumeLabelDialog::OffThread(std::function<void()> work, std::function<void()> then)
{
    // "Change" waits for the drive: a second read or write never overlaps this one.
    change_->setEnabled(false);
    run_ = std::make_unique<WorkerRun>();
    StartOnPage(
        *run_, *this, {},
        [work = std::move(work)](QtHost&) {
            work();
            return OperationOutcome{kResultDone};
        },
        [this, then = std::move(then)](const OperationOutcome&) {
            change_->setEnabled(true);
            TellLostWork(*this, windowTitle().toStdString());
            then();
        });
}

}  // namespace vokta
