// The chart: the point walk with its edge rules and what the renderer draws.

#include "diagrams/ChartGeometry.h"
#include "diagrams/MultiChart.h"

#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>

using namespace ChartGeometry;

namespace {

Curve CurveWith(std::initializer_list<Curve::DataPoint> points, bool overlap = false)
{
    Curve c;
    c.Data = points;
    c.OverlapPhases = overlap;
    return c;
}

Axis TimeAxis(double start, double end)
{
    Axis a;
    a.StartValue = start;
    a.EndValue = end;
    a.NumSegments = 5;
    return a;
}

const QRect kPlot(60, 25, 500, 300);

class ChartWidget : public ::testing::Test
{
protected:
    // Curves alone on white, so pixel colours tell what was drawn.
    void SetUp() override
    {
        chart.SetGridVisible(false);
        chart.SetTextVisible(false);
        chart.SetLegendVisible(false);
        QPalette pal = chart.palette();
        pal.setColor(QPalette::Window, Qt::white);
        chart.setPalette(pal);
        chart.resize(600, 400);
        chart.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&chart));
    }

    TMultiChart chart;
};

}  // namespace

TEST(ChartPointWalk, OutsideTheRangeOnlyOneNeighbourPerSideAndOverlapRestartsAtTheLeftEdge)
{
    const Axis y;
    // The axis ends fall on the plot area's first and last rows and columns, and back.
    const Axis t = TimeAxis(0, 600);
    EXPECT_EQ(std::make_tuple(ValueToY(y.StartValue, y, kPlot), ValueToY(y.EndValue, y, kPlot),
                              ValueToX(t.StartValue, t, kPlot), ValueToX(t.EndValue, t, kPlot)),
              std::make_tuple(kPlot.bottom(), kPlot.top(), kPlot.left(), kPlot.right()));
    EXPECT_EQ(std::make_pair(YToValue(kPlot.top(), y, kPlot), XToValue(kPlot.right(), t, kPlot)),
              std::make_pair(y.EndValue, t.EndValue));
    const Axis x = TimeAxis(1000, 1600);
    EXPECT_TRUE(PlotCurve(CurveWith({{0, 10, 0}, {100, 20, 0}, {900, 30, 0}}), x, y, kPlot).empty());
    // The last point left of the area is kept, so the line enters from the edge.
    const auto left = PlotCurve(CurveWith({{0, 10, 0}, {500, 20, 0}, {1100, 30, 0}, {1200, 40, 0}}),
                                x, y, kPlot);
    ASSERT_EQ(left.size(), 3u);
    EXPECT_LE(left[0].X, kPlot.left());
    EXPECT_EQ(left[0].Y, ValueToY(20, y, kPlot));
    // The first point beyond the right edge is kept, later ones dropped.
    const auto right = PlotCurve(CurveWith({{1100, 30, 0}, {1700, 40, 0}, {1800, 50, 0}}), x, y, kPlot);
    ASSERT_EQ(right.size(), 2u);
    EXPECT_GT(right[1].X, kPlot.right());

    const Curve c = CurveWith({{0, 10, 0}, {1800, 20, 0}, {3600, 30, 0}, {3600, 40, 1},
                               {5400, 50, 1}, {7200, 60, 1}},
                              true);
    const std::vector<PlotPoint> points = PlotCurve(c, TimeAxis(0, 7200), y, kPlot);
    ASSERT_EQ(points.size(), 6u);
    EXPECT_EQ(std::make_tuple(points[0].X, points[3].X, points[3].Phase, points[5].X),
              std::make_tuple(kPlot.left(), kPlot.left(), 1, points[2].X));
    const Curve inSequence = CurveWith({{0, 10, 0}, {3600, 30, 0}, {3600, 40, 1}, {7200, 60, 1}});
    EXPECT_GT(PlotCurve(inSequence, TimeAxis(0, 7200), y, kPlot)[2].X, kPlot.left() + kPlot.width() / 3);
}

TEST_F(ChartWidget, ReducingDensePointsPerColumnDrawsExactlyTheSamePixels)
{
    const Curve* c = chart.AddCurve("U", 0);
    for (int i = 0; i < 60000; ++i) {
        const double t = i * 0.01;
        chart.AddPoint("U", t, 50 + 30 * std::sin(t / 50) + 10 * std::sin(i * 0.7), i < 30000 ? 0 : 1);
    }
    const QImage drawn = chart.CopyToPicture(false);

    // Every segment between consecutive cached points, drawn one by one.
    QImage reference(chart.size(), QImage::Format_RGB32);
    reference.fill(Qt::white);
    QPainter p(&reference);
    p.setClipRect(chart.PlotRect());
    for (size_t i = 1; i < c->Points.size(); ++i) {
        const PlotPoint &a = c->Points[i - 1], &b = c->Points[i];
        if (a.Phase != b.Phase)
            continue;
        p.setPen(QPen(ColorFromValue(c->Styles[b.Phase].Color), c->Styles[b.Phase].Width));
        p.drawLine(a.X, a.Y, b.X, b.Y);
    }
    p.end();
    EXPECT_TRUE(drawn.convertToFormat(QImage::Format_RGB32) == reference);
}

