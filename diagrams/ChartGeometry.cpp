#include "diagrams/ChartGeometry.h"

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
    std::vector<PlotPoint> points;
    PlotCurveInto(curve, xAxis, yAxis, plot, points);
    return points;
}

void PlotCurveInto(const Curve& curve, const Axis& xAxis, const Axis& yAxis, const QRect& plot,
                   std::vector<PlotPoint>& points)
{
    // One walk: a recording of millions of points is mapped on the window
    // thread whenever the chart is scaled.
    points.clear();
    points.reserve(curve.Data.size());
    WalkCurve(curve, xAxis, yAxis, plot, [&points](const PlotPoint& p) { points.push_back(p); });
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

void DataRange::Include(double value)
{
    if (!std::isfinite(value))
        return;
    if (Empty) {
        Low = High = value;
        Empty = false;
        return;
    }
    Low = std::min(Low, value);
    High = std::max(High, value);
}

namespace {

// A step of Units / Divisor: steps below 1 are divided, not multiplied, so
// that 15 steps of 0.1 end exactly at 1.5.
struct FitStep
{
    double Units;
    int SubSegments;
    double Divisor = 1.0;
};

// The first step (ascending) whose whole segments cover low..high in at most
// MaxFitSegments segments.
template <typename NextStep>
AxisFit FitWithSteps(double low, double high, FitStep step, NextStep next)
{
    AxisFit fit;
    for (int guard = 0; guard < 400; ++guard, step = next(step)) {
        const double first = std::floor(low * step.Divisor / step.Units);
        double last = std::ceil(high * step.Divisor / step.Units);
        if (last <= first)
            last = first + 1;
        const double segments = last - first;
        if (segments <= MaxFitSegments || guard == 399) {
            fit.Start = first * step.Units / step.Divisor;
            fit.End = last * step.Units / step.Divisor;
            fit.NumSegments = std::max(1, static_cast<int>(segments));
            fit.NumSubSegments = step.SubSegments;
            break;
        }
    }
    return fit;
}

}  // namespace

AxisFit FitValueAxis(double low, double high, double minStep, bool includeZero)
{
    if (!std::isfinite(low) || !std::isfinite(high) || low > high)
        low = high = 0.0;
    low = std::clamp(low, -MaxAxisValue, MaxAxisValue);
    high = std::clamp(high, -MaxAxisValue, MaxAxisValue);
    if (!(minStep > 0.0))
        minStep = 1.0;
    if (includeZero) {
        low = std::min(low, 0.0);
        high = std::max(high, 0.0);
    }
    const double leastSpan = std::max(4 * minStep, 0.1 * std::max(std::abs(low), std::abs(high)));
    if (high - low < leastSpan) {
        if (includeZero && low == 0.0) {
            high = leastSpan;
        } else if (includeZero && high == 0.0) {
            low = -leastSpan;
        } else {
            const double middle = (low + high) / 2;
            low = middle - leastSpan / 2;
            high = middle + leastSpan / 2;
        }
    }
    // 1, 2, 5 times a power of ten, beginning with the power at or below minStep.
    int exponent = static_cast<int>(std::floor(std::log10(minStep)));
    const int mantissas[] = {1, 2, 5};
    const int subSegments[] = {5, 4, 5};
    int m = 0;
    auto stepOf = [&] {
        const double power = std::pow(10.0, std::abs(exponent));
        return exponent < 0 ? FitStep{double(mantissas[m]), subSegments[m], power}
                            : FitStep{mantissas[m] * power, subSegments[m]};
    };
    auto advance = [&] {
        if (++m == 3) {
            m = 0;
            ++exponent;
        }
        return stepOf();
    };
    FitStep first = stepOf();
    while (first.Units / first.Divisor < minStep * (1 - 1e-9))
        first = advance();
    return FitWithSteps(low, high, first, [&](FitStep) { return advance(); });
}

AxisFit FitTimeAxis(double low, double high)
{
    if (!std::isfinite(low) || !std::isfinite(high) || low > high)
        low = high = 0.0;
    low = std::clamp(low, -MaxAxisValue, MaxAxisValue);
    high = std::clamp(high, -MaxAxisValue, MaxAxisValue);
    static const FitStep steps[] = {
        {1, 2},     {2, 4},     {5, 5},     {10, 5},    {15, 3},    {20, 4},    {30, 6},
        {60, 6},    {120, 4},   {300, 5},   {600, 5},   {900, 3},   {1200, 4},  {1800, 6},
        {3600, 4},  {7200, 4},  {10800, 3}, {14400, 4}, {21600, 6}, {43200, 4}, {86400, 4}};
    constexpr int count = sizeof(steps) / sizeof(steps[0]);
    // Beyond a day: 2, 5 and 10 days and so on, in days.
    int i = 0;
    double days = 1;
    int m = 0;
    const int dayMantissas[] = {2, 5, 10};
    return FitWithSteps(low, high, steps[0], [&](FitStep) {
        if (++i < count)
            return steps[i];
        if (m == 3) {
            m = 0;
            days *= 10;
        }
        const int mantissa = dayMantissas[m++];
        return FitStep{mantissa * days * 86400, mantissa == 5 ? 5 : 4};
    });
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
