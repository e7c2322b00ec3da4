#include "MultiChart.h"

#include "ChartGeometry.h"

#include <QFocusEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPaintDevice>
#include <QPainter>
#include <QLine>
#include <QPolygon>
#include <QVector>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr int kTextBox = 4000;  // size of the rectangles used to align texts

QColor GridColor(bool monochrome)
{
    return monochrome ? QColor(Qt::black) : QColor(128, 128, 128);
}

Qt::PenStyle ToQtPenStyle(uint8_t style)
{
    switch (style) {
    case psDash: return Qt::DashLine;
    case psDot: return Qt::DotLine;
    case psDashDot: return Qt::DashDotLine;
    case psDashDotDot: return Qt::DashDotDotLine;
    case psClear: return Qt::NoPen;
    default: return Qt::SolidLine;
    }
}

void DrawTextRightTop(QPainter& p, int x, int y, const QString& text)
{
    p.drawText(QRect(x - kTextBox, y, kTextBox, kTextBox), Qt::AlignRight | Qt::AlignTop, text);
}

void DrawTextRightBottom(QPainter& p, int x, int y, const QString& text)
{
    p.drawText(QRect(x - kTextBox, y - kTextBox, kTextBox, kTextBox),
               Qt::AlignRight | Qt::AlignBottom, text);
}

void DrawTextLeftTop(QPainter& p, int x, int y, const QString& text)
{
    p.drawText(QRect(x, y, kTextBox, kTextBox), Qt::AlignLeft | Qt::AlignTop, text);
}

void DrawTextLeftBottom(QPainter& p, int x, int y, const QString& text)
{
    p.drawText(QRect(x, y - kTextBox, kTextBox, kTextBox), Qt::AlignLeft | Qt::AlignBottom, text);
}

// A curve line. From width 3 on, square caps stick out as burrs where two
// segments meet at an angle: such lines get round caps and joins. Thinner
// lines keep square caps, which draw in half the time.
QPen CurvePen(const LineStyle& style, bool monochrome, double lineScale)
{
    QPen pen(monochrome ? QColor(Qt::black) : ColorFromValue(style.Color));
    const int width = static_cast<int>(style.Width * lineScale);
    pen.setWidth(width);
    pen.setStyle(ToQtPenStyle(style.Style));
    if (width >= 3) {
        pen.setCapStyle(Qt::RoundCap);
        pen.setJoinStyle(Qt::RoundJoin);
    }
    return pen;
}

void DrawTextCentreTop(QPainter& p, int x, int y, const QString& text)
{
    p.drawText(QRect(x - kTextBox / 2, y, kTextBox, kTextBox), Qt::AlignHCenter | Qt::AlignTop,
               text);
}

// Appends the points of one column run, reduced to first, lowest, highest
// and last: a solid polyline through them covers exactly the same pixels.
void AppendColumn(QPolygon& out, const PlotPoint* begin, const PlotPoint* end)
{
    const PlotPoint& first = *begin;
    const PlotPoint& last = *(end - 1);
    int minY = first.Y, maxY = first.Y;
    for (const PlotPoint* p = begin; p != end; ++p) {
        minY = std::min(minY, p->Y);
        maxY = std::max(maxY, p->Y);
    }
    auto add = [&out, x = first.X](int y) {
        if (out.isEmpty() || out.last() != QPoint(x, y))
            out.append(QPoint(x, y));
    };
    add(first.Y);
    if (end - begin > 2) {
        // Visit the extreme nearer to the entry first, then the other one.
        if (first.Y - minY <= maxY - first.Y) {
            add(minY);
            add(maxY);
        } else {
            add(maxY);
            add(minY);
        }
    }
    add(last.Y);
}

}  // namespace

