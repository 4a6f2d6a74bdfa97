// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <functional>
#include <vector>

#include "ui/filechooser.h"
#include "drives/systemdrives.h"
#include "ui/qthost.h"

class QComboBox;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace vokta {

// The letters bound to diskette files or floppy drives: a table of them, a row to bind
// another letter (a file chosen or typed, or a device such as /dev/fd0, and the kind of
// drive a file stands for), and Remove. The caller keeps `bindings()` when it is accepted.
class DrivesDialog final : public QDialog {
    Q_OBJECT

public:
    // A message box owned by the dialog; a test answers in the user's place.
    using MessageBoxFunction =
        std::function<Answer(QWidget& owner, const std::string& text, const std::string& caption, Buttons, Icon)>;

    explicit DrivesDialog(std::vector<DriveOption> bindings, QWidget* parent = nullptr);

    const std::vector<DriveOption>& bindings() const { return bindings_; }

    void SetFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }
    void SetMessageBox(MessageBoxFunction messageBox) { messageBox_ = std::move(messageBox); }

private:
    void BuildControls();
    void ShowBindings(char selectedLetter);
    void Browse();
    void Add();
    void Remove();
    // Whether the option's path can be bound, once the user had the word; a missing file
    // is created empty when the user agrees.
    bool AcceptTarget(const DriveOption& option);

    std::vector<DriveOption> bindings_;
    FileChooser chooseFile_ = AskForFile;
    MessageBoxFunction messageBox_ = AskInMessageBox;

    QTableWidget* table_ = nullptr;
    QComboBox* letter_ = nullptr;
    QLineEdit* path_ = nullptr;
    QComboBox* kind_ = nullptr;
    QPushButton* add_ = nullptr;
    QPushButton* remove_ = nullptr;
};

}  // namespace vokta
