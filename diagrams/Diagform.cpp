#include "diagrams/Diagform.h"

#include "diagrams/ChartGeometry.h"
#include "diagrams/CurveLoad.h"

#include <QContextMenuEvent>
#include <QGridLayout>
#include <QMenu>
#include <QMutexLocker>
#include <QProgressBar>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <cmath>
#include <unordered_map>

namespace {

constexpr int kBarThickness = 16;

// Truncates toward zero when the value fits an int.
bool TruncToInt(double value, int& result)
{
    if (!std::isfinite(value) || value > INT_MAX || value < INT_MIN)
        return false;
    result = static_cast<int>(value);
    return true;
}

// The smallest step worth labelling on each value axis: 10 mV, 1 mA, 1 mAh.
constexpr double kMinFitStep[TMultiChart::kValueAxisCount] = {0.01, 1.0, 1.0};

// The scaling that shows all data of a chart's curves, as drawn: phases
// drawn on top of each other count from the start of their run.
struct FittedAxes
{
    bool HasTime = false;
    ChartGeometry::AxisFit Time;
    bool HasValue[TMultiChart::kValueAxisCount] = {};
    ChartGeometry::AxisFit Value[TMultiChart::kValueAxisCount];
};

FittedAxes FitFor(const TMultiChart& chart)
{
    ChartGeometry::DataRange time;
    ChartGeometry::DataRange values[TMultiChart::kValueAxisCount];
    for (const QString& name : chart.CurveNames()) {
        const Curve* curve = chart.GetCurve(name);
        if (!curve || curve->YAxis < 0 || curve->YAxis >= TMultiChart::kValueAxisCount)
            continue;
        int phase = -1;
        double base = 0.0;
        for (const Curve::DataPoint& d : curve->Data) {
            double t = d.Time;
            if (curve->OverlapPhases) {
                if (d.Phase != phase) {
                    phase = d.Phase;
                    base = d.Time;
                }
                t -= base;
            }
            time.Include(t);
            values[curve->YAxis].Include(d.Value);
        }
    }
    FittedAxes fit;
    fit.HasTime = !time.Empty;
    if (fit.HasTime)
        fit.Time = ChartGeometry::FitTimeAxis(time.Low, time.High);
    for (int a = 0; a < TMultiChart::kValueAxisCount; ++a) {
        fit.HasValue[a] = !values[a].Empty;
        if (fit.HasValue[a])
            fit.Value[a] = ChartGeometry::FitValueAxis(values[a].Low, values[a].High, kMinFitStep[a], a != 0);
    }
    return fit;
}

bool SameScaling(const Axis& axis, const ChartGeometry::AxisFit& fit)
{
    return axis.StartValue == fit.Start && axis.EndValue == fit.End && axis.NumSegments == fit.NumSegments
           && axis.NumSubSegments == fit.NumSubSegments;
}

bool Changes(const TMultiChart& chart, const FittedAxes& fit)
{
    if (fit.HasTime && !SameScaling(chart.XAxis(), fit.Time))
        return true;
    for (int a = 0; a < TMultiChart::kValueAxisCount; ++a)
        if (fit.HasValue[a] && !SameScaling(chart.YAxis(a), fit.Value[a]))
            return true;
    return false;
}

void Apply(TMultiChart& chart, const FittedAxes& fit)
{
    if (fit.HasTime) {
        const ChartGeometry::AxisFit& t = fit.Time;
        // The scrollable range reaches over the data, so the bars stay usable.
        chart.SetXAxisMinValue(std::min(chart.XAxisMinValue(), t.Start));
        chart.SetXAxisMaxValue(std::max(chart.XAxisMaxValue(), t.End));
        chart.SetXAxisStartValue(t.Start);
        chart.SetXAxisEndValue(t.End);
        chart.SetXAxisNumSegments(t.NumSegments);
        chart.SetXAxisNumSubSegments(t.NumSubSegments);
        chart.AutoXAxisDigits(t.Step());
    }
    // The chart sets the active value axis only; each is made active in turn.
    const int active = chart.ActiveYAxis();
    for (int a = 0; a < TMultiChart::kValueAxisCount; ++a) {
        if (!fit.HasValue[a])
            continue;
        const ChartGeometry::AxisFit& v = fit.Value[a];
        chart.SetActiveYAxis(a);
        chart.SetYAxisMinValue(std::min(chart.YAxisMinValue(), v.Start));
        chart.SetYAxisMaxValue(std::max(chart.YAxisMaxValue(), v.End));
        chart.SetYAxisStartValue(v.Start);
        chart.SetYAxisEndValue(v.End);
        chart.SetYAxisNumSegments(v.NumSegments);
        chart.SetYAxisNumSubSegments(v.NumSubSegments);
        chart.AutoYAxisDigits(v.Step());
    }
    chart.SetActiveYAxis(active);
}

}  // namespace

