#pragma once
// The stored samples of one curve (a treatment's voltage or current), read
// on a thread of its own through that thread's connection of the store, so a
// recording of millions of samples opens without holding up the window. The
// points are handed over when all are in (Loaded, on the thread that made the
// load); destroying the load cancels it and waits for the thread, which stops
// within a few thousand rows.

#include "diagrams/ChartModel.h"

#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class SqlStore;

struct CurvePoints
{
    std::vector<Curve::DataPoint> Points;
    qint64 LastKey = 0;  // key of the last stored sample read (0: none)
    // Room for the chart's pixel positions of the points, touched here: new
    // memory of millions of points costs the window thread hundreds of
    // milliseconds of page faults when the chart first maps them.
    std::vector<PlotPoint> PlotRoom;
};

// Reads the curve on the calling thread: kind 0 voltage in V, 1 current in
// mA, each point with the function of its step; samples of a missing step
// are left out. Returns early (with what it has) once *cancel is set;
// progress gets rows read and all rows now and then. Throws DatabaseError.
CurvePoints ReadCurvePoints(SqlStore& store, int serviceID, int kind, const std::atomic<bool>* cancel = nullptr,
                            const std::function<void(qint64 done, qint64 total)>& progress = {});

class TCurveLoad : public QObject
{
    Q_OBJECT

public:
    TCurveLoad(std::shared_ptr<SqlStore> store, int serviceID, int kind, QObject* parent = nullptr);
    ~TCurveLoad() override;

    int ServiceID() const { return m_serviceID; }
    int Kind() const { return m_kind; }
    // The points once Loaded was emitted (taken by the caller).
    CurvePoints& Result() { return m_state->Result; }

signals:
    // Share of the rows read, 0 to 100.
    void Progressed(int percent);
    // error: the German text of a failure; empty when all points are in.
    void Finished(const QString& error);

private:
    struct State
    {
        std::atomic<bool> Cancel{false};
        CurvePoints Result;
        QString Error;
    };

    int m_serviceID;
    int m_kind;
    std::shared_ptr<State> m_state;
    std::unique_ptr<QThread> m_thread;
};
