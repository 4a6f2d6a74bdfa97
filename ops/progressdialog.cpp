#include "ops/progressdialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetricsF>
#include <QWindowStateChangeEvent>

#include "ops/uitext.h"

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
    QRect Rect(int left, int top, int width, int height) const
    {
        return {X(left), Y(top), X(width), Y(height)};
    }
    int X(int units) const { return qRound(units * x_); }
    int Y(int units) const { return qRound(units * y_); }

private:
    double x_ = 1.5;
    double y_ = 1.75;
};

QLabel* Label(QWidget* parent, int id, const QString& text, const QRect& place)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(place);
    if (id != 0)
        SetControlId(label, id);
    return label;
}

}  // namespace

QString MinimisedOwnerTitle(int percent, const QString& dialogTitle)
{
    QString title = dialogTitle.left(kTitleLimit);
    if (title.size() > 3 && title[3] == QLatin1Char('%'))
        title = title.mid(5);
    return UiText(FormatString(Str::TitlePercent, percent)) + title;
}

ProgressDialog::ProgressDialog(QWidget* page, QWidget* owner)
    : QDialog(page, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                        Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      owner_(owner)
{
    setWindowTitle(UiText(Dialog::Progress, kCaption));
    setWindowIcon(qApp->windowIcon());
    for (int phase = 0; phase < kAnimationPhases; ++phase)
        icons_[static_cast<size_t>(phase)] = AnimationIcon(phase);
    BuildControls();
    // The template's placeholder texts give way to the worker's.
    upper_->clear();
    lower_->clear();
    timer_.setInterval(kBeat);
    connect(&timer_, &QTimer::timeout, this, &ProgressDialog::Tick);
}

void ProgressDialog::BuildControls()
{
    const DialogUnits du(font());
    upper_ = Label(this, ProgressControl::UpperLine, UiText(Dialog::Progress, ProgressControl::UpperLine),
                   du.Rect(7, 9, 174, 8));
    lower_ = Label(this, ProgressControl::LowerLine, UiText(Dialog::Progress, ProgressControl::LowerLine),
                   du.Rect(7, 23, 174, 8));
    Label(this, 0, UiText(Dialog::Progress, Unnumbered::ElapsedTimeLabel), du.Rect(7, 37, 50, 8));
    seconds_ = Label(this, ProgressControl::Seconds, UiText(Dialog::Progress, ProgressControl::Seconds),
                     du.Rect(59, 37, 34, 8));

    icon_ = new QLabel(this);
    SetControlId(icon_, ProgressControl::Icon);
    icon_->setGeometry(du.Rect(165, 32, 18, 20));
    icon_->setAlignment(Qt::AlignCenter);
    icon_->setPixmap(icons_[0]);

    bar_ = new PercentBar(this);
    SetControlId(bar_, ProgressControl::Bar);
    bar_->SetBordered(true);
    bar_->SetFormat(kPercentBarFormat);
    bar_->setGeometry(du.Rect(7, 55, 179, 14));

    abort_ = new QPushButton(UiText(Dialog::Progress, ProgressControl::Abort), this);
    SetControlId(abort_, ProgressControl::Abort);
    abort_->setGeometry(du.Rect(71, 78, 50, 14));
    connect(abort_, &QPushButton::clicked, this, &ProgressDialog::PressAbort);

    setFixedSize(du.X(193), du.Y(99));
}

void ProgressDialog::SetUpperLine(const QString& text)
{
    upper_->setText(text);
}

void ProgressDialog::SetLowerLine(const QString& text)
{
    lower_->setText(text);
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
