// SPDX-License-Identifier: GPL-3.0-or-later
// The track map: a track's line, the cells a click picks and how they are painted, the
// progress dialog's Details toggle, and a worker's reports reaching the map in order.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <set>

#include "ui/pagetesting.h"
#include "ui/progressdialog.h"
#include "ui/qthost.h"
#include "ui/trackmapview.h"
#include "ui/uitext.h"

using namespace vokta;

namespace {

constexpr TrackState G = TrackState::Good;
constexpr TrackState L = TrackState::Lost;
constexpr TrackState R = TrackState::Recovered;

std::vector<TrackState> Sectors(std::initializer_list<std::pair<int, TrackState>> runs)
{
    std::vector<TrackState> sectors;
    for (auto [count, state] : runs)
        sectors.insert(sectors.end(), static_cast<size_t>(count), state);
    return sectors;
}

struct LineCase {
    TrackReport report;
    const char* line;
};

const LineCase kLines[] = {
    {{12, 1, L, Sectors({{6, G}, {1, L}, {11, G}})}, "Cylinder 12, head 1: 1–6 good, 7 has lost sectors, 8–18 good"},
    {{0, 0, G, Sectors({{18, G}})}, "Cylinder 0, head 0: 1–18 good"},
    {{79, 1, L, Sectors({{1, L}, {1, R}, {1, L}})},
     "Cylinder 79, head 1: 1 has lost sectors, 2 good after retries, 3 has lost sectors"},
    {{5, 0, R, Sectors({{20, G}, {1, R}})}, "Cylinder 5, head 0: 1–20 good, 21 good after retries"},
    {{3, 1, TrackState::InProgress, {}}, "Cylinder 3, head 1: in progress"},
};

TEST(TrackLine, GroupsRunsOfEqualSectorStates)
{
    for (const LineCase& c : kLines)
        EXPECT_EQ(TrackLine(c.report).toStdString(), c.line);
}

TEST(TrackStateColour, EveryStateHasItsOwnColour)
{
    std::set<QRgb> colours;
    for (int state = 0; state < kTrackStateCount; ++state)
        colours.insert(TrackStateColour(static_cast<TrackState>(state)).rgb());
    EXPECT_EQ(colours.size(), size_t{kTrackStateCount});
}

// A 1.44M medium with a few tracks done.
struct TrackMapViewTest : testing::Test {
    TrackMapView view;
    const std::vector<TrackReport> reports = {
        {0, 0, G, {}},
        {0, 1, R, Sectors({{3, R}, {15, G}})},
        {12, 1, L, Sectors({{6, G}, {1, L}, {11, G}})},
        {40, 0, TrackState::Differs, {}},
        {79, 1, TrackState::InProgress, {}},
    };

    void SetUp() override
    {
        view.Begin({80, 2, 18});
        for (const TrackReport& report : reports)
            view.Show(report);
        view.resize(view.sizeHint());
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    }

    QImage Picture() { return view.grab().toImage().convertToFormat(QImage::Format_RGB32); }
};

TEST_F(TrackMapViewTest, AClickOnACellTellsThatTracksSectors)
{
    EXPECT_EQ(view.TrackLineText(), "");
    for (const TrackReport& report : reports) {
        test::ClickAt(view, view.CellRect(report.cylinder, report.head).center());
        EXPECT_EQ(view.TrackLineText(), TrackLine(view.Map().Report(report.cylinder, report.head)));
        EXPECT_TRUE(view.TrackLineText().startsWith(
            QStringLiteral("Cylinder %1, head %2: ").arg(report.cylinder).arg(report.head)))
            << view.TrackLineText().toStdString();
    }
    test::ClickAt(view, view.CellRect(1, 0).center());
    EXPECT_EQ(view.TrackLineText(), "Cylinder 1, head 0: 1–18 not yet");

    // The row labels and the numbers above are no track: the line stays.
    test::ClickAt(view, QPoint(1, view.CellRect(0, 1).center().y()));
    test::ClickAt(view, QPoint(view.CellRect(10, 0).center().x(), 1));
    EXPECT_EQ(view.TrackLineText(), "Cylinder 1, head 0: 1–18 not yet");

    // A report for the clicked track renews its line at once.
    view.Show({1, 0, L, Sectors({{17, G}, {1, L}})});
    EXPECT_EQ(view.TrackLineText(), "Cylinder 1, head 0: 1–17 good, 18 has lost sectors");
}

TEST_F(TrackMapViewTest, CellsTakeTheirStatesColourAndLostOrDifferingCellsAMark)
{
    const QImage picture = Picture();
    auto coloursIn = [&](int cylinder, int head) {
        std::set<QRgb> colours;
        const QRect cell = view.CellRect(static_cast<uint16_t>(cylinder), static_cast<uint8_t>(head));
        for (int y = cell.top() + 1; y < cell.bottom(); ++y)
            for (int x = cell.left() + 1; x < cell.right(); ++x)
                colours.insert(picture.pixel(x, y));
        return colours;
    };
    const std::pair<QPoint, TrackState> plain[] = {
        {{0, 0}, G}, {{0, 1}, R}, {{79, 1}, TrackState::InProgress}, {{50, 0}, TrackState::NotYet}};
    for (const auto& [at, state] : plain)
        EXPECT_EQ(coloursIn(at.x(), at.y()), std::set<QRgb>{TrackStateColour(state).rgb()}) << at.x() << "/" << at.y();
    for (const auto& [cylinder, head, state] : {std::tuple{12, 1, L}, std::tuple{40, 0, TrackState::Differs}}) {
        const std::set<QRgb> colours = coloursIn(cylinder, head);
        EXPECT_TRUE(colours.count(TrackStateColour(state).rgb())) << cylinder;
        EXPECT_GE(colours.size(), 2u) << "no mark on cylinder " << cylinder;
    }
    // The cells fill the view's width, whatever it is, and lie inside it.
    view.resize(view.minimumSizeHint().width(), view.height());
    EXPECT_LE(view.CellRect(79, 1).right(), view.width());
    EXPECT_TRUE(view.CellRect(80, 0).isNull());
    EXPECT_TRUE(view.CellRect(0, 2).isNull());
}

TEST_F(TrackMapViewTest, ANewMapForgetsTheOldOneAndItsLine)
{
    test::ClickAt(view, view.CellRect(12, 1).center());
    view.Begin({40, 1, 9});
    EXPECT_EQ(view.TrackLineText(), "");
    EXPECT_EQ(view.Map(), TrackMap({40, 1, 9}));
    EXPECT_TRUE(view.CellRect(0, 1).isNull());
    // A report outside the medium is no track of it.
    view.Show({45, 0, L, {}});
    EXPECT_EQ(view.Map(), TrackMap({40, 1, 9}));
}

struct DetailsTest : testing::Test {
    QWidget mainWindow;
    QWidget* page = new QWidget(&mainWindow);
    ProgressDialog dialog{page, &mainWindow};

