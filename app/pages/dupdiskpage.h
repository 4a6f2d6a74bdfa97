// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <memory>

#include "ui/filechooser.h"
#include "ui/driveselector.h"
#include "ui/shell.h"
#include "image/duplicate.h"
#include "ui/pagerun.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vokta {

// The controls of the page by their ids; each one's tool tip is the string of its id.
namespace DupDiskControl {
constexpr int ReadDisk = 1003;
constexpr int WriteDisk = 1004;
constexpr int Drive = 1005;
constexpr int LoadImage = 1006;
constexpr int SaveImage = 1007;
constexpr int Compare = 1008;
constexpr int LabelCaption = 1011;
constexpr int SerialCaption = 1012;
constexpr int ImageLabel = 1036;
constexpr int ImageSerial = 1037;
constexpr int Verify = 1071;
constexpr int MediaCaption = 1078;
constexpr int ImageMedia = 1156;
constexpr int Result = 1158;
constexpr int RescueDisk = 3360;
constexpr int MapButton = 3362;
}  // namespace DupDiskControl

// The image file dialogs' filters: the system's own first, then raw ".img" images and
// ImageDisk files, which a ".imd" name saves.
QString ImageFileDialogFilter();

// The first tab: one diskette held in memory for the page's whole life, read from a
// diskette or loaded from an image file, then written to other diskettes, compared with
// one, or saved as a file. A rescue read fills it as Read Disk does, pass after pass, and
// writes it into an image file; the track map of the last read or rescue can be looked at.
class DupDiskPage final : public QWidget {
    Q_OBJECT

public:
    explicit DupDiskPage(Shell& shell, QWidget* parent = nullptr);

    // The desktop's sound player and file dialogs by default; a test answers in their place.
    void SetSoundPlayer(SoundPlayer player) { play_ = std::move(player); }
    void SetFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }

    // The memory image the page holds.
    const DiskImage& Image() const { return *image_; }

protected:
    // The first showing loads the image named on the command line; every showing offers
    // the drives afresh and, while an image is held, puts the focus on "&Write Disk".
    void showEvent(QShowEvent* event) override;

private:
    using DuplicationWorker = OperationOutcome (*)(DuplicateJob, OperationHost&);

    void BuildControls();
    // Read Disk, Write Disk or Compare under the progress dialog; a read that ends well
    // shows its image.
    void RunDuplication(DuplicationWorker work);
    // The rescue dialog, then the rescue read under the progress dialog.
    void RunRescue();
    // `work` on the page's image under the progress dialog; a `reading` that ends well
    // shows the image, and any map it hands back becomes the page's.
    void RunOnImage(const std::function<OperationOutcome(OperationHost&)>& work, bool reading);
    void ShowTrackMap();
    void LoadFileImage();
    void SaveFileImage();
    void LoadImagePath(const QString& path);
    // The file dialog on the next name of the series; the chosen path becomes the image's
    // file name, and a cancelled dialog leaves the name as it was. Empty when cancelled.
    QString AskForImageFile(bool forSaving);
    // The image's label, serial number and media on the page, and its operations enabled.
    void ShowImage();
    // Write Disk, Compare, Save File Image and the captions of the image's fields.
    void EnableImageControls(bool enabled);

    Shell& shell_;
    SoundPlayer play_;
    FileChooser chooseFile_ = AskForFile;
    // Shared with the running operation; a worker the page stops waiting for keeps the
    // old one and the page goes on with a fresh image.
    std::shared_ptr<DiskImage> image_ = std::make_shared<DiskImage>();
    bool commandLineLoaded_ = false;
    // The map the last read or rescue handed back.
    TrackMap lastMap_;

    QPushButton* readDisk_ = nullptr;
    QCheckBox* verify_ = nullptr;
    QPushButton* writeDisk_ = nullptr;
    QPushButton* compare_ = nullptr;
    QComboBox* drive_ = nullptr;
    QPushButton* loadImage_ = nullptr;
    QPushButton* saveImage_ = nullptr;
    QLabel* labelCaption_ = nullptr;
    QLabel* serialCaption_ = nullptr;
    QLabel* mediaCaption_ = nullptr;
    QLabel* label_ = nullptr;
    QLabel* serial_ = nullptr;
    QLabel* media_ = nullptr;
    QLineEdit* result_ = nullptr;
    QPushButton* rescue_ = nullptr;
    QPushButton* trackMap_ = nullptr;
    // Gathers the selector's entries off the window's thread; goes first, with the page.
    std::unique_ptr<DriveSelectorFiller> driveFill_;
};

}  // namespace vokta
