#pragma once
// A database in a temporary folder with treatments, steps and samples for
// the diagram tests and tools.

#include "database/Datamodule.h"
#include "database/RecordStore.h"

#include <QTemporaryDir>

#include <memory>
#include <stdexcept>

class DiagramTestData
{
public:
    DiagramTestData()
    {
        if (!m_dir.isValid())
            throw std::runtime_error("no temporary folder");
        DataModule = std::make_unique<TBRASKDataModule>(m_dir.path());
        Records = std::make_unique<RecordStore>(m_dir.path());
    }

    QString Path() const { return m_dir.path(); }

    int AddBattery(int capacity = 2000)
    {
        TBRASKDataModule::Battery battery;
        battery.ID = Records->PeekBatteryID();
        battery.Capacity = capacity;
        battery.Type = 1;
        battery.Form = 2;
        battery.Cells = 4;
        battery.Brand = QStringLiteral("Testakku");
        Records->AdvanceBatteryID();
        Records->InsertBattery(battery);
        return battery.ID;
    }

    // A treatment with the given ID (IDs below it are used up).
    int AddService(int batteryID, int wantedID = 0, int program = 3)
    {
        while (wantedID > 1 && Records->AllocateServiceID() < wantedID - 1)
            continue;
        TBRASKDataModule::Service service;
        service.BatteryID = batteryID;
        service.Program = program;
        Records->InsertService(service);
        return service.ID;
    }

    // Treatment `wantedID` of a new battery: a discharge step at 1 A up to
    // half of `end` seconds, then a charge at 0.5 A, a sample every `every` s.
    int AddDischargeCharge(int wantedID, int end, int every)
    {
        const int service = AddService(AddBattery(), wantedID);
        AddStep(service, 1, 0);
        AddStep(service, 2, 1);
        for (int t = 0; t <= end; t += every)
            AddSample(service, t < end / 2 ? 1 : 2, t, 5000 + t, t < end / 2 ? 1000 : 500);
        return service;
    }

    void AddStep(int serviceID, int step, int function)
    {
        StepRecord record{serviceID, step, function, 1000};
        Records->InsertStep(record);
    }

    void AddSample(int serviceID, int step, int time, int millivolts, int milliamps)
    {
        Sample sample{serviceID, step, time, millivolts, milliamps};
        Records->InsertSample(sample);
    }

    std::unique_ptr<TBRASKDataModule> DataModule;   // the windows' reads
    std::unique_ptr<RecordStore> Records;           // the rows written

private:
    QTemporaryDir m_dir;
};
