// Geometry of the chart without a window: labels, ticks, the point walk with
// its edge rules, zoom snapping and DigitsFor.

#include "ChartGeometry.h"
#include "MultiChart.h"

#include <gtest/gtest.h>

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
    a.NumSubSegments = 4;
    return a;
}

const QRect kPlot(60, 25, 500, 300);

}  // namespace

TEST(ChartLabels, TicksSpanThePlotAndTimeLabelsFollowTheAxis)
{
    TMultiChart chart;
    chart.resize(600, 400);
    chart.SetXAxisIsTimeAxis(true);
    chart.Recalculate();
    const QRect plot = chart.PlotRect();
    ASSERT_EQ(chart.YTickPos().size(), 21u);
    ASSERT_EQ(chart.XTickPos().size(), 21u);
    EXPECT_EQ(std::make_pair(chart.YTickPos().front(), chart.YTickPos().back()),
              std::make_pair(plot.bottom(), plot.top()));
    EXPECT_EQ(std::make_pair(chart.XTickPos().front(), chart.XTickPos().back()),
              std::make_pair(plot.left(), plot.right()));
    EXPECT_EQ(chart.XLabels(), QStringList({"0:0:0", "0:2:0", "0:4:0", "0:6:0", "0:8:0", "0:10:0"}));

    // Segment counts below one neither fail nor read outside.
    chart.SetYAxisNumSegments(0);
    chart.SetYAxisNumSubSegments(-3);
    chart.SetXAxisNumSegments(-1);
    chart.Recalculate();
    EXPECT_EQ(chart.YTickPos().size(), static_cast<size_t>(chart.YLabels().size()));
    EXPECT_FALSE(chart.CopyToPicture(false).isNull());
}

TEST(ChartLabels, TimeAndFixedLabelTextsAndDigits)
{
    const std::pair<double, const char*> times[] = {
        {-90, "-0:1:30"}, {3725, "1:2:5"}, {604800, "168:0:0"}, {59.9, "0:0:59"}};
    for (const auto& [seconds, text] : times)
        EXPECT_EQ(TimeLabel(seconds), text);
    EXPECT_EQ(FixedLabel(1.25, 2, QLocale(QLocale::German)), "1,25");
    EXPECT_EQ(FixedLabel(604800, 0, QLocale(QLocale::German)), "604800");
    EXPECT_EQ(FixedLabel(-1e-17, 1, QLocale(QLocale::English)), "0.0");
    const std::pair<double, int> digits[] = {{0.5, 1}, {0.25, 2}, {1.0 / 3.0, 3},
                                             {20, 0},  {0.1, 1},  {0.002, 3}};
    for (const auto& [step, count] : digits)
        EXPECT_EQ(DigitsFor(step), count) << step;
}

TEST(ChartMapping, PixelsAreClampedAndAZeroRangeDoesNotFail)
{
    Axis a;  // 0..100
    EXPECT_EQ(ValueToY(1e9, a, kPlot), 0);
    EXPECT_EQ(ValueToY(-1e9, a, kPlot), 32767);
    a.EndValue = a.StartValue;
    const int y = ValueToY(5, a, kPlot);
    EXPECT_TRUE(y >= 0 && y <= 32767);
    EXPECT_EQ(ClampPixel(std::nan("")), 0);
}

TEST(ChartPointWalk, PointsOutsideTheRangeKeepOnlyOneNeighbourOnEachSide)
{
    const Axis y;
    const Axis x = TimeAxis(1000, 1600);
    EXPECT_TRUE(PlotCurve(CurveWith({{0, 10, 0}, {100, 20, 0}, {900, 30, 0}}), x, y, kPlot).empty());

    // Only the last point left of the area is kept, so the line enters from the edge.
    const auto left = PlotCurve(CurveWith({{0, 10, 0}, {500, 20, 0}, {1100, 30, 0}, {1200, 40, 0}}),
                                x, y, kPlot);
    ASSERT_EQ(left.size(), 3u);
    EXPECT_LE(left[0].X, kPlot.left());
    EXPECT_EQ(left[0].Y, ValueToY(20, y, kPlot));

    // The first point beyond the right edge is kept, later ones dropped.
    const auto right = PlotCurve(CurveWith({{1100, 30, 0}, {1700, 40, 0}, {1800, 50, 0}}), x, y, kPlot);
    ASSERT_EQ(right.size(), 2u);
    EXPECT_GT(right[1].X, kPlot.right());
}

TEST(ChartPointWalk, OverlappingPhasesStartEveryRunAtTheLeftEdge)
{
    const Axis y;
    const Curve c = CurveWith({{0, 10, 0}, {1800, 20, 0}, {3600, 30, 0}, {3600, 40, 1},
                               {5400, 50, 1}, {7200, 60, 1}},
                              true);
    const std::vector<PlotPoint> points = PlotCurve(c, TimeAxis(0, 7200), y, kPlot);
    ASSERT_EQ(points.size(), 6u);
    EXPECT_EQ(points[0].X, kPlot.left());
    EXPECT_EQ(points[3].X, kPlot.left());
    EXPECT_EQ(points[3].Phase, 1);
    EXPECT_EQ(points[5].X, points[2].X);  // both runs are one hour long

    const Curve inSequence = CurveWith({{0, 10, 0}, {3600, 30, 0}, {3600, 40, 1}, {7200, 60, 1}});
    EXPECT_GT(PlotCurve(inSequence, TimeAxis(0, 7200), y, kPlot)[2].X, kPlot.left() + kPlot.width() / 3);
}

TEST(ChartZoomSnapping, RangesSnapInwardsToSegmentBoundariesAndPickWholeSteps)
{
    Axis y;  // 0..100 in 4 segments
    EXPECT_FALSE(ZoomValueAxis(y, 30, 40).Apply);  // inside one segment
    const AxisZoom vz = ZoomValueAxis(y, 20, 80);
    ASSERT_TRUE(vz.Apply);
    EXPECT_EQ(vz.NumSegments, 5);  // 50 / 6 is no whole step, 50 / 5 is

    // A low value on a boundary above the start still snaps one segment up.
    const SnappedRange r = SnapInwards(y, 50, 100);
    EXPECT_EQ(std::make_pair(r.Low, r.High), std::make_pair(75.0, 100.0));

    // 0..6 s in 5 segments is no whole step; 6 segments of 1 s are.
    const AxisZoom odd = ZoomTimeAxis(TimeAxis(0, 10), 0, 7.9, true);
    ASSERT_TRUE(odd.Apply);
    EXPECT_DOUBLE_EQ(odd.End - odd.Start, 6);
    EXPECT_EQ(odd.NumSegments, 6);
    // Less than one second per segment on a time axis is refused.
    EXPECT_FALSE(ZoomTimeAxis(TimeAxis(0, 10), 0, 4.5, true).Apply);
}
