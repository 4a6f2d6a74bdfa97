// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QProgressBar>
#include <QRect>
#include <QString>
#include <string>
#include <string_view>

namespace vokta {

// The bar's text pattern: "%1" the position, "%2" the percent, "%%" a percent sign, and
// "%L" centres the text over the done part instead of the whole bar (while the done part
// is too narrow for it, the text starts at the bar's left end, so that it is read whole).
constexpr std::string_view kPercentBarFormat = "%2%%%L";

struct BarText {
    std::string text;
    bool overDonePart = false;
};

BarText ExpandBarFormat(std::string_view format, int position, int percent);

// Whole percents of the range, so the bar advances one percent at a time; 0 for an empty
// range.
int BarPercent(int position, int low, int high);

// The width of the done part of a bar `width` pixels wide inside its frame.
int FilledWidth(int percent, int width);

// A progress bar that paints itself: an optional black frame, the done part in the fill
// colour, the rest in the back colour, and the expanded pattern in the text colour.
class PercentBar final : public QProgressBar {
    Q_OBJECT

public:
    explicit PercentBar(QWidget* parent = nullptr);

    void SetRange(int low, int high);
    // Returns the previous position.
    int SetPos(int position);
    void SetColours(QColor fill, QColor text);
    void SetFormat(std::string_view format);
    void SetBordered(bool bordered);

    int Position() const { return position_; }
    int Percent() const { return BarPercent(position_, low_, high_); }
    QColor FillColour() const { return fill_; }
    QColor BackColour() const { return back_; }
    QColor TextColour() const { return textColour_; }
    // The text drawn now, and where.
    BarText Text() const { return ExpandBarFormat(format_, position_, Percent()); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fill_{0, 0, 255};
    QColor back_{192, 192, 192};
    QColor textColour_{255, 255, 255};
    int position_ = 0;
    int high_ = 1;
    int low_ = 0;
    std::string format_;
    bool bordered_ = false;
};

}  // namespace vokta
