// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/pages/diskcheckerwindow.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/uitext.h"

namespace vokta {
namespace {

// The checker's own exit statuses.
constexpr int kNothingFound = 0;
constexpr int kErrorsFound = 1;

// Room for the checker's lines as it writes them.
constexpr int kReportColumns = 84;
constexpr int kReportLines = 24;

QString CheckerText(uint16_t control)
{
    return UiText(Dialog::Repair, control);
}

}  // namespace

DiskCheckerWindow::DiskCheckerWindow(char letter, const DriveTable& drives, QWidget* parent)
    : QDialog(parent), letter_(letter), drives_(drives)
{
    setWindowTitle(CheckerText(Unnumbered::CheckerTitle).arg(QString(QChar(letter)).toUpper() + ':'));
    report_ = new QPlainTextEdit(this);
    report_->setReadOnly(true);
    report_->setLineWrapMode(QPlainTextEdit::NoWrap);
    report_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    const QFontMetrics metrics(report_->font());
    report_->setMinimumSize(metrics.horizontalAdvance(QLatin1Char('M')) * kReportColumns,
                            metrics.lineSpacing() * kReportLines);
    verdict_ = new QLabel(CheckerText(Unnumbered::CheckerRunning), this);
    verdict_->setWordWrap(true);
    close_ = new QPushButton(CheckerText(Unnumbered::CheckerClose), this);
    close_->setEnabled(false);
    connect(close_, &QPushButton::clicked, this, &QDialog::accept);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(verdict_, 1);
    bottom->addWidget(close_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(report_, 1);
    layout->addLayout(bottom);
}

DiskCheckerWindow::~DiskCheckerWindow()
{
    if (checker_.joinable())
        checker_.join();
}

DiskCheckerRun DiskCheckerWindow::Run()
{
    // The checker's thread hands its news to the window's own thread, which owns the
    // widgets; news still on its way when the window is gone is dropped with it.
    checker_ = std::thread([this] {
        const DiskCheckerRun run = RunDiskChecker(letter_, drives_, [this](std::string_view chunk) {
            QByteArray bytes(chunk.data(), static_cast<qsizetype>(chunk.size()));
            QMetaObject::invokeMethod(this, [this, bytes] { Append(bytes); }, Qt::QueuedConnection);
        });
        QMetaObject::invokeMethod(this, [this, run] { Ended(run); }, Qt::QueuedConnection);
    });
    exec();
    checker_.join();
    return run_;
}

QString DiskCheckerWindow::Report() const
{
    return report_->toPlainText();
}

QString DiskCheckerWindow::Verdict() const
{
    return verdict_->text();
}

void DiskCheckerWindow::Append(const QByteArray& chunk)
{
    report_->moveCursor(QTextCursor::End);
    report_->insertPlainText(decoder_.decode(chunk));
    report_->moveCursor(QTextCursor::End);
}

void DiskCheckerWindow::Ended(const DiskCheckerRun& run)
{
    run_ = run;
    ended_ = true;
    if (!run.started) {
        QDialog::reject();
        return;
    }
    if (run.exitStatus == kNothingFound)
        verdict_->setText(CheckerText(Unnumbered::CheckerClean));
    else if (run.exitStatus == kErrorsFound)
        verdict_->setText(CheckerText(Unnumbered::CheckerFoundErrors));
    else
        verdict_->setText(CheckerText(Unnumbered::CheckerOtherEnd).arg(run.exitStatus));
    // No errors found in a copy that lacks sectors is no clean bill for the diskette.
    if (run.unreadSectors > 0)
        verdict_->setText(verdict_->text() + ' ' +
                          CheckerText(Unnumbered::CheckerUnreadable).arg(static_cast<qulonglong>(run.unreadSectors)));
    close_->setEnabled(true);
    close_->setDefault(true);
    close_->setFocus();
}

void DiskCheckerWindow::reject()
{
    if (ended_)
        QDialog::reject();
}

void DiskCheckerWindow::closeEvent(QCloseEvent* event)
{
    if (ended_)
        QDialog::closeEvent(event);
    else
        event->ignore();
}

}  // namespace vokta
