#pragma once
// Analogue gauges: a linear value scale drawn along an arc, with dashes, labels
// and a red needle. Everything derived from size and settings is computed once
// into point and text lists (plain functions below, callable without painting);
// paintEvent only draws those lists.

#include <QColor>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QStringList>
#include <QTransform>
#include <QWidget>

#include <memory>
#include <vector>

class QFontMetrics;

// Client area the way the geometry rules see it: right and bottom are the
// width and height (one past the last pixel), so a 95 x 60 area is (0, 0, 95, 60).
struct ClientBounds {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    static ClientBounds OfSize(int width, int height) { return {0, 0, width, height}; }
    int Width() const { return right - left; }
};

// Linear value scale of a gauge. Range always equals End - Start.
struct ScaleModel {
    double Factor = 1.0;
    double Start = 0.0;
    double End = 100.0;
    double Range = 100.0;

    // Position 0..1 of a value on the scale; Factor divides the value first.
    double Normalize(double value, bool clamp) const;
    // Value at position t; applyFactor multiplies the result by Factor.
    double ValueAt(double t, bool applyFactor, bool clamp) const;
};

// Geometry of a scale: the points along it at the scale's own radius.
class Scala {
public:
    virtual ~Scala() = default;
    // Pixel point at position t (0 left end .. 1 right end), offset pixels outward.
    virtual QPoint PointAt(double t, double offset) const = 0;
    std::vector<QPoint> ArcPoints;
};

class ArcScala : public Scala {
public:
    // numPoints entries in ArcPoints, entry 0 is leftEnd itself.
    void SetArc(unsigned numPoints, QPoint leftEnd, QPoint centre);
    QPoint PointAt(double t, double offset) const override;
    QRect BoundingRect() const;

    int CentreX() const { return cx; }
    int CentreY() const { return cy; }
    QPoint Centre() const { return {cx, cy}; }
    double Radius() const { return radius; }
    double TotalAngle() const { return totalAngle; }   // radians

private:
    int cx = 0;
    int cy = 0;
    double radius = 0.0;
    double totalAngle = 0.0;
};

// Placement of the arc inside a gauge's client area.
QPoint ArcGaugeCentre(const ClientBounds& client);
QPoint ArcGaugeLeftEnd(const ClientBounds& client);

// Outer end of every dash; dashes at segment boundaries are long.
std::vector<QPoint> CalcDashEnds(const Scala& scala, unsigned segments, unsigned subSegments,
                                 int shortDashLength, int longDashLength);
// Segments + 1 label texts in fixed notation with the default locale's decimal separator.
QStringList CalcLabelTexts(const ScaleModel& scale, unsigned segments, unsigned digits);
// Segments + 1 label anchors, textOffset pixels outside the arc (not yet centred).
std::vector<QPoint> CalcLabelAnchors(const Scala& scala, unsigned segments, int textOffset);
// Moves every anchor left by half its text's width and up by half the height of "0".
void CentreLabelAnchors(std::vector<QPoint>& anchors, const QStringList& texts,
                        const QFontMetrics& metrics);
// Rectangle spanned by the pivot and the needle tip, grown by the needle width.
QRect NeedleArea(QPoint centre, QPoint tip, unsigned needleWidth);

// An arc for QPainter::drawArc: angles in degrees, counter-clockwise from 3 o'clock.
struct ArcAngles {
    double startDegrees = 0.0;
    double spanDegrees = 0.0;
};
// Arc inside rect from the ray towards `from` counter-clockwise to the ray towards `to`.
ArcAngles ArcBetween(const QRect& rect, QPoint from, QPoint to);

class TCustomGauge : public QWidget {
    Q_OBJECT
public:
    ~TCustomGauge() override;

