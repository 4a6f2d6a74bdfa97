// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/filechooser.h"

#include <QFileDialog>
#include <QRegularExpression>

namespace vokta {

QString AskForFile(QWidget* parent, const FileRequest& request)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(request.forSaving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(request.mustExist && !request.forSaving ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, request.forSaving);
    dialog.setNameFilter(request.filter);
    dialog.setDefaultSuffix(request.defaultSuffix);
    // A name typed without an extension takes that of the filter chosen, ".imd" included.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&](const QString& filter) {
        const QRegularExpressionMatch only = QRegularExpression(QStringLiteral("\\(\\*\\.(\\w+)\\)$")).match(filter);
        dialog.setDefaultSuffix(only.hasMatch() ? only.captured(1) : request.defaultSuffix);
    });
    dialog.setDirectory(request.folder);
    dialog.selectFile(request.fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

}  // namespace vokta
