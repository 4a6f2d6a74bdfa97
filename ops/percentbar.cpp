#include "ops/percentbar.h"

#include <QPainter>
#include <algorithm>
#include <cstdint>

namespace vokta {

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

    const BarText text = Text();
    if (format_.empty() || text.text.empty())
        return;
    painter.setPen(textColour_);
    painter.drawText(text.overDonePart ? done : area, Qt::AlignCenter | Qt::TextSingleLine,
                     QString::fromStdString(text.text));
}

}  // namespace vokta
