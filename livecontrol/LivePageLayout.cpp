#include "livecontrol/LivePageLayout.h"

#include <algorithm>

namespace LivePageLayout {

namespace {

int GaugeHeightForWidth(int width)
{
    return width * DesignGaugeHeight / DesignGaugeWidth;
}

} // namespace

LivePageGeometry Arrange(const LivePageMetrics& m)
{
    LivePageGeometry g;
    const int width = std::max(m.Page.width(), 3 * DesignGaugeWidth + 2);
    const int height = m.Page.height();
    g.CapacityRight = width - 40;
    g.HundredPercentCircle = QRect(width - 33, 3, 28, 28);
    g.PercentPie = QRect(width - 31, 5, 25, 25);

    const int left = 2;
    const int area = width - left;
    const int v = m.ValueHeight;
    const int stepsWanted = m.HeaderHeight + m.StepRows * m.RowHeight;
    // Height the instruments may take; at least their design size.
    const int designHeight = DesignGaugeHeight + v + BottomGap;
    const int available = std::max(designHeight, height - TopHeight - stepsWanted);

    // All three in a row.
    const int column = area / 3;
    const int wideGauge =
        std::clamp(std::min(GaugeHeightForWidth(column), available - v - BottomGap), DesignGaugeHeight,
                   std::max(DesignGaugeHeight, GaugeHeightForWidth(column)));
    // Gauges side by side, the chart below them in the full width.
    const int half = area / 2;
    const int twoRowGauge = std::min(GaugeHeightForWidth(half), available - 2 * v - BottomGap - LeastChartHeight);
    g.TwoRows = twoRowGauge > wideGauge;

    int y = TopHeight;
    if (!g.TwoRows) {
        const int h = wideGauge;
        g.VoltageGauge = QRect(left, y, column, h);
        g.CurrentGauge = QRect(left + column, y, column, h);
        g.Chart = QRect(left + 2 * column, y, area - 2 * column, h);
        y += h;
        g.VoltageText = QRect(left, y, column, v);
        g.CurrentText = QRect(left + column, y, column, v);
        g.TimeText = QRect(left + 2 * column, y, area - 2 * column, v);
        y += v;
        g.GaugeScale = double(h) / DesignGaugeHeight;
    } else {
        const int h = twoRowGauge;
        g.VoltageGauge = QRect(left, y, half, h);
        g.CurrentGauge = QRect(left + half, y, area - half, h);
        y += h;
        g.VoltageText = QRect(left, y, half, v);
        g.CurrentText = QRect(left + half, y, area - half, v);
        y += v;
        // The strip chart takes the rest, up to three quarters of its width:
        // beyond that the grid's empty rows are the better use.
        const int chart = std::clamp(available - h - 2 * v - BottomGap, LeastChartHeight, area * 3 / 4);
        g.Chart = QRect(left, y, area, chart);
        y += chart;
        g.TimeText = QRect(left, y, area, v);
        y += v;
        g.GaugeScale = double(h) / DesignGaugeHeight;
    }
    y += BottomGap;
    g.Instruments = QRect(0, 0, m.Page.width(), y);
    g.Steps = QRect(0, y, m.Page.width(), std::max(0, height - y));
    return g;
}

} // namespace LivePageLayout
