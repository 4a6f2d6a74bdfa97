// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/progressdialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetricsF>
#include <QScreen>
#include <QWindowStateChangeEvent>

#include "ui/dialogframe.h"
#include "ui/uitext.h"

namespace vokta {
namespace {

// One picture per beat for the whole process: a new dialog goes on where the last one
// stopped, so the seconds of the second operation may tick after fewer beats.
int animationPhase = 0;

constexpr std::chrono::milliseconds kBeat{250};
// The most of the main window's title kept for its restoration, and of the dialog's own
// title put after the percentage.
constexpr int kTitleLimit = 80;

// A position in the template's dialog units, scaled by the dialog font as dialog units
// are: a quarter of the average character width across, an eighth of the line height down.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font)
    {
        const QFontMetricsF metrics(font);
        x_ = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 52.0 / 4.0;
        y_ = metrics.height() / 8.0;
    }
    int X(int units) const { return qRound(units * x_); }
    int Y(int units) const { return qRound(units * y_); }

private:
    double x_ = 1.5;
    double y_ = 1.75;
};

QLabel* Label(QWidget* parent, int id, const QString& text)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    if (id != 0)
        SetControlId(label, id);
    return label;
}

int TextWidth(const QLabel& label)
{
    return label.fontMetrics().horizontalAdvance(label.text());
}

// The most seconds a text is made room for: more than a day.
constexpr int kSecondsRoom = 99999;

}  // namespace

QString MinimisedOwnerTitle(int percent, const QString& dialogTitle)
{
    QString title = dialogTitle.left(kTitleLimit);
    if (title.size() > 3 && title[3] == QLatin1Char('%'))
        title = title.mid(5);
    return UiText(FormatString(Str::TitlePercent, percent)) + title;
}

ProgressDialog::ProgressDialog(QWidget* page, QWidget* owner)
    : QDialog(page, DialogFlags(FrameButtons::MinimiseAndClose)), owner_(owner)
{
    setWindowIcon(qApp->windowIcon());
    for (int phase = 0; phase < kAnimationPhases; ++phase)
        icons_[static_cast<size_t>(phase)] = AnimationIcon(phase);
    BuildControls();
    // The template's placeholder texts give way to the worker's.
    upper_->clear();
    lower_->clear();
    // Once the controls exist: a new title places them anew.
    setWindowTitle(UiText(Dialog::Progress, kCaption));
    timer_.setInterval(kBeat);
    connect(&timer_, &QTimer::timeout, this, &ProgressDialog::Tick);
}

void ProgressDialog::BuildControls()
{
    upper_ = Label(this, ProgressControl::UpperLine, UiText(Dialog::Progress, ProgressControl::UpperLine));
    lower_ = Label(this, ProgressControl::LowerLine, UiText(Dialog::Progress, ProgressControl::LowerLine));
    elapsed_ = Label(this, 0, UiText(Dialog::Progress, Unnumbered::ElapsedTimeLabel));
    seconds_ = Label(this, ProgressControl::Seconds, UiText(Dialog::Progress, ProgressControl::Seconds));

    icon_ = new QLabel(this);
    SetControlId(icon_, ProgressControl::Icon);
    icon_->setAlignment(Qt::AlignCenter);
    icon_->setPixmap(icons_[0]);

    bar_ = new PercentBar(this);
    SetControlId(bar_, ProgressControl::Bar);
    bar_->SetBordered(true);
    bar_->SetFormat(kPercentBarFormat);

    abort_ = new QPushButton(UiText(Dialog::Progress, ProgressControl::Abort), this);
    SetControlId(abort_, ProgressControl::Abort);
    connect(abort_, &QPushButton::clicked, this, &ProgressDialog::PressAbort);

    details_ = new QPushButton(UiText(Str::TrackMapDetails), this);
    SetControlId(details_, ProgressControl::Details);
    details_->setCheckable(true);
    details_->setEnabled(false);
    // Space and Enter belong to Abort; the map is a look aside.
    details_->setAutoDefault(false);
    connect(details_, &QPushButton::toggled, this, &ProgressDialog::ToggleDetails);

    map_ = new TrackMapView(this);
    map_->hide();
    Place();
}

