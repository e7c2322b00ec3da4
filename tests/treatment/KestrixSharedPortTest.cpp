// The engine reads the logger while it polls a running treatment and searches
// the ports: the readout's exchanges on the engine thread, the polls between
// them, the search on the port workers, all on the same port objects. Every
// logger value and every poll is recorded, and no command is cut short or
// interleaved on the wire.

#include "tests/support/KestrixFixture.h"

#include "treatment/TreatmentEngine.h"

TEST_F(KestrixFixture, ReadoutPollingAndASearchShareThePortsWithoutGarblingEachOther)
{
    const QVector<QVector<int>> phases = Phases({121, 61, 121});
    StartLogger(phases);
    TTreatmentEngine engine(db.data->SharedStore(), db.directory.filePath(QStringLiteral("log.txt")).toStdString());
    engine.SetSamplingThresholds(0, 0);   // every poll and every value is a sample

    // A charge on the Lumo at COM1, which the logger search probes too.
    const int charged = InsertBattery(*db.data, 2, 1000);
    const int ticket = engine.StartStandard(charged, 1, 100, 100, "Lumo an COM1");
    int polled = 0, answered = 0, treatment = 0;
    QObject::connect(&engine, &TTreatmentEngine::TreatmentStarted,
                     [&](const TreatmentSetup &setup) { treatment = setup.Ticket == ticket ? setup.ServiceID : 0; });
    QObject::connect(&engine, &TTreatmentEngine::Polled, [&](const PollReport &report) {
        polled += report.Polled;
        answered += report.Answered;
    });
    ASSERT_TRUE(WaitFor([&] { return treatment != 0 && !engine.Busy(); }));

    LoggerOutcome outcome;
    bool finished = false;
    QObject::connect(&engine, &TTreatmentEngine::LoggerFinished, [&](const LoggerOutcome &end) {
        outcome = end;
        finished = true;
    });
    int searched = 0, pollsDuringReadout = 0;
    QObject::connect(&engine, &TTreatmentEngine::SearchFinished, [&] { ++searched; });
    // A search of every port while the values are read.
    QObject::connect(&engine, &TTreatmentEngine::LoggerProgress, [&](int, int position) {
        if (position == 50)
            engine.SearchTerminals();
    });
    TBRASKDataModule::Battery recorded;   // the battery the recording is of
    recorded.ID = battery;
    recorded.Capacity = 1000;
    recorded.Type = 1;
    recorded.Cells = 4;
    engine.ReadLogger(recorded);
    while (!finished || polled < 20) {
        ASSERT_TRUE(WaitFor([&] { return engine.Tick(); }));
        ASSERT_TRUE(WaitFor([&] { return !engine.Busy(); }));
        pollsDuringReadout += !finished;
        ASSERT_LT(polled, 100000);
    }
    ASSERT_TRUE(WaitFor([&] { return searched == 1; }));
    EXPECT_EQ(answered, polled);
    EXPECT_GE(pollsDuringReadout, 3);
    ASSERT_EQ(outcome.Result, TKestrixReadout::ResultOK);
    EXPECT_EQ(outcome.Position, 303);

    // Every logger value and every answered poll stored, in order.
    std::vector<std::pair<int, int>> expected, read;   // (step, voltage)
    for (int phase = 0; phase < phases.size(); ++phase)
        for (const int voltage : phases[phase])
            expected.emplace_back(phase + 1, voltage);
    for (const Sample &sample : Samples(outcome.ServiceID))
        read.emplace_back(sample.Step, sample.Voltage);
    EXPECT_EQ(read, expected);
    EXPECT_EQ(int(Samples(treatment).size()), answered);

    // No command cut short or interleaved; polls fell between the logger's value reads.
    bool pollBetweenValues = false, valueSeen = false;
    for (const std::string &line : sim->trace()) {
        EXPECT_EQ(line.find("discarded"), std::string::npos) << line;
        valueSeen |= line.rfind("COM2 rx F2", 0) == 0;
        pollBetweenValues |= valueSeen && line.rfind("COM1 rx 11", 0) == 0;
    }
    EXPECT_TRUE(pollBetweenValues);
}
