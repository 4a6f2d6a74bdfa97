// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/pages/dupdiskpage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>

#include "app/pages/rescuedialog.h"
#include "rescue/rescue.h"
#include "ui/dialogframe.h"
#include "ui/driveselector.h"
#include "ui/sounds.h"
#include "ui/trackmapview.h"
#include "ui/uitext.h"

namespace vokta {
namespace {

using namespace DupDiskControl;

// A field that shows what the image holds: it carries no tool tip of its own.
QLabel* Field(int id, QWidget* parent)
{
    auto* field = WithControlId(new QLabel(UiText(Dialog::DupDisk, id), parent), id);
    field->setTextInteractionFlags(Qt::TextSelectableByMouse);
    SetNoToolTip(field);
    return field;
}

}  // namespace

QString ImageFileDialogFilter()
{
    return QtFileFilter(UiText(Str::ImageFileFilter)) + QStringLiteral(";;") + QtFileFilter(UiText(Str::RawImageFilter)) +
           QStringLiteral(";;") + QtFileFilter(UiText(Str::ImageDiskFilter));
}

DupDiskPage::DupDiskPage(Shell& shell, QWidget* parent) : QWidget(parent), shell_(shell), play_(PlaySoundAndWait)
{
    BuildControls();
    verify_->setChecked(shell_.settings.verifyAfterWrite);
    // Until an image is held there is nothing to write, compare or save.
    EnableImageControls(false);
    // Write and Compare stay as the image leaves them: the command line's image focuses Write.
    driveFill_ = std::make_unique<DriveSelectorFiller>(*drive_, shell_, std::vector<QWidget*>{readDisk_, rescue_});
    // Diskettes only: a fixed disk is never the source or the copy of a diskette.
    driveFill_->Refill(true);
}

void DupDiskPage::EnableImageControls(bool enabled)
{
    for (QWidget* control : std::initializer_list<QWidget*>{writeDisk_, compare_, saveImage_, labelCaption_,
                                                            serialCaption_, mediaCaption_})
        control->setEnabled(enabled);
}

void DupDiskPage::BuildControls()
{
    // Created in the order the Tab key visits them.
    auto* source = new QGroupBox(UiText(Dialog::DupDisk, Unnumbered::SourceGroup), this);
    readDisk_ = WithControlId(new QPushButton(UiText(Dialog::DupDisk, ReadDisk), source), ReadDisk);
    labelCaption_ = WithControlId(new QLabel(UiText(Dialog::DupDisk, LabelCaption), source), LabelCaption);
    label_ = Field(ImageLabel, source);
    serialCaption_ = WithControlId(new QLabel(UiText(Dialog::DupDisk, SerialCaption), source), SerialCaption);
    serial_ = Field(ImageSerial, source);
    mediaCaption_ = WithControlId(new QLabel(UiText(Dialog::DupDisk, MediaCaption), source), MediaCaption);
    media_ = Field(ImageMedia, source);

    auto* destination = new QGroupBox(UiText(Dialog::DupDisk, Unnumbered::DestinationGroup), this);
    verify_ = WithControlId(new QCheckBox(UiText(Dialog::DupDisk, Verify), destination), Verify);
    writeDisk_ = WithControlId(new QPushButton(UiText(Dialog::DupDisk, WriteDisk), destination), WriteDisk);
    compare_ = WithControlId(new QPushButton(UiText(Dialog::DupDisk, Compare), destination), Compare);

    auto* driveCaption = new QLabel(UiText(Dialog::DupDisk, Unnumbered::DupDiskDriveLabel), this);
    drive_ = WithControlId(new QComboBox(this), Drive);
    // Room for a whole entry ("A:  FLOPPY 3½ 1.44M") before the entries come, which a
    // longer caption beside it (the Italian one) would otherwise take.
    drive_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    drive_->setMinimumContentsLength(19);
    driveCaption->setBuddy(drive_);
    auto* resultCaption = new QLabel(UiText(Dialog::DupDisk, Unnumbered::DupDiskResultLabel), this);
    result_ = WithControlId(new QLineEdit(UiText(Dialog::DupDisk, Result), this), Result);
    result_->setReadOnly(true);
    result_->setFocusPolicy(Qt::NoFocus);
    SetNoToolTip(result_);
    rescue_ = WithControlId(new QPushButton(UiText(Str::RescueDiskButton), this), RescueDisk);
    trackMap_ = WithControlId(new QPushButton(UiText(Str::TrackMapButton), this), MapButton);
    trackMap_->setEnabled(false);

    auto* image = new QGroupBox(UiText(Dialog::DupDisk, Unnumbered::ImageGroup), this);
    loadImage_ = WithControlId(new QPushButton(UiText(Dialog::DupDisk, LoadImage), image), LoadImage);
    saveImage_ = WithControlId(new QPushButton(UiText(Dialog::DupDisk, SaveImage), image), SaveImage);

    auto* sourceLayout = new QGridLayout(source);
    sourceLayout->addWidget(readDisk_, 0, 0, 1, 2);
    sourceLayout->addWidget(labelCaption_, 1, 0);
    sourceLayout->addWidget(label_, 1, 1);
    sourceLayout->addWidget(serialCaption_, 2, 0);
    sourceLayout->addWidget(serial_, 2, 1);
    sourceLayout->addWidget(mediaCaption_, 3, 0);
    sourceLayout->addWidget(media_, 3, 1);
    sourceLayout->setColumnStretch(1, 1);
    // Room for every media name and a label of eleven wide letters, before any is shown.
    int fieldWidth = media_->fontMetrics().horizontalAdvance(QString(11, QLatin1Char('W')));
    for (int32_t type = kMedia720K; type <= kMedia172M; ++type)
        fieldWidth = std::max(fieldWidth, media_->fontMetrics().horizontalAdvance(
                                              QString::fromUtf8(GetMediaTypeName(type))));
    sourceLayout->setColumnMinimumWidth(1, fieldWidth);

    auto* destinationLayout = new QVBoxLayout(destination);
    destinationLayout->addWidget(verify_);
    destinationLayout->addWidget(writeDisk_);
    destinationLayout->addWidget(compare_);

    // Load and Save side by side with Write and Compare.
    auto* imageLayout = new QVBoxLayout(image);
    imageLayout->addStretch();
    imageLayout->addWidget(loadImage_);
    imageLayout->addWidget(saveImage_);

    auto* settingsColumn = new QGridLayout;
    settingsColumn->addWidget(driveCaption, 0, 0);
    settingsColumn->addWidget(drive_, 0, 1);
    settingsColumn->addWidget(resultCaption, 1, 0);
    settingsColumn->addWidget(result_, 1, 1);
    auto* rescueRow = new QHBoxLayout;
    rescueRow->addWidget(rescue_);
    rescueRow->addWidget(trackMap_);
    settingsColumn->addLayout(rescueRow, 2, 0, 1, 2, Qt::AlignTop);
    settingsColumn->setRowStretch(2, 1);

    auto* layout = new QGridLayout(this);
    layout->addWidget(source, 0, 0);
    layout->addLayout(settingsColumn, 0, 1);
    layout->addWidget(destination, 1, 0);
    layout->addWidget(image, 1, 1);
    layout->setColumnStretch(0, 1);
    layout->setColumnStretch(1, 1);
    layout->setRowStretch(2, 1);

    setTabOrder(readDisk_, verify_);
    setTabOrder(verify_, writeDisk_);
    setTabOrder(writeDisk_, compare_);
    setTabOrder(compare_, drive_);
    setTabOrder(drive_, loadImage_);
    setTabOrder(loadImage_, saveImage_);
    setTabOrder(saveImage_, rescue_);
    setTabOrder(rescue_, trackMap_);

    connect(readDisk_, &QPushButton::clicked, this, [this] { RunDuplication(ReadDiskWorker); });
    connect(writeDisk_, &QPushButton::clicked, this, [this] { RunDuplication(WriteDiskWorker); });
    connect(compare_, &QPushButton::clicked, this, [this] { RunDuplication(CompareWorker); });
    connect(rescue_, &QPushButton::clicked, this, &DupDiskPage::RunRescue);
    connect(trackMap_, &QPushButton::clicked, this, &DupDiskPage::ShowTrackMap);
    connect(loadImage_, &QPushButton::clicked, this, &DupDiskPage::LoadFileImage);
    connect(saveImage_, &QPushButton::clicked, this, &DupDiskPage::SaveFileImage);
    connect(drive_, &QComboBox::activated, this,
            [this] { shell_.currentDriveText = drive_->currentText().toStdString(); });
    connect(verify_, &QCheckBox::clicked, this, [this](bool checked) { shell_.settings.verifyAfterWrite = checked; });
}

void DupDiskPage::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // A window coming back from the task bar is no return to the page.
    if (!event->spontaneous())
        driveFill_->Refill(true);
    // A name on the command line with no file behind it loads nothing, silently, as
    // no name does.
    if (!commandLineLoaded_) {
        commandLineLoaded_ = true;
        if (QFileInfo::exists(shell_.commandLineFile))
            LoadImagePath(shell_.commandLineFile);
    }
    if (image_->mediaType != kMediaUnknown)
        writeDisk_->setFocus();
}

