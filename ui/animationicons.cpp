// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/animationicons.h"

#include <QPainter>
#include <QPainterPath>

namespace vokta {
namespace {

// Drawn on a 32 × 32 grid and scaled to the size asked for.
constexpr double kGrid = 32.0;

void DrawBody(QPainter& painter)
{
    QPainterPath body;
    body.moveTo(3, 3);
    body.lineTo(26, 3);
    body.lineTo(29, 6);
    body.lineTo(29, 29);
    body.lineTo(3, 29);
    body.closeSubpath();
    painter.setPen(QPen(QColor(10, 20, 60), 1.0));
    painter.setBrush(QColor(40, 70, 160));
    painter.drawPath(body);
    // The label.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(245, 245, 235));
    painter.drawRect(QRectF(7, 23.5, 18, 5.5));
    painter.setPen(QPen(QColor(150, 150, 170), 0.8));
    painter.drawLine(QPointF(9, 26.5), QPointF(23, 26.5));
}

// The metal shutter slides to and fro across the head window as the disk turns.
void DrawShutter(QPainter& painter, int phase)
{
    static constexpr double kOffsets[kAnimationPhases] = {0.0, 1.5, 3.0, 1.5};
    const double left = 9 + kOffsets[phase];
    painter.setPen(QPen(QColor(90, 90, 100), 0.8));
    painter.setBrush(QColor(200, 203, 210));
    painter.drawRect(QRectF(left, 3, 13, 10));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(30, 30, 40));
    painter.drawRect(QRectF(left + 7, 5, 3, 6));
}

// The hub with its drive slot, a quarter turn further at each phase.
void DrawHub(QPainter& painter, int phase)
{
    const QPointF centre(16, 18);
    painter.setPen(QPen(QColor(90, 90, 100), 0.8));
    painter.setBrush(QColor(185, 188, 196));
    painter.drawEllipse(centre, 4.0, 4.0);
    painter.save();
    painter.translate(centre);
    painter.rotate(90.0 * phase);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(30, 30, 40));
    painter.drawRect(QRectF(-1.0, -1.0, 2.0, 2.0));
    painter.drawRect(QRectF(1.2, -3.3, 1.5, 2.3));
    painter.restore();
}

}  // namespace

QPixmap AnimationIcon(int phase, int size)
{
    phase = ((phase % kAnimationPhases) + kAnimationPhases) % kAnimationPhases;
    QPixmap picture(size, size);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / kGrid, size / kGrid);
    DrawBody(painter);
    DrawShutter(painter, phase);
    DrawHub(painter, phase);
    return picture;
}

}  // namespace vokta
