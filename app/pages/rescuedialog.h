// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

#include "ui/filechooser.h"

class QLineEdit;
class QSpinBox;

namespace vokta {

// What the user asked a rescue read for.
struct RescueChoice {
    QString imagePath;
    QString mapPath;
    int passes = 3;
    int retries = 3;
    int revolutions = 0;  // 0: the drive's own
};

// The questions before a rescue read: the image file it writes (chosen as for saving), the
// map beside it, which follows the image's name until the user types one of their own,
// the passes, the retries of a sector and the revolutions a flux drive takes over one.
// OK needs an image file.
class RescueDialog final : public QDialog {
    Q_OBJECT

public:
    RescueDialog(QWidget* parent, FileChooser chooseFile, const QString& proposedImage);

    RescueChoice Choice() const;

    void accept() override;

private:
    void ChooseImage();
    void ImageChanged(const QString& path);

    FileChooser chooseFile_;
    QLineEdit* image_ = nullptr;
    QLineEdit* map_ = nullptr;
    QSpinBox* passes_ = nullptr;
    QSpinBox* retries_ = nullptr;
    QSpinBox* revolutions_ = nullptr;
    // The user typed a map name: a new image name leaves it.
    bool mapTyped_ = false;
};

}  // namespace vokta
