// The chart as a widget: zoom by mouse drags with the pointer readout, and
// what the renderer draws.

#include "MultiChart.h"

#include <QLabel>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>

namespace {

class ChartWidget : public ::testing::Test
{
protected:
    void SetUp() override
    {
        chart.resize(600, 400);
        chart.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&chart));
    }

    QPoint At(double time, double value) const
    {
        return QPoint(chart.ValueToX(time), chart.ValueToY(value, chart.ActiveYAxis()));
    }

    void Drag(QPoint from, QPoint to, const std::function<void()>& halfway = {})
    {
        QTest::mousePress(&chart, Qt::LeftButton, {}, from);
        QTest::mouseMove(&chart, (from + to) / 2);
        if (halfway)
            halfway();
        QTest::mouseMove(&chart, to);
        QTest::mouseRelease(&chart, Qt::LeftButton, {}, to);
    }

    // Curves alone on white, so pixel colours tell what was drawn.
    void CurvesOnly()
    {
        chart.SetGridVisible(false);
        chart.SetTextVisible(false);
        chart.SetLegendVisible(false);
        QPalette pal = chart.palette();
        pal.setColor(QPalette::Window, Qt::white);
        chart.setPalette(pal);
    }

    int Count(const QImage& image, const std::function<bool(QRgb)>& match, QRect area = {}) const
    {
        area = area.isNull() ? image.rect() : area;
        int count = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                count += match(image.pixel(x, y)) ? 1 : 0;
        return count;
    }

    TMultiChart chart;
};

}  // namespace

TEST_F(ChartWidget, ADragZoomsBothAxesToWholeSegmentsAndShowsTheValueMeanwhile)
{
    QSignalSpy zooming(&chart, &TMultiChart::ChartZooming);
    Drag(At(500, 10), At(100, 90));  // up and to the left
    Drag(At(100, 10), At(500, 10));  // no height
    EXPECT_EQ(zooming.count(), 0);
    Drag(At(130, 40), At(230, 30));  // inside one segment
    EXPECT_EQ(zooming.count(), 1);   // announced, but snapping leaves both axes
    EXPECT_DOUBLE_EQ(chart.XAxisEndValue(), 600);
    EXPECT_DOUBLE_EQ(chart.YAxisEndValue(), 100);

    chart.SetXAxisIsTimeAxis(true);
    Drag(At(100, 80), At(500, 20), [&] {
        EXPECT_TRUE(chart.ValueText()->isVisible());
        EXPECT_TRUE(chart.ValueText()->text().startsWith("50."));  // one decimal more than the axis
    });
    EXPECT_FALSE(chart.ValueText()->isVisible());
    EXPECT_EQ(std::make_tuple(chart.YAxisStartValue(), chart.YAxisEndValue(), chart.YAxisNumSegments(),
                              chart.XAxisStartValue(), chart.XAxisEndValue(), chart.XAxisNumSegments()),
              std::make_tuple(25.0, 75.0, 5, 120.0, 480.0, 5));
}

TEST_F(ChartWidget, ReducingDensePointsPerColumnDrawsExactlyTheSamePixels)
{
    CurvesOnly();
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
    CurvesOnly();
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
