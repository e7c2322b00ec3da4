#include "diagrams/MultiChart.h"

#include "diagrams/ChartGeometry.h"

#include <QFocusEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

TMultiChart::TMultiChart(QWidget* parent) : QWidget(parent)
{
    for (Axis& a : m_scene.YAxes)
        a = Axis{};
    m_scene.XAxis.MinValue = 0.0;
    m_scene.XAxis.MaxValue = 604800.0;  // seven days
    m_scene.XAxis.StartValue = 0.0;
    m_scene.XAxis.EndValue = 600.0;
    m_scene.XAxis.NumSegments = 5;
    m_scene.XAxis.NumSubSegments = 4;

    m_valueText = new QLabel(QStringLiteral("000,000"), this);
    m_valueText->setObjectName(QStringLiteral("ValueText"));
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
    m_scene.Curves[name] = std::move(curve);
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
    if (m_scene.Curves.erase(name) > 0)
        Changed();
}

Curve* TMultiChart::GetCurve(const QString& name) const
{
    const auto it = m_scene.Curves.find(name);
    return it == m_scene.Curves.end() ? nullptr : it->second.get();
}

int TMultiChart::CurveCount() const
{
    return static_cast<int>(m_scene.Curves.size());
}

void TMultiChart::FirstCurve()
{
    m_cursorStarted = false;
    m_cursorName.clear();
}

QString TMultiChart::NextCurveName()
{
    // Continues after the last name given out, so removals in between are safe.
    const auto it = m_cursorStarted ? m_scene.Curves.upper_bound(m_cursorName) : m_scene.Curves.begin();
    if (it == m_scene.Curves.end())
        return QString();
    m_cursorStarted = true;
    m_cursorName = it->first;
    return it->first;
}

QStringList TMultiChart::CurveNames() const
{
    QStringList names;
    for (const auto& entry : m_scene.Curves)
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
    m_layout = ChartRenderer::Layout(m_scene, m_plotRect);
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
    return ChartGeometry::ValueToY(value, m_scene.YAxes[std::clamp(axisIndex, 0, kValueAxisCount - 1)],
                                   m_plotRect);
}

int TMultiChart::ValueToX(double time) const
{
    return ChartGeometry::ValueToX(time, m_scene.XAxis, m_plotRect);
}

double TMultiChart::YToValue(int row, int axisIndex) const
{
    return ChartGeometry::YToValue(row, m_scene.YAxes[std::clamp(axisIndex, 0, kValueAxisCount - 1)],
                                   m_plotRect);
}

double TMultiChart::XToValue(int column) const
{
    return ChartGeometry::XToValue(column, m_scene.XAxis, m_plotRect);
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
    m_scene.ActiveYAxis = index;
    Changed();
}

void TMultiChart::setYAxisField(double Axis::*field, double v)
{
    m_scene.ActiveAxis().*field = v;
    Changed();
}

void TMultiChart::setXAxisField(double Axis::*field, double v)
{
    m_scene.XAxis.*field = v;
    Changed();
}

void TMultiChart::SetYAxisMinValue(double v) { setYAxisField(&Axis::MinValue, v); }
void TMultiChart::SetYAxisMaxValue(double v) { setYAxisField(&Axis::MaxValue, v); }
void TMultiChart::SetYAxisStartValue(double v) { setYAxisField(&Axis::StartValue, v); }
void TMultiChart::SetYAxisEndValue(double v) { setYAxisField(&Axis::EndValue, v); }
void TMultiChart::SetYAxisFactor(double v) { setYAxisField(&Axis::Factor, v); }
void TMultiChart::SetYAxisDigits(int v) { m_scene.ActiveAxis().Digits = v; Changed(); }
void TMultiChart::SetYAxisNumSegments(int v) { m_scene.ActiveAxis().NumSegments = v; Changed(); }
void TMultiChart::SetYAxisNumSubSegments(int v) { m_scene.ActiveAxis().NumSubSegments = v; Changed(); }
void TMultiChart::SetYAxisUnitText(const QString& text) { m_scene.ActiveAxis().UnitText = text; Changed(); }

double TMultiChart::YAxisRange() const
{
    return m_scene.ActiveAxis().EndValue - m_scene.ActiveAxis().StartValue;
}
double TMultiChart::YAxisSegmentRange() const
{
    return YAxisRange() / m_scene.ActiveAxis().NumSegments;
}
double TMultiChart::YAxisSubSegmentRange() const
{
    return YAxisSegmentRange() / m_scene.ActiveAxis().NumSubSegments;
}