namespace {

// A scroll bar counts in segments of the visible range: the page is the
// visible segments, the position the segments before the visible part.
ScrollFigures ScrollFiguresFor(const Axis& a, double valuesBeforeVisible)
{
    ScrollFigures f;
    const int n = a.NumSegments;
    f.PageSize = n;
    const double seg = (a.EndValue - a.StartValue) / n;
    f.MaximumValid = TruncToInt((a.MaxValue - a.MinValue) / seg - n, f.Maximum) && f.Maximum >= 0;
    f.PositionValid = f.MaximumValid && TruncToInt(valuesBeforeVisible / seg, f.Position);
    return f;
}

}  // namespace

ScrollFigures HorizontalScrollFigures(const Axis& a)
{
    return ScrollFiguresFor(a, a.StartValue - a.MinValue);
}

ScrollFigures VerticalScrollFigures(const Axis& a)
{
    // Position 0 shows the top of the range.
    return ScrollFiguresFor(a, a.MaxValue - a.EndValue);
}

TDiagramForm::TDiagramForm(TBRASKDataModule* dataModule, QWidget* parent)
    : QWidget(parent), m_dataModule(dataModule)
{
    resize(428, 310);

    m_chart = new TMultiChart(this);
    QPalette pal = m_chart->palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::WindowText, Qt::black);
    m_chart->setPalette(pal);
    m_chart->SetFrameStyle(fsFull);
    m_chart->SetXAxisIsTimeAxis(true);

    struct AxisSetup
    {
        int index;
        double max, end;
        const char* unit;
    };
    // The voltage axis is set last and stays active.
    const AxisSetup axes[] = {{2, 100000, 1500, "mAh"}, {1, 4000, 2000, "mA"}, {0, 100, 20, "V"}};
    for (const AxisSetup& a : axes) {
        m_chart->SetActiveYAxis(a.index);
        m_chart->SetYAxisMinValue(0);
        m_chart->SetYAxisMaxValue(a.max);
        m_chart->SetYAxisStartValue(0);
        m_chart->SetYAxisEndValue(a.end);
        m_chart->SetYAxisUnitText(QString::fromLatin1(a.unit));
    }

    m_vScrollBar = new QScrollBar(Qt::Vertical, this);
    m_vScrollBar->setObjectName(QStringLiteral("VScrollBar"));
    m_vScrollBar->setFixedWidth(kBarThickness);
    m_vScrollBar->setPageStep(0);
    m_hScrollBar = new QScrollBar(Qt::Horizontal, this);
    m_hScrollBar->setObjectName(QStringLiteral("HScrollBar"));
    m_hScrollBar->setFixedHeight(kBarThickness);
    m_hScrollBar->setPageStep(0);
    auto* corner = new QWidget(this);
    corner->setObjectName(QStringLiteral("Panel3"));
    corner->setFixedSize(kBarThickness, kBarThickness);

    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_chart, 0, 0);
    layout->addWidget(m_vScrollBar, 0, 1);
    layout->addWidget(m_hScrollBar, 1, 0);
    layout->addWidget(corner, 1, 1);

    if (m_dataModule) {
        connect(m_dataModule, &TBRASKDataModule::ServicesDeleted, this,
                &TDiagramForm::DropDeletedCurves);
        connect(m_dataModule, &TBRASKDataModule::RecordsChanged, this, [this](const QStringList& tables) {
            if (tables.contains(QStringLiteral("samples")))
                FollowOtherRecorders();
        });
    }
    // Over the chart's top left corner while samples are read, outside the
    // layout so the chart keeps its size.
    m_loadProgress = new QProgressBar(this);
    m_loadProgress->setObjectName(QStringLiteral("LoadProgress"));
    m_loadProgress->setRange(0, 100);
    m_loadProgress->setFormat(QStringLiteral("Messwerte werden geladen ... %p %"));
    m_loadProgress->setGeometry(8, 8, 260, 22);
    m_loadProgress->hide();

    connect(m_chart, &TMultiChart::ChartRescaled, this, &TDiagramForm::UpdateScrollBars);
    connect(m_chart, &TMultiChart::ChartZooming, this, &TDiagramForm::PushZoomState);
    connectEndOfScroll(m_hScrollBar, &TDiagramForm::HScrollBarScroll);
    connectEndOfScroll(m_vScrollBar, &TDiagramForm::VScrollBarScroll);
}

