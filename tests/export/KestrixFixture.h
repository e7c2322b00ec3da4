#pragma once
// A simulated Kestrix logger with a recording written by the test, a fresh
// database with the matching battery selected, and a terminal manager.

#include "ReadKestrixThread.h"
#include "SimulatorProcess.h"
#include "TerminalManager.h"
#include "TestDatabase.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QMutex>
#include <QTextStream>
#include <QVector>

#include <memory>
#include <string>
#include <vector>

struct RecordingFile {
    int program = 3, type = 1, cells = 4, capacity = 1000;
    int dischargeCurrent = 500, chargeCurrent = 300;
    int chargeInterval = 60, dischargeInterval = 30;
    QVector<QVector<int>> phases;

    // Phase k gets `counts[k]` values falling from a start voltage, all
    // different, so every value is stored with MinDeltaU 0 and recognizable.
    static RecordingFile WithCounts(const QVector<int> &counts)
    {
        RecordingFile recording;
        int voltage = 5000;
        for (const int count : counts) {
            QVector<int> phase;
            for (int i = 0; i < count; ++i)
                phase.append(voltage += 5);
            recording.phases.append(phase);
        }
        return recording;
    }

    void Write(const QString &path) const
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QTextStream out(&file);
        out << "program " << program << "\ntype " << type << "\ncells " << cells << "\ncapacity " << capacity
            << "\ndischarge-current " << dischargeCurrent << "\ncharge-current " << chargeCurrent
            << "\ncharge-interval " << chargeInterval << "\ndischarge-interval " << dischargeInterval << '\n';
        for (const auto &phase : phases) {
            out << "phase";
            for (const int value : phase)
                out << ' ' << value;
            out << '\n';
        }
    }
};

class KestrixFixture : public ::testing::Test {
protected:
    // The logger on COM2, and a Lumo charger on COM1 that the logger search
    // passes first.
    void StartLogger(const RecordingFile &recording, int batteryCapacity = 1000)
    {
        const QString file = db.directory.filePath(QStringLiteral("recording.txt"));
        recording.Write(file);
        sim = std::make_unique<SimTest::SimulatorProcess>(std::vector<std::string>{
            "--port", "1=lumo", "--port", "2=kestrix", "--kestrix-file", file.toStdString()});
        sim->start();
        battery = db.AddBattery(1, batteryCapacity, recording.type, recording.cells, QStringLiteral("Logger"));
    }

    std::vector<Sample> Samples(int serviceID)
    {
        std::vector<Sample> samples;
        db.data->SelectSamples(serviceID);
        for (bool more = db.data->FirstSample(); more; more = db.data->NextSample()) {
            Sample sample;
            db.data->GetSample(sample);
            samples.push_back(sample);
        }
        return samples;
    }

    bool HasStep(int serviceID, int step)
    {
        StepRecord record{serviceID, step, 0, 0, 0, 0, 0, 0};
        return db.data->GetSubService(record);
    }

    StepRecord Step(int serviceID, int step)
    {
        StepRecord record{serviceID, step, 0, 0, 0, 0, 0, 0};
        EXPECT_TRUE(db.data->GetSubService(record)) << "step " << step;
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
    int battery = 0;
};
