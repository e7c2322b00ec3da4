#include "diagrams/ChartRenderer.h"

#include "diagrams/ChartGeometry.h"

#include <QLine>
#include <QLocale>
#include <QPainter>
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

ChartLayout ChartRenderer::Layout(ChartScene& scene, const QRect& plot)
{
    using namespace ChartGeometry;
    ChartLayout layout;
    layout.Plot = plot;
    const Axis& a = scene.ActiveAxis();
    const QLocale locale;
    TickLayout y = LayoutTicks(
        a, [&](double v) { return ChartGeometry::ValueToY(v, a, plot); },
        [&](double v) { return FixedLabel(v, a.Digits, locale); });
    layout.YTickPos = std::move(y.TickPos);
    layout.YLabels = std::move(y.Labels);

    const Axis& t = scene.XAxis;
    TickLayout x = LayoutTicks(
        t, [&](double v) { return ChartGeometry::ValueToX(v, t, plot); },
        [&](double v) { return scene.XAxisIsTimeAxis ? TimeLabel(v) : FixedLabel(v, t.Digits, locale); });
    layout.XTickPos = std::move(x.TickPos);
    layout.XLabels = std::move(x.Labels);

    layout.SecondaryAxis = scene.SecondaryYAxis();
    if (layout.SecondaryAxis >= 0) {
        const Axis& b = scene.YAxes[layout.SecondaryAxis];
        TickLayout y2 = LayoutTicks(
            b, [&](double v) { return ChartGeometry::ValueToY(v, b, plot); },
            [&](double v) { return FixedLabel(v, b.Digits, locale); });
        layout.Y2TickPos = std::move(y2.TickPos);
        layout.Y2Labels = std::move(y2.Labels);
    }

    for (auto& entry : scene.Curves) {
        Curve& c = *entry.second;
        PlotCurveInto(c, scene.XAxis, scene.YAxes[c.YAxis], plot, c.Points);
    }
    return layout;
}

QRect ChartRenderer::Draw(QPainter& painter, const ChartScene& scene, const ChartLayout& layout,
                          const ChartLook& look)
{
    const ChartRenderer renderer(painter, scene, layout, look);
    painter.save();
    if (!look.Background.isNull())
        painter.fillRect(look.Background, renderer.windowColour());
    painter.setBrush(Qt::NoBrush);
    painter.setBackgroundMode(Qt::TransparentMode);
    renderer.drawAxes();
    renderer.drawCurves();
    const QRect legend = look.Legend ? renderer.drawLegend() : QRect();
    painter.restore();
    return legend;
}

QRect ChartRenderer::Paint(QPainter& painter, ChartScene& scene, const QRect& plot, const ChartLook& look)
{
    const ChartLayout layout = Layout(scene, plot);
    return Draw(painter, scene, layout, look);
}

Qt::PenStyle ChartRenderer::PenStyle(uint8_t style)
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

QPen ChartRenderer::CurvePen(const LineStyle& style, bool monochrome, double lineScale)
{
    // Thinner lines keep square caps, which draw in half the time.
    QPen pen(monochrome ? QColor(Qt::black) : ColorFromValue(style.Color));
    const int width = static_cast<int>(style.Width * lineScale);
    pen.setWidth(width);
    pen.setStyle(PenStyle(style.Style));
    if (width >= 3) {
        pen.setCapStyle(Qt::RoundCap);
        pen.setJoinStyle(Qt::RoundJoin);
    }
    return pen;
}

ChartRenderer::ChartRenderer(QPainter& painter, const ChartScene& drawn, const ChartLayout& placed,
                             const ChartLook& style)
    : p(painter), scene(drawn), layout(placed), look(style)
{
}

QColor ChartRenderer::textColour() const
{
    return look.Monochrome ? QColor(Qt::black) : look.Text;
}

QColor ChartRenderer::windowColour() const
{
    return look.Monochrome ? QColor(Qt::white) : look.Window;
}

