#pragma once
// A data module on a fresh database in a temporary directory, and a fixture
// with a simulated Kestrix on COM2 with the test's recording (behind a Lumo on
// COM1), the matching battery selected, and what the engine lends a readout:
// a record store, the terminal registry with its ports and the port search.

#include "treatment/KestrixReadout.h"
#include "treatment/PortSearch.h"
#include "tests/support/SimulatorProcess.h"
#include "charger/TerminalManager.h"
#include "tests/support/TestRows.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <QVector>

#include <memory>
#include <vector>

struct TestDatabase {
    // Adds a battery and selects it.
    int AddBattery(int id, int capacity, int type = 1, int cells = 4, const QString &brand = QString())
    {
        InsertBattery(*data, id, capacity, brand, type, cells);
        data->ReopenBatteries(id);
        return id;
    }

    QTemporaryDir directory;
    std::unique_ptr<TBRASKDataModule> data = std::make_unique<TBRASKDataModule>(directory.path());
};

// Phase k holds counts[k] values rising by 5 mV from 1005 mV: all different,
// so every value is stored with MinDeltaU 0 and recognizable.
inline QVector<QVector<int>> Phases(const QVector<int> &counts)
{
    QVector<QVector<int>> phases;
    int voltage = 1000;   // 1000 values stay below the 8 V four NMH cells can show
    for (const int count : counts) {
        phases.append(QVector<int>());
        for (int i = 0; i < count; ++i)
            phases.last().append(voltage += 5);
    }
    return phases;
}

// Program 3 of a 4-cell NMH battery: discharge at 500 mA, a value every 30 s,
// then charge at 300 mA, a value every 60 s.
inline void WriteRecording(const QString &path, const QVector<QVector<int>> &phases, int capacity = 1000)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QTextStream out(&file);
    out << "program 3\ntype 1\ncells 4\ncapacity " << capacity << "\ndischarge-current 500\ncharge-current 300\n"
        << "charge-interval 60\ndischarge-interval 30\n";
    for (const auto &phase : phases) {
        out << "phase";
        for (const int value : phase)
            out << ' ' << value;
        out << '\n';
    }
}

class KestrixFixture : public ::testing::Test {
protected:
    void StartLogger(const QVector<QVector<int>> &phases, int recordedCapacity = 1000)
    {
        const QString file = db.directory.filePath(QStringLiteral("recording.txt"));
        WriteRecording(file, phases, recordedCapacity);
        sim = std::make_unique<SimTest::SimulatorProcess>(std::vector<std::string>{
            "--port", "1=lumo", "--port", "2=kestrix", "--kestrix-file", file.toStdString()});
        sim->start();
        battery = db.AddBattery(1, 1000, 1, 4, QStringLiteral("Logger"));
    }

    std::vector<Sample> Samples(int serviceID)
    {
        const QVector<Sample> samples = db.data->Reader().Samples(serviceID);
        return std::vector<Sample>(samples.begin(), samples.end());
    }

    // The step row; Function -1 when there is none.
    StepRecord Step(int serviceID, int step)
    {
        StepRecord record{serviceID, step, 0, 0, 0, 0, 0, 0};
        if (!db.data->GetSubService(record))
            record.Function = -1;
        return record;
    }

    int ServiceCount(int batteryID)
    {
        db.data->ReopenBatteries(batteryID);
        return db.data->ServiceQuery()->rowCount();
    }

    TestDatabase db;
    std::unique_ptr<SimTest::SimulatorProcess> sim;
    Ohmrida::TerminalManager terminals;
    TPortSearch search{terminals};
    int battery = 0;
};