TEST_F(ChartWidget, WideLinesJoinWithoutBurrs)
{
    Curve* c = chart.AddCurve("U", 0);
    c->Styles[0].Width = 10;
    for (int i = 0; i <= 6; ++i)  // sharp joints: a zigzag over the whole time range
        chart.AddPoint("U", i * 100, i % 2 ? 80 : 20, 0);
    const QImage drawn = chart.CopyToPicture(false).convertToFormat(QImage::Format_RGB32);

    // Every pixel of the line lies within half the width (plus rounding) of
    // the polyline through the cached points; a square cap's corner at a
    // joint would stick out to half the width times the square root of two.
    auto distance = [&](QPointF p) {
        double best = 1e9;
        for (size_t i = 1; i < c->Points.size(); ++i) {
            const QPointF a(c->Points[i - 1].X, c->Points[i - 1].Y), ab = QPointF(c->Points[i].X, c->Points[i].Y) - a;
            const double t = std::clamp(QPointF::dotProduct(p - a, ab) / QPointF::dotProduct(ab, ab), 0.0, 1.0);
            const QPointF d = p - (a + t * ab);
            best = std::min(best, std::hypot(d.x(), d.y()));
        }
        return best;
    };
    double farthest = 0;
    int linePixels = 0;
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 0; x < drawn.width(); ++x)
            if (drawn.pixel(x, y) == qRgb(255, 0, 0)) {
                ++linePixels;
                farthest = std::max(farthest, distance(QPointF(x + 0.5, y + 0.5)));
            }
    EXPECT_GT(linePixels, 1000);
    EXPECT_LE(farthest, 5.0 + 1.0);
}

// Fitted axes end on whole segments of a round step, with one to six segments.
TEST(ChartFit, AxesCoverTheDataInRoundStepsAndFlatDataGetsRoom)
{
    struct Expected {
        double start, end;
        int segments, subSegments;
    };
    auto scaled = [](const AxisFit& f) { return std::make_tuple(f.Start, f.End, f.NumSegments, f.NumSubSegments); };
    auto expected = [](const Expected& e) { return std::make_tuple(e.start, e.end, e.segments, e.subSegments); };
    // A 3.5-hour recording: hours; 7 minutes; 90 s from the 100th second; three and a half days.
    EXPECT_EQ(scaled(FitTimeAxis(0, 12600)), expected({0, 14400, 4, 4}));
    EXPECT_EQ(scaled(FitTimeAxis(0, 420)), expected({0, 480, 4, 4}));
    EXPECT_EQ(scaled(FitTimeAxis(100, 190)), expected({100, 200, 5, 4}));
    EXPECT_EQ(scaled(FitTimeAxis(0, 300000)), expected({0, 345600, 4, 4}));
    // One NiMH cell: tenths of a volt, decimal-exact ends.
    const AxisFit cell = FitValueAxis(1.003, 1.45, 0.01, false);
    EXPECT_EQ(scaled(cell), expected({1.0, 1.5, 5, 5}));
    EXPECT_EQ(DigitsFor(cell.Step()), 1);
    // Currents from zero; a constant current is drawn inside the plot, not on its edge.
    EXPECT_EQ(scaled(FitValueAxis(500, 1000, 1, true)), expected({0, 1000, 5, 4}));
    EXPECT_EQ(scaled(FitValueAxis(300, 300, 1, true)), expected({0, 300, 6, 5}));
    EXPECT_EQ(scaled(FitValueAxis(5, 5, 0.01, false)), expected({4.7, 5.3, 6, 5}));
    EXPECT_EQ(scaled(FitValueAxis(0, 0, 1, true)), expected({0, 4, 4, 5}));
    // Nothing finite to show: a sane axis all the same.
    const AxisFit none = FitValueAxis(std::nan(""), 1, 0.01, false);
    EXPECT_TRUE(none.End > none.Start && none.NumSegments >= 1);
}

// Time-axis labels are h:m:s, minutes and seconds each below 60, fractions cut.
TEST(ChartLabels, TimeLabelsAreHoursMinutesAndSeconds)
{
    const std::pair<double, const char *> labels[] = {
        {0, "0:0:0"},       {59, "0:0:59"},   {60, "0:1:0"},      {3599, "0:59:59"},
        {3600, "1:0:0"},    {3660, "1:1:0"},  {3725.9, "1:2:5"},  {90061, "25:1:1"},
        {-3725, "-1:2:5"},  {-0.5, "-0:0:0"}, {NAN, ""}};
    for (const auto &[seconds, label] : labels)
        EXPECT_EQ(TimeLabel(seconds), QString::fromLatin1(label)) << seconds;
    for (int seconds = 0; seconds < 200000; seconds += 61) {
        const QStringList parts = TimeLabel(seconds).split(QLatin1Char(':'));
        ASSERT_EQ(parts.size(), 3);
        EXPECT_TRUE(parts[1].toInt() < 60 && parts[2].toInt() < 60) << seconds;
        EXPECT_EQ(parts[0].toInt() * 3600 + parts[1].toInt() * 60 + parts[2].toInt(), seconds);
    }
}
