// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <array>
#include <optional>

#include "ui/animationicons.h"
#include "ops/operation.h"
#include "ui/percentbar.h"
#include "ui/trackmapview.h"

namespace vokta {

// Control ids of the progress dialog.
namespace ProgressControl {
constexpr int UpperLine = 1035;
constexpr int LowerLine = 1033;
constexpr int Seconds = 1042;
constexpr int Icon = 1082;
constexpr int Bar = 1032;
constexpr int Abort = 1034;
constexpr int Details = 3364;
}  // namespace ProgressControl

// The title the main window shows while the dialog is minimised: the percent, then the
// dialog's own title without an older percent prefix.
QString MinimisedOwnerTitle(int percent, const QString& dialogTitle);

// The modal "Wait ..." dialog of a running operation: two lines of text, the percent bar,
// the elapsed seconds with an animated picture, and the Abort button. It ends only when
// the worker closes it, or on Escape once Abort has been pressed; the window manager's
// close does nothing. Minimising it minimises the main window (the owner), whose title
// then carries the percentage. Beside Abort, "&Details" shows the operation's track map
// below and hides it again; it can be pressed once the operation has begun its map.
class ProgressDialog final : public QDialog {
    Q_OBJECT

public:
    ProgressDialog(QWidget* page, QWidget* owner);

    void SetUpperLine(const QString& text);
    void SetLowerLine(const QString& text);
    // Range 0..high.
    void SetRange(int high);
    // Returns the previous position.
    int SetProgressPos(int position);
    void SetBarColours(QColor fill, QColor text);
    void SetAbortCaption(AbortButton button);
    // The worker's last use of the dialog: ends it now, or as soon as it shows.
    void RequestClose();

    bool AbortRequested() const { return abortRequested_; }
    int ElapsedSeconds() const { return elapsedSeconds_; }
    // One beat of the 250 ms timer: the next picture, and a second more every fourth beat.
    void Tick();
    // The picture the next beat shows, shared by every dialog of the process.
    static int AnimationPhase();

    PercentBar& Bar() { return *bar_; }

    void BeginTrackMap(const TrackMapShape& shape);
    void ShowTrack(const TrackReport& report);
    TrackMapView& MapView() { return *map_; }

signals:
    void AbortPressed();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

public slots:
    void reject() override;

private:
    void BuildControls();
    void Place();
    void PressAbort();
    void ToggleDetails(bool shown);
    void RestoreOwnerTitle();

    QPointer<QWidget> owner_;
    QLabel* upper_ = nullptr;
    QLabel* lower_ = nullptr;
    QLabel* elapsed_ = nullptr;
    QLabel* seconds_ = nullptr;
    QLabel* icon_ = nullptr;
    PercentBar* bar_ = nullptr;
    QPushButton* abort_ = nullptr;
    QPushButton* details_ = nullptr;
    TrackMapView* map_ = nullptr;
    QTimer timer_;
    std::array<QPixmap, kAnimationPhases> icons_;
    // The width the lines need, which only grows; the dialog is wider while the map shows.
    int width_ = 0;
    int shownWidth_ = 0;
    int elapsedSeconds_ = 0;
    bool abortRequested_ = false;
    bool closeRequested_ = false;
    int rangeLow_ = 0;
    int rangeHigh_ = 0;
    // The main window's title when the dialog first showed.
    std::optional<QString> savedTitle_;
};

}  // namespace vokta
