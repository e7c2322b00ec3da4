#include "ChartGeometry.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

int32_t ColorValue(int red, int green, int blue)
{
    return static_cast<int32_t>((static_cast<uint32_t>(blue & 0xff) << 16)
                                | (static_cast<uint32_t>(green & 0xff) << 8)
                                | static_cast<uint32_t>(red & 0xff));
}

QColor ColorFromValue(int32_t value)
{
    const auto v = static_cast<uint32_t>(value);
    return QColor(static_cast<int>(v & 0xff), static_cast<int>((v >> 8) & 0xff),
                  static_cast<int>((v >> 16) & 0xff));
}

namespace ChartGeometry {

int ClampPixel(double pixel)
{
    if (std::isnan(pixel) || pixel < 0.0)
        return 0;
    if (pixel > 32767.0)
        return 32767;
    return static_cast<int>(pixel);  // truncates toward zero
}

int ValueToY(double value, const Axis& axis, const QRect& plot)
{
    const double bottom = plot.top() + plot.height() - 1;
    return ClampPixel(bottom - (value - axis.StartValue) / (axis.EndValue - axis.StartValue)
                                   * (plot.height() - 1));
}

int ValueToX(double time, const Axis& axis, const QRect& plot)
{
    return ClampPixel(plot.left() + (time - axis.StartValue) / (axis.EndValue - axis.StartValue)
                                        * (plot.width() - 1));
}

double YToValue(int row, const Axis& axis, const QRect& plot)
{
    const double bottom = plot.top() + plot.height() - 1;
    return axis.StartValue
           + (axis.EndValue - axis.StartValue) * (bottom - row) / (plot.height() - 1);
}

double XToValue(int column, const Axis& axis, const QRect& plot)
{
    return axis.StartValue
           + (axis.EndValue - axis.StartValue) * (column - plot.left()) / (plot.width() - 1);
}

QRect ScreenPlotArea(int width, int height, bool textVisible, bool secondAxis)
{
    if (textVisible)
        return QRect(60, 25, width - (secondAxis ? 120 : 100), height - 60);
    return QRect(10, 10, width - 20, height - 20);
}

QRect ForeignPlotArea(int pixelsPerInch)
{
    const int u = pixelsPerInch;
    return QRect(u, static_cast<int>(1.5 * u), 6 * u, 4 * u);
}

QString TimeLabel(double seconds)
{
    if (std::isnan(seconds))
        return QString();
    // Beyond this the conversion to an integer would be undefined.
    const double whole = std::min(std::trunc(std::abs(seconds)), 1e15);
    const long long s = static_cast<long long>(whole);
    QString text = QStringLiteral("%1:%2:%3").arg(s / 3600).arg((s % 3600) / 60).arg(s % 60);
    if (seconds < 0)
        text.prepend(QLatin1Char('-'));
    return text;
}

QString FixedLabel(double value, int digits, const QLocale& locale)
{
    QLocale plain(locale);
    plain.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    if (digits < 0)
        digits = 0;
    if (digits > 15)
        digits = 15;
    QString text = plain.toString(value, 'f', digits);
    // A tiny negative remainder of the running sum must not read "-0".
    if (text.startsWith(plain.negativeSign())) {
        bool allZero = true;
        for (const QChar ch : text)
            if (ch.isDigit() && ch != QLatin1Char('0'))
                allZero = false;
        if (allZero)
            text = plain.toString(0.0, 'f', digits);
    }
    return text;
}

int DigitsFor(double step)
{
    if (std::trunc(step) == step)
        return 0;
    double scale = 1.0;
    for (int i = 1; i <= 2; ++i) {
        scale *= 10.0;
        const float p = static_cast<float>(step * scale);
        if (std::trunc(p) == p)
            return i;
    }
    return 3;
}

int EffectiveCount(int count)
{
    return count < 1 ? 1 : count;
}

bool IsSaneAxisValue(double value)
{
    return std::isfinite(value) && std::abs(value) <= MaxAxisValue;
}

int LayoutSegments(const Axis& axis)
{
    return std::min(EffectiveCount(axis.NumSegments), MaxLayoutSegments);
}

int LayoutSubSegments(const Axis& axis)
{
    return std::min(EffectiveCount(axis.NumSubSegments),
                    std::max(1, MaxLayoutTicks / LayoutSegments(axis)));
}

namespace {

template <typename Store>
void WalkCurve(const Curve& curve, const Axis& xAxis, const Axis& yAxis, const QRect& plot,
               Store store)
{
    const int left = plot.left();
    const int rightEdge = plot.left() + plot.width() - 1;
    PlotPoint prev;
    prev.X = rightEdge;
    prev.Y = 0;
    prev.Phase = -1;
    double base = 0.0;
    for (const Curve::DataPoint& d : curve.Data) {
        double t = d.Time;
        if (curve.OverlapPhases) {
            if (d.Phase != prev.Phase) {
                base = d.Time;
                prev.X = rightEdge;
            }
            t -= base;
        }
        PlotPoint cur;
        cur.X = ValueToX(t, xAxis, plot);
        cur.Y = ValueToY(d.Value, yAxis, plot);
        cur.Phase = d.Phase;
        if (cur.X >= left) {
            if (prev.X < left)
                store(prev);
            if (prev.X <= rightEdge)
                store(cur);
        }
        prev = cur;
    }
}

}  // namespace

std::vector<PlotPoint> PlotCurve(const Curve& curve, const Axis& xAxis, const Axis& yAxis,
                                 const QRect& plot)
{
    size_t count = 0;
    WalkCurve(curve, xAxis, yAxis, plot, [&count](const PlotPoint&) { ++count; });
    std::vector<PlotPoint> points(count);
    size_t i = 0;
    WalkCurve(curve, xAxis, yAxis, plot, [&points, &i](const PlotPoint& p) { points[i++] = p; });
    return points;
}

SnappedRange SnapInwards(const Axis& axis, double low, double high)
{
    const double start = axis.StartValue;
    const double end = axis.EndValue;
    const double seg = (end - start) / EffectiveCount(axis.NumSegments);
    auto clamp = [start, end](double v) {
        if (v < start)
            v = start;
        if (v > end)
            v = end;
        return v;
    };
    SnappedRange r;
    r.Low = clamp(low);
    if (r.Low > start)
        r.Low = (std::trunc((r.Low - start) / seg) + 1) * seg + start;
    r.High = clamp(high);
    r.High = std::trunc((r.High - start) / seg) * seg + start;
    return r;
}

static bool IsWhole(double v)
{
    return std::isfinite(v) && std::trunc(v) == v;
}

AxisZoom ZoomValueAxis(const Axis& axis, double lowValue, double highValue)
{
    AxisZoom zoom;
    const SnappedRange r = SnapInwards(axis, lowValue, highValue);
    const double d = r.High - r.Low;
    if (!(d >= 0.01))
        return zoom;
    zoom.Apply = true;
    zoom.Start = r.Low;
    zoom.End = r.High;
    const int digits = DigitsFor(d * 0.1);
    double s = d;
    int n = 6;
    for (; n >= 1; --n) {
        s = d / n;
        const float scaled = static_cast<float>(s / std::pow(10.0, -digits));
        if (std::trunc(scaled) == scaled)
            break;
    }
    if (n < 1) {
        n = 1;
        s = d;
    }
    zoom.NumSegments = n;
    zoom.Digits = DigitsFor(s);
    return zoom;
}

AxisZoom ZoomTimeAxis(const Axis& axis, double lowValue, double highValue, bool isTimeAxis)
{
    AxisZoom zoom;
    const SnappedRange r = SnapInwards(axis, lowValue, highValue);
    int n = EffectiveCount(axis.NumSegments);
    double s = (r.High - r.Low) / n;
    if (!(s >= (isTimeAxis ? 1.0 : 0.001)))
        return zoom;
    if (isTimeAxis && !IsWhole(s)) {
        for (n = 6; n >= 1; --n) {
            s = (r.High - r.Low) / n;
            if (IsWhole(s))
                break;
        }
        if (n < 1) {
            n = 1;
            s = r.High - r.Low;
        }
    }
    zoom.Apply = true;
    zoom.Start = r.Low;
    zoom.End = r.High;
    zoom.NumSegments = n;
    zoom.Digits = DigitsFor(s);
    return zoom;
}

TickMetrics MetricsFor(int zeroWidth, int zeroHeight)
{
    TickMetrics m;
    m.HalfHeight = zeroHeight / 2;
    m.HalfWidth = zeroWidth / 2;
    m.Minor = m.HalfWidth + 1;
    m.Major = 2 * (m.HalfWidth + 1);
    return m;
}

}  // namespace ChartGeometry
