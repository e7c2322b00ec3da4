#pragma once
// ChartRenderer: lays a chart scene out on a plot rectangle and draws it with
// a painter: axes, grid, labels, frame, curves and the legend. The window,
// the printed page, the PDF and the bitmap all draw through it; the widget
// keeps only what is interactive (zoom rectangle, value under the pointer).

#include "diagrams/ChartModel.h"

#include <QColor>
#include <QPen>
#include <QRect>
#include <QStringList>

#include <vector>

class QPainter;

// Where the ticks, labels and curve points of a scene fall on one plot
// rectangle.
struct ChartLayout
{
    QRect Plot;
    std::vector<int> YTickPos;
    QStringList YLabels;
    std::vector<int> XTickPos;
    QStringList XLabels;
    int SecondaryAxis = -1;   // the axis the right-hand ticks belong to
    std::vector<int> Y2TickPos;
    QStringList Y2Labels;
};

// How a scene is drawn on one device.
struct ChartLook
{
    bool Monochrome = false;
    double LineScale = 1.0;    // line widths are multiplied by it (pixels of a printer are tiny)
    bool Legend = false;
    QRect Background;          // filled first unless null
    QColor Window = Qt::white; // the window's background and text colours
    QColor Text = Qt::black;
};

class ChartRenderer
{
public:
    // Ticks and labels of the axes, and every curve's cached pixel points,
    // for the plot rectangle.
    static ChartLayout Layout(ChartScene& scene, const QRect& plot);
    // Draws the scene as laid out; returns where the legend went (empty
    // when it was not drawn).
    static QRect Draw(QPainter& painter, const ChartScene& scene, const ChartLayout& layout,
                      const ChartLook& look);
    // Both in one, for a page or an image.
    static QRect Paint(QPainter& painter, ChartScene& scene, const QRect& plot, const ChartLook& look);

    static Qt::PenStyle PenStyle(uint8_t style);
    // A curve line. From width 3 on, square caps stick out as burrs where two
    // segments meet at an angle: such lines get round caps and joins.
    static QPen CurvePen(const LineStyle& style, bool monochrome, double lineScale);

private:
    ChartRenderer(QPainter& painter, const ChartScene& drawn, const ChartLayout& placed,
                  const ChartLook& style);
    void drawAxes() const;
    void drawSecondaryAxis(const QPen& pen, int fRight, int major, int halfWidth, int halfHeight,
                           int minor) const;
    void drawCurves() const;
    QRect drawLegend() const;
    QColor textColour() const;
    QColor windowColour() const;

    QPainter& p;
    const ChartScene& scene;
    const ChartLayout& layout;
    const ChartLook& look;
};
