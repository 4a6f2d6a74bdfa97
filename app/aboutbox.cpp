// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/aboutbox.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/programicon.h"
#include "ui/dialogframe.h"
#include "ui/uitext.h"
#include "versioninfo.h"

namespace vokta {
namespace {

// The template's controls.
constexpr uint16_t kOkButton = 1;
constexpr uint16_t kDescriptionField = 1039;
constexpr uint16_t kCopyrightField = 1043;
constexpr uint16_t kProductField = 1064;
constexpr uint16_t kVersionField = 1066;
constexpr uint16_t kTrademarksField = 1067;
constexpr uint16_t kNoticeField = 1068;
// A line of our own under the template's fields.
constexpr uint16_t kLicenceField = 1069;

constexpr int kIconSize = 64;
constexpr int kNoticeLines = 6;

QLabel* Field(QWidget* parent, uint16_t id, const QString& value)
{
    auto* label = new QLabel(value.isEmpty() ? UiText(Dialog::About, id) : value, parent);
    SetControlId(label, id);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

}  // namespace

VersionInfo ProgramVersion()
{
    return {versioninfo::kProductName, UiText(Str::VersionDescription), versioninfo::kFileVersion,
            UiText(Str::VersionCopyright), UiText(Str::VersionTrademarks)};
}

AboutBox::AboutBox(QWidget* parent, const VersionInfo& version) : QDialog(parent)
{
    setWindowTitle(UiText(Str::About) + ' ' + QCoreApplication::applicationName() + " ...");

    auto* icon = new QLabel(this);
    icon->setPixmap(ProgramIcon().pixmap(kIconSize, kIconSize));
    icon->setAlignment(Qt::AlignTop);

    QLabel* product = Field(this, kProductField, version.productName);
    QFont bold = product->font();
    bold.setBold(true);
    product->setFont(bold);

    auto* versionRow = new QHBoxLayout;
    versionRow->addWidget(new QLabel(UiText(Dialog::About, Unnumbered::VersionLabel), this));
    versionRow->addWidget(Field(this, kVersionField, version.fileVersion), 1);

    auto* fields = new QVBoxLayout;
    fields->addWidget(product);
    fields->addWidget(Field(this, kDescriptionField, version.fileDescription));
    fields->addLayout(versionRow);
    fields->addWidget(Field(this, kCopyrightField, version.legalCopyright));
    fields->addWidget(Field(this, kTrademarksField, version.legalTrademarks));
    QLabel* licence = Field(this, kLicenceField, UiText(Str::VersionLicence));
    licence->setWordWrap(true);
    fields->addWidget(licence);

    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addLayout(fields, 1);

    auto* notice = new QPlainTextEdit(UiText(Dialog::About, kNoticeField), this);
    SetControlId(notice, kNoticeField);
    notice->setReadOnly(true);
    notice->setFixedHeight(notice->fontMetrics().lineSpacing() * kNoticeLines);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(UiText(Dialog::About, kOkButton), QDialogButtonBox::AcceptRole);
    SetControlId(ok, kOkButton);
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(notice);
    layout->addWidget(buttons);
    setMinimumWidth(fontMetrics().averageCharWidth() * 56);
    FitFrame(*this, FrameButtons::Close);
}

}  // namespace vokta
