// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QStringDecoder>
#include <thread>

#include "drive/drivetable.h"
#include "fat/diskchecker.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace vokta {

// The system's disk checker at work on one drive, in a window of its own: its report as it
// comes, then its verdict. The window cannot be closed while the checker runs, so whoever
// opened it waits until the checker has ended and the user has read the report.
class DiskCheckerWindow final : public QDialog {
    Q_OBJECT

public:
    DiskCheckerWindow(char letter, const DriveTable& drives, QWidget* parent);
    ~DiskCheckerWindow() override;

    // Runs the checker with the window shown modally, and returns when the user has closed
    // it. A checker that could not be started closes the window at once; the run says why.
    DiskCheckerRun Run();

    bool HasEnded() const { return ended_; }
    QString Report() const;
    QString Verdict() const;

    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Append(const QByteArray& chunk);
    void Ended(const DiskCheckerRun& run);

    const char letter_;
    const DriveTable& drives_;
    std::thread checker_;
    DiskCheckerRun run_;
    bool ended_ = false;
    // The report may break a character between two chunks.
    QStringDecoder decoder_{QStringDecoder::System};
    QPlainTextEdit* report_ = nullptr;
    QLabel* verdict_ = nullptr;
    QPushButton* close_ = nullptr;
};

}  // namespace vokta
