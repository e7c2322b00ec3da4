#pragma once
// Rows written straight into the database of a data module for the window
// and export tests (through a record store of the test's own, with a
// connection of its own), and waiting for a condition while the event loop runs.

#include "database/Datamodule.h"
#include "database/RecordStore.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QThread>

#include <functional>
#include <memory>

// The test's writer on the data module's database, made once per module and
// deleted with it.
class TestWriter : public QObject {
public:
    explicit TestWriter(TBRASKDataModule &data)
        : QObject(&data),
          records(data.IsShared() ? data.DatabaseFile() : QFileInfo(data.DatabaseFile()).absolutePath())
    {
    }
    RecordStore records;
};

inline RecordStore &Records(TBRASKDataModule &data)
{
    auto *writer = data.findChild<TestWriter *>(QString(), Qt::FindDirectChildrenOnly);
    if (!writer)
        writer = new TestWriter(data);
    return writer->records;
}

inline bool WaitFor(const std::function<bool()> &condition, int timeoutMs = 15000)
{
    for (QDeadlineTimer deadline(timeoutMs); !condition(); QThread::msleep(1)) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Stores a battery (NMH, four cells unless told otherwise) and returns its ID.
inline int InsertBattery(TBRASKDataModule &data, int id, int capacity = 600, const QString &brand = QStringLiteral("Akku"),
                         int type = 1, int cells = 4)
{
    TBRASKDataModule::Battery battery;
    battery.ID = id;
    battery.Capacity = capacity;
    battery.Type = type;
    battery.Cells = cells;
    battery.Brand = brand;
    Records(data).InsertBattery(battery);
    data.ReopenBatteries(id);
    return id;
}

// A treatment of the battery, with a step (function, parameter) and, in it,
// `samples` samples `interval` s apart at 1300 + i mV and the step's current;
// returns its ID. Without a function no step is written.
inline int InsertTreatment(TBRASKDataModule &data, int batteryID, int program = 3, int function = -1,
                           int parameter = 0, int samples = 0, int interval = 60)
{
    TBRASKDataModule::Service service;
    service.BatteryID = batteryID;
    service.Program = program;
    RecordStore &records = Records(data);
    records.InsertService(service);
    if (function >= 0) {
        StepRecord step{service.ID, 1, function, parameter, 0, 0, 0, 0};
        records.InsertStep(step);
    }
    QVector<Sample> rows;
    for (int i = 0; i < samples; ++i)
        rows.append({service.ID, 1, i * interval, 1300 + i, parameter, 0});
    records.InsertSamples(rows);
    data.ReopenServices(0);
    return service.ID;
}