TMultiChart::TMultiChart(QWidget* parent) : QWidget(parent)
{
    for (Axis& a : m_yAxes)
        a = Axis{};
    m_xAxis.MinValue = 0.0;
    m_xAxis.MaxValue = 604800.0;  // seven days
    m_xAxis.StartValue = 0.0;
    m_xAxis.EndValue = 600.0;
    m_xAxis.NumSegments = 5;
    m_xAxis.NumSubSegments = 4;

    m_valueText = new QLabel(QStringLiteral("000,000"), this);
    m_valueText->setAlignment(Qt::AlignCenter);
    m_valueText->setAutoFillBackground(true);
    QPalette pal = m_valueText->palette();
    pal.setColor(QPalette::Window, Qt::black);
    pal.setColor(QPalette::WindowText, Qt::white);
    m_valueText->setPalette(pal);
    m_valueText->adjustSize();
    m_valueText->hide();

    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_plotRect = screenPlotArea();
}

TMultiChart::~TMultiChart() = default;

// ---- curves ---------------------------------------------------------------

Curve* TMultiChart::AddCurve(const QString& name, int yAxis)
{
    auto curve = std::make_unique<Curve>();
    curve->YAxis = std::clamp(yAxis, 0, kValueAxisCount - 1);
    if (curve->YAxis == 1) {
        // Current: fuchsia, teal and olive, none of them a voltage colour.
        curve->Styles[0] = LineStyle{ColorValue(255, 0, 255), psSolid, 2};
        curve->Styles[1] = LineStyle{ColorValue(0, 128, 128), psSolid, 2};
        curve->Styles[2] = LineStyle{ColorValue(128, 128, 0), psSolid, 2};
    } else {
        curve->Styles[0] = LineStyle{ColorValue(255, 0, 0), psSolid, 2};
        curve->Styles[1] = LineStyle{ColorValue(0, 128, 0), psSolid, 2};
        curve->Styles[2] = LineStyle{ColorValue(0, 0, 255), psSolid, 2};
    }
    Curve* result = curve.get();
    m_curves[name] = std::move(curve);
    return result;
}

void TMultiChart::AddPoint(const QString& name, double time, double value, int phase)
{
    Curve* curve = GetCurve(name);
    if (!curve)
        return;
    curve->Data.push_back(Curve::DataPoint{static_cast<float>(time), static_cast<float>(value),
                                           static_cast<int16_t>(phase)});
    Changed();
}

void TMultiChart::RemoveCurve(const QString& name)
{
    if (m_curves.erase(name) > 0)
        Changed();
}

Curve* TMultiChart::GetCurve(const QString& name) const
{
    const auto it = m_curves.find(name);
    return it == m_curves.end() ? nullptr : it->second.get();
}

int TMultiChart::CurveCount() const
{
    return static_cast<int>(m_curves.size());
}

void TMultiChart::FirstCurve()
{
    m_cursorStarted = false;
    m_cursorName.clear();
}

QString TMultiChart::NextCurveName()
{
    // Continues after the last name given out, so removals in between are safe.
    const auto it = m_cursorStarted ? m_curves.upper_bound(m_cursorName) : m_curves.begin();
    if (it == m_curves.end())
        return QString();
    m_cursorStarted = true;
    m_cursorName = it->first;
    return it->first;
}

QStringList TMultiChart::CurveNames() const
{
    QStringList names;
    for (const auto& entry : m_curves)
        names.append(entry.first);
    return names;
}

// ---- scaling --------------------------------------------------------------

void TMultiChart::Changed()
{
    m_needsRecalc = true;
    m_bufferValid = false;
    update();
}

