#include "livecontrol/Instruments.h"

#include <QFontMetrics>
#include <QLocale>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

constexpr double Pi = 3.14159265358979323846;

double ClampUnit(double t) { return std::min(1.0, std::max(0.0, t)); }

// Angle of the ray from the rectangle's centre to p, counter-clockwise from
// 3 o'clock, in degrees 0..360 (screen y grows downward).
double RayAngle(const QRectF& rect, QPoint p)
{
    const QPointF c = rect.center();
    double degrees = std::atan2(c.y() - p.y(), p.x() - c.x()) * 180.0 / Pi;
    if (degrees < 0.0)
        degrees += 360.0;
    return degrees;
}

}  // namespace

// ---- scale model --------------------------------------------------------------------

double ScaleModel::Normalize(double value, bool clamp) const
{
    const double t = (value / Factor - Start) / Range;
    return clamp ? ClampUnit(t) : t;
}

double ScaleModel::ValueAt(double t, bool applyFactor, bool clamp) const
{
    if (clamp)
        t = ClampUnit(t);
    double v = t * Range + Start;
    if (applyFactor)
        v *= Factor;
    return v;
}

// ---- arc geometry -------------------------------------------------------------------

void ArcScala::SetArc(unsigned numPoints, QPoint leftEnd, QPoint centre)
{
    ArcPoints.assign(numPoints, QPoint());
    cx = centre.x();
    cy = centre.y();
    const double dx = cx - leftEnd.x() + 1;
    const double dy = cy - leftEnd.y() + 1;
    radius = std::sqrt(dx * dx + dy * dy);
    totalAngle = radius > 0.0 ? 2.0 * std::asin(std::min(1.0, dx / radius)) : 0.0;
    if (numPoints == 0)
        return;
    ArcPoints[0] = leftEnd;
    for (unsigned i = 1; i < numPoints; ++i)
        ArcPoints[i] = PointAt(static_cast<double>(i) / (numPoints - 1), 0.0);
}

QPoint ArcScala::PointAt(double t, double offset) const
{
    const double a = (t - 0.5) * totalAngle;
    const double r = radius + offset;
    return {static_cast<int>(cx + 0.5 + std::sin(a) * r),
            static_cast<int>(cy + 0.5 - std::cos(a) * r)};
}

QRect ArcScala::BoundingRect() const
{
    const int left = static_cast<int>(cx - radius + 1);
    const int top = static_cast<int>(cy - radius + 1);
    const int right = static_cast<int>(cx + radius - 1);
    const int bottom = static_cast<int>(cy + radius - 1);
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

QPoint ArcGaugeCentre(const ClientBounds& client)
{
    return {client.Width() / 2, client.bottom - 5};
}

QPoint ArcGaugeLeftEnd(const ClientBounds& client)
{
    return {client.left + 25, client.bottom - 15};
}

std::vector<QPoint> CalcDashEnds(const Scala& scala, unsigned segments, unsigned subSegments,
                                 int shortDashLength, int longDashLength)
{
    const unsigned intervals = segments * subSegments;
    std::vector<QPoint> ends;
    ends.reserve(intervals + 1);
    for (unsigned i = 0; i <= intervals; ++i) {
        const int length = (i % subSegments == 0) ? longDashLength : shortDashLength;
        ends.push_back(scala.PointAt(static_cast<double>(i) / intervals, length));
    }
    return ends;
}

QStringList CalcLabelTexts(const ScaleModel& scale, unsigned segments, unsigned digits)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    QStringList texts;
    for (unsigned i = 0; i <= segments; ++i) {
        const double v = scale.ValueAt(static_cast<double>(i) / segments, false, false);
        texts << locale.toString(v, 'f', static_cast<int>(digits));
    }
    return texts;
}

std::vector<QPoint> CalcLabelAnchors(const Scala& scala, unsigned segments, int textOffset)
{
    std::vector<QPoint> anchors;
    anchors.reserve(segments + 1);
    for (unsigned i = 0; i <= segments; ++i)
        anchors.push_back(scala.PointAt(static_cast<double>(i) / segments, textOffset));
    return anchors;
}

void CentreLabelAnchors(std::vector<QPoint>& anchors, const QStringList& texts,
                        const QFontMetrics& metrics)
{
    const int halfHeight = metrics.height() / 2;
    const size_t n = std::min(anchors.size(), static_cast<size_t>(texts.size()));
    for (size_t i = 0; i < n; ++i) {
        const int halfWidth = metrics.horizontalAdvance(texts[static_cast<int>(i)]) / 2;
        anchors[i] -= QPoint(halfWidth, halfHeight);
    }
}

