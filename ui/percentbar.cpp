// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/percentbar.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdint>

namespace vokta {
namespace {

// The room between the bar's left end and a text that starts there.
constexpr int kTextGap = 2;

// The colour's relative luminance, as contrast ratios take it.
double Luminance(QColor colour)
{
    const auto linear = [](double channel) {
        return channel <= 0.03928 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) + 0.0722 * linear(colour.blueF());
}

double Contrast(QColor a, QColor b)
{
    // std::minmax of two temporaries would hand back references to them.
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// `text` where it reads on `back` (a contrast of 3 or more), else black or white, whichever
// reads better.
QColor ReadableOn(QColor back, QColor text)
{
    constexpr double kReadable = 3.0;
    if (Contrast(back, text) >= kReadable)
        return text;
    return Contrast(back, Qt::black) >= Contrast(back, Qt::white) ? QColor(Qt::black) : QColor(Qt::white);
}

}  // namespace

BarText ExpandBarFormat(std::string_view format, int position, int percent)
{
    BarText expanded;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%' || i + 1 == format.size()) {
            expanded.text += format[i];
            continue;
        }
        switch (format[++i]) {
        case '1': expanded.text += std::to_string(position); break;
        case '2': expanded.text += std::to_string(percent); break;
        case '%': expanded.text += '%'; break;
        case 'L': expanded.overDonePart = true; break;
        default:
            expanded.text += '%';
            expanded.text += format[i];
        }
    }
    return expanded;
}

int BarPercent(int position, int low, int high)
{
    const int64_t span = int64_t{high} - low;
    return span == 0 ? 0 : static_cast<int>(int64_t{position} * 100 / span);
}

int FilledWidth(int percent, int width)
{
    return std::clamp(static_cast<int>(int64_t{percent} * width / 100), 0, std::max(width, 0));
}

PercentBar::PercentBar(QWidget* parent) : QProgressBar(parent)
{
    QProgressBar::setRange(low_, high_);
}

void PercentBar::SetRange(int low, int high)
{
    low_ = low;
    high_ = high;
    // The base keeps a copy for accessibility; an empty range would make it busy-looking.
    QProgressBar::setRange(low, std::max(high, low + 1));
    update();
}

int PercentBar::SetPos(int position)
{
    const int previous = position_;
    position_ = position;
    QProgressBar::setValue(std::clamp(position, minimum(), maximum()));
    update();
    return previous;
}

void PercentBar::SetColours(QColor fill, QColor text)
{
    fill_ = fill;
    textColour_ = text;
    update();
}

void PercentBar::SetFormat(std::string_view format)
{
    format_ = format;
    update();
}

void PercentBar::SetBordered(bool bordered)
{
    bordered_ = bordered;
    update();
}

void PercentBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QRect area = rect();
    if (bordered_) {
        painter.setPen(Qt::black);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(area.adjusted(0, 0, -1, -1));
        area.adjust(1, 1, -1, -1);
    }
    const int filled = FilledWidth(Percent(), area.width());
    const QRect done(area.left(), area.top(), filled, area.height());
    const QRect rest(area.left() + filled, area.top(), area.width() - filled, area.height());
    painter.fillRect(done, fill_);
    painter.fillRect(rest, back_);

    const BarText expanded = Text();
    if (format_.empty() || expanded.text.empty())
        return;
    const QString text = QString::fromStdString(expanded.text);
    painter.setPen(textColour_);
    const int textWidth = fontMetrics().horizontalAdvance(text);
    if (!expanded.overDonePart || filled >= textWidth + 2 * kTextGap) {
        painter.drawText(expanded.overDonePart ? done : area, Qt::AlignCenter | Qt::TextSingleLine, text);
        return;
    }
    // A done part too narrow for the text: the text starts at the bar's left end, in the
    // text colour over the done part and in a colour that reads on the rest.
    const QRect place = area.adjusted(kTextGap, 0, 0, 0);
    constexpr int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
    painter.setClipRect(done);
    painter.drawText(place, flags, text);
    painter.setClipRect(rest);
    painter.setPen(ReadableOn(back_, textColour_));
    painter.drawText(place, flags, text);
}

}  // namespace vokta
