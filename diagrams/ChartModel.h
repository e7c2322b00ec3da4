#pragma once
// Data model of the chart: axes, curves with their measured points, line
// styles per phase and the cached pixel positions.

#include <QColor>
#include <QString>

#include <array>
#include <cstdint>
#include <vector>

struct Axis
{
    double MinValue = 0.0;     // scrollable range, read by the diagram window only
    double MaxValue = 0.0;
    double StartValue = 0.0;   // bottom (y) or left (x) edge of the plot area
    double EndValue = 100.0;   // top (y) or right (x) edge
    double Factor = 1.0;       // kept and reported, never applied
    int32_t Digits = 0;        // decimals of the labels
    int32_t NumSegments = 4;   // labelled segments
    int32_t NumSubSegments = 5;// minor divisions per segment
    QString UnitText;
};

// Colours are kept as the 32-bit value blue * 65536 + green * 256 + red,
// the form stored in diagram files.
int32_t ColorValue(int red, int green, int blue);
QColor ColorFromValue(int32_t value);

enum PenStyleCode : uint8_t
{
    psSolid = 0,
    psDash = 1,
    psDot = 2,
    psDashDot = 3,
    psDashDotDot = 4,
    psClear = 5
};

struct LineStyle
{
    int32_t Color = 0;
    uint8_t Style = psSolid;
    int32_t Width = 1;   // 0: the phase is not drawn
};

struct PlotPoint
{
    int32_t X = 0;
    int32_t Y = 0;
    int16_t Phase = 0;
};

constexpr int kLineStyleCount = 10;

struct Curve
{
    // One measured point (the member below takes the plain name).
    struct DataPoint
    {
        float Time = 0.0f;   // seconds
        float Value = 0.0f;  // unit of the curve's axis
        int16_t Phase = 0;   // 0 discharge, 1 charge, 2 wait
    };

    std::vector<DataPoint> Data;                   // in the order added
    std::array<LineStyle, kLineStyleCount> Styles; // indexed by phase
    std::vector<PlotPoint> Points;                 // built by Recalculate
    bool OverlapPhases = false;                    // every phase run starts at time 0
    int32_t YAxis = 0;

    size_t PointCount() const { return Points.size(); }
};