void TMultiChart::Recalculate()
{
    using namespace ChartGeometry;
    const Axis& a = activeAxis();
    const QLocale locale;
    TickLayout y = LayoutTicks(
        a, [&](double v) { return ChartGeometry::ValueToY(v, a, m_plotRect); },
        [&](double v) { return FixedLabel(v, a.Digits, locale); });
    m_yTickPos = std::move(y.TickPos);
    m_yLabels = std::move(y.Labels);

    TickLayout x = LayoutTicks(
        m_xAxis, [&](double v) { return ChartGeometry::ValueToX(v, m_xAxis, m_plotRect); },
        [&](double v) {
            return m_xAxisIsTimeAxis ? TimeLabel(v) : FixedLabel(v, m_xAxis.Digits, locale);
        });
    m_xTickPos = std::move(x.TickPos);
    m_xLabels = std::move(x.Labels);

    m_secondaryAxis = SecondaryYAxis();
    m_y2TickPos.clear();
    m_y2Labels.clear();
    if (m_secondaryAxis >= 0) {
        const Axis& b = m_yAxes[m_secondaryAxis];
        TickLayout y2 = LayoutTicks(
            b, [&](double v) { return ChartGeometry::ValueToY(v, b, m_plotRect); },
            [&](double v) { return FixedLabel(v, b.Digits, locale); });
        m_y2TickPos = std::move(y2.TickPos);
        m_y2Labels = std::move(y2.Labels);
    }

    for (auto& entry : m_curves) {
        Curve& c = *entry.second;
        c.Points = PlotCurve(c, m_xAxis, m_yAxes[c.YAxis], m_plotRect);
    }
    m_cachedPlotRect = m_plotRect;
    m_needsRecalc = false;
    m_bufferValid = false;
    emit ChartRescaled();
}

void TMultiChart::AutoYAxisDigits(double step)
{
    SetYAxisDigits(ChartGeometry::DigitsFor(step));
}

void TMultiChart::AutoXAxisDigits(double step)
{
    SetXAxisDigits(ChartGeometry::DigitsFor(step));
}

int TMultiChart::ValueToY(double value, int axisIndex) const
{
    return ChartGeometry::ValueToY(value, m_yAxes[std::clamp(axisIndex, 0, kValueAxisCount - 1)],
                                   m_plotRect);
}

int TMultiChart::ValueToX(double time) const
{
    return ChartGeometry::ValueToX(time, m_xAxis, m_plotRect);
}

double TMultiChart::YToValue(int row, int axisIndex) const
{
    return ChartGeometry::YToValue(row, m_yAxes[std::clamp(axisIndex, 0, kValueAxisCount - 1)],
                                   m_plotRect);
}

double TMultiChart::XToValue(int column) const
{
    return ChartGeometry::XToValue(column, m_xAxis, m_plotRect);
}

void TMultiChart::AnnounceZooming()
{
    emit ChartZooming();
}

// ---- properties -----------------------------------------------------------

void TMultiChart::SetActiveYAxis(int index)
{
    if (index < 0 || index >= kValueAxisCount)
        return;  // a damaged diagram file must not select a missing axis
    m_activeYAxis = index;
    Changed();
}

void TMultiChart::setYAxisField(double Axis::*field, double v)
{
    activeAxis().*field = v;
    Changed();
}

void TMultiChart::setXAxisField(double Axis::*field, double v)
{
    m_xAxis.*field = v;
    Changed();
}

void TMultiChart::SetYAxisMinValue(double v) { setYAxisField(&Axis::MinValue, v); }
void TMultiChart::SetYAxisMaxValue(double v) { setYAxisField(&Axis::MaxValue, v); }
void TMultiChart::SetYAxisStartValue(double v) { setYAxisField(&Axis::StartValue, v); }
void TMultiChart::SetYAxisEndValue(double v) { setYAxisField(&Axis::EndValue, v); }
void TMultiChart::SetYAxisFactor(double v) { setYAxisField(&Axis::Factor, v); }
void TMultiChart::SetYAxisDigits(int v) { activeAxis().Digits = v; Changed(); }
void TMultiChart::SetYAxisNumSegments(int v) { activeAxis().NumSegments = v; Changed(); }
void TMultiChart::SetYAxisNumSubSegments(int v) { activeAxis().NumSubSegments = v; Changed(); }
void TMultiChart::SetYAxisUnitText(const QString& text) { activeAxis().UnitText = text; Changed(); }

double TMultiChart::YAxisRange() const
{
    return activeAxis().EndValue - activeAxis().StartValue;
}
double TMultiChart::YAxisSegmentRange() const
{
    return YAxisRange() / activeAxis().NumSegments;
}
double TMultiChart::YAxisSubSegmentRange() const
{
    return YAxisSegmentRange() / activeAxis().NumSubSegments;
}

