#include "livecontrol/SampleComponents.h"

#include <QPainter>
#include <QResizeEvent>

#include <algorithm>

// ---- TPie ---------------------------------------------------------------------------

TPie::TPie(QWidget* parent) : QWidget(parent) {}

void TPie::SetAngles(int start, int end)
{
    startAngle = start;
    endAngle = end;
    update();
}

void TPie::SetStartAngle(int degrees) { SetAngles(degrees, endAngle); }

void TPie::SetEndAngle(int degrees) { SetAngles(startAngle, degrees); }

void TPie::SetBrushColor(const QColor& color)
{
    brushColor = color;
    update();
}

int TPie::PaintedSpan() const
{
    return std::clamp(endAngle - startAngle, 0, 360);
}

void TPie::paintEvent(QPaintEvent*)
{
    const int span = PaintedSpan();
    if (span == 0)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(brushColor);
    const QRect bounds = rect().adjusted(0, 0, -1, -1);
    if (span == 360)
        painter.drawEllipse(bounds);
    else
        painter.drawPie(bounds, startAngle * 16, span * 16);
}

// ---- TPerformanceGraph --------------------------------------------------------------

TPerformanceGraph::TPerformanceGraph(QWidget* parent) : QWidget(parent)
{
    SetBackground(background);
}

void TPerformanceGraph::SetStepSize(int pixels)
{
    stepSize = std::max(1, pixels);
    DropInvisible();
    update();
}

void TPerformanceGraph::SetBackground(const QColor& color)
{
    background = color;
    QPalette pal = palette();
    pal.setColor(QPalette::Window, background);
    setPalette(pal);
    setAutoFillBackground(true);
    update();
}

void TPerformanceGraph::DataPoint(const QColor& color, int height)
{
    points.push_back({color, std::clamp(height, 0, 100)});
    DropInvisible();
}

void TPerformanceGraph::Clear()
{
    points.clear();
    update();
}

size_t TPerformanceGraph::Capacity() const
{
    // One more than fits, so that the oldest line still enters from the left edge.
    return static_cast<size_t>(std::max(1, width()) / stepSize + 2);
}

void TPerformanceGraph::DropInvisible()
{
    while (points.size() > Capacity())
        points.pop_front();
}

void TPerformanceGraph::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    DropInvisible();
}

void TPerformanceGraph::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int w = width();
    const int h = height();

    if (gridLines && gridSize > 0) {
        painter.setPen(foreground);
        // The grid scrolls with the data, so it is anchored at the newest point.
        const int shift = static_cast<int>((points.size() * stepSize) % gridSize);
        for (int x = w - 1 - shift; x >= 0; x -= gridSize)
            painter.drawLine(x, 0, x, h - 1);
        for (int y = h - 1; y >= 0; y -= gridSize)
            painter.drawLine(0, y, w - 1, y);
    }

    const auto yOf = [h](int height) { return (h - 1) - (h - 1) * height / 100; };
    int x = w - 1;
    // Disabled (no fresh value): the history is drawn grey.
    const auto pen = [this](const QColor& color) {
        return isEnabled() ? color : QColor(160, 160, 160);
    };
    for (size_t i = points.size(); i-- > 1;) {
        painter.setPen(pen(points[i].color));
        painter.drawLine(x, yOf(points[i].height), x - stepSize, yOf(points[i - 1].height));
        x -= stepSize;
    }
    if (points.size() == 1) {
        painter.setPen(pen(points.front().color));
        painter.drawPoint(x, yOf(points.front().height));
    }
}

// ---- TCircleShape -------------------------------------------------------------------

TCircleShape::TCircleShape(QWidget* parent) : QWidget(parent) {}

void TCircleShape::SetBrushColor(const QColor& color)
{
    brushColor = color;
    update();
}

void TCircleShape::SetFilled(bool solid)
{
    filled = solid;
    update();
}

void TCircleShape::SetPenWidth(int pixels)
{
    penWidth = std::max(0, pixels);
    update();
}

void TCircleShape::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(penWidth > 0 ? QPen(palette().color(QPalette::WindowText), penWidth) : QPen(Qt::NoPen));
    painter.setBrush(filled ? QBrush(brushColor) : QBrush(Qt::NoBrush));
    const int inset = (penWidth + 1) / 2;
    const int side = std::min(width(), height()) - 2 * inset;
    painter.drawEllipse(QRect(inset, inset, side, side));
}
