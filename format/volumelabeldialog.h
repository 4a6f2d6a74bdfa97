#pragma once

#include <QDialog>
#include <string>

#include "drive/drivetable.h"

class QLineEdit;

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

    // Reads the drive's label into the edit, telling the user when it cannot be read.
    // Runs when the dialog is shown, so that the message has the dialog to stand over.
    void ReadLabel();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void ChangeLabel();

    char letter_;
    const DriveTable& drives_;
    QLineEdit* edit_ = nullptr;
    bool labelRead_ = false;
};

}  // namespace vokta
