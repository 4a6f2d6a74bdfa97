// SPDX-License-Identifier: GPL-3.0-or-later
// renderpng SVG PNG SIZE: renders the SVG file into a square PNG file of SIZE pixels, so that
// the icon's bitmap sizes are made from its one drawing at every build. It paints into an
// image alone, which needs no application object and no display.
#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: renderpng SVG PNG SIZE\n");
        return 64;
    }
    bool sized = false;
    const int size = QString::fromLocal8Bit(argv[3]).toInt(&sized);
    QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
    if (!sized || size <= 0 || !svg.isValid()) {
        std::fprintf(stderr, "renderpng: cannot render %s at size %s\n", argv[1], argv[3]);
        return 2;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    svg.render(&painter);
    painter.end();
    if (!image.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "renderpng: cannot write %s\n", argv[2]);
        return 2;
    }
    return 0;
}
