// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/tooltips.h"

#include <QHelpEvent>
#include <QToolTip>

#include "ui/uitext.h"

namespace vokta {

bool ToolTipRule::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::ToolTip || !watched->isWidgetType())
        return false;
    auto* widget = static_cast<QWidget*>(watched);
    const int id = ControlId(widget);
    if (id <= 0)
        return false;
    const QString tip = settings_.enableToolTips && !HasNoToolTip(widget) ? UiText(static_cast<Str>(id)) : QString();
    if (tip.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), tip, widget);
    return true;
}

}  // namespace vokta