void DupDiskPage::RunDuplication(DuplicationWorker work)
{
    DuplicateJob job;
    job.driveText = drive_->currentText().toStdString();
    job.serialField = serial_->text().toStdString();
    job.verifyAfterWrite = verify_->isChecked();
    job.multiWrite = shell_.settings.enableMultiWriteFormat;
    job.sounds = shell_.settings.OperationSounds();
    job.image = image_;
    job.drives = *shell_.drives;
    RunOnImage([job, work](OperationHost& host) { return work(job, host); }, work == ReadDiskWorker);
}

void DupDiskPage::RunRescue()
{
    const QString proposed = QFile::decodeName(ProposeNextFileName(image_->fileName).c_str());
    RescueDialog dialog(this, chooseFile_, proposed);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const RescueChoice choice = dialog.Choice();
    RescueJob job;
    job.driveText = drive_->currentText().toStdString();
    job.imagePath = QFile::encodeName(choice.imagePath).toStdString();
    job.mapPath = QFile::encodeName(choice.mapPath).toStdString();
    job.passes = static_cast<unsigned>(choice.passes);
    job.retries = static_cast<unsigned>(choice.retries);
    job.revolutions = static_cast<unsigned>(choice.revolutions);
    job.sounds = shell_.settings.OperationSounds();
    job.image = image_;
    job.drives = *shell_.drives;
    RunOnImage([job](OperationHost& host) { return RescueWorker(job, host); }, true);
}

