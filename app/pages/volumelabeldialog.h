// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <string>

#include "drive/drivetable.h"
#include "ops/runner.h"

class QLineEdit;
class QPushButton;

namespace vokta {

namespace VolumeLabelControl {
constexpr int Label = 1081;
constexpr int Change = 1;
constexpr int Cancel = 2;
}  // namespace VolumeLabelControl

// "Change Volume Label": the current label of the drive of the entry `driveText`, edited
// within the characters a label may hold, and written on "Change". A refusal is told with
// its reason and leaves the dialog open; Cancel writes nothing.
class VolumeLabelDialog final : public QDialog {
    Q_OBJECT

public:
    VolumeLabelDialog(const std::string& driveText, const DriveTable& drives, QWidget* parent = nullptr);

    // The label written, once the dialog ended with "Change".
    std::string label() const;

    // Reads the drive's label into the edit off the window's thread, telling the user when
    // it cannot be read. Starts when the dialog is shown, so that the message has the
    // dialog to stand over.
    void ReadLabel();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void ChangeLabel();
    // `work` on a worker's thread with "Change" off, then `then` on this thread, unless the
    // dialog has gone by then.
    void OffThread(std::function<void()> work, std::function<void()> then);

    char letter_;
    DriveTable drives_;
    QLineEdit* edit_ = nullptr;
    QPushButton* change_ = nullptr;
    std::unique_ptr<WorkerRun> run_;
    bool labelRead_ = false;
};

}  // namespace vokta