void TMultiChart::SetXAxisMinValue(double v) { setXAxisField(&Axis::MinValue, v); }
void TMultiChart::SetXAxisMaxValue(double v) { setXAxisField(&Axis::MaxValue, v); }
void TMultiChart::SetXAxisStartValue(double v) { setXAxisField(&Axis::StartValue, v); }
void TMultiChart::SetXAxisEndValue(double v) { setXAxisField(&Axis::EndValue, v); }
void TMultiChart::SetXAxisFactor(double v) { setXAxisField(&Axis::Factor, v); }
void TMultiChart::SetXAxisDigits(int v) { m_xAxis.Digits = v; Changed(); }
void TMultiChart::SetXAxisNumSegments(int v) { m_xAxis.NumSegments = v; Changed(); }
void TMultiChart::SetXAxisNumSubSegments(int v) { m_xAxis.NumSubSegments = v; Changed(); }

double TMultiChart::XAxisRange() const
{
    return m_xAxis.EndValue - m_xAxis.StartValue;
}
double TMultiChart::XAxisSegmentRange() const
{
    return XAxisRange() / m_xAxis.NumSegments;
}
double TMultiChart::XAxisSubSegmentRange() const
{
    return XAxisSegmentRange() / m_xAxis.NumSubSegments;
}

void TMultiChart::SetXAxisIsTimeAxis(bool on)
{
    m_xAxisIsTimeAxis = on;
    Changed();
}

void TMultiChart::SetFrameStyle(FRAMESTYLE style)
{
    m_frameStyle = style;
    Changed();
}

void TMultiChart::SetGridVisible(bool on)
{
    m_gridVisible = on;
    m_bufferValid = false;
    update();
}

void TMultiChart::SetTextVisible(bool on)
{
    m_textVisible = on;
    m_bufferValid = false;
    update();
}

void TMultiChart::SetLegendVisible(bool on)
{
    m_legendVisible = on;
    m_bufferValid = false;
    update();
}

int TMultiChart::SecondaryYAxis() const
{
    int axis = -1;
    for (const auto& entry : m_curves) {
        const int a = entry.second->YAxis;
        if (a != m_activeYAxis && (axis < 0 || a < axis))
            axis = a;
    }
    return axis;
}

QRect TMultiChart::ZoomRect() const
{
    QRect r;
    r.setCoords(m_zoomLeft, m_zoomTop, m_zoomRight, m_zoomBottom);
    return r;
}

// ---- painting -------------------------------------------------------------

QRect TMultiChart::screenPlotArea() const
{
    return ChartGeometry::ScreenPlotArea(width(), height(), m_textVisible, SecondaryYAxis() >= 0);
}

void TMultiChart::PaintTo(QPainter& painter, bool monochrome)
{
    m_plotRect = screenPlotArea();
    // Switching the texts moves the plot area; the cache must follow it.
    if (m_needsRecalc || m_plotRect != m_cachedPlotRect)
        Recalculate();
    const bool reuse = m_bufferValid && m_zooming && !monochrome && m_buffer.size() == size();
    if (!reuse) {
        if (m_buffer.size() != size())
            m_buffer = QImage(size(), QImage::Format_RGB32);
        QPainter bufferPainter(&m_buffer);
        bufferPainter.setFont(font());
        Render(bufferPainter, monochrome, rect(), 1.0, m_legendVisible);
        m_bufferValid = !monochrome;
    }
    painter.drawImage(0, 0, m_buffer);
    if (m_zooming) {
        painter.save();
        painter.setPen(QPen(Qt::black, 1, Qt::DotLine));
        painter.setBrush(Qt::NoBrush);
        const QRect z = ZoomRect().normalized();
        painter.drawRect(z.left(), z.top(), z.width() - 2, z.height() - 2);
        painter.restore();
    }
}

