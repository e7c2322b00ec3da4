// A readout and a running treatment's polling at the same time, on the same
// port objects and the same data module: both are recorded correctly.

#include "KestrixFixture.h"

#include "Terminal.h"

#include <algorithm>

class KestrixSharedPort : public KestrixFixture {};

TEST_F(KestrixSharedPort, ReadoutAndPollingDoNotGarbleEachOther)
{
    const RecordingFile recording = RecordingFile::WithCounts({121, 61, 121});
    StartLogger(recording);
    db.data->SetMinDeltaU(0);

    // The polling side: the charger on COM1, which the logger search probes
    // as well, and status reads of the logger itself on COM2 through the very
    // port object the readout uses.
    Ohmrida::Terminal charger("Lumo an COM1", &terminals.Port(1), Ohmrida::DeviceLumo, 0x00);
    Ohmrida::Terminal loggerStatus("Kestrix", &terminals.Port(2), Ohmrida::DeviceKestrix, 0x00);
    const int pollService = db.AddService(battery, 1);
    db.AddStep(pollService, 1, Laden, 100);

    TReadKestrixThread thread(terminals, *db.data);
    thread.start();
    int polls = 0;
    int pollsDuringReadout = 0;
    int failedPolls = 0;
    while (!thread.isFinished() || polls < 20) {
        Ohmrida::StatusValues values;
        Ohmrida::ProgramSettings settings, recorded;
        if (!charger.ReadStatus(values, settings))
            ++failedPolls;
        if (!loggerStatus.ReadStatus(values, recorded) || recorded.capacity != recording.capacity
            || recorded.program != recording.program || recorded.cells != recording.cells)
            ++failedPolls;
        db.data->InsertSample({pollService, 1, polls, 4000 + polls, 100, 0});
        ++polls;
        if (!thread.isFinished())
            ++pollsDuringReadout;
        QCoreApplication::processEvents();
        ASSERT_LT(polls, 100000);
    }
    thread.wait();

    EXPECT_EQ(failedPolls, 0);
    EXPECT_GT(pollsDuringReadout, 5);
    ASSERT_EQ(thread.ResultCode(), TReadKestrixThread::ResultOK);
    EXPECT_EQ(thread.ProgressPosition(), 303);

    // Every logger value arrived in order, none lost to the status reads.
    const std::vector<Sample> read = Samples(thread.ServiceID());
    ASSERT_EQ(read.size(), 303u);
    int index = 0;
    for (int phase = 0; phase < recording.phases.size(); ++phase) {
        for (const int voltage : recording.phases[phase]) {
            EXPECT_EQ(read[index].Voltage, voltage) << "value " << index;
            EXPECT_EQ(read[index].Step, phase + 1);
            ++index;
        }
    }

    // Every polling sample is stored.
    const std::vector<Sample> polled = Samples(pollService);
    ASSERT_EQ(int(polled.size()), polls);
    for (int i = 0; i < polls; ++i)
        EXPECT_EQ(polled[i].Voltage, 4000 + i);

    // On the wire no command was cut short or interleaved, and status reads
    // of the logger fell between its value reads.
    bool statusBetweenValues = false;
    bool valueSeen = false;
    for (std::string line : sim->trace()) {
        EXPECT_EQ(line.find("discarded"), std::string::npos) << line;
        std::transform(line.begin(), line.end(), line.begin(), ::tolower);
        if (line.rfind("com2 rx f2", 0) == 0)
            valueSeen = true;
        else if (valueSeen && line.rfind("com2 rx 11", 0) == 0)
            statusBetweenValues = true;
    }
    EXPECT_TRUE(statusBetweenValues);
}
