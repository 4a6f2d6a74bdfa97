// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/drivesdialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/drivebindings.h"
#include "ui/dialogframe.h"
#include "ui/uitext.h"

namespace vokta {
namespace {

// The kinds of drive a diskette file can stand for, named as the drive list names them.
struct KindChoice {
    DriveKind kind;
    Str name;
};
constexpr KindChoice kKinds[] = {
    {DriveKind::Floppy35DD, Str::DriveFloppy720K},
    {DriveKind::Floppy525HD, Str::DriveFloppy1200K},
    {DriveKind::Floppy35HD, Str::DriveFloppy1440K},
};

QString KindText(DriveKind kind)
{
    for (const KindChoice& choice : kKinds)
        if (choice.kind == kind)
            return UiText(choice.name);
    return {};
}

QString LetterText(char letter)
{
    return QString(QChar(letter)) + QLatin1Char(':');
}

void SetId(QWidget* control, Str tip)
{
    SetControlId(control, static_cast<int>(tip));
}

}  // namespace

DrivesDialog::DrivesDialog(std::vector<DriveOption> bindings, QWidget* parent)
    : QDialog(parent), bindings_(std::move(bindings))
{
    setWindowTitle(UiText(Str::DrivesTitle));
    BuildControls();
    FitFrame(*this, FrameButtons::Close);
    ShowBindings(bindings_.empty() ? '\0' : bindings_.front().letter);
}

void DrivesDialog::BuildControls()
{
    table_ = new QTableWidget(0, 3, this);
    SetId(table_, Str::TipDriveBindings);
    table_->setHorizontalHeaderLabels(
        {UiText(Str::DriveColumn), UiText(Str::BindingPathColumn), UiText(Str::BindingKindColumn)});
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    table_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    table_->horizontalHeader()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);

    remove_ = new QPushButton(UiText(Str::RemoveButton), this);
    SetId(remove_, Str::TipRemoveBinding);

    letter_ = new QComboBox(this);
    SetId(letter_, Str::TipBindingLetter);
    for (char letter = 'A'; letter <= 'Z'; ++letter)
        letter_->addItem(LetterText(letter));
    path_ = new QLineEdit(this);
    SetId(path_, Str::TipBindingPath);
    path_->setMinimumWidth(260);
    auto* browse = new QPushButton(UiText(Str::BrowseButton), this);
    SetId(browse, Str::TipBrowseDisketteFile);
    kind_ = new QComboBox(this);
    SetId(kind_, Str::TipBindingKind);
    for (const KindChoice& choice : kKinds)
        kind_->addItem(UiText(choice.name), static_cast<int>(choice.kind));
    kind_->setCurrentIndex(kind_->findData(static_cast<int>(DriveKind::Floppy35HD)));
    add_ = new QPushButton(UiText(Str::AddButton), this);
    SetId(add_, Str::TipAddBinding);
    add_->setEnabled(false);

    auto* letterLabel = new QLabel(UiText(Str::BindingLetterLabel), this);
    letterLabel->setBuddy(letter_);
    auto* pathLabel = new QLabel(UiText(Str::BindingPathLabel), this);
    pathLabel->setBuddy(path_);
    auto* kindLabel = new QLabel(UiText(Str::BindingKindLabel), this);
    kindLabel->setBuddy(kind_);

    auto* binding = new QGridLayout;
    binding->addWidget(letterLabel, 0, 0);
    binding->addWidget(letter_, 0, 1);
    binding->addWidget(pathLabel, 1, 0);
    binding->addWidget(path_, 1, 1);
    binding->addWidget(browse, 1, 2);
    binding->addWidget(kindLabel, 2, 0);
    binding->addWidget(kind_, 2, 1);
    binding->addWidget(add_, 2, 2);
    binding->setColumnStretch(1, 1);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(UiText(Str::OkButton), QDialogButtonBox::AcceptRole);
    SetId(ok, Str::TipKeepBindings);
    QPushButton* cancel = buttons->addButton(UiText(Str::CancelButton), QDialogButtonBox::RejectRole);
    SetId(cancel, Str::TipDropBindings);

