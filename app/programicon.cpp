// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/programicon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace vokta {

// Rendered here rather than left to Qt's SVG icon plugin, so that the icon does not depend
// on which plugins are installed.
QIcon ProgramIcon()
{
    QSvgRenderer renderer(QStringLiteral(":/icons/vokta.svg"));
    QIcon icon;
    if (!renderer.isValid())
        return icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace vokta
