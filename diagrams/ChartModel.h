#pragma once
// Data model of the chart: axes, curves with their measured points, line
// styles per phase and the cached pixel positions, and the scene that holds
// them with how the chart is shown.

#include <QColor>
#include <QString>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
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

enum FRAMESTYLE : uint8_t
{
    fsNone = 0,
    fsAxes = 1,
    fsFull = 2
};

// What a chart shows, apart from where: three value axes with the active
// one, the time axis, the frame, which parts are visible, and the curves,
// keyed by name in ascending order.
struct ChartScene
{
    struct ByName
    {
        bool operator()(const QString& a, const QString& b) const
        {
            return QString::compare(a, b, Qt::CaseSensitive) < 0;
        }
    };
    using CurveMap = std::map<QString, std::unique_ptr<Curve>, ByName>;
    static constexpr int ValueAxisCount = 3;

    Axis YAxes[ValueAxisCount];
    int ActiveYAxis = 0;
    Axis XAxis;
    bool XAxisIsTimeAxis = false;
    FRAMESTYLE FrameStyle = fsNone;
    bool GridVisible = true;
    bool TextVisible = true;
    bool LegendVisible = true;
    CurveMap Curves;

    Axis& ActiveAxis() { return YAxes[ActiveYAxis]; }
    const Axis& ActiveAxis() const { return YAxes[ActiveYAxis]; }
    // The value axis labelled at the right edge: the first axis other than
    // the active one that carries a curve, or -1.
    int SecondaryYAxis() const
    {
        int axis = -1;
        for (const auto& entry : Curves) {
            const int a = entry.second->YAxis;
            if (a != ActiveYAxis && (axis < 0 || a < axis))
                axis = a;
        }
        return axis;
    }
};
