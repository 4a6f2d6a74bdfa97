// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/helpwindow.h"

#include <QTextBrowser>
#include <QVBoxLayout>

#include "ui/dialogframe.h"
#include "ui/uitext.h"

namespace vokta {

HelpWindow::HelpWindow(QWidget* owner) : QDialog(owner)
{
    // The button's text without its mnemonic names the window.
    setWindowTitle(UiText(Str::HelpButton).remove('&'));
    auto* guide = new QTextBrowser(this);
    guide->setHtml(UiText(Str::UserGuide));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(guide);
    const QFontMetrics metrics = fontMetrics();
    resize(metrics.averageCharWidth() * 80, metrics.lineSpacing() * 32);
    FitFrame(*this, FrameButtons::Close);
}

}  // namespace vokta
