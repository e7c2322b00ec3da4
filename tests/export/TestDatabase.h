#pragma once
// A data module on a fresh database in a temporary directory, and waiting for
// a condition while the event loop runs (the data module re-reads its lists
// on the main thread when the readout thread asks for it).

#include "Datamodule.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QThread>

#include <functional>
#include <memory>

inline bool WaitFor(const std::function<bool()> &condition, int timeoutMs = 15000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

inline void InsertBattery(TBRASKDataModule &data, int id, int capacity, int type, int cells, const QString &brand)
{
    TBRASKDataModule::Battery battery;
    battery.ID = id;
    battery.Capacity = capacity;
    battery.Type = type;
    battery.Cells = cells;
    battery.Brand = brand;
    data.InsertBattery(battery);
}

class TestDatabase {
public:
    TestDatabase() : data(std::make_unique<TBRASKDataModule>(directory.path())) {}

    // Adds a battery and selects it.
    int AddBattery(int id, int capacity, int type, int cells, const QString &brand = QString())
    {
        InsertBattery(*data, id, capacity, type, cells, brand);
        data->ReopenBatteries(id);
        return id;
    }

    int AddService(int batteryID, int program)
    {
        TBRASKDataModule::Service service;
        service.BatteryID = batteryID;
        service.Program = program;
        data->InsertService(service);
        return service.ID;
    }

    void AddStep(int serviceID, int step, int function, int parameter)
    {
        StepRecord record{serviceID, step, function, parameter, 0, 0, 0, 0};
        data->InsertStep(record);
    }

    void AddSample(int serviceID, int step, int time, int voltage, int current)
    {
        data->InsertSample({serviceID, step, time, voltage, current, 0});
    }

    QTemporaryDir directory;
    std::unique_ptr<TBRASKDataModule> data;
};
