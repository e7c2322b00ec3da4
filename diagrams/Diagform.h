#pragma once
// TDiagramForm: one diagram page. Holds one chart with two scroll bars, knows
// which recorded treatments its curves show (curve keys), keeps a stack of
// earlier scalings for zooming back, and takes live points of the running
// treatments it shows.

#include "diagrams/MultiChart.h"

#include "database/Datamodule.h"
#include "treatment/ServiceViews.h"

#include <QPointer>
#include <QWidget>

#include <map>
#include <memory>
#include <utility>
#include <vector>

class QMenu;
class QProgressBar;
class QScrollBar;
class TCurveLoad;

// One saved scaling of a chart: time axis and active value axis.
struct ZOOMSTATE
{
    double XStart = 0.0;
    double XEnd = 0.0;
    double YStart = 0.0;
    double YEnd = 0.0;
    int32_t XNumSegments = 0;
    int32_t XNumSubSegments = 0;
    int32_t YNumSegments = 0;
    int32_t YNumSubSegments = 0;
    int32_t XDigits = 0;
    int32_t YDigits = 0;
};

// Scroll bar figures for an axis: the visible range moves in steps of one
// major segment over the scrollable range. Valid is false when the figures
// cannot be formed (zero range, scrollable range shorter than the visible one).
struct ScrollFigures
{
    bool MaximumValid = false;
    bool PositionValid = false;
    int Maximum = 0;
    int Position = 0;
    int PageSize = 0;
};
ScrollFigures HorizontalScrollFigures(const Axis& timeAxis);
ScrollFigures VerticalScrollFigures(const Axis& valueAxis);

class TDiagramForm : public QWidget, public LiveSampleSink
{
    Q_OBJECT

public:
    using CurveKey = TBRASKDataModule::CurveKey;

    explicit TDiagramForm(TBRASKDataModule* dataModule, QWidget* parent = nullptr);
    ~TDiagramForm() override;

    // The chart holds the diagram itself (curves, axes, legend): what the
    // diagram commands save, load, print and copy, and what the property
    // dialog edits. The scroll bars stay the page's own.
    TMultiChart* Chart() const { return m_chart; }

    // Context menu of the diagram windows (the main window's PopupDiagrams).
    void SetPopupMenu(QMenu* menu);

    // Adds the curve of a recorded treatment (kind 0 voltage in V, 1 current
    // in mA, 2 capacity, stays empty). Its samples (every one whose step is
    // known) are read beside the window while the page shows that it loads;
    // the curve is filled, and scaled to when the axes follow the data, once
    // all are in (CurveLoaded). Null when the pair is shown already, the
    // treatment does not exist or the kind is unknown.
    Curve* AddServiceCurve(int serviceID, int kind);
    // Some curve's samples are still being read.
    bool Loading() const { return !m_loads.empty(); }
    // A point of a running treatment; ignored unless this window shows it.
    void AddLiveSample(int serviceID, int kind, double time, double value, int phase) override;
    CurveKey* FindCurveKey(int serviceID, int kind) const;
    CurveKey* FindCurveKeyByName(const QString& name) const;
    std::vector<const CurveKey*> CurveKeys() const;
    void RemoveServiceCurve(const QString& name);
    // Removes the curves whose treatment record no longer exists (run when
    // the data module reports deleted treatments).
    void DropDeletedCurves();
    // Appends the samples stored since the last point to the curves of
    // treatments that another PC (or another program here) is recording; run
    // when the data module reports that other PCs changed samples.
    void FollowOtherRecorders();

    // Scales the time axis, and every value axis that carries a curve, to
    // the data of the curves (rounded to whole segments of a round step);
    // axes without data keep their scaling. From then on the axes follow the
    // data: a live point beyond them scales them again, until the user sets a
    // scaling (zoom, scroll, zoom back, property dialog).
    void FitToData();
    // "Alles zeigen": FitToData, with the scaling before it on the zoom stack
    // when it changes anything.
    void ShowAll();
    bool FollowsData() const { return m_followsData; }
    // The scaling stays as set (a diagram file's own).
    void KeepScaling() { m_followsData = false; }

    // Zoom stack.
    void PushZoomState();
    void ZoomBack();
    int ZoomStackSize() const { return static_cast<int>(m_zoomStack.size()); }
    const std::vector<ZOOMSTATE>& ZoomStack() const { return m_zoomStack; }

signals:
    // A scaling was pushed: zooming back is possible now.
    void ZoomBackAvailable();
    // A curve's samples are in and drawn.
    void CurveLoaded(int serviceID, int kind);
    // A curve's samples could not be read; the curve was taken out again.
    void CurveLoadFailed(const QString& message);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // Scroll bars follow the chart's axes; the handlers move the visible
    // range when a scroll action has ended.
    void UpdateScrollBars();
    void HScrollBarScroll();
    void VScrollBarScroll();

    void startLoad(int serviceID, int kind);
    void loadFinished(std::pair<int, int> id, const TCurveLoad* load, const QString& error);
    void showLoadProgress();
    void connectEndOfScroll(QScrollBar* bar, void (TDiagramForm::*handler)());
    // Stored samples as points of the curve, each with the function of its
    // step; samples of a missing step are left out.
    void appendSamples(Curve* curve, const CurveKey& key,
                       const QVector<TBRASKDataModule::StoredSample>& rows);
    // A point was added to the curve of this key: the axes follow it when
    // they follow the data and it lies beyond them.
    void followPoint(const CurveKey& key, double time, double value);
    // Registered running treatments: ID -> recorded by this very process.
    std::map<int, bool> runningTreatments() const;

    // Per curve (treatment ID, kind): the key of the last stored sample it
    // shows, whether it follows another recorder, and whether this program's
    // own run handed it points since the last report.
    struct Follow
    {
        qint64 LastKey = 0;
        bool Following = false;
        bool LiveAdded = false;
    };
    // A curve whose samples are being read; live points wait here meanwhile.
    struct PendingLoad
    {
        std::unique_ptr<TCurveLoad> Load;
        std::vector<Curve::DataPoint> LivePoints;
        int Percent = 0;
    };

    TBRASKDataModule* m_dataModule;
    TMultiChart* m_chart = nullptr;
    QScrollBar* m_hScrollBar = nullptr;
    QScrollBar* m_vScrollBar = nullptr;
    QPointer<QMenu> m_popupMenu;
    std::vector<ZOOMSTATE> m_zoomStack;
    std::vector<std::unique_ptr<CurveKey>> m_curveKeys;
    std::map<std::pair<int, int>, Follow> m_follow;
    std::map<std::pair<int, int>, PendingLoad> m_loads;
    QProgressBar* m_loadProgress = nullptr;
    bool m_followsData = false;
};