void DupDiskPage::RunOnImage(const std::function<OperationOutcome(OperationHost&)>& work, bool reading)
{
    auto ended = std::make_shared<std::atomic<bool>>(false);
    const Worker worker = [work, ended](OperationHost& host) {
        OperationOutcome outcome = work(host);
        *ended = true;
        return outcome;
    };
    PageRunFlags flags;
    // A read keeps the last result until its own is known.
    flags.questionMarkFirst = !reading;
    flags.bringToFrontAtEnd = shell_.settings.enableTopMostAtEnd;
    // Only a read changes what the page shows: its map however it ended (where it stopped
    // is worth seeing), its image when it ended well.
    const PageFollowUp showRead = [this, reading](const OperationOutcome& outcome) {
        if (!reading)
            return;
        if (!outcome.trackMap.empty()) {
            lastMap_ = outcome.trackMap;
            trackMap_->setEnabled(true);
        }
        if (outcome.result == kResultDone)
            ShowImage();
    };
    RunOperationOnPage(*this, shell_.mainWindow, *result_, worker, flags, showRead, play_);
    if (!*ended) {
        auto fresh = std::make_shared<DiskImage>();
        fresh->fileName = image_->fileName;
        image_ = std::move(fresh);
    }
}

void DupDiskPage::ShowTrackMap()
{
    QDialog dialog(this, DialogFlags(FrameButtons::Close));
    dialog.setWindowTitle(UiText(Str::TrackMapCaption));
    auto* view = new TrackMapView(&dialog);
    view->SetMap(lastMap_);
    auto* buttons = new QDialogButtonBox(&dialog);
    buttons->addButton(UiText(Str::OkButton), QDialogButtonBox::AcceptRole)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(view);
    layout->addWidget(buttons);
    FitFrame(dialog, FrameButtons::Close);
    dialog.exec();
}

void DupDiskPage::ShowImage()
{
    label_->setText(QString::fromStdString(image_->label));
    serial_->setText(QString::fromStdString(image_->serialText));
    media_->setText(QString::fromUtf8(GetMediaTypeName(image_->mediaType)));
    // Nothing disables them again: a later read that fails leaves them to the operations.
    EnableImageControls(true);
    writeDisk_->setFocus();
}

QString DupDiskPage::AskForImageFile(bool forSaving)
{
    const QString proposed = QFile::decodeName(ProposeNextFileName(image_->fileName).c_str());
    FileRequest request;
    if (!proposed.isEmpty()) {
        const QFileInfo file(proposed);
        request.folder = file.absolutePath();
        request.fileName = file.fileName();
    }
    request.filter = ImageFileDialogFilter();
    request.defaultSuffix = QStringLiteral("dim");
    request.mustExist = !forSaving;
    request.forSaving = forSaving;
    const QString chosen = chooseFile_(this, request);
    if (!chosen.isEmpty())
        image_->fileName = QFile::encodeName(chosen).toStdString();
    return chosen;
}

void DupDiskPage::LoadFileImage()
{
    const QString path = AskForImageFile(false);
    if (!path.isEmpty())
        LoadImagePath(path);
}

void DupDiskPage::LoadImagePath(const QString& path)
{
    PageMessageBoxes boxes(*this);
    if (LoadImageFile(*image_, QFile::encodeName(path).toStdString(), boxes) == 0)
        ShowImage();
}

void DupDiskPage::SaveFileImage()
{
    PageMessageBoxes boxes(*this);
    // After a read that did not end, or a file of an unknown media, the block holds no
    // whole diskette: saved, it would pass for one.
    if (!image_->IsValid()) {
        boxes.MessageBox(LoadString(Str::NoSourceRead), LoadString(Str::ErrorMessage), Buttons::Ok, Icon::Error);
        return;
    }
    const QString path = AskForImageFile(true);
    if (!path.isEmpty())
        SaveImageFile(*image_, QFile::encodeName(path).toStdString(), boxes);
}

}  // namespace vokta
