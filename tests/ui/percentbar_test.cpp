// SPDX-License-Identifier: GPL-3.0-or-later
// The percent bar: its text, and what it paints, counted in the pixels of a rendering.
#include <gtest/gtest.h>

#include <QImage>

#include "ui/percentbar.h"

using namespace vokta;

namespace {

QImage Render(PercentBar& bar)
{
    QImage image(bar.size(), QImage::Format_RGB32);
    image.fill(Qt::magenta);
    bar.render(&image);
    return image;
}

int CountOnRow(const QImage& image, int y, QColor colour)
{
    int count = 0;
    for (int x = 0; x < image.width(); ++x)
        count += image.pixelColor(x, y) == colour;
    return count;
}

// The columns inside the frame where dark text shows over the green and grey of the bar,
// as [first, last]; [width, -1] when there is none.
std::pair<int, int> DarkTextColumns(const QImage& image)
{
    int first = image.width(), last = -1;
    for (int y = 1; y + 1 < image.height(); ++y)
        for (int x = 1; x + 1 < image.width(); ++x)
            if (image.pixelColor(x, y).green() < 150) {
                first = std::min(first, x);
                last = std::max(last, x);
            }
    return {first, last};
}

}  // namespace

TEST(PercentBarText, ExpandsPositionPercentSignAndTheDonePartFlag)
{
    const BarText standard = ExpandBarFormat(kPercentBarFormat, 33, 42);
    EXPECT_EQ(standard.text, "42%");
    EXPECT_TRUE(standard.overDonePart);

    const BarText counted = ExpandBarFormat("Cylinder %1: %2%%", 12, 15);
    EXPECT_EQ(counted.text, "Cylinder 12: 15%");
    EXPECT_FALSE(counted.overDonePart);

    EXPECT_EQ(ExpandBarFormat("%x and %", 1, 2).text, "%x and %");
    EXPECT_EQ(ExpandBarFormat("", 1, 2).text, "");
}

TEST(PercentBarText, PercentIsWholeAndZeroForAnEmptyRange)
{
    EXPECT_EQ(BarPercent(40, 0, 80), 50);
    EXPECT_EQ(BarPercent(1, 0, 3), 33);
    EXPECT_EQ(BarPercent(79, 0, 80), 98);
    EXPECT_EQ(BarPercent(5, 0, 0), 0);
    PercentBar bar;
    bar.SetRange(0, 160);
    bar.SetPos(81);
    EXPECT_EQ(bar.Percent(), 50);
    EXPECT_EQ(bar.Text().text, "");  // no pattern until the dialog gives one
    bar.SetFormat(kPercentBarFormat);
    EXPECT_EQ(bar.Text().text, "50%");
}

TEST(PercentBarPainting, StartsBlueOnLightGreyWithWhiteText)
{
    PercentBar bar;
    EXPECT_EQ(bar.FillColour(), QColor(0, 0, 255));
    EXPECT_EQ(bar.BackColour(), QColor(192, 192, 192));
    EXPECT_EQ(bar.TextColour(), QColor(255, 255, 255));
    EXPECT_EQ(bar.Position(), 0);
    EXPECT_EQ(bar.SetPos(7), 0);
    EXPECT_EQ(bar.SetPos(9), 7);
}

// Inside a one-pixel frame the done part is percent × inner width / 100 pixels wide,
// whole percents only.
TEST(PercentBarPainting, FilledWidthFollowsWholePercentsInsideTheFrame)
{
    PercentBar bar;
    bar.SetBordered(true);
    bar.SetFormat(kPercentBarFormat);
    bar.resize(302, 24);  // 300 pixels inside the frame
    bar.SetRange(0, 80);
    const QColor fill(0, 0, 255), back(192, 192, 192);
    // position, percent of 80, filled pixels of 300
    const int cases[][3] = {{0, 0, 0}, {1, 1, 3}, {20, 25, 75}, {41, 51, 153}, {79, 98, 294}, {80, 100, 300}};
    for (const auto& [position, percent, filled] : cases) {
        bar.SetPos(position);
        const QImage image = Render(bar);
        // Row 1 is the first inside the frame, above the text.
        EXPECT_EQ(CountOnRow(image, 1, fill), filled) << "position " << position;
        EXPECT_EQ(CountOnRow(image, 1, back), 300 - filled) << "position " << position;
        EXPECT_EQ(image.pixelColor(0, 12), QColor(Qt::black));
        EXPECT_EQ(image.pixelColor(301, 12), QColor(Qt::black));
        EXPECT_EQ(image.pixelColor(150, 0), QColor(Qt::black));
        EXPECT_EQ(bar.Text().text, std::to_string(percent) + "%");
    }
}

