#pragma once
// Plain geometry of the chart: pixel mappings with their clamp, tick and
// label layout, label texts, the point walk that builds the cached pixel
// positions, and the snapping rules of the mouse zoom. No widget needed.

#include "diagrams/ChartModel.h"

#include <QLocale>
#include <QRect>
#include <QStringList>

#include <vector>

namespace ChartGeometry {

// Pixel results are clamped to 0..32767; a failed computation (zero range,
// plot area one pixel wide) yields a clamped pixel instead of an error.
int ClampPixel(double pixel);

int ValueToY(double value, const Axis& axis, const QRect& plot);
int ValueToX(double time, const Axis& axis, const QRect& plot);
double YToValue(int row, const Axis& axis, const QRect& plot);
double XToValue(int column, const Axis& axis, const QRect& plot);

// Plot area on the chart's own window, and on a foreign canvas (printer)
// with the given pixels per inch.
// A second value axis labelled at the right edge takes as much room as the
// first one on the left.
QRect ScreenPlotArea(int width, int height, bool textVisible, bool secondAxis = false);
QRect ForeignPlotArea(int pixelsPerInch);

// Elapsed time as hours:minutes:seconds without leading zeros; negative
// times get a leading "-" (-90 s is -0:1:30).
QString TimeLabel(double seconds);
// Fixed-point text with the locale's decimal separator and no grouping.
QString FixedLabel(double value, int digits, const QLocale& locale = QLocale());

// Decimals needed to show a step: 0 for whole numbers, 1 or 2 when enough,
// otherwise 3.
int DigitsFor(double step);

// Segment counts below 1 can only come from hand-edited files; the layout
// then uses one segment so nothing reads outside the tick arrays.
int EffectiveCount(int count);

// Axis values the chart can draw: finite and of a sane magnitude (V, mA or
// seconds). Files and the property dialog refuse anything else.
constexpr double MaxAxisValue = 1e9;
bool IsSaneAxisValue(double value);

// Whatever the axis says, the layout never builds more than this many
// segments or ticks per axis: far more than a window has pixels for.
constexpr int MaxLayoutSegments = 1000;
constexpr int MaxLayoutTicks = 10000;
int LayoutSegments(const Axis& axis);
int LayoutSubSegments(const Axis& axis);

struct TickLayout
{
    std::vector<int> TickPos;  // segments * subSegments + 1 rows or columns
    QStringList Labels;        // segments + 1 texts
};

// Ticks run from the axis start in steps of range / segments / subSegments,
// accumulated (not recomputed per label); the last label gets one tick.
template <typename MapFn, typename LabelFn>
TickLayout LayoutTicks(const Axis& axis, MapFn map, LabelFn label)
{
    const int segments = LayoutSegments(axis);
    const int subSegments = LayoutSubSegments(axis);
    TickLayout layout;
    layout.TickPos.resize(static_cast<size_t>(segments) * subSegments + 1);
    layout.Labels.reserve(segments + 1);
    const double step = (axis.EndValue - axis.StartValue) / segments / subSegments;
    double v = axis.StartValue;
    size_t i = 0;
    for (int j = 0; j <= segments; ++j) {
        layout.Labels.append(label(v));
        for (int k = 0; k < subSegments && i < layout.TickPos.size(); ++k) {
            layout.TickPos[i] = map(v);
            v += step;
            ++i;
        }
    }
    return layout;
}

// Builds the cached pixel positions of a curve: points left of the plot area
// are dropped except the last one before it, the first point beyond the
// right edge is kept and every later point dropped.
std::vector<PlotPoint> PlotCurve(const Curve& curve, const Axis& xAxis, const Axis& yAxis,
                                 const QRect& plot);
// The same into `points`, whose room is kept: a chart of millions of points
// scaled again writes into memory it has already touched.
void PlotCurveInto(const Curve& curve, const Axis& xAxis, const Axis& yAxis, const QRect& plot,
                   std::vector<PlotPoint>& points);

// Snaps a zoom range inwards to the axis's major segment boundaries.
struct SnappedRange
{
    double Low = 0.0;
    double High = 0.0;
};
SnappedRange SnapInwards(const Axis& axis, double low, double high);

// New scaling of an axis after a zoom; Apply is false when the axis stays.
struct AxisZoom
{
    bool Apply = false;
    double Start = 0.0;
    double End = 0.0;
    int NumSegments = 0;
    int Digits = 0;
};
AxisZoom ZoomValueAxis(const Axis& axis, double lowValue, double highValue);
AxisZoom ZoomTimeAxis(const Axis& axis, double lowValue, double highValue, bool isTimeAxis);

// An axis scaled to show a range of data: start and end lie on whole
// segments of a round step, with one to six segments as the zoom makes them.
struct AxisFit
{
    double Start = 0.0;
    double End = 1.0;
    int NumSegments = 1;
    int NumSubSegments = 1;
    double Step() const { return (End - Start) / NumSegments; }
};
constexpr int MaxFitSegments = 6;

// Smallest and largest value of some data; empty until the first value.
struct DataRange
{
    bool Empty = true;
    double Low = 0.0;
    double High = 0.0;
    void Include(double value);
};

// Value axis: steps of 1, 2 or 5 times a power of ten, none below minStep.
// With includeZero the axis reaches down (or up) to 0, as currents and
// capacities are read against it. A flat range is widened to a tenth of its
// magnitude (at least four smallest steps), so a constant curve is a line
// inside the plot, not on its edge.
AxisFit FitValueAxis(double low, double high, double minStep, bool includeZero);
// Time axis: steps that read well as h:m:s (1, 2, 5, 10, 15, 20, 30 s,
// 1, 2, 5, 10, 15, 20, 30 min, 1, 2, 3, 4, 6, 12 h, days), each with minor
// divisions of a round length.
AxisFit FitTimeAxis(double low, double high);

// Text metrics of the axis drawing, from the size of "0".
struct TickMetrics
{
    int HalfHeight = 0;
    int HalfWidth = 0;
    int Minor = 0;
    int Major = 0;
};
TickMetrics MetricsFor(int zeroWidth, int zeroHeight);

}  // namespace ChartGeometry