void TMultiChart::PaintOnCanvas(QPainter& painter, int pixelsPerInch, bool monochrome)
{
    painter.save();
    painter.setFont(QFont(font(), painter.device()));
    m_plotRect = ChartGeometry::ForeignPlotArea(pixelsPerInch);
    Recalculate();
    Render(painter, monochrome, QRect(), std::max(1.0, pixelsPerInch / 96.0));
    painter.restore();
    // The next screen paint must recalculate for the window again.
    m_plotRect = screenPlotArea();
    Changed();
}

QImage TMultiChart::CopyToPicture(bool monochrome)
{
    QImage picture(size(), QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter p(&picture);
    const bool wasZooming = m_zooming;
    m_zooming = false;
    PaintTo(p, monochrome);
    m_zooming = wasZooming;
    return picture;
}

void TMultiChart::Render(QPainter& painter, bool monochrome, const QRect& background,
                         double lineScale, bool legend) const
{
    painter.save();
    if (!background.isNull())
        painter.fillRect(background, monochrome ? QColor(Qt::white)
                                                : palette().color(QPalette::Window));
    painter.setBrush(Qt::NoBrush);
    painter.setBackgroundMode(Qt::TransparentMode);
    drawAxes(painter, monochrome, lineScale);
    drawCurves(painter, monochrome, lineScale);
    m_legendRect = legend ? drawLegend(painter, monochrome) : QRect();
    painter.restore();
}

void TMultiChart::drawAxes(QPainter& p, bool monochrome, double lineScale) const
{
    const QColor penColor = monochrome ? QColor(Qt::black) : palette().color(QPalette::WindowText);
    const int thin = lineScale > 1.0 ? static_cast<int>(lineScale) : 1;
    const QPen pen(penColor, thin, Qt::SolidLine);
    const QPen gridPen(GridColor(monochrome), thin, Qt::DotLine);
    p.setPen(pen);

    const QFontMetrics fm = p.fontMetrics();
    const ChartGeometry::TickMetrics tm =
        ChartGeometry::MetricsFor(fm.horizontalAdvance(QLatin1Char('0')), fm.height());
    const QRect& plot = m_cachedPlotRect;
    // Frame edges: one pixel outside the plot area on every side.
    const int fLeft = plot.left() - 1;
    const int fTop = plot.top() - 1;
    const int fRight = plot.left() + plot.width();
    const int fBottom = plot.top() + plot.height();

    // Value axis.
    // Labels that would overlap the last one drawn are left out; ticks and
    // grid lines stay.
    const int ySub = ChartGeometry::LayoutSubSegments(activeAxis());
    const int yTicks = static_cast<int>(m_yTickPos.size());
    int lastLabelRow = INT_MIN / 2;
    for (int j = 0; j < m_yLabels.size(); ++j) {
        const int i = j * ySub;
        if (i >= yTicks)
            break;
        const int row = m_yTickPos[i];
        if (m_textVisible)
            p.drawLine(fLeft - tm.Major, row, fLeft, row);
        if (m_gridVisible) {
            p.setPen(gridPen);
            p.drawLine(fLeft, row, fRight, row);
            p.setPen(pen);
        }
        if (m_textVisible) {
            if (std::abs(row - lastLabelRow) >= fm.height()) {
                DrawTextRightTop(p, fLeft - tm.Major - tm.HalfWidth, row - tm.HalfHeight,
                                 m_yLabels[j]);
                lastLabelRow = row;
            }
            for (int k = 1; k < ySub && i + k < yTicks; ++k)
                p.drawLine(fLeft - tm.Minor, m_yTickPos[i + k], fLeft, m_yTickPos[i + k]);
        }
    }
    if (m_textVisible && yTicks > 0)
        DrawTextRightBottom(p, fLeft - tm.Major, m_yTickPos.back() - tm.HalfHeight,
                            activeAxis().UnitText);

    // Time axis.
    const int xSub = ChartGeometry::LayoutSubSegments(m_xAxis);
    const int xTicks = static_cast<int>(m_xTickPos.size());
    int lastLabelCol = INT_MIN / 2;
    int lastLabelHalf = 0;
    for (int j = 0; j < m_xLabels.size(); ++j) {
        const int i = j * xSub;
        if (i >= xTicks)
            break;
        const int col = m_xTickPos[i];
        if (m_textVisible)
            p.drawLine(col, fBottom + tm.Major, col, fBottom);
        if (m_gridVisible) {
            p.setPen(gridPen);
            p.drawLine(col, fBottom, col, fTop);
            p.setPen(pen);
        }
        if (m_textVisible) {
            const int half = fm.horizontalAdvance(m_xLabels[j]) / 2;
            if (std::abs(col - lastLabelCol) > lastLabelHalf + half + tm.HalfWidth) {
                DrawTextCentreTop(p, col, fBottom + tm.Major + tm.HalfHeight, m_xLabels[j]);
                lastLabelCol = col;
                lastLabelHalf = half;
            }
            for (int k = 1; k < xSub && i + k < xTicks; ++k)
                p.drawLine(m_xTickPos[i + k], fBottom, m_xTickPos[i + k], fBottom + tm.Minor);
        }
    }

    if (m_textVisible && m_secondaryAxis >= 0)
        drawSecondaryAxis(p, pen, fRight, tm.Major, tm.HalfWidth, tm.HalfHeight, tm.Minor);

    // Frame.
    switch (m_frameStyle) {
    case fsAxes:
        p.drawLine(fLeft, fTop, fLeft, fBottom);
        p.drawLine(fLeft, fBottom, fRight, fBottom);
        break;
    case fsFull: {
        p.drawRect(fLeft, fTop, fRight - fLeft, fBottom - fTop);
        const QColor inner = monochrome ? QColor(Qt::black) : palette().color(QPalette::Window);
        p.setPen(QPen(inner, thin));
        p.drawRect(fLeft + 1, fTop + 1, fRight - fLeft - 2, fBottom - fTop - 2);
        p.setPen(pen);
        break;
    }
    case fsNone:
    default:
        break;
    }
}

void TMultiChart::drawCurves(QPainter& p, bool monochrome, double lineScale) const
{
    p.save();
    p.setClipRect(m_cachedPlotRect);
    QPolygon polyline;
    QVector<QLine> segments;
    for (const auto& entry : m_curves) {
        const Curve& c = *entry.second;
        const PlotPoint* points = c.Points.data();
        const size_t count = c.Points.size();
        size_t runStart = 0;
        while (runStart < count) {
            // One run of points with the same phase is one polyline; a new
            // phase starts with a move, never with a line from the old one.
            const int16_t phase = points[runStart].Phase;
            size_t runEnd = runStart + 1;
            while (runEnd < count && points[runEnd].Phase == phase)
                ++runEnd;
            const bool knownPhase = phase >= 0 && phase < kLineStyleCount;
            const LineStyle style = knownPhase ? c.Styles[phase] : LineStyle{0, psClear, 0};
            if (runEnd - runStart >= 2 && style.Width > 0 && style.Style != psClear) {
                p.setPen(CurvePen(style, monochrome, lineScale));
                polyline.clear();
                if (style.Style == psSolid) {
                    size_t col = runStart;
                    while (col < runEnd) {
                        size_t colEnd = col + 1;
                        while (colEnd < runEnd && points[colEnd].X == points[col].X)
                            ++colEnd;
                        AppendColumn(polyline, points + col, points + colEnd);
                        col = colEnd;
                    }
                } else {
                    // A dash pattern runs along the whole line; keep every point.
                    polyline.reserve(static_cast<int>(runEnd - runStart));
                    for (size_t i = runStart; i < runEnd; ++i)
                        polyline.append(QPoint(points[i].X, points[i].Y));
                }
                if (style.Style == psSolid && polyline.size() >= 2) {
                    // Separate segments: a wide pen strokes a long, self-overlapping
                    // polyline as one huge path, which costs seconds; round caps
                    // join the segments as cleanly as round joins would.
                    segments.clear();
                    segments.reserve(polyline.size() - 1);
                    for (int i = 1; i < polyline.size(); ++i)
                        segments.append(QLine(polyline[i - 1], polyline[i]));
                    p.drawLines(segments);
                } else if (polyline.size() >= 2) {
                    p.drawPolyline(polyline);
                }
            }
            runStart = runEnd;
        }
    }
    p.restore();
}

void TMultiChart::drawSecondaryAxis(QPainter& p, const QPen& pen, int fRight, int major,
                                    int halfWidth, int halfHeight, int minor) const
{
    const Axis& b = m_yAxes[m_secondaryAxis];
    const int sub = ChartGeometry::LayoutSubSegments(b);
    const int ticks = static_cast<int>(m_y2TickPos.size());
    const int textHeight = p.fontMetrics().height();
    int lastLabelRow = INT_MIN / 2;
    p.setPen(pen);
    for (int j = 0; j < m_y2Labels.size(); ++j) {
        const int i = j * sub;
        if (i >= ticks)
            break;
        const int row = m_y2TickPos[i];
        p.drawLine(fRight, row, fRight + major, row);
        if (std::abs(row - lastLabelRow) >= textHeight) {
            DrawTextLeftTop(p, fRight + major + halfWidth, row - halfHeight, m_y2Labels[j]);
            lastLabelRow = row;
        }
        for (int k = 1; k < sub && i + k < ticks; ++k)
            p.drawLine(fRight, m_y2TickPos[i + k], fRight + minor, m_y2TickPos[i + k]);
    }
    if (ticks > 0)
        DrawTextLeftBottom(p, fRight + major, m_y2TickPos.back() - halfHeight, b.UnitText);
}

QRect TMultiChart::drawLegend(QPainter& p, bool monochrome) const
{
    if (m_curves.empty())
        return QRect();
    const QRect& plot = m_cachedPlotRect;
    const QFontMetrics fm = p.fontMetrics();
    const int pad = 4;
    const int sample = 14;  // length of one phase's line sample
    const int lineHeight = fm.height();
    const int maxWidth = plot.width() - 2 * pad;
    const int maxLines = (plot.height() - 2 * pad - 2 * pad) / lineHeight;
    if (maxWidth < 4 * sample || maxLines < 1)
        return QRect();  // no room for a readable legend

    const int count = static_cast<int>(m_curves.size());
    const int shown = std::min(count, maxLines);
    int textWidth = 0;
    for (const auto& entry : m_curves)
        textWidth = std::max(textWidth, fm.horizontalAdvance(entry.first));
    const int textLeft = pad + 2 * sample + pad + pad;
    const int width = std::min(maxWidth, textLeft + textWidth + 2 * pad);
    const int height = shown * lineHeight + 2 * pad;
    // The corner of the plot area that hides the fewest curve points.
    const int right = plot.left() + plot.width() - pad - width;
    const int bottom = plot.top() + plot.height() - pad - height;
    const QRect corners[4] = {
        QRect(right, plot.top() + pad, width, height),
        QRect(plot.left() + pad, plot.top() + pad, width, height),
        QRect(right, bottom, width, height),
        QRect(plot.left() + pad, bottom, width, height),
    };
    QRect box = corners[0];
    size_t fewest = SIZE_MAX;
    for (const QRect& corner : corners) {
        size_t hidden = 0;
        for (const auto& entry : m_curves)
            for (const PlotPoint& point : entry.second->Points)
                hidden += corner.contains(point.X, point.Y) ? 1 : 0;
        if (hidden < fewest) {
            fewest = hidden;
            box = corner;
        }
    }

    p.save();
    p.setClipRect(plot);
    QColor fill = monochrome ? QColor(Qt::white) : palette().color(QPalette::Window);
    fill.setAlpha(225);
    p.fillRect(box, fill);
    p.setPen(QPen(GridColor(monochrome), 1));
    p.drawRect(box.adjusted(0, 0, -1, -1));
    const QColor textColor =
        monochrome ? QColor(Qt::black) : palette().color(QPalette::WindowText);
    int y = box.top() + pad;
    int index = 0;
    for (const auto& entry : m_curves) {
        const Curve& c = *entry.second;
        const int ym = y + lineHeight / 2;
        const int x = box.left() + pad;
        for (int phase = 0; phase < 2; ++phase) {
            const LineStyle& style = c.Styles[phase];
            if (style.Width <= 0 || style.Style == psClear)
                continue;
            p.setPen(CurvePen(style, monochrome, 1.0));
            p.drawLine(x + phase * sample + 2, ym, x + (phase + 1) * sample - 2, ym);
        }
        p.setPen(textColor);
        QString text = entry.first;
        if (index == shown - 1 && shown < count)
            text = QStringLiteral("… (+%1)").arg(count - shown + 1);
        text = fm.elidedText(text, Qt::ElideRight, box.width() - textLeft - pad + 1);
        p.drawText(QRect(box.left() + textLeft, y, box.width() - textLeft, lineHeight),
                   Qt::AlignLeft | Qt::AlignVCenter, text);
        y += lineHeight;
        if (++index == shown)
            break;
    }
    p.restore();
    return box;
}

// ---- events ---------------------------------------------------------------

void TMultiChart::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    PaintTo(painter, false);
}