    double Start() const { return scale.Start; }
    double End() const { return scale.End; }
    double Factor() const { return scale.Factor; }
    double Range() const { return scale.Range; }
    unsigned NumPoints() const { return segments * subSegments + 1; }
    unsigned Segments() const { return segments; }
    unsigned SubSegments() const { return subSegments; }
    int ShortDashLength() const { return shortDashLength; }
    int LongDashLength() const { return longDashLength; }
    int TextOffset() const { return textOffset; }
    unsigned Digits() const { return digits; }
    double Value() const { return value; }
    const ScaleModel& Scale() const { return scale; }

    void SetStart(double newStart);           // ignored when equal to End
    void SetEnd(double newEnd);               // ignored when equal to Start
    void SetFactor(double newFactor);         // ignored when 0
    void SetSegments(unsigned count);         // ignored when 0
    void SetSubSegments(unsigned count);      // ignored when 0
    void SetShortDashLength(int pixels);
    void SetLongDashLength(int pixels);
    void SetTextOffset(int pixels);
    void SetDigits(unsigned count);           // ignored when above 3
    void SetValue(double newValue);           // repaints only around the old and new needle

    // With a design size, the geometry is laid out for that size and the
    // drawing scaled to the widget, centred and in proportion: a larger gauge
    // grows as a whole (dashes, labels and needle too), not only its arc. An
    // empty size (the default) lays the geometry out for the widget's size.
    void SetDesignSize(const QSize& size);
    QSize DesignSize() const { return designSize; }
    // Design pixels to widget pixels (the identity without a design size).
    QTransform DrawingTransform() const;

    const QStringList& LabelTexts() const { return labelTexts; }
    const std::vector<QPoint>& LabelPoints() const { return labelPoints; }
    const std::vector<QPoint>& DashEnds() const { return dashEnds; }
    const Scala& Geometry() const { return *scala; }

protected:
    explicit TCustomGauge(std::unique_ptr<Scala> scaleGeometry, QWidget* parent);

    virtual void CalcGeometry() = 0;
    virtual void CalcLabelPositions();
    virtual void CalcDashes();
    virtual void CalcLabels();
    virtual void CalcNeedle() = 0;
    virtual void InvalidateNeedle() = 0;

    // Recomputes everything that depends on the size; subclasses call it once
    // constructed, since virtual calls from the base constructor do not reach them.
    void RecalcAll();
    ClientBounds Bounds() const;
    // A painter on the widget, scaled to the design size when there is one.
    void BeginPainting(class QPainter& painter);

    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    // Dashes and labels; the painter's pen is left as the dashes used it.
    void PaintScale(class QPainter& painter);

    Scala& MutableGeometry() { return *scala; }
    std::vector<QPoint> labelPoints;

private:
    ScaleModel scale;
    unsigned segments = 5;
    unsigned subSegments = 4;
    int shortDashLength = 4;
    int longDashLength = 8;
    int textOffset = 15;
    unsigned digits = 0;
    double value = 0.0;
    QSize designSize;

    QStringList labelTexts;
    std::vector<QPoint> dashEnds;
    std::unique_ptr<Scala> scala;
};

enum ARCSTYLE { asNone = 0, asInner = 1, asOuter = 2, asBoth = 3 };

class TArcGauge : public TCustomGauge {
    Q_OBJECT
public:
    explicit TArcGauge(QWidget* parent = nullptr);

    unsigned NeedleWidth() const { return needleWidth; }
    int NeedleOffset() const { return needleOffset; }
    ARCSTYLE ArcStyle() const { return arcStyle; }
    QPoint NeedleTip() const { return needleTip; }
    // The rectangle repainted around the current needle when the value changes.
    QRect CurrentNeedleArea() const;
    const ArcScala& Arc() const;

    void SetNeedleWidth(unsigned pixels);
    void SetNeedleOffset(int pixels);
    void SetArcStyle(ARCSTYLE style);

protected:
    void CalcGeometry() override;
    void CalcLabelPositions() override;
    void CalcNeedle() override;
    void InvalidateNeedle() override;
    void paintEvent(QPaintEvent* event) override;

private:
    unsigned needleWidth = 1;
    int needleOffset = 0;
    ARCSTYLE arcStyle = asInner;
    QPoint needleTip;
};
