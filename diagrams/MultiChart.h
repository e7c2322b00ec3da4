#pragma once
// TMultiChart: the program's chart control. Holds named curves of measured
// values over a time axis against one of three value axes, draws them through
// the chart renderer (which caches the pixel positions of all points), shows
// the value under the pointer while the left button is held and zooms to a
// dragged rectangle.

#include "diagrams/ChartRenderer.h"

#include <QImage>
#include <QStringList>
#include <QWidget>

#include <vector>

class QLabel;
class QPainter;

class TMultiChart : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kValueAxisCount = ChartScene::ValueAxisCount;

    explicit TMultiChart(QWidget* parent = nullptr);
    ~TMultiChart() override;

    // Curves, keyed by name; map order is ascending by name. A curve on the
    // current axis (1) gets colours of its own, so it cannot be mistaken for
    // a voltage curve.
    Curve* AddCurve(const QString& name, int yAxis);  // replaces a curve of that name
    void AddPoint(const QString& name, double time, double value, int phase);
    void RemoveCurve(const QString& name);
    Curve* GetCurve(const QString& name) const;       // null when absent
    int CurveCount() const;
    void FirstCurve();
    QString NextCurveName();                          // empty after the last
    QStringList CurveNames() const;

    // Marks the cached ticks and points stale and schedules a repaint.
    virtual void Changed();
    // Rebuilds ticks, labels and every curve's points for the current plot
    // area, then emits ChartRescaled.
    virtual void Recalculate();

    // Paints the control as on its own window: into an off-screen image of
    // the control's size, then onto the painter at (0, 0).
    void PaintTo(QPainter& painter, bool monochrome);
    // Paints onto a foreign canvas (printer) with the fixed page layout: plot
    // area one inch from the left, 1.5 inches from the top, 6 x 4 inches.
    void PaintOnCanvas(QPainter& painter, int pixelsPerInch, bool monochrome);
    // The control's image, as copied to the clipboard or a bitmap file.
    QImage CopyToPicture(bool monochrome);

    void AutoYAxisDigits(double step);
    void AutoXAxisDigits(double step);

    int ValueToY(double value, int axisIndex) const;
    int ValueToX(double time) const;
    double YToValue(int row, int axisIndex) const;
    double XToValue(int column) const;

    // Announces that new axis ranges are about to be applied (zoom or the
    // property dialog), so the diagram window can save the current ones.
    void AnnounceZooming();

    // Active value axis properties.
    int ActiveYAxis() const { return m_scene.ActiveYAxis; }
    void SetActiveYAxis(int index);  // indexes outside 0..2 are ignored
    double YAxisMinValue() const { return m_scene.ActiveAxis().MinValue; }
    void SetYAxisMinValue(double v);
    double YAxisMaxValue() const { return m_scene.ActiveAxis().MaxValue; }
    void SetYAxisMaxValue(double v);
    double YAxisStartValue() const { return m_scene.ActiveAxis().StartValue; }
    void SetYAxisStartValue(double v);
    double YAxisEndValue() const { return m_scene.ActiveAxis().EndValue; }
    void SetYAxisEndValue(double v);
    double YAxisFactor() const { return m_scene.ActiveAxis().Factor; }
    void SetYAxisFactor(double v);
    int YAxisDigits() const { return m_scene.ActiveAxis().Digits; }
    void SetYAxisDigits(int v);
    int YAxisNumSegments() const { return m_scene.ActiveAxis().NumSegments; }
    void SetYAxisNumSegments(int v);
    int YAxisNumSubSegments() const { return m_scene.ActiveAxis().NumSubSegments; }
    void SetYAxisNumSubSegments(int v);
    double YAxisRange() const;
    double YAxisSegmentRange() const;
    double YAxisSubSegmentRange() const;
    QString YAxisUnitText() const { return m_scene.ActiveAxis().UnitText; }
    void SetYAxisUnitText(const QString& text);

    // Time axis properties.
    double XAxisMinValue() const { return m_scene.XAxis.MinValue; }
    void SetXAxisMinValue(double v);
    double XAxisMaxValue() const { return m_scene.XAxis.MaxValue; }
    void SetXAxisMaxValue(double v);
    double XAxisStartValue() const { return m_scene.XAxis.StartValue; }
    void SetXAxisStartValue(double v);
    double XAxisEndValue() const { return m_scene.XAxis.EndValue; }
    void SetXAxisEndValue(double v);
    double XAxisFactor() const { return m_scene.XAxis.Factor; }
    void SetXAxisFactor(double v);
    int XAxisDigits() const { return m_scene.XAxis.Digits; }
    void SetXAxisDigits(int v);
    int XAxisNumSegments() const { return m_scene.XAxis.NumSegments; }
    void SetXAxisNumSegments(int v);
    int XAxisNumSubSegments() const { return m_scene.XAxis.NumSubSegments; }
    void SetXAxisNumSubSegments(int v);
    double XAxisRange() const;
    double XAxisSegmentRange() const;
    double XAxisSubSegmentRange() const;
    bool XAxisIsTimeAxis() const { return m_scene.XAxisIsTimeAxis; }
    void SetXAxisIsTimeAxis(bool on);

    FRAMESTYLE FrameStyle() const { return m_scene.FrameStyle; }
    void SetFrameStyle(FRAMESTYLE style);
    bool GridVisible() const { return m_scene.GridVisible; }
    void SetGridVisible(bool on);   // repaint only, no recalculation
    bool TextVisible() const { return m_scene.TextVisible; }
    void SetTextVisible(bool on);   // repaint only, no recalculation
    // The legend of the window (curve names in their colours and styles);
    // a printed page has its own legend below the chart.
    bool LegendVisible() const { return m_scene.LegendVisible; }
    void SetLegendVisible(bool on); // repaint only, no recalculation

    // The value axis labelled at the right edge: the first axis other than
    // the active one that carries a curve, or -1.
    int SecondaryYAxis() const { return m_scene.SecondaryYAxis(); }
    const std::vector<int>& Y2TickPos() const { return m_layout.Y2TickPos; }
    const QStringList& Y2Labels() const { return m_layout.Y2Labels; }
    // Where the legend was drawn last (empty when it was not).
    QRect LegendRect() const { return m_legendRect; }

    // Read access to the state the drawing is built from.
    const ChartScene& Scene() const { return m_scene; }
    const Axis& YAxis(int index) const { return m_scene.YAxes[index]; }
    const Axis& XAxis() const { return m_scene.XAxis; }
    const std::vector<int>& YTickPos() const { return m_layout.YTickPos; }
    const QStringList& YLabels() const { return m_layout.YLabels; }
    const std::vector<int>& XTickPos() const { return m_layout.XTickPos; }
    const QStringList& XLabels() const { return m_layout.XLabels; }
    QRect PlotRect() const { return m_plotRect; }
    bool NeedsRecalc() const { return m_needsRecalc; }
    bool Zooming() const { return m_zooming; }
    QRect ZoomRect() const;  // left, top, right, bottom as dragged (not normalized)

signals:
    void ChartRescaled();  // after every Recalculate
    void ChartZooming();   // just before new axis ranges are applied

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    QRect screenPlotArea() const;
    ChartLook look(bool monochrome) const;
    void applyZoom();
    void invalidateZoomRect();
    void setYAxisField(double Axis::*field, double v);
    void setXAxisField(double Axis::*field, double v);

    QLabel* m_valueText = nullptr;
    ChartScene m_scene;
    ChartLayout m_layout;     // for the plot area the cached ticks and points belong to
    bool m_needsRecalc = true;
    QRect m_plotRect;
    QRect m_legendRect;
    bool m_zooming = false;
    int m_zoomLeft = 0, m_zoomTop = 0, m_zoomRight = 0, m_zoomBottom = 0;
    QString m_cursorName;
    bool m_cursorStarted = false;
    QImage m_buffer;          // last rendered image, reused while dragging a zoom
    bool m_bufferValid = false;
};