TDiagramForm::~TDiagramForm()
{
    // The chart's signals must not reach a half-destroyed window.
    disconnect(m_chart, nullptr, this, nullptr);
    // Cancelled and their threads ended before anything they report to goes.
    m_loads.clear();
}

void TDiagramForm::connectEndOfScroll(QScrollBar* bar, void (TDiagramForm::*handler)())
{
    // Arrow and page clicks, keys and the wheel end their action at once; the
    // handlers read the bar's slider position, which actionTriggered already
    // carries, so the step is applied before any pending repaint can reset the
    // bar. A thumb drag ends when the thumb is released.
    connect(bar, &QAbstractSlider::actionTriggered, this, [this, bar, handler](int action) {
        if (action == QAbstractSlider::SliderMove && bar->isSliderDown())
            return;
        (this->*handler)();
    });
    connect(bar, &QAbstractSlider::sliderReleased, this, handler);
}

Curve* TDiagramForm::AddServiceCurve(int serviceID, int kind)
{
    if (kind < 0 || kind >= TMultiChart::kValueAxisCount)
        return nullptr;  // a damaged diagram file may name any unit
    if (FindCurveKey(serviceID, kind))
        return nullptr;
    auto key = std::make_unique<CurveKey>();
    key->ServiceID = serviceID;
    key->Kind = kind;
    if (!m_dataModule->CurveName(*key))
        return nullptr;
    Curve* curve = m_chart->AddCurve(key->Name, kind);
    m_curveKeys.push_back(std::move(key));
    if (kind == 2)
        return curve;  // samples carry no capacity

    m_follow[{serviceID, kind}] = Follow{};
    startLoad(serviceID, kind);
    m_chart->Changed();
    return curve;
}

void TDiagramForm::startLoad(int serviceID, int kind)
{
    PendingLoad& pending = m_loads[{serviceID, kind}];
    pending.Load = std::make_unique<TCurveLoad>(m_dataModule->SharedStore(), serviceID, kind);
    TCurveLoad* load = pending.Load.get();
    connect(load, &TCurveLoad::Progressed, this, [this, serviceID, kind](int percent) {
        const auto found = m_loads.find({serviceID, kind});
        if (found == m_loads.end())
            return;
        found->second.Percent = percent;
        showLoadProgress();
    });
    // Taken in a turn of the event loop of its own: the notice comes among
    // posted events, which the loop hands out in one go, paint included.
    connect(load, &TCurveLoad::Finished, this, [this, serviceID, kind, load](const QString& error) {
        QTimer::singleShot(0, this, [this, serviceID, kind, load, error] {
            loadFinished({serviceID, kind}, load, error);
        });
    });
    showLoadProgress();
}

void TDiagramForm::showLoadProgress()
{
    if (m_loads.empty()) {
        m_loadProgress->hide();
        return;
    }
    int percent = 0;
    for (const auto& [key, pending] : m_loads)
        percent += pending.Percent;
    m_loadProgress->setValue(percent / static_cast<int>(m_loads.size()));
    m_loadProgress->show();
    m_loadProgress->raise();
}

