// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/pages/rescuedialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "app/pages/dupdiskpage.h"
#include "rescue/rescue.h"
#include "ui/dialogframe.h"
#include "ui/qthost.h"
#include "ui/uitext.h"

namespace vokta {
namespace {

QSpinBox* Count(QWidget* parent, const char* name, int low, int high, int value)
{
    auto* box = new QSpinBox(parent);
    box->setObjectName(QLatin1String(name));
    box->setRange(low, high);
    box->setValue(value);
    return box;
}

QString DefaultMapFor(const QString& image)
{
    return QFile::decodeName(DefaultMapPath(QFile::encodeName(image).toStdString()).c_str());
}

}  // namespace

RescueDialog::RescueDialog(QWidget* parent, FileChooser chooseFile, const QString& proposedImage)
    : QDialog(parent), chooseFile_(std::move(chooseFile))
{
    setWindowTitle(UiText(Str::RescueDialogCaption));
    setWindowIcon(qApp->windowIcon());

    image_ = new QLineEdit(proposedImage, this);
    image_->setObjectName(QStringLiteral("image"));
    auto* browse = new QPushButton(UiText(Str::RescueBrowse), this);
    browse->setAutoDefault(false);
    map_ = new QLineEdit(proposedImage.isEmpty() ? QString() : DefaultMapFor(proposedImage), this);
    map_->setObjectName(QStringLiteral("map"));
    passes_ = Count(this, "passes", 1, 99, 3);
    retries_ = Count(this, "retries", 0, 99, 3);
    revolutions_ = Count(this, "revolutions", 0, 20, 0);
    revolutions_->setSpecialValueText(UiText(Str::RescueRevolutionsOwn));
    // Wide enough for a path, not more than half the screen's width of it.
    image_->setMinimumWidth(image_->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 48);

    auto* imageRow = new QHBoxLayout;
    imageRow->addWidget(image_, 1);
    imageRow->addWidget(browse);
    auto* form = new QFormLayout;
    auto* imageLabel = new QLabel(UiText(Str::RescueImageFile), this);
    imageLabel->setBuddy(image_);
    form->addRow(imageLabel, imageRow);
    form->addRow(UiText(Str::RescueMapFile), map_);
    form->addRow(UiText(Str::RescuePasses), passes_);
    form->addRow(UiText(Str::RescueRetries), retries_);
    form->addRow(UiText(Str::RescueRevolutions), revolutions_);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(UiText(Str::OkButton), QDialogButtonBox::AcceptRole);
    buttons->addButton(UiText(Str::CancelButton), QDialogButtonBox::RejectRole);
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    FitFrame(*this, FrameButtons::Close);

    connect(browse, &QPushButton::clicked, this, &RescueDialog::ChooseImage);
    connect(image_, &QLineEdit::textChanged, this, &RescueDialog::ImageChanged);
    connect(map_, &QLineEdit::textEdited, this, [this] { mapTyped_ = true; });
}

void RescueDialog::ChooseImage()
{
    FileRequest request;
    if (!image_->text().isEmpty()) {
        const QFileInfo file(image_->text());
        request.folder = file.absolutePath();
        request.fileName = file.fileName();
    }
    request.filter = ImageFileDialogFilter();
    request.defaultSuffix = QStringLiteral("img");
    request.mustExist = false;
    request.forSaving = true;
    const QString chosen = chooseFile_(this, request);
    if (!chosen.isEmpty())
        image_->setText(chosen);
}

void RescueDialog::ImageChanged(const QString& path)
{
    if (!mapTyped_)
        map_->setText(path.isEmpty() ? QString() : DefaultMapFor(path));
}

RescueChoice RescueDialog::Choice() const
{
    const QString image = image_->text().trimmed();
    const QString map = map_->text().trimmed();
    return {image, map.isEmpty() ? DefaultMapFor(image) : map, passes_->value(), retries_->value(),
            revolutions_->value()};
}

void RescueDialog::accept()
{
    if (image_->text().trimmed().isEmpty()) {
        AskInMessageBox(*this, LoadString(Str::RescueNoImageFile), LoadString(Str::RescueDialogCaption), Buttons::Ok,
                        Icon::Warning);
        image_->setFocus();
        return;
    }
    QDialog::accept();
}

}  // namespace vokta