// Read's black on cyan and Write's white on blue: at every percent the whole text shows
// inside the frame, though the done part be narrower than the text, and where it lies over
// the light grey rest it stands out from it.
TEST(PercentBarPainting, ThePercentIsReadWholeAtEveryValue)
{
    const QColor back(192, 192, 192);
    for (const auto& [fill, text] : {std::pair{QColor(0, 255, 255), QColor(Qt::black)},
                                     std::pair{QColor(0, 0, 255), QColor(Qt::white)}}) {
        PercentBar bar;
        bar.SetBordered(true);
        bar.SetFormat(kPercentBarFormat);
        bar.resize(302, 24);
        bar.SetRange(0, 100);
        bar.SetColours(fill, text);
        for (int percent : {0, 1, 2, 3, 50, 100}) {
            bar.SetPos(percent);
            const QImage image = Render(bar);
            int first = image.width(), last = -1, standingOut = 0;
            for (int y = 1; y + 1 < image.height(); ++y)
                for (int x = 1; x + 1 < image.width(); ++x) {
                    const QColor pixel = image.pixelColor(x, y);
                    if (pixel == fill || pixel == back)
                        continue;
                    first = std::min(first, x);
                    last = std::max(last, x);
                    const bool overRest = x > 3 * percent;
                    standingOut += overRest && std::abs(qGray(pixel.rgb()) - qGray(back.rgb())) > 96;
                }
            const int textWidth = bar.fontMetrics().horizontalAdvance(QString::number(percent) + "%");
            EXPECT_GE(last - first + 1, textWidth * 3 / 4) << percent << "% in " << text.name().toStdString();
            if (3 * percent < textWidth) {
                EXPECT_GT(standingOut, 10) << percent << "% in " << text.name().toStdString();
            }
        }
    }
}

TEST(PercentBarPainting, TextSitsOverTheDonePartOrTheWholeBar)
{
    PercentBar bar;
    bar.SetBordered(true);
    bar.resize(402, 24);
    bar.SetRange(0, 100);
    bar.SetPos(50);
    bar.SetColours(QColor(0, 200, 0), QColor(Qt::black));

    bar.SetFormat(kPercentBarFormat);
    const auto [doneFirst, doneLast] = DarkTextColumns(Render(bar));
    ASSERT_LE(doneFirst, doneLast) << "no text drawn";
    EXPECT_LE(doneLast, 200);  // the done part is x 1..200
    EXPECT_NEAR((doneFirst + doneLast) / 2.0, 100.5, 2.0);

    bar.SetFormat("%2%%");
    const auto [wholeFirst, wholeLast] = DarkTextColumns(Render(bar));
    EXPECT_NEAR((wholeFirst + wholeLast) / 2.0, 200.5, 2.0);
    EXPECT_EQ(wholeLast - wholeFirst, doneLast - doneFirst);

    bar.SetColours(QColor(0, 200, 0), QColor(Qt::white));
    const QImage image = Render(bar);
    EXPECT_EQ(DarkTextColumns(image).second, -1);
    int white = 0;
    for (int x = 0; x < image.width(); ++x)
        for (int y = 0; y < image.height(); ++y)
            white += image.pixelColor(x, y) == QColor(Qt::white);
    EXPECT_GT(white, 0) << "the text took the new colour";
}