QRect NeedleArea(QPoint centre, QPoint tip, unsigned needleWidth)
{
    const int w = static_cast<int>(needleWidth);
    const int left = std::min(centre.x(), tip.x()) - w;
    const int right = std::max(centre.x(), tip.x()) + w;
    const int top = std::min(centre.y(), tip.y()) - w;
    const int bottom = std::max(centre.y(), tip.y()) + w;
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

ArcAngles ArcBetween(const QRect& rect, QPoint from, QPoint to)
{
    const QRectF r(rect);
    const double start = RayAngle(r, from);
    double span = RayAngle(r, to) - start;
    if (span < 0.0)
        span += 360.0;
    return {start, span};
}

// ---- TCustomGauge -------------------------------------------------------------------

TCustomGauge::TCustomGauge(std::unique_ptr<Scala> scaleGeometry, QWidget* parent)
    : QWidget(parent), scala(std::move(scaleGeometry))
{
    setAutoFillBackground(true);
}

TCustomGauge::~TCustomGauge() = default;

ClientBounds TCustomGauge::Bounds() const
{
    const QSize size = designSize.isEmpty() ? this->size() : designSize;
    return ClientBounds::OfSize(size.width(), size.height());
}

void TCustomGauge::SetDesignSize(const QSize& size)
{
    designSize = size;
    RecalcAll();
    update();
}

QTransform TCustomGauge::DrawingTransform() const
{
    if (designSize.isEmpty())
        return QTransform();
    const double factor = std::min(double(width()) / designSize.width(), double(height()) / designSize.height());
    QTransform transform;
    transform.translate((width() - factor * designSize.width()) / 2, (height() - factor * designSize.height()) / 2);
    transform.scale(factor, factor);
    return transform;
}

void TCustomGauge::BeginPainting(QPainter& painter)
{
    const QTransform transform = DrawingTransform();
    if (transform.isIdentity())
        return;
    painter.setTransform(transform);
    // Scaled lines and text look ragged without it.
    painter.setRenderHint(QPainter::Antialiasing);
}

void TCustomGauge::RecalcAll()
{
    CalcGeometry();
    CalcDashes();
    CalcLabelPositions();
    CalcNeedle();
}

void TCustomGauge::SetStart(double newStart)
{
    if (newStart == scale.End)
        return;
    scale.Start = newStart;
    scale.Range = scale.End - scale.Start;
    CalcLabels();
    update();
}

void TCustomGauge::SetEnd(double newEnd)
{
    if (newEnd == scale.Start)
        return;
    scale.End = newEnd;
    scale.Range = scale.End - scale.Start;
    CalcLabels();
    update();
}

void TCustomGauge::SetFactor(double newFactor)
{
    if (newFactor == 0.0)
        return;
    scale.Factor = newFactor;
    update();
}

void TCustomGauge::SetSegments(unsigned count)
{
    if (count == 0)
        return;
    segments = count;
    CalcGeometry();
    CalcDashes();
    CalcLabelPositions();
    update();
}

void TCustomGauge::SetSubSegments(unsigned count)
{
    if (count == 0)
        return;
    subSegments = count;
    CalcGeometry();
    CalcDashes();
    CalcLabelPositions();
    update();
}

void TCustomGauge::SetShortDashLength(int pixels)
{
    shortDashLength = pixels;
    CalcDashes();
    update();
}

void TCustomGauge::SetLongDashLength(int pixels)
{
    longDashLength = pixels;
    CalcDashes();
    update();
}

void TCustomGauge::SetTextOffset(int pixels)
{
    textOffset = pixels;
    CalcGeometry();
    CalcDashes();
    CalcLabelPositions();
    update();
}

void TCustomGauge::SetDigits(unsigned count)
{
    if (count > 3)
        return;
    digits = count;
    CalcLabelPositions();
    update();
}

void TCustomGauge::SetValue(double newValue)
{
    InvalidateNeedle();
    value = newValue;
    CalcNeedle();
    InvalidateNeedle();
}

void TCustomGauge::CalcLabels()
{
    labelTexts = CalcLabelTexts(scale, segments, digits);
}

void TCustomGauge::CalcLabelPositions()
{
    CalcLabels();
    labelPoints = CalcLabelAnchors(*scala, segments, textOffset);
}

void TCustomGauge::CalcDashes()
{
    dashEnds = CalcDashEnds(*scala, segments, subSegments, shortDashLength, longDashLength);
}

void TCustomGauge::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    CalcGeometry();
    CalcDashes();
    CalcLabelPositions();
}

