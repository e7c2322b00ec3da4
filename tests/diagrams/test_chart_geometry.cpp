// Geometry of the chart without a window: the point walk with its edge rules.

#include "ChartGeometry.h"
#include "MultiChart.h"

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

}  // namespace

TEST(ChartPointWalk, OutsideTheRangeOnlyOneNeighbourPerSideAndOverlapRestartsAtTheLeftEdge)
{
    const Axis y;
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
