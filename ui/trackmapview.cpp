// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/trackmapview.h"

#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <array>

#include "ui/uitext.h"

namespace vokta {

namespace {

constexpr int kMinimumCellWidth = 6;
constexpr int kPreferredCellWidth = 8;
constexpr int kSwatchGap = 4;
constexpr int kLegendGap = 12;

constexpr std::array<TrackState, kTrackStateCount> kAllStates = {
    TrackState::NotYet,  TrackState::InProgress, TrackState::Good,     TrackState::Recovered, TrackState::Lost,
    TrackState::SkippedBad, TrackState::Differs, TrackState::Written, TrackState::Verified,  TrackState::Formatted,
};

// Lost tracks carry a cross and differing ones a hatch: the colours alone would leave
// red, orange and green to be told apart.
void PaintCell(QPainter& painter, const QRect& cell, TrackState state)
{
    painter.fillRect(cell, TrackStateColour(state));
    if (state == TrackState::Lost) {
        // A square cross in the middle, however tall the cell.
        const int side = std::min(cell.width(), cell.height()) - 2;
        QRect cross(0, 0, side, side);
        cross.moveCenter(cell.center());
        painter.setPen(QPen(Qt::white, 1.5));
        painter.drawLine(cross.topLeft(), cross.bottomRight());
        painter.drawLine(cross.bottomLeft(), cross.topRight());
    } else if (state == TrackState::Differs) {
        painter.fillRect(cell, QBrush(QColor(0x4a, 0x25, 0x00), Qt::BDiagPattern));
    }
}

QString SectorRun(int first, int last, TrackState state)
{
    const QString name = UiText(TrackStateName(state));
    if (first == last)
        return QString::number(first) + QLatin1Char(' ') + name;
    return QString::number(first) + QChar(0x2013) + QString::number(last) + QLatin1Char(' ') + name;
}

}  // namespace

QString TrackLine(const TrackReport& report)
{
    QStringList runs;
    const auto& sectors = report.sectors;
    for (size_t first = 0; first < sectors.size();) {
        size_t last = first;
        while (last + 1 < sectors.size() && sectors[last + 1] == sectors[first])
            ++last;
        runs << SectorRun(static_cast<int>(first) + 1, static_cast<int>(last) + 1, sectors[first]);
        first = last + 1;
    }
    if (runs.isEmpty())
        runs << UiText(TrackStateName(report.state));
    return UiText(FormatString(Str::TrackMapTrackLine, report.cylinder, report.head,
                               runs.join(QStringLiteral(", ")).toStdString()));
}

QColor TrackStateColour(TrackState state)
{
    switch (state) {
    case TrackState::NotYet: return {0xdd, 0xdd, 0xdd};
    case TrackState::InProgress: return {0xf2, 0xcc, 0x0c};
    case TrackState::Good: return {0x3c, 0xa0, 0x4a};
    case TrackState::Recovered: return {0x17, 0x9c, 0x9c};
    case TrackState::Lost: return {0xd0, 0x20, 0x20};
    case TrackState::SkippedBad: return {0x88, 0x88, 0x88};
    case TrackState::Differs: return {0xf5, 0x8a, 0x1f};
    case TrackState::Written: return {0x4a, 0x8f, 0xe0};
    case TrackState::Verified: return {0x1c, 0x34, 0x86};
    case TrackState::Formatted: return {0x86, 0x3f, 0xb0};
    }
    return Qt::white;
}

// The painted part of the view: the cylinder numbers, the head labels, the cells and the
// legend, which keeps room for every state so that the view does not grow as states appear.
class TrackGrid final : public QWidget {
public:
    explicit TrackGrid(TrackMapView& view) : QWidget(&view), view_(view)
    {
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

    QRect Cell(uint16_t cylinder, uint8_t head) const
    {
        const TrackMapShape& shape = view_.map_.shape();
        if (cylinder >= shape.cylinders || head >= shape.heads)
            return {};
        const int width = CellWidth();
        return {Left() + cylinder * width, Top() + head * CellHeight(), width - 1, CellHeight() - 1};
    }

    QSize sizeHint() const override { return {WidthFor(kPreferredCellWidth), heightForWidth(WidthFor(kPreferredCellWidth))}; }
    QSize minimumSizeHint() const override { return {WidthFor(kMinimumCellWidth), heightForWidth(WidthFor(kMinimumCellWidth))}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override
    {
        return Top() + std::max<int>(view_.map_.shape().heads, 1) * CellHeight() + kSwatchGap +
               LegendRows(width, kAllStates.size()) * LineHeight();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const TrackMap& map = view_.map_;
        const TrackMapShape& shape = map.shape();
        painter.setPen(palette().color(QPalette::WindowText));
        for (uint16_t cylinder = 0; cylinder < shape.cylinders; cylinder += 10)
            painter.drawText(QPoint(Cell(cylinder, 0).left(), fontMetrics().ascent()), QString::number(cylinder));
        for (uint8_t head = 0; head < shape.heads; ++head) {
            const QRect row(0, Top() + head * CellHeight(), Left(), CellHeight());
            painter.setPen(palette().color(QPalette::WindowText));
            painter.drawText(row, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("H%1").arg(head));
            for (uint16_t cylinder = 0; cylinder < shape.cylinders; ++cylinder)
                PaintCell(painter, Cell(cylinder, head), map.State(cylinder, head));
        }
        if (view_.selected_) {
            painter.setPen(QPen(palette().color(QPalette::WindowText), 2));
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(Cell(view_.selected_->first, view_.selected_->second).adjusted(-1, -1, 1, 1));
        }
        PaintLegend(painter);
    }

    void mousePressEvent(QMouseEvent* event) override
    {
        const TrackMapShape& shape = view_.map_.shape();
        const QPoint at = event->position().toPoint();
        if (at.x() < Left() || at.y() < Top())
            return;
        const int cylinder = (at.x() - Left()) / CellWidth();
        const int head = (at.y() - Top()) / CellHeight();
        if (cylinder < shape.cylinders && head < shape.heads)
            view_.Select(static_cast<uint16_t>(cylinder), static_cast<uint8_t>(head));
    }

private:
    int Left() const { return fontMetrics().horizontalAdvance(QStringLiteral("H0")) + kSwatchGap; }
    int Top() const { return fontMetrics().height() + 2; }
    int CellHeight() const { return std::max(fontMetrics().height(), 12); }
    int LineHeight() const { return fontMetrics().height() + 2; }
    int CellWidth() const
    {
        const int cylinders = std::max<int>(view_.map_.shape().cylinders, 1);
        return std::max(kMinimumCellWidth, (width() - Left()) / cylinders);
    }
    int WidthFor(int cellWidth) const { return Left() + std::max<int>(view_.map_.shape().cylinders, 1) * cellWidth; }

    int EntryWidth(TrackState state) const
    {
        return CellHeight() + kSwatchGap + fontMetrics().horizontalAdvance(UiText(TrackStateName(state))) + kLegendGap;
    }

    // The legend's rows at `width` for the first `count` states, packed left to right.
    int LegendRows(int width, size_t count) const
    {
        int rows = 1;
        int x = 0;
        for (size_t index = 0; index < count; ++index) {
            const int entry = EntryWidth(kAllStates[index]);
            if (x > 0 && x + entry > width) {
                ++rows;
                x = 0;
            }
            x += entry;
        }
        return rows;
    }

    void PaintLegend(QPainter& painter) const
    {
        int x = 0;
        int y = Top() + std::max<int>(view_.map_.shape().heads, 1) * CellHeight() + kSwatchGap;
        for (TrackState state : kAllStates) {
            if (view_.map_.Count(state) == 0)
                continue;
            const int entry = EntryWidth(state);
            if (x > 0 && x + entry > width()) {
                x = 0;
                y += LineHeight();
            }
            const int swatch = CellHeight() - 2;
            PaintCell(painter, QRect(x, y + 1, swatch, swatch), state);
            painter.setPen(palette().color(QPalette::WindowText));
            painter.drawText(QRect(x + swatch + kSwatchGap, y, entry, LineHeight()), Qt::AlignLeft | Qt::AlignVCenter,
                             UiText(TrackStateName(state)));
            x += entry;
        }
    }

    TrackMapView& view_;
};

TrackMapView::TrackMapView(QWidget* parent) : QWidget(parent)
{
    grid_ = new TrackGrid(*this);
    line_ = new QLabel(this);
    line_->setTextFormat(Qt::PlainText);
    line_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    line_->setWordWrap(true);
    // A line of room before any click, so that the first click moves nothing.
    line_->setMinimumHeight(line_->fontMetrics().height() * 2);
    line_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(grid_);
    layout->addWidget(line_);
}

void TrackMapView::Begin(const TrackMapShape& shape)
{
    SetMap(TrackMap(shape));
}

void TrackMapView::SetMap(const TrackMap& map)
{
    const bool reshaped = !(map.shape() == map_.shape());
    map_ = map;
    selected_.reset();
    line_->clear();
    if (reshaped)
        grid_->updateGeometry();
    grid_->update();
}

void TrackMapView::Show(const TrackReport& report)
{
    if (!map_.Holds(report.cylinder, report.head))
        return;
    const TrackState was = map_.State(report.cylinder, report.head);
    map_.Apply(report);
    // A state that appears or goes changes the legend too.
    const bool legendChanges = was != report.state && (map_.Count(report.state) == 1 || map_.Count(was) == 0);
    if (legendChanges)
        grid_->update();
    else
        grid_->update(grid_->Cell(report.cylinder, report.head).adjusted(-2, -2, 2, 2));
    if (selected_ == std::pair{report.cylinder, report.head})
        line_->setText(TrackLine(map_.Report(report.cylinder, report.head)));
}

QRect TrackMapView::CellRect(uint16_t cylinder, uint8_t head) const
{
    const QRect cell = grid_->Cell(cylinder, head);
    return cell.isNull() ? QRect() : cell.translated(grid_->pos());
}

void TrackMapView::Select(uint16_t cylinder, uint8_t head)
{
    if (!map_.Holds(cylinder, head))
        return;
    selected_ = std::pair{cylinder, head};
    line_->setText(TrackLine(map_.Report(cylinder, head)));
    grid_->update();
}

}  // namespace vokta
