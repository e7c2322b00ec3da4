#pragma once
// The two small display components of the live control window: a pie sector
// and a scrolling strip chart.

#include <QColor>
#include <QWidget>

#include <deque>

// A filled sector inside the widget's bounds. Angles are in degrees,
// counter-clockwise from 3 o'clock; the sector runs counter-clockwise from
// StartAngle to EndAngle. A span of 360 degrees or more fills the whole disc,
// a span of 0 or less draws nothing.
class TPie : public QWidget {
    Q_OBJECT
public:
    explicit TPie(QWidget* parent = nullptr);

    int StartAngle() const { return startAngle; }
    int EndAngle() const { return endAngle; }
    void SetAngles(int start, int end);
    void SetStartAngle(int degrees);
    void SetEndAngle(int degrees);

    QColor BrushColor() const { return brushColor; }
    void SetBrushColor(const QColor& color);

    // Counter-clockwise span that is painted, limited to 0..360.
    int PaintedSpan() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int startAngle = 0;
    int endAngle = 90;
    QColor brushColor = Qt::white;
};

// A strip chart: every DataPoint call scrolls the chart left by StepSize pixels
// and adds one point (a colour and a height 0..100 percent of the chart) at the
// right edge, joined to the previous point by a line in the new point's colour.
class TPerformanceGraph : public QWidget {
    Q_OBJECT
public:
    struct Point {
        QColor color;
        int height = 0;
    };

    explicit TPerformanceGraph(QWidget* parent = nullptr);

    void DataPoint(const QColor& color, int height);
    void Clear();

    int StepSize() const { return stepSize; }
    void SetStepSize(int pixels);
    int GridSize() const { return gridSize; }
    void SetGridSize(int pixels) { gridSize = pixels; update(); }
    bool GridLines() const { return gridLines; }
    void SetGridLines(bool on) { gridLines = on; update(); }
    QColor Foreground() const { return foreground; }
    void SetForeground(const QColor& color) { foreground = color; update(); }
    QColor Background() const { return background; }
    void SetBackground(const QColor& color);

    // The points still visible, oldest first.
    const std::deque<Point>& Points() const { return points; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    size_t Capacity() const;
    void DropInvisible();

    std::deque<Point> points;
    int stepSize = 1;
    int gridSize = 20;
    bool gridLines = false;
    QColor foreground = Qt::lightGray;
    QColor background = Qt::gray;
};

// A circle (ring) shape: pen width 2 in the brush colour's frame, filled with
// the brush colour when Filled, else only the ring.
class TCircleShape : public QWidget {
    Q_OBJECT
public:
    explicit TCircleShape(QWidget* parent = nullptr);

    QColor BrushColor() const { return brushColor; }
    void SetBrushColor(const QColor& color);
    bool Filled() const { return filled; }
    void SetFilled(bool solid);
    int PenWidth() const { return penWidth; }
    void SetPenWidth(int pixels);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor brushColor = Qt::white;
    bool filled = false;
    int penWidth = 1;
};