void TCustomGauge::PaintScale(QPainter& painter)
{
    // A disabled gauge (no fresh value) is drawn grey.
    painter.setPen(QPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                        QPalette::WindowText),
                        1));
    const auto& arcPoints = scala->ArcPoints;
    const size_t dashes = std::min(arcPoints.size(), dashEnds.size());
    for (size_t i = 0; i < dashes; ++i)
        painter.drawLine(arcPoints[i], dashEnds[i]);

    painter.setFont(font());
    painter.setBackgroundMode(Qt::TransparentMode);
    const QFontMetrics metrics(font());
    const size_t labels = std::min(labelPoints.size(), static_cast<size_t>(labelTexts.size()));
    for (size_t i = 0; i < labels; ++i) {
        // Anchors are top-left corners; drawText wants the base line.
        painter.drawText(labelPoints[i] + QPoint(0, metrics.ascent()),
                         labelTexts[static_cast<int>(i)]);
    }
}

void TCustomGauge::paintEvent(QPaintEvent*)
{
    CalcNeedle();
    QPainter painter(this);
    BeginPainting(painter);
    PaintScale(painter);
}

// ---- TArcGauge ----------------------------------------------------------------------

TArcGauge::TArcGauge(QWidget* parent) : TCustomGauge(std::make_unique<ArcScala>(), parent)
{
    RecalcAll();
}

const ArcScala& TArcGauge::Arc() const
{
    return static_cast<const ArcScala&>(Geometry());
}

QRect TArcGauge::CurrentNeedleArea() const
{
    return NeedleArea(Arc().Centre(), needleTip, needleWidth);
}

void TArcGauge::SetNeedleWidth(unsigned pixels)
{
    needleWidth = pixels;
    update();
}

void TArcGauge::SetNeedleOffset(int pixels)
{
    needleOffset = pixels;
    CalcNeedle();
    update();
}

void TArcGauge::SetArcStyle(ARCSTYLE style)
{
    arcStyle = style;
    update();
}

void TArcGauge::CalcGeometry()
{
    const ClientBounds client = Bounds();
    static_cast<ArcScala&>(MutableGeometry())
        .SetArc(NumPoints(), ArcGaugeLeftEnd(client), ArcGaugeCentre(client));
}

void TArcGauge::CalcLabelPositions()
{
    TCustomGauge::CalcLabelPositions();
    CentreLabelAnchors(labelPoints, LabelTexts(), QFontMetrics(font()));
}

void TArcGauge::CalcNeedle()
{
    needleTip = Arc().PointAt(Scale().Normalize(Value(), true), needleOffset);
}

void TArcGauge::InvalidateNeedle()
{
    const QTransform transform = DrawingTransform();
    if (transform.isIdentity())
        update(CurrentNeedleArea());
    else
        update(transform.mapRect(CurrentNeedleArea()).adjusted(-2, -2, 2, 2));  // antialiased edges
}

void TArcGauge::paintEvent(QPaintEvent*)
{
    CalcNeedle();
    QPainter painter(this);
    BeginPainting(painter);
    PaintScale(painter);

    const ArcScala& arc = Arc();
    if (arcStyle != asNone && !arc.ArcPoints.empty()) {
        const QPoint rightEnd = arc.ArcPoints.back();
        const QPoint leftEnd = arc.ArcPoints.front();
        QRect rect = arc.BoundingRect();
        if (arcStyle == asInner || arcStyle == asBoth) {
            const ArcAngles angles = ArcBetween(rect, rightEnd, leftEnd);
            painter.drawArc(QRectF(rect), qRound(angles.startDegrees * 16),
                            qRound(angles.spanDegrees * 16));
        }
        const int grow = std::max(LongDashLength(), ShortDashLength());
        rect.adjust(-grow, -grow, grow, grow);
        if (arcStyle == asOuter || arcStyle == asBoth) {
            const ArcAngles angles = ArcBetween(rect, rightEnd, leftEnd);
            painter.drawArc(QRectF(rect), qRound(angles.startDegrees * 16),
                            qRound(angles.spanDegrees * 16));
        }
    }

    const QColor needle = isEnabled() ? QColor(255, 0, 0) : QColor(160, 160, 160);
    painter.setPen(QPen(needle, static_cast<int>(needleWidth)));
    painter.drawLine(arc.Centre(), needleTip);
}