void TDiagramForm::loadFinished(std::pair<int, int> id, const TCurveLoad* load, const QString& error)
{
    // The load may have been dropped (and a new one started) meanwhile.
    auto found = m_loads.find(id);
    if (found == m_loads.end() || found->second.Load.get() != load)
        return;
    // Its thread has ended; the load goes when this is done.
    PendingLoad pending = std::move(found->second);
    m_loads.erase(found);
    showLoadProgress();
    const CurveKey* key = FindCurveKey(id.first, id.second);
    Curve* curve = key ? m_chart->GetCurve(key->Name) : nullptr;
    if (!curve)
        return;
    if (!error.isEmpty()) {
        const QString name = key->Name;
        RemoveServiceCurve(name);
        emit CurveLoadFailed(QStringLiteral("Die Kurve \"%1\" kann nicht geladen werden: %2").arg(name, error));
        return;
    }
    CurvePoints& loaded = pending.Load->Result();
    // Live points that came while the rows were read; those the read
    // already found are not drawn twice.
    const bool anyLoaded = !loaded.Points.empty();
    const float lastLoaded = anyLoaded ? loaded.Points.back().Time : 0.0f;
    curve->Data = std::move(loaded.Points);
    if (loaded.PlotRoom.size() > curve->Points.capacity())
        curve->Points = std::move(loaded.PlotRoom);
    for (const Curve::DataPoint& point : pending.LivePoints)
        if (!anyLoaded || point.Time > lastLoaded)
            curve->Data.push_back(point);

    Follow& follow = m_follow[id];
    follow.LastKey = loaded.LastKey;
    follow.LiveAdded = !pending.LivePoints.empty();
    try {
        if (m_dataModule->IsShared()) {
            const std::map<int, bool> running = runningTreatments();
            const auto registered = running.find(id.first);
            follow.Following = registered != running.end() && !registered->second;
        }
    } catch (const DatabaseError& e) {
        // The server is away; the next report of other PCs' samples decides.
        qWarning("%s", e.what());
    }
    // Mapping and drawing millions of points take tens of milliseconds each:
    // the mapping is done here and the drawing in a later turn of the loop,
    // so that input and timers get their turn between the two (an update
    // asked for now would be painted in this same turn).
    m_chart->setUpdatesEnabled(false);
    if (m_followsData)
        FitToData();
    m_chart->Changed();
    if (m_chart->isVisible())
        m_chart->Recalculate();
    QTimer::singleShot(0, m_chart, [chart = m_chart] { chart->setUpdatesEnabled(true); });
    emit CurveLoaded(id.first, id.second);
}

void TDiagramForm::AddLiveSample(int serviceID, int kind, double time, double value, int phase)
{
    // The key keeps the name the curve was entered with; no database lookup
    // is needed per sample.
    if (const CurveKey* key = FindCurveKey(serviceID, kind)) {
        const auto pending = m_loads.find({serviceID, kind});
        if (pending != m_loads.end()) {
            pending->second.LivePoints.push_back(Curve::DataPoint{
                static_cast<float>(time), static_cast<float>(value), static_cast<int16_t>(phase)});
            return;
        }
        m_chart->AddPoint(key->Name, time, value, phase);
        m_follow[{serviceID, kind}].LiveAdded = true;
        followPoint(*key, time, value);
    }
}

void TDiagramForm::followPoint(const CurveKey& key, double time, double value)
{
    if (!m_followsData)
        return;
    const Curve* curve = m_chart->GetCurve(key.Name);
    if (!curve || curve->Data.empty())
        return;
    double drawnAt = time;
    if (curve->OverlapPhases) {
        // Drawn from the start of its phase's run: the first point of the
        // run the new point (the last one) ends.
        const std::vector<Curve::DataPoint>& points = curve->Data;
        size_t first = points.size() - 1;
        while (first > 0 && points[first - 1].Phase == points.back().Phase)
            --first;
        drawnAt = points.back().Time - points[first].Time;
    }
    const Axis& x = m_chart->XAxis();
    const Axis& y = m_chart->YAxis(key.Kind);
    if (drawnAt < x.StartValue || drawnAt > x.EndValue || value < y.StartValue || value > y.EndValue)
        FitToData();
}

void TDiagramForm::FitToData()
{
    Apply(*m_chart, FitFor(*m_chart));
    m_followsData = true;
    m_chart->update();
}

void TDiagramForm::ShowAll()
{
    const FittedAxes fit = FitFor(*m_chart);
    if (Changes(*m_chart, fit))
        m_chart->AnnounceZooming();
    Apply(*m_chart, fit);
    m_followsData = true;
    m_chart->update();
}