void TMultiChart::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_plotRect = screenPlotArea();
    Changed();
}

void TMultiChart::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_valueText->show();
    setFocus(Qt::MouseFocusReason);
    const QPoint pos = event->position().toPoint();
    m_zoomLeft = m_zoomRight = pos.x();
    m_zoomTop = m_zoomBottom = pos.y();
    m_zooming = true;
    m_bufferValid = false;
}

void TMultiChart::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    const QRect plot = m_plotRect;
    if (pos.x() >= plot.left() && pos.x() < plot.left() + plot.width() && pos.y() >= plot.top()
        && pos.y() < plot.top() + plot.height()) {
        setCursor(Qt::CrossCursor);
        m_valueText->setText(ChartGeometry::FixedLabel(YToValue(pos.y(), m_activeYAxis),
                                                       YAxisDigits() + 1));
        m_valueText->adjustSize();
        m_valueText->move(pos.x() + 2, pos.y() - m_valueText->height());
    } else {
        unsetCursor();
        m_valueText->hide();
    }
    if (m_zooming) {
        invalidateZoomRect();
        m_zoomRight = pos.x();
        m_zoomBottom = pos.y();
        invalidateZoomRect();
    }
}

void TMultiChart::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    m_valueText->hide();
    if (!m_zooming)
        return;
    const QPoint pos = event->position().toPoint();
    m_zoomRight = pos.x();
    m_zoomBottom = pos.y();
    m_zooming = false;
    m_bufferValid = false;
    // A drag up or to the left counts as empty.
    if (m_zoomRight > m_zoomLeft && m_zoomBottom > m_zoomTop) {
        AnnounceZooming();
        applyZoom();
    }
    update();
}

void TMultiChart::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    if (m_zooming) {
        m_zooming = false;
        invalidateZoomRect();
    }
}

void TMultiChart::invalidateZoomRect()
{
    update(ZoomRect().normalized().adjusted(-1, -1, 1, 1));
}

void TMultiChart::applyZoom()
{
    const ChartGeometry::AxisZoom y = ChartGeometry::ZoomValueAxis(
        activeAxis(), YToValue(m_zoomBottom, m_activeYAxis), YToValue(m_zoomTop, m_activeYAxis));
    if (y.Apply) {
        Axis& a = activeAxis();
        a.StartValue = y.Start;
        a.EndValue = y.End;
        a.NumSegments = y.NumSegments;
        a.Digits = y.Digits;
    }
    const ChartGeometry::AxisZoom x = ChartGeometry::ZoomTimeAxis(
        m_xAxis, XToValue(m_zoomLeft), XToValue(m_zoomRight), m_xAxisIsTimeAxis);
    if (x.Apply) {
        m_xAxis.StartValue = x.Start;
        m_xAxis.EndValue = x.End;
        m_xAxis.NumSegments = x.NumSegments;
        m_xAxis.Digits = x.Digits;
    }
    Changed();
}
