#pragma once
// Where the live page puts its controls for a page size. Plain geometry,
// computed without widgets.
//
// The step grid gets the height of its rows (at least four); the rest goes to
// the instruments, which keep the proportions of their design (gauges 95 x 60
// pixels) and grow as far as width and height allow. Of two arrangements the
// one with the larger gauges is taken: all three instruments in a row (wide
// pages), or the two gauges side by side above a strip chart of the full
// width (narrow, tall pages). Below the design size the grid gives way and
// scrolls; the instruments keep their design size.

#include <QRect>
#include <QSize>

struct LivePageMetrics {
    QSize Page;
    int ValueHeight = 20;   // one value text (voltage, current, time)
    int StepRows = 4;       // rows the step grid should show
    int RowHeight = 16;
    int HeaderHeight = 18;  // the grid's titles and frame
};

struct LivePageGeometry {
    // The top line: the caption and status at the left, the percentage group
    // at the right edge.
    int CapacityRight = 0;  // right edge of the capacity and percent texts
    QRect HundredPercentCircle, PercentPie;
    QRect Instruments;      // the panel with everything but the grid
    QRect VoltageGauge, CurrentGauge, Chart;
    QRect VoltageText, CurrentText, TimeText;
    QRect Steps;
    double GaugeScale = 1;  // gauge size / design size
    bool TwoRows = false;   // gauges above the chart
};

namespace LivePageLayout {

constexpr int TopHeight = 36;        // caption, status line and percentage group
constexpr int DesignGaugeWidth = 95;
constexpr int DesignGaugeHeight = 60;
constexpr int BottomGap = 5;         // between the value texts and the grid
constexpr int LeastChartHeight = 60;

LivePageGeometry Arrange(const LivePageMetrics& metrics);

} // namespace LivePageLayout