void TDiagramForm::appendSamples(Curve* curve, const CurveKey& key,
                                 const QVector<TBRASKDataModule::StoredSample>& rows)
{
    if (!curve || key.Kind == 2)
        return;  // samples carry no capacity
    // The step functions are read once per step number, not once per sample.
    std::unordered_map<int, int> phaseOfStep;  // -1: no step record
    auto phaseFor = [&](int step) {
        const auto it = phaseOfStep.find(step);
        if (it != phaseOfStep.end())
            return it->second;
        StepRecord record;
        record.ServiceID = key.ServiceID;
        record.Step = step;
        const int phase = m_dataModule->GetSubService(record) ? record.Function : -1;
        phaseOfStep.emplace(step, phase);
        return phase;
    };
    for (const TBRASKDataModule::StoredSample& row : rows) {
        const Sample& sample = row.Values;
        const int phase = phaseFor(sample.Step);
        if (phase < 0)
            continue;  // samples of a missing step are left out
        const double value = key.Kind == 0 ? sample.Voltage * 0.001 : sample.Current;
        curve->Data.push_back(Curve::DataPoint{static_cast<float>(sample.Time), static_cast<float>(value),
                                               static_cast<int16_t>(phase)});
    }
}

std::map<int, bool> TDiagramForm::runningTreatments() const
{
    std::map<int, bool> here;
    for (const TBRASKDataModule::RunningTreatment& row : m_dataModule->RunningTreatments())
        here[row.ServiceID] = RecordReader::RecordedByThisProcess(row);
    return here;
}

void TDiagramForm::FollowOtherRecorders()
{
    bool anyValueCurve = false;
    for (const auto& key : m_curveKeys)
        anyValueCurve = anyValueCurve || key->Kind != 2;
    if (!anyValueCurve)
        return;
    bool grown = false;
    try {
        const std::map<int, bool> running = runningTreatments();
        for (const auto& key : m_curveKeys) {
            if (key->Kind == 2 || m_loads.count({key->ServiceID, key->Kind}))
                continue;  // a curve still loading reads its rows when it is done
            Follow& follow = m_follow[{key->ServiceID, key->Kind}];
            const auto found = running.find(key->ServiceID);
            const bool recordedHere = found != running.end() && found->second;
            // Once another recorder was seen, the curve keeps following after
            // it left the registry: its last samples, and rows that waited for
            // the server, may come with or after the leaving. A curve that
            // this program feeds itself only moves its key on, so that a
            // takeover by another PC continues after the rows shown.
            follow.Following = !recordedHere && (follow.Following || found != running.end());
            if (!follow.Following && !follow.LiveAdded)
                continue;
            const auto rows = m_dataModule->SamplesAfter(key->ServiceID, follow.LastKey);
            if (follow.Following && !rows.isEmpty()) {
                appendSamples(m_chart->GetCurve(key->Name), *key, rows);
                grown = true;
            }
            if (!rows.isEmpty())
                follow.LastKey = rows.back().Key;
            follow.LiveAdded = false;
        }
    } catch (const DatabaseError& error) {
        // The server is away; the keys stay, so the next report reads what was missed.
        qWarning("%s", error.what());
    }
    if (grown && m_followsData)
        FitToData();
    if (grown)
        m_chart->Changed();
}

TDiagramForm::CurveKey* TDiagramForm::FindCurveKey(int serviceID, int kind) const
{
    for (const auto& key : m_curveKeys)
        if (key->ServiceID == serviceID && key->Kind == kind)
            return key.get();
    return nullptr;
}

TDiagramForm::CurveKey* TDiagramForm::FindCurveKeyByName(const QString& name) const
{
    for (const auto& key : m_curveKeys)
        if (key->Name == name)
            return key.get();
    return nullptr;
}

std::vector<const TDiagramForm::CurveKey*> TDiagramForm::CurveKeys() const
{
    std::vector<const CurveKey*> keys;
    for (const auto& key : m_curveKeys)
        keys.push_back(key.get());
    return keys;
}

void TDiagramForm::RemoveServiceCurve(const QString& name)
{
    for (auto it = m_curveKeys.begin(); it != m_curveKeys.end(); ++it) {
        if ((*it)->Name == name) {
            m_follow.erase({(*it)->ServiceID, (*it)->Kind});
            m_loads.erase({(*it)->ServiceID, (*it)->Kind});
            showLoadProgress();
            m_curveKeys.erase(it);
            m_chart->RemoveCurve(name);
            return;
        }
    }
}