    auto* removeRow = new QHBoxLayout;
    removeRow->addStretch();
    removeRow->addWidget(remove_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_);
    layout->addLayout(removeRow);
    layout->addLayout(binding);
    layout->addWidget(buttons);

    connect(table_, &QTableWidget::itemSelectionChanged, this,
            [this] { remove_->setEnabled(!table_->selectedItems().isEmpty()); });
    connect(path_, &QLineEdit::textChanged, this,
            [this](const QString& text) { add_->setEnabled(!text.trimmed().isEmpty()); });
    connect(browse, &QPushButton::clicked, this, &DrivesDialog::Browse);
    connect(add_, &QPushButton::clicked, this, &DrivesDialog::Add);
    connect(remove_, &QPushButton::clicked, this, &DrivesDialog::Remove);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void DrivesDialog::ShowBindings(char selectedLetter)
{
    table_->setRowCount(static_cast<int>(bindings_.size()));
    int selectedRow = -1;
    for (int row = 0; row < table_->rowCount(); ++row) {
        const DriveOption& option = bindings_[static_cast<size_t>(row)];
        table_->setItem(row, 0, new QTableWidgetItem(LetterText(option.letter)));
        table_->setItem(row, 1, new QTableWidgetItem(QString::fromStdString(option.path)));
        table_->setItem(row, 2, new QTableWidgetItem(KindText(option.kind)));
        if (option.letter == selectedLetter)
            selectedRow = row;
    }
    table_->clearSelection();
    if (selectedRow >= 0)
        table_->selectRow(selectedRow);
    remove_->setEnabled(selectedRow >= 0);
}

void DrivesDialog::Browse()
{
    FileRequest request;
    const QString typed = path_->text().trimmed();
    request.folder = QFileInfo(typed.isEmpty() ? QString::fromStdString(DefaultDisketteFile()) : typed).absolutePath();
    // Every kind a drive can be bound to first, then flux files, sector images and the rest.
    request.filter = QtFileFilter(UiText(Str::DisketteOrFluxFileFilter)) + QStringLiteral(";;") +
                     QtFileFilter(UiText(Str::FluxFileFilter)) + QStringLiteral(";;") +
                     QtFileFilter(UiText(Str::DisketteFileFilter));
    request.mustExist = false;
    const QString chosen = chooseFile_(this, request);
    if (!chosen.isEmpty())
        path_->setText(chosen);
}

bool DrivesDialog::AcceptTarget(const DriveOption& option)
{
    const BindingTarget target = CheckBindingTarget(option);
    if (target.state == TargetState::Usable)
        return true;
    if (target.state == TargetState::Refused) {
        messageBox_(*this, target.reason, LoadString(Str::Error), Buttons::Ok, Icon::Error);
        return false;
    }
    const std::string question = FormatString(Str::CreateDisketteFile, option.path);
    if (messageBox_(*this, question, LoadString(Str::Message), Buttons::YesNo, Icon::Question) != Answer::Yes)
        return false;
    std::string reason;
    if (CreateEmptyDisketteFile(option.path, reason))
        return true;
    messageBox_(*this, reason, LoadString(Str::Error), Buttons::Ok, Icon::Error);
    return false;
}

void DrivesDialog::Add()
{
    DriveOption option;
    option.letter = static_cast<char>('A' + letter_->currentIndex());
    const QString typed = path_->text().trimmed();
    // A binding outlives the folder it was typed in.
    option.path = typed.isEmpty() ? std::string() : QFileInfo(typed).absoluteFilePath().toStdString();
    option.kind = static_cast<DriveKind>(kind_->currentData().toInt());
    if (option.path.empty() || !AcceptTarget(option))
        return;
    ReplaceBinding(bindings_, option);
    ShowBindings(option.letter);
    path_->clear();
}

void DrivesDialog::Remove()
{
    const QList<QTableWidgetItem*> selected = table_->selectedItems();
    if (selected.isEmpty())
        return;
    bindings_.erase(bindings_.begin() + selected.front()->row());
    ShowBindings('\0');
}

}  // namespace vokta
