#include "diagrams/CurveLoad.h"

#include "database/DatabaseError.h"
#include "database/SampleRows.h"
#include "database/SqlStore.h"

#include <QMetaObject>
#include <QSqlQuery>

#include <unordered_map>

namespace {

// Rows between two looks at the cancel flag and two progress reports.
constexpr qint64 kRowsPerSlice = 16384;

}  // namespace

CurvePoints ReadCurvePoints(SqlStore& store, int serviceID, int kind, const std::atomic<bool>* cancel,
                            const std::function<void(qint64 done, qint64 total)>& progress)
{
    CurvePoints curve;
    QSqlQuery count = store.exec(QStringLiteral("SELECT COUNT(*) FROM samples WHERE F_ServiceID = ?"), {serviceID});
    const qint64 total = count.next() ? count.value(0).toLongLong() : 0;
    count.finish();
    curve.Points.reserve(static_cast<size_t>(total));
    // A treatment has a handful of steps: their functions are read once.
    std::unordered_map<int, int> phaseOfStep;
    QSqlQuery steps = store.exec(QStringLiteral("SELECT F_Step, F_Function FROM sub WHERE F_ServiceID = ?"),
                                 {serviceID});
    while (steps.next())
        phaseOfStep[steps.value(0).toInt()] = steps.value(1).toInt();
    steps.finish();

    SampleRows rows(store, serviceID);
    qint64 read = 0;
    int lastStep = 0;
    int phase = -1;
    bool stepKnown = false;
    while (rows.next()) {
        curve.LastKey = rows.key;
        if (++read % kRowsPerSlice == 0) {
            if (cancel && cancel->load())
                return curve;
            if (progress)
                progress(read, total);
        }
        if (!stepKnown || rows.step != lastStep) {
            lastStep = rows.step;
            stepKnown = true;
            const auto found = phaseOfStep.find(rows.step);
            phase = found == phaseOfStep.end() ? -1 : found->second;
        }
        if (phase < 0)
            continue;  // samples of a missing step are left out
        const double value = kind == 0 ? rows.voltage * 0.001 : rows.current;
        curve.Points.push_back(Curve::DataPoint{static_cast<float>(rows.time), static_cast<float>(value),
                                                static_cast<int16_t>(phase)});
    }
    curve.Points.shrink_to_fit();
    curve.PlotRoom.assign(curve.Points.size(), PlotPoint{});
    return curve;
}

TCurveLoad::TCurveLoad(std::shared_ptr<SqlStore> store, int serviceID, int kind, QObject* parent)
    : QObject(parent), m_serviceID(serviceID), m_kind(kind), m_state(std::make_shared<State>())
{
    auto report = [this](qint64 done, qint64 total) {
        if (total <= 0)
            return;
        const int percent = static_cast<int>(done * 100 / total);
        // Dropped with this object when it is gone before the report arrives.
        QMetaObject::invokeMethod(this, [this, percent] { emit Progressed(percent); }, Qt::QueuedConnection);
    };
    m_thread.reset(QThread::create([store = std::move(store), state = m_state, serviceID, kind, report] {
        try {
            state->Result = ReadCurvePoints(*store, serviceID, kind, &state->Cancel, report);
        } catch (const DatabaseError& error) {
            state->Error = error.message();
        } catch (const std::exception& error) {
            state->Error = QString::fromUtf8(error.what());
        }
    }));
    m_thread->setObjectName(QStringLiteral("CurveLoad"));
    connect(m_thread.get(), &QThread::finished, this, [this] { emit Finished(m_state->Error); });
    m_thread->start();
}

TCurveLoad::~TCurveLoad()
{
    m_state->Cancel = true;
    // The finished notice must not reach a half-destroyed object.
    disconnect(m_thread.get(), nullptr, this, nullptr);
    m_thread->wait();
}
