// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QWidget>

namespace vokta {

// The buttons a dialog's title bar offers beside its window icon.
enum class FrameButtons { Close, MinimiseAndClose };

// The window flags of a dialog whose title bar carries only those buttons.
Qt::WindowFlags DialogFlags(FrameButtons buttons);

// How wide a window must be for the title bar to show `title` whole: the text in the
// title bar's font, with room for the window icon, the frame buttons and the frame.
int TitleBarWidth(const QString& title, FrameButtons buttons);

// Gives `window` (a dialog or a message box) the flags of `buttons`, and keeps it at least
// as wide as its title needs, now and whenever the title changes. A message box, which
// sizes itself whenever it shows, is widened through its own layout.
void FitFrame(QWidget& window, FrameButtons buttons);

}  // namespace vokta
