// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QWidget>
#include <functional>

namespace vokta {

// What a file-open dialog is asked for.
struct FileRequest {
    QString folder;         // where it opens
    QString fileName;       // the name it proposes ("*.wav")
    QString filter;         // in Qt's form (QtFileFilter)
    QString defaultSuffix;  // added to a name typed without one
    bool mustExist = true;  // false: a new name may be typed, to be created afterwards
    bool forSaving = false;  // a save dialog, which replaces an existing file without a question
};

// Asks for a file; the chosen full path, or empty when the user cancelled. Pages hold one
// of these so that a test can answer in the user's place without a dialog that blocks it.
using FileChooser = std::function<QString(QWidget* parent, const FileRequest& request)>;

// The desktop's file dialog, modal on `parent`.
QString AskForFile(QWidget* parent, const FileRequest& request);

}  // namespace vokta
