// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/dialogframe.h"

#include <QEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLayout>
#include <QMessageBox>
#include <QPointer>
#include <QSpacerItem>
#include <algorithm>

namespace vokta {
namespace {

// Window managers draw the title in a bold face of the system's title font, and give the
// icon and each button a square of about two lines of that font; the frame and the gaps
// around the title take about as much again.
QFont TitleBarFont()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::TitleFont);
    font.setBold(true);
    return font;
}

int ButtonCount(FrameButtons buttons)
{
    return buttons == FrameButtons::MinimiseAndClose ? 2 : 1;
}

// Keeps its window as wide as the title needs. A message box sets its own fixed size from
// its layout whenever it shows, so it gets a spacer of that width in its grid instead of a
// minimum; the box may build its grid anew, and the spacer follows.
class TitleFit final : public QObject {
public:
    TitleFit(QWidget& window, FrameButtons buttons)
        : QObject(&window), window_(window), buttons_(buttons), ownMinimum_(window.minimumWidth())
    {
        window.installEventFilter(this);
        Apply();
    }

    bool eventFilter(QObject*, QEvent* event) override
    {
        // The filter sees a show before the window does, so the size it takes counts the title.
        if (event->type() == QEvent::WindowTitleChange || event->type() == QEvent::Show)
            Apply();
        return false;
    }

private:
    void Apply()
    {
        const int width = TitleBarWidth(window_.windowTitle(), buttons_);
        if (auto* grid = qobject_cast<QGridLayout*>(window_.layout()); grid && qobject_cast<QMessageBox*>(&window_))
            return WidenGrid(*grid, width);
        const int layoutWidth = window_.layout() ? window_.layout()->totalMinimumSize().width() : 0;
        const int minimum = std::max({width, layoutWidth, ownMinimum_});
        window_.setMinimumWidth(minimum);
        if (window_.width() < minimum)
            window_.resize(minimum, window_.height());
    }

    void WidenGrid(QGridLayout& grid, int width)
    {
        const QMargins margins = grid.contentsMargins();
        const int inner = std::max(0, width - margins.left() - margins.right());
        if (spacerGrid_ != &grid) {
            spacer_ = new QSpacerItem(inner, 0, QSizePolicy::Fixed, QSizePolicy::Fixed);
            grid.addItem(spacer_, grid.rowCount(), 0, 1, grid.columnCount());
            spacerGrid_ = &grid;
        } else {
            spacer_->changeSize(inner, 0, QSizePolicy::Fixed, QSizePolicy::Fixed);
            grid.invalidate();
        }
    }

    QWidget& window_;
    FrameButtons buttons_;
    // The window's minimum width before the title counted.
    int ownMinimum_;
    QPointer<QGridLayout> spacerGrid_;
    QSpacerItem* spacer_ = nullptr;
};

}  // namespace

Qt::WindowFlags DialogFlags(FrameButtons buttons)
{
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                            Qt::WindowCloseButtonHint;
    if (buttons == FrameButtons::MinimiseAndClose)
        flags |= Qt::WindowMinimizeButtonHint;
    return flags;
}

int TitleBarWidth(const QString& title, FrameButtons buttons)
{
    const QFontMetrics metrics(TitleBarFont());
    const int square = 2 * metrics.height();
    // The icon, the buttons, and the frame with the gaps around the title.
    return metrics.horizontalAdvance(title) + (1 + ButtonCount(buttons)) * square + square;
}

void FitFrame(QWidget& window, FrameButtons buttons)
{
    window.setWindowFlags((window.windowFlags() & Qt::MSWindowsFixedSizeDialogHint) | DialogFlags(buttons));
    new TitleFit(window, buttons);
}

}  // namespace vokta