void TMultiChart::SetXAxisMinValue(double v) { setXAxisField(&Axis::MinValue, v); }
void TMultiChart::SetXAxisMaxValue(double v) { setXAxisField(&Axis::MaxValue, v); }
void TMultiChart::SetXAxisStartValue(double v) { setXAxisField(&Axis::StartValue, v); }
void TMultiChart::SetXAxisEndValue(double v) { setXAxisField(&Axis::EndValue, v); }
void TMultiChart::SetXAxisFactor(double v) { setXAxisField(&Axis::Factor, v); }
void TMultiChart::SetXAxisDigits(int v) { m_scene.XAxis.Digits = v; Changed(); }
void TMultiChart::SetXAxisNumSegments(int v) { m_scene.XAxis.NumSegments = v; Changed(); }
void TMultiChart::SetXAxisNumSubSegments(int v) { m_scene.XAxis.NumSubSegments = v; Changed(); }

double TMultiChart::XAxisRange() const
{
    return m_scene.XAxis.EndValue - m_scene.XAxis.StartValue;
}
double TMultiChart::XAxisSegmentRange() const
{
    return XAxisRange() / m_scene.XAxis.NumSegments;
}
double TMultiChart::XAxisSubSegmentRange() const
{
    return XAxisSegmentRange() / m_scene.XAxis.NumSubSegments;
}

void TMultiChart::SetXAxisIsTimeAxis(bool on)
{
    m_scene.XAxisIsTimeAxis = on;
    Changed();
}

void TMultiChart::SetFrameStyle(FRAMESTYLE style)
{
    m_scene.FrameStyle = style;
    Changed();
}

void TMultiChart::SetGridVisible(bool on)
{
    m_scene.GridVisible = on;
    m_bufferValid = false;
    update();
}

void TMultiChart::SetTextVisible(bool on)
{
    m_scene.TextVisible = on;
    m_bufferValid = false;
    update();
}

void TMultiChart::SetLegendVisible(bool on)
{
    m_scene.LegendVisible = on;
    m_bufferValid = false;
    update();
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
    return ChartGeometry::ScreenPlotArea(width(), height(), m_scene.TextVisible, SecondaryYAxis() >= 0);
}

void TMultiChart::PaintTo(QPainter& painter, bool monochrome)
{
    m_plotRect = screenPlotArea();
    // Switching the texts moves the plot area; the cache must follow it.
    if (m_needsRecalc || m_plotRect != m_layout.Plot)
        Recalculate();
    const bool reuse = m_bufferValid && m_zooming && !monochrome && m_buffer.size() == size();
    if (!reuse) {
        if (m_buffer.size() != size())
            m_buffer = QImage(size(), QImage::Format_RGB32);
        QPainter bufferPainter(&m_buffer);
        bufferPainter.setFont(font());
        ChartLook chartLook = look(monochrome);
        chartLook.Legend = m_scene.LegendVisible;
        chartLook.Background = rect();
        m_legendRect = ChartRenderer::Draw(bufferPainter, m_scene, m_layout, chartLook);
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
    ChartLook page = look(monochrome);
    page.LineScale = std::max(1.0, pixelsPerInch / 96.0);
    ChartRenderer::Paint(painter, m_scene, ChartGeometry::ForeignPlotArea(pixelsPerInch), page);
    painter.restore();
    // The curves' cached points are the page's now: the next screen paint
    // lays the window out again.
    Changed();
}

ChartLook TMultiChart::look(bool monochrome) const
{
    ChartLook chartLook;
    chartLook.Monochrome = monochrome;
    chartLook.Window = palette().color(QPalette::Window);
    chartLook.Text = palette().color(QPalette::WindowText);
    return chartLook;
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
        m_valueText->setText(ChartGeometry::FixedLabel(YToValue(pos.y(), m_scene.ActiveYAxis),
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
        m_scene.ActiveAxis(), YToValue(m_zoomBottom, m_scene.ActiveYAxis), YToValue(m_zoomTop, m_scene.ActiveYAxis));
    if (y.Apply) {
        Axis& a = m_scene.ActiveAxis();
        a.StartValue = y.Start;
        a.EndValue = y.End;
        a.NumSegments = y.NumSegments;
        a.Digits = y.Digits;
    }
    const ChartGeometry::AxisZoom x = ChartGeometry::ZoomTimeAxis(
        m_scene.XAxis, XToValue(m_zoomLeft), XToValue(m_zoomRight), m_scene.XAxisIsTimeAxis);
    if (x.Apply) {
        m_scene.XAxis.StartValue = x.Start;
        m_scene.XAxis.EndValue = x.End;
        m_scene.XAxis.NumSegments = x.NumSegments;
        m_scene.XAxis.Digits = x.Digits;
    }
    Changed();
}