    QPushButton& Button(int id) { return *FindControl<QPushButton>(&dialog, id); }
};

TEST_F(DetailsTest, TheToggleShowsTheMapBelowAndHidesItAgain)
{
    mainWindow.show();
    dialog.open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QPushButton& details = Button(ProgressControl::Details);
    const QSize size = dialog.size();
    const QRect abort = Button(ProgressControl::Abort).geometry();
    EXPECT_EQ(details.text(), "&Details");
    EXPECT_FALSE(details.isChecked());
    EXPECT_FALSE(details.isEnabled()) << "a toggle before the operation has a map";
    EXPECT_FALSE(dialog.MapView().isVisible());
    EXPECT_EQ(details.geometry().top(), abort.top());
    EXPECT_GT(details.geometry().left(), abort.right());
    EXPECT_LE(details.geometry().right(), dialog.width());

    dialog.BeginTrackMap({80, 2, 18});
    EXPECT_EQ(dialog.size(), size) << "a map begun changed the dialog while its details are off";
    ASSERT_TRUE(details.isEnabled());
    QTest::mouseClick(&details, Qt::LeftButton);
    EXPECT_TRUE(dialog.MapView().isVisible());
    EXPECT_GT(dialog.height(), size.height());
    EXPECT_GE(dialog.width(), dialog.MapView().minimumSizeHint().width());
    EXPECT_GE(dialog.MapView().geometry().top(), abort.bottom());
    EXPECT_LE(dialog.MapView().geometry().bottom(), dialog.height());
    EXPECT_EQ(Button(ProgressControl::Abort).geometry().top(), abort.top());
    for (uint16_t cylinder = 0; cylinder < 30; ++cylinder)
        for (uint8_t head = 0; head < 2; ++head)
            dialog.ShowTrack({cylinder, head, cylinder == 12 && head == 1 ? L : G, {}});
    dialog.ShowTrack({30, 0, TrackState::InProgress, {}});
    vokta::test::Shoot(dialog, "progress-details.png");

    QTest::mouseClick(&details, Qt::LeftButton);
    EXPECT_FALSE(dialog.MapView().isVisible());
    EXPECT_EQ(dialog.size(), size);
    EXPECT_EQ(Button(ProgressControl::Abort).geometry(), abort);
    dialog.RequestClose();
}

// A worker's map calls reach the dialog on its own thread, in the worker's order, mixed
// with the calls that wait.
TEST_F(DetailsTest, AHostsReportsReachTheMapInOrder)
{
    mainWindow.show();
    std::vector<TrackReport> reports;
    for (uint16_t cylinder = 0; cylinder < 80; ++cylinder)
        for (uint8_t head = 0; head < 2; ++head) {
            reports.push_back({cylinder, head, TrackState::InProgress, {}});
            reports.push_back({cylinder, head, cylinder % 7 == 3 ? L : G, Sectors({{18, cylinder % 7 == 3 ? L : G}})});
        }
    // The last word on a track wins: a later pass reads it after all.
    reports.push_back({3, 0, R, Sectors({{2, R}, {16, G}})});
    TrackMap expected({80, 2, 18});
    for (const TrackReport& report : reports)
        expected.Apply(report);

    WorkerRun run;
    run.Start(
        [&reports](OperationHost& host) {
            host.BeginTrackMap({80, 2, 18});
            for (size_t index = 0; index < reports.size(); ++index) {
                host.ShowTrack(reports[index]);
                if (index % 40 == 0)
                    host.SetLowerLine("track " + std::to_string(index));
            }
            host.Close();
            return OperationOutcome{kResultDone, FollowUp::None};
        },
        std::make_shared<QtHost>(&dialog, *page, SoundPlayer{}, run.Link()));
    dialog.exec();
    ASSERT_TRUE(run.WaitFor(std::chrono::seconds(10)));
    EXPECT_EQ(dialog.MapView().Map(), expected);
    EXPECT_EQ(dialog.MapView().Map().State(3, 0), R);
    EXPECT_TRUE(FindControl<QPushButton>(&dialog, ProgressControl::Details)->isEnabled());
}

}  // namespace