void ChartRenderer::drawAxes() const
{
    const QColor penColor = textColour();
    const int thin = look.LineScale > 1.0 ? static_cast<int>(look.LineScale) : 1;
    const QPen pen(penColor, thin, Qt::SolidLine);
    const QPen gridPen(GridColor(look.Monochrome), thin, Qt::DotLine);
    p.setPen(pen);

    const QFontMetrics fm = p.fontMetrics();
    const ChartGeometry::TickMetrics tm =
        ChartGeometry::MetricsFor(fm.horizontalAdvance(QLatin1Char('0')), fm.height());
    const QRect& plot = layout.Plot;
    // Frame edges: one pixel outside the plot area on every side.
    const int fLeft = plot.left() - 1;
    const int fTop = plot.top() - 1;
    const int fRight = plot.left() + plot.width();
    const int fBottom = plot.top() + plot.height();

    // Value axis.
    // Labels that would overlap the last one drawn are left out; ticks and
    // grid lines stay.
    const int ySub = ChartGeometry::LayoutSubSegments(scene.ActiveAxis());
    const int yTicks = static_cast<int>(layout.YTickPos.size());
    int lastLabelRow = INT_MIN / 2;
    for (int j = 0; j < layout.YLabels.size(); ++j) {
        const int i = j * ySub;
        if (i >= yTicks)
            break;
        const int row = layout.YTickPos[i];
        if (scene.TextVisible)
            p.drawLine(fLeft - tm.Major, row, fLeft, row);
        if (scene.GridVisible) {
            p.setPen(gridPen);
            p.drawLine(fLeft, row, fRight, row);
            p.setPen(pen);
        }
        if (scene.TextVisible) {
            if (std::abs(row - lastLabelRow) >= fm.height()) {
                DrawTextRightTop(p, fLeft - tm.Major - tm.HalfWidth, row - tm.HalfHeight,
                                 layout.YLabels[j]);
                lastLabelRow = row;
            }
            for (int k = 1; k < ySub && i + k < yTicks; ++k)
                p.drawLine(fLeft - tm.Minor, layout.YTickPos[i + k], fLeft, layout.YTickPos[i + k]);
        }
    }
    if (scene.TextVisible && yTicks > 0)
        DrawTextRightBottom(p, fLeft - tm.Major, layout.YTickPos.back() - tm.HalfHeight,
                            scene.ActiveAxis().UnitText);

    // Time axis.
    const int xSub = ChartGeometry::LayoutSubSegments(scene.XAxis);
    const int xTicks = static_cast<int>(layout.XTickPos.size());
    int lastLabelCol = INT_MIN / 2;
    int lastLabelHalf = 0;
    for (int j = 0; j < layout.XLabels.size(); ++j) {
        const int i = j * xSub;
        if (i >= xTicks)
            break;
        const int col = layout.XTickPos[i];
        if (scene.TextVisible)
            p.drawLine(col, fBottom + tm.Major, col, fBottom);
        if (scene.GridVisible) {
            p.setPen(gridPen);
            p.drawLine(col, fBottom, col, fTop);
            p.setPen(pen);
        }
        if (scene.TextVisible) {
            const int half = fm.horizontalAdvance(layout.XLabels[j]) / 2;
            if (std::abs(col - lastLabelCol) > lastLabelHalf + half + tm.HalfWidth) {
                DrawTextCentreTop(p, col, fBottom + tm.Major + tm.HalfHeight, layout.XLabels[j]);
                lastLabelCol = col;
                lastLabelHalf = half;
            }
            for (int k = 1; k < xSub && i + k < xTicks; ++k)
                p.drawLine(layout.XTickPos[i + k], fBottom, layout.XTickPos[i + k], fBottom + tm.Minor);
        }
    }

    if (scene.TextVisible && layout.SecondaryAxis >= 0)
        drawSecondaryAxis(pen, fRight, tm.Major, tm.HalfWidth, tm.HalfHeight, tm.Minor);

    // Frame.
    switch (scene.FrameStyle) {
    case fsAxes:
        p.drawLine(fLeft, fTop, fLeft, fBottom);
        p.drawLine(fLeft, fBottom, fRight, fBottom);
        break;
    case fsFull: {
        p.drawRect(fLeft, fTop, fRight - fLeft, fBottom - fTop);
        const QColor inner = look.Monochrome ? QColor(Qt::black) : look.Window;
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

void ChartRenderer::drawCurves() const
{
    p.save();
    p.setClipRect(layout.Plot);
    QPolygon polyline;
    QVector<QLine> segments;
    for (const auto& entry : scene.Curves) {
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
                p.setPen(CurvePen(style, look.Monochrome, look.LineScale));
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

void ChartRenderer::drawSecondaryAxis(const QPen& pen, int fRight, int major, int halfWidth,
                                      int halfHeight, int minor) const
{
    const Axis& b = scene.YAxes[layout.SecondaryAxis];
    const int sub = ChartGeometry::LayoutSubSegments(b);
    const int ticks = static_cast<int>(layout.Y2TickPos.size());
    const int textHeight = p.fontMetrics().height();
    int lastLabelRow = INT_MIN / 2;
    p.setPen(pen);
    for (int j = 0; j < layout.Y2Labels.size(); ++j) {
        const int i = j * sub;
        if (i >= ticks)
            break;
        const int row = layout.Y2TickPos[i];
        p.drawLine(fRight, row, fRight + major, row);
        if (std::abs(row - lastLabelRow) >= textHeight) {
            DrawTextLeftTop(p, fRight + major + halfWidth, row - halfHeight, layout.Y2Labels[j]);
            lastLabelRow = row;
        }
        for (int k = 1; k < sub && i + k < ticks; ++k)
            p.drawLine(fRight, layout.Y2TickPos[i + k], fRight + minor, layout.Y2TickPos[i + k]);
    }
    if (ticks > 0)
        DrawTextLeftBottom(p, fRight + major, layout.Y2TickPos.back() - halfHeight, b.UnitText);
}

QRect ChartRenderer::drawLegend() const
{
    if (scene.Curves.empty())
        return QRect();
    const QRect& plot = layout.Plot;
    const QFontMetrics fm = p.fontMetrics();
    const int pad = 4;
    const int sample = 14;  // length of one phase's line sample
    const int lineHeight = fm.height();
    const int maxWidth = plot.width() - 2 * pad;
    const int maxLines = (plot.height() - 2 * pad - 2 * pad) / lineHeight;
    if (maxWidth < 4 * sample || maxLines < 1)
        return QRect();  // no room for a readable legend

    const int count = static_cast<int>(scene.Curves.size());
    const int shown = std::min(count, maxLines);
    int textWidth = 0;
    for (const auto& entry : scene.Curves)
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
        for (const auto& entry : scene.Curves)
            for (const PlotPoint& point : entry.second->Points)
                hidden += corner.contains(point.X, point.Y) ? 1 : 0;
        if (hidden < fewest) {
            fewest = hidden;
            box = corner;
        }
    }

    p.save();
    p.setClipRect(plot);
    QColor fill = windowColour();
    fill.setAlpha(225);
    p.fillRect(box, fill);
    p.setPen(QPen(GridColor(look.Monochrome), 1));
    p.drawRect(box.adjusted(0, 0, -1, -1));
    const QColor textColor =
        textColour();
    int y = box.top() + pad;
    int index = 0;
    for (const auto& entry : scene.Curves) {
        const Curve& c = *entry.second;
        const int ym = y + lineHeight / 2;
        const int x = box.left() + pad;
        for (int phase = 0; phase < 2; ++phase) {
            const LineStyle& style = c.Styles[phase];
            if (style.Width <= 0 || style.Style == psClear)
                continue;
            p.setPen(CurvePen(style, look.Monochrome, 1.0));
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
