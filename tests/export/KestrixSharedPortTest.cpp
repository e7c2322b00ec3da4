// A readout and a running treatment's polling at the same time, on the same
// port objects and the same data module: both are recorded correctly.

#include "KestrixFixture.h"

#include "Terminal.h"

TEST_F(KestrixFixture, ReadoutAndPollingOnSharedPortsDoNotGarbleEachOther)
{
    const QVector<QVector<int>> phases = Phases({121, 61, 121});
    StartLogger(phases);
    db.data->SetMinDeltaU(0);

    // Polls of the charger on COM1 (which the logger search probes too) and of
    // the logger itself on COM2, through the very port object the readout uses.
    Ohmrida::Terminal charger("Lumo an COM1", &terminals.Port(1), Ohmrida::DeviceLumo, 0x00);
    Ohmrida::Terminal loggerStatus("Kestrix", &terminals.Port(2), Ohmrida::DeviceKestrix, 0x00);
    const int pollService = InsertTreatment(*db.data, battery, 1, Laden, 100);

    TReadKestrixThread thread(terminals, *db.data);
    thread.start();
    int polls = 0, pollsDuringReadout = 0, failedPolls = 0;
    while (!thread.isFinished() || polls < 20) {
        Ohmrida::StatusValues values;
        Ohmrida::ProgramSettings settings, recorded;
        failedPolls += !charger.ReadStatus(values, settings);
        failedPolls += !loggerStatus.ReadStatus(values, recorded) || recorded.capacity != 1000 || recorded.cells != 4;
        db.data->InsertSample({pollService, 1, polls, 4000 + polls, 100, 0});
        ++polls;
        pollsDuringReadout += !thread.isFinished();
        QCoreApplication::processEvents();
        ASSERT_LT(polls, 100000);
    }
    thread.wait();
    EXPECT_EQ(failedPolls, 0);
    EXPECT_GT(pollsDuringReadout, 5);
    ASSERT_EQ(thread.ResultCode(), TReadKestrixThread::ResultOK);

    // Every logger value and every polling sample stored, in order.
    std::vector<std::pair<int, int>> expected, read;   // (step, voltage)
    for (int phase = 0; phase < phases.size(); ++phase)
        for (const int voltage : phases[phase])
            expected.emplace_back(phase + 1, voltage);
    for (const Sample &sample : Samples(thread.ServiceID()))
        read.emplace_back(sample.Step, sample.Voltage);
    EXPECT_EQ(read, expected);
    std::vector<int> polled, sent;
    for (const Sample &sample : Samples(pollService))
        polled.push_back(sample.Voltage);
    for (int i = 0; i < polls; ++i)
        sent.push_back(4000 + i);
    EXPECT_EQ(polled, sent);

    // No command cut short or interleaved; logger status reads fell between its value reads.
    bool statusBetweenValues = false, valueSeen = false;
    for (const std::string &line : sim->trace()) {
        EXPECT_EQ(line.find("discarded"), std::string::npos) << line;
        valueSeen |= line.rfind("COM2 rx F2", 0) == 0;
        statusBetweenValues |= valueSeen && line.rfind("COM2 rx 11", 0) == 0;
    }
    EXPECT_TRUE(statusBetweenValues);
}