// The template's places, made wider where a text needs more than the template gives it: the
// elapsed-time label of another language, the worker's lines, the title. The dialog only
// grows, so that it does not jump as the lines change, and stays within the screen.
void ProgressDialog::Place()
{
    const DialogUnits du(font());
    const int elapsedWidth = std::max(du.X(50), TextWidth(*elapsed_));
    const QString mostSeconds = UiText(FormatString(Str::ElapsedSeconds, kSecondsRoom));
    const int secondsWidth = std::max(du.X(34), seconds_->fontMetrics().horizontalAdvance(mostSeconds));
    const int lineWidth = std::max(TextWidth(*upper_), TextWidth(*lower_));
    // The lines keep the template's margins; the seconds stay left of the picture.
    const int needed = std::max({du.X(193), lineWidth + du.X(7 + 12),
                                 du.X(7 + 2) + elapsedWidth + secondsWidth + du.X(193 - 165),
                                 TitleBarWidth(windowTitle(), FrameButtons::MinimiseAndClose)});
    const QScreen* shown = screen();
    const int limit = shown ? shown->availableGeometry().width() : needed;
    width_ = std::max(width_, std::min(needed, limit));
    const bool mapShown = details_->isChecked();
    const int mapWidth = map_->sizeHint().width();
    const int width = mapShown ? std::max(width_, std::min(mapWidth + du.X(7 + 7), limit)) : width_;
    const int wider = width - du.X(193);

    upper_->setGeometry(du.X(7), du.Y(9), du.X(174) + wider, du.Y(8));
    lower_->setGeometry(du.X(7), du.Y(23), du.X(174) + wider, du.Y(8));
    elapsed_->setGeometry(du.X(7), du.Y(37), elapsedWidth, du.Y(8));
    seconds_->setGeometry(du.X(7 + 2) + elapsedWidth, du.Y(37), secondsWidth, du.Y(8));
    icon_->setGeometry(du.X(165) + wider, du.Y(32), du.X(18), du.Y(20));
    bar_->setGeometry(du.X(7), du.Y(55), du.X(179) + wider, du.Y(14));
    abort_->setGeometry((width - du.X(50)) / 2, du.Y(78), du.X(50), du.Y(14));
    details_->setGeometry(abort_->geometry().right() + du.X(6), du.Y(78), du.X(50), du.Y(14));
    int height = du.Y(99);
    if (mapShown) {
        const int inner = width - du.X(7 + 7);
        const int mapHeight = map_->heightForWidth(inner);
        map_->setGeometry(du.X(7), height, inner, mapHeight);
        height += mapHeight + du.Y(7);
    }

    // A dialog on the screen grows and shrinks on both sides.
    if (isVisible() && shownWidth_ != 0 && width != shownWidth_)
        move(x() - (width - shownWidth_) / 2, y());
    shownWidth_ = width;
    setFixedSize(width, height);
}

void ProgressDialog::ToggleDetails(bool shown)
{
    map_->setVisible(shown);
    Place();
}

void ProgressDialog::BeginTrackMap(const TrackMapShape& shape)
{
    map_->Begin(shape);
    details_->setEnabled(true);
    if (details_->isChecked())
        Place();
}

void ProgressDialog::ShowTrack(const TrackReport& report)
{
    map_->Show(report);
}

void ProgressDialog::SetUpperLine(const QString& text)
{
    upper_->setText(text);
    Place();
}

void ProgressDialog::SetLowerLine(const QString& text)
{
    lower_->setText(text);
    Place();
}

void ProgressDialog::SetRange(int high)
{
    rangeLow_ = 0;
    rangeHigh_ = high;
    bar_->SetRange(0, high);
}

int ProgressDialog::SetProgressPos(int position)
{
    if (owner_) {
        if (isMinimized()) {
            const int span = rangeHigh_ - rangeLow_;
            const int percent = span == 0 ? 0 : (position - rangeLow_) * 100 / span;
            owner_->setWindowTitle(MinimisedOwnerTitle(percent, windowTitle()));
        } else {
            RestoreOwnerTitle();
        }
    }
    return bar_->SetPos(position);
}

void ProgressDialog::SetBarColours(QColor fill, QColor text)
{
    bar_->SetColours(fill, text);
}

void ProgressDialog::SetAbortCaption(AbortButton button)
{
    abort_->setText(UiText(AbortButtonCaption(button)));
}

void ProgressDialog::RequestClose()
{
    abortRequested_ = true;
    timer_.stop();
    RestoreOwnerTitle();
    closeRequested_ = true;
    if (isVisible())
        QDialog::reject();
}

void ProgressDialog::RestoreOwnerTitle()
{
    if (owner_ && savedTitle_)
        owner_->setWindowTitle(*savedTitle_);
}

void ProgressDialog::Tick()
{
    icon_->setPixmap(icons_[static_cast<size_t>(animationPhase)]);
    if (animationPhase < kAnimationPhases - 1) {
        ++animationPhase;
        return;
    }
    animationPhase = 0;
    ++elapsedSeconds_;
    seconds_->setText(UiText(FormatString(Str::ElapsedSeconds, elapsedSeconds_)));
}

int ProgressDialog::AnimationPhase()
{
    return animationPhase;
}

void ProgressDialog::PressAbort()
{
    abortRequested_ = true;
    abort_->setText(UiText(Str::Wait));
    abort_->setEnabled(false);
    emit AbortPressed();
}

void ProgressDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (owner_ && !savedTitle_)
        savedTitle_ = owner_->windowTitle().left(kTitleLimit);
    // A worker may close the dialog before it shows; it then ends as soon as its loop runs
    // (ending it from inside the show would leave the modal loop waiting for good).
    if (closeRequested_)
        QMetaObject::invokeMethod(this, &ProgressDialog::reject, Qt::QueuedConnection);
    else if (!timer_.isActive())
        timer_.start();
}

void ProgressDialog::closeEvent(QCloseEvent* event)
{
    // The window manager's close (its button, Alt+F4) never ends an operation: only the
    // worker's close, or Escape after Abort.
    event->ignore();
}

void ProgressDialog::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::WindowTitleChange)
        Place();
    if (event->type() != QEvent::WindowStateChange || !owner_)
        return;
    const auto* change = static_cast<QWindowStateChangeEvent*>(event);
    if (isMinimized()) {
        if (!owner_->isMinimized())
            owner_->showMinimized();
    } else if ((change->oldState() & Qt::WindowMinimized) && owner_->isMinimized()) {
        owner_->setWindowState(owner_->windowState() & ~Qt::WindowMinimized);
        owner_->show();
    }
}

void ProgressDialog::reject()
{
    if (abortRequested_)
        QDialog::reject();
}

}  // namespace vokta