void TDiagramForm::DropDeletedCurves()
{
    std::vector<QString> gone;
    for (const auto& key : m_curveKeys) {
        CurveKey probe;
        probe.ServiceID = key->ServiceID;
        probe.Kind = key->Kind;
        if (!m_dataModule->CurveName(probe))
            gone.push_back(key->Name);
    }
    for (const QString& name : gone)
        RemoveServiceCurve(name);
}

void TDiagramForm::PushZoomState()
{
    const TMultiChart& c = *m_chart;
    ZOOMSTATE s;
    s.XStart = c.XAxisStartValue();
    s.XEnd = c.XAxisEndValue();
    s.YStart = c.YAxisStartValue();
    s.YEnd = c.YAxisEndValue();
    s.XNumSegments = c.XAxisNumSegments();
    s.XNumSubSegments = c.XAxisNumSubSegments();
    s.YNumSegments = c.YAxisNumSegments();
    s.YNumSubSegments = c.YAxisNumSubSegments();
    s.XDigits = c.XAxisDigits();
    s.YDigits = c.YAxisDigits();
    m_zoomStack.push_back(s);
    m_followsData = false;  // the user scales now
    emit ZoomBackAvailable();
}

void TDiagramForm::ZoomBack()
{
    if (m_zoomStack.empty())
        return;
    const ZOOMSTATE s = m_zoomStack.back();
    m_zoomStack.pop_back();
    m_followsData = false;
    // Applies to whichever value axis is active now.
    m_chart->SetXAxisEndValue(s.XEnd);
    m_chart->SetXAxisStartValue(s.XStart);
    m_chart->SetYAxisEndValue(s.YEnd);
    m_chart->SetYAxisStartValue(s.YStart);
    m_chart->SetXAxisNumSegments(s.XNumSegments);
    m_chart->SetXAxisNumSubSegments(s.XNumSubSegments);
    m_chart->SetYAxisNumSegments(s.YNumSegments);
    m_chart->SetYAxisNumSubSegments(s.YNumSubSegments);
    m_chart->SetXAxisDigits(s.XDigits);
    m_chart->SetYAxisDigits(s.YDigits);
    m_chart->repaint();
}

void TDiagramForm::UpdateScrollBars()
{
    // A bar the user is dragging keeps its thumb until the drag ends.
    auto apply = [](QScrollBar* bar, const ScrollFigures& f) {
        if (bar->isSliderDown() || !f.MaximumValid)
            return;
        bar->setMaximum(f.Maximum);
        if (!f.PositionValid)
            return;
        bar->setValue(f.Position);
        bar->setPageStep(f.PageSize);
    };
    apply(m_hScrollBar, HorizontalScrollFigures(m_chart->XAxis()));
    apply(m_vScrollBar, VerticalScrollFigures(m_chart->YAxis(m_chart->ActiveYAxis())));
}

void TDiagramForm::HScrollBarScroll()
{
    const Axis& a = m_chart->XAxis();
    const double seg = (a.EndValue - a.StartValue) / a.NumSegments;
    const double start = a.MinValue + m_hScrollBar->sliderPosition() * seg;
    const int n = a.NumSegments;
    m_followsData = false;
    m_chart->SetXAxisStartValue(start);
    m_chart->SetXAxisEndValue(start + n * seg);  // same visible width
    m_chart->update();
}

void TDiagramForm::VScrollBarScroll()
{
    const Axis& a = m_chart->YAxis(m_chart->ActiveYAxis());
    const double seg = (a.EndValue - a.StartValue) / a.NumSegments;
    const double end = a.MaxValue - m_vScrollBar->sliderPosition() * seg;
    const int n = a.NumSegments;
    m_followsData = false;
    m_chart->SetYAxisEndValue(end);
    m_chart->SetYAxisStartValue(end - n * seg);
    m_chart->update();
}

void TDiagramForm::SetPopupMenu(QMenu* menu)
{
    m_popupMenu = menu;
}

void TDiagramForm::contextMenuEvent(QContextMenuEvent* event)
{
    if (m_popupMenu)
        m_popupMenu->exec(event->globalPos());
}
