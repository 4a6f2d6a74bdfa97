// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QLabel>
#include <QWidget>
#include <optional>

#include "ops/trackmap.h"

namespace vokta {

// A track's sectors in words, runs of equal states together:
// "Cylinder 12, head 1: 1–6 good, 7 has lost sectors, 8–18 good".
QString TrackLine(const TrackReport& report);

// The colour of a state's cells and legend swatch.
QColor TrackStateColour(TrackState state);

class TrackGrid;

// The track map of a medium: a cell per track, cylinders across and heads down, each in
// its state's colour (lost and differing tracks also carry a mark, so that no colour has
// to be told apart), the legend of the states that appear, and the line of the track
// last clicked. Reports only change the map and ask for a repaint, which Qt gathers, so a
// worker may send one per track and per retry.
class TrackMapView final : public QWidget {
    Q_OBJECT

public:
    explicit TrackMapView(QWidget* parent = nullptr);

    // A fresh map of `shape`, every track not yet reached; the clicked line goes.
    void Begin(const TrackMapShape& shape);
    void Show(const TrackReport& report);
    // A whole map, as an operation handed it back.
    void SetMap(const TrackMap& map);

    const TrackMap& Map() const { return map_; }
    // Where the track's cell is painted, in the view's coordinates; empty outside the map.
    QRect CellRect(uint16_t cylinder, uint8_t head) const;
    // The clicked track's line, empty before a click.
    QString TrackLineText() const { return line_->text(); }
    // The track marked and its line told, as a click on its cell does.
    void Select(uint16_t cylinder, uint8_t head);

private:
    friend class TrackGrid;

    TrackMap map_;
    std::optional<std::pair<uint16_t, uint8_t>> selected_;
    TrackGrid* grid_ = nullptr;
    QLabel* line_ = nullptr;
};

}  // namespace vokta
