// The logger readout against the simulated Kestrix, run on the test's own
// thread with the parts the engine lends it.

#include "tests/support/KestrixFixture.h"

#include "tests/support/GarblingPeer.h"

#include "database/RecordStore.h"

#include <algorithm>
#include <functional>
#include <tuple>

namespace {

// A readout whose reports are noted as they come (on this thread, at once);
// onProgress may act between two values.
struct Readout {
    Readout(TestDatabase &db, TPortSearch &search, Ohmrida::TerminalManager &terminals, int minDeltaU = 0)
        : records(Records(*db.data)), stop(std::make_shared<std::atomic<bool>>(false)),
          readout(records, search, terminals, stop)
    {
        records.SetMinDeltaU(minDeltaU);
        QObject::connect(&readout, &TKestrixReadout::ShowInfo,
                         [this](int index, const QString &text) {
                             infos.append(index);
                             texts.append(text);
                         });
        QObject::connect(&readout, &TKestrixReadout::ShowProgress, [this](int, int position) {
            lastPosition = position;
            if (onProgress)
                onProgress(position);
        });
        QObject::connect(&readout, &TKestrixReadout::Finished, [this](const LoggerOutcome &end) {
            outcome = end;
            finished = true;
        });
    }
    void Start(const TBRASKDataModule::Battery &battery) { readout.Start(battery); }
    bool Finished() { return WaitFor([&] { return finished; }, 30000); }
    void Stop()
    {
        stop->store(true);
        readout.CheckStop();
    }

    RecordStore &records;
    TKestrixReadout::StopFlag stop;
    TKestrixReadout readout;
    QVector<int> infos;
    QStringList texts;   // as the user reads them
    int lastPosition = 0;
    bool finished = false;
    LoggerOutcome outcome;
    std::function<void(int)> onProgress;
};

// Function, parameter, duration, capacity, state of a step row.
using Row = std::tuple<int, int, int, int, int>;
Row RowOf(const StepRecord &r) { return Row(r.Function, r.Parameter, r.Duration, r.Capacity, r.State); }

TBRASKDataModule::Battery Selected(TestDatabase &db)
{
    TBRASKDataModule::Battery battery;
    db.data->ReadSelectedBattery(battery);
    return battery;
}

} // namespace

class KestrixReadout : public KestrixFixture {};

TEST_F(KestrixReadout, TwoPhasesGiveTheirStepRowsSampleTimesAndProgress)
{
    StartLogger(Phases({121, 61}));
    Readout readout(db, search, terminals);   // MinDeltaU 0 keeps every value, to check every time
    readout.Start(Selected(db));
    ASSERT_TRUE(readout.Finished());
    const LoggerOutcome &outcome = readout.outcome;
    EXPECT_EQ(std::make_tuple(outcome.Result, outcome.Message, outcome.Maximum, readout.lastPosition),
              std::make_tuple(int(TKestrixReadout::ResultOK), int(TKestrixReadout::MsgInitializing), 182, 182));
    EXPECT_EQ(readout.infos, QVector<int>({0}));

    const int service = outcome.ServiceID;
    TBRASKDataModule::Service record;
    record.ID = service;
    ASSERT_TRUE(db.data->LoadService(record));
    EXPECT_EQ(std::make_pair(record.BatteryID, record.Program), std::make_pair(battery, 3));
    EXPECT_EQ(RowOf(Step(service, 1)), Row(Entladen, 500, 3600, 500, OK));
    EXPECT_EQ(RowOf(Step(service, 2)), Row(Laden, 300, 3600, 300, OK));
    EXPECT_EQ(Step(service, 3).Function, -1);

    const std::vector<Sample> samples = Samples(service);
    ASSERT_EQ(samples.size(), 182u);
    for (int i = 0; i < 182; ++i) {
        const bool discharge = i < 121;
        EXPECT_EQ(std::make_tuple(samples[i].Step, samples[i].Time, samples[i].Current, samples[i].Voltage),
                  std::make_tuple(discharge ? 1 : 2, discharge ? i * 30 : 3600 + (i - 121) * 60,
                                  discharge ? 500 : 300, 1005 + 5 * i))
            << "value " << i;
    }
}

TEST_F(KestrixReadout, AFailedValueReadEndsTheReadoutAsFailedAndKeepsWhatWasRead)
{
    StartLogger(Phases({300, 300, 300}));
    // What happens to the logger after value 100, how many value requests
    // then go unanswered or garbled, and how the readout ends: a silent logger
    // gets one retry; a logger that answered (short or with a wrong echo) has
    // moved on, so its value is left out, until five in a row say it is no use.
    using R = TKestrixReadout;
    const std::vector<std::tuple<std::string, int, int>> faults = {
        {"unplug 2", 2, R::MsgReadFailed}, {"fault 2 silent", 2, R::MsgReadFailed},
        {"fault 2 short=2", R::MaxGarbledInARow, R::MsgGarbled},
        {"fault 2 wrong-echo", R::MaxGarbledInARow, R::MsgGarbled}};
    for (const auto &[fault, failedRequests, message] : faults) {
        SCOPED_TRACE(fault);
        sim->control("plug 2");
        sim->control("clear 2");
        Readout readout(db, search, terminals);
        size_t traceAtFault = 0;
        readout.onProgress = [&, fault = fault](int position) {
            if (position == 100) {
                sim->control(fault);
                traceAtFault = sim->trace().size();
            }
        };
        readout.Start(Selected(db));
        // The failure is a message that stays until "Abbrechen".
        ASSERT_TRUE(WaitFor([&, message = message] { return readout.infos.contains(message); }, 30000));
        EXPECT_FALSE(readout.finished);
        // It names the logger's port and how far the readout got.
        const int position = 100 + failedRequests - (message == R::MsgGarbled ? 1 : failedRequests);
        const QString text = readout.texts.last();
        EXPECT_TRUE(text.contains(QStringLiteral("KESTRIX an COM2"))) << text.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("nach %1 von 900 Werten").arg(position))) << text.toStdString();
        readout.Stop();
        ASSERT_TRUE(readout.Finished());
        // There is a treatment to show.
        const LoggerOutcome &outcome = readout.outcome;
        EXPECT_EQ(std::make_tuple(outcome.Result, outcome.Message, outcome.Position),
                  std::make_tuple(int(R::ResultOK), message, position));

        const std::vector<std::string> trace = sim->trace();
        EXPECT_EQ(std::count_if(trace.begin() + long(traceAtFault), trace.end(),
                                [](const std::string &line) { return line.find("rx F2") != std::string::npos; }),
                  failedRequests);

        // Every value read is stored as read, none as 0 mV.
        const int service = outcome.ServiceID;
        const std::vector<Sample> samples = Samples(service);
        ASSERT_EQ(samples.size(), 100u);
        for (int i = 0; i < 100; ++i)
            EXPECT_EQ(std::make_pair(samples[i].Voltage, samples[i].Time), std::make_pair(1005 + 5 * i, 30 * i));
        // The step being read keeps what was read of it; the later ones are there with nothing.
        EXPECT_EQ(RowOf(Step(service, 1)), Row(Entladen, 500, 99 * 30, 500 * 99 * 30 / 3600, Abgebrochen));
        EXPECT_EQ(RowOf(Step(service, 2)), Row(Laden, 300, 0, 0, Abgebrochen));
        EXPECT_EQ(RowOf(Step(service, 3)), Row(Entladen, 500, 0, 0, Abgebrochen));
        EXPECT_EQ(Step(service, 4).Function, -1);
    }
}

// Through a line that garbles 15 % of the logger's answers: the header is
// taken only as the logger means it, every stored value is one a four-cell
// battery can show, at its own time, and the garbled ones are left out and
// counted.
TEST_F(KestrixReadout, GarbledLineLeavesOutWhatCannotBeTheLoggers)
{
    StartLogger(Phases({121, 61}));
    SimTest::GarblingPeer line(2, sim->portPath(2), 0.15, 2203);
    Readout readout(db, search, terminals);
    readout.Start(Selected(db));
    ASSERT_TRUE(readout.Finished()) << readout.texts.join(QLatin1Char('\n')).toStdString();
    const LoggerOutcome &outcome = readout.outcome;
    EXPECT_EQ(std::make_tuple(outcome.Result, outcome.Message, outcome.Maximum, outcome.Position),
              std::make_tuple(int(TKestrixReadout::ResultOK), int(TKestrixReadout::MsgInitializing), 182, 182));
    const std::vector<Sample> samples = Samples(outcome.ServiceID);
    const auto skipped = outcome.Skipped.size();
    EXPECT_GT(skipped, 5);
    EXPECT_EQ(samples.size() + skipped, 182u);
    // A flipped bit of a value may still be a voltage the battery can show;
    // nothing beyond that passes, and each lands at its own time.
    for (const Sample &sample : samples) {
        EXPECT_TRUE(sample.Voltage >= 0 && sample.Voltage <= 8000) << sample.Voltage;
        EXPECT_EQ(sample.Current, sample.Step == 1 ? 500 : 300);
        EXPECT_EQ(0, sample.Step == 1 ? sample.Time % 30 : (sample.Time - 3600) % 60);
    }
    EXPECT_EQ(RowOf(Step(outcome.ServiceID, 1)), Row(Entladen, 500, 3600, 500, OK));
    EXPECT_EQ(RowOf(Step(outcome.ServiceID, 2)), Row(Laden, 300, 3600, 300, OK));
}

// Only the recording of the selected battery is read: any other capacity,
// type or cell count, no battery, an empty or a missing logger is refused
// with its message, which stays until the user stops, and nothing is stored.
TEST_F(KestrixReadout, EveryRefusalKeepsItsMessageAndStoresNothing)
{
    StartLogger(Phases({10}));
    const TBRASKDataModule::Battery matching = Selected(db);
    const QString empty = db.directory.filePath(QStringLiteral("empty.txt"));
    WriteRecording(empty, {});
    const struct {
        const char *what;
        std::function<void(TBRASKDataModule::Battery &)> change;
        std::string logger;
        int message;
    } refusals[] = {
        {"more capacity", [](auto &b) { b.Capacity += 1; }, "", TKestrixReadout::MsgMismatch},
        {"less capacity", [](auto &b) { b.Capacity -= 1; }, "", TKestrixReadout::MsgMismatch},
        {"other type", [](auto &b) { b.Type = 0; }, "", TKestrixReadout::MsgMismatch},
        {"more cells", [](auto &b) { b.Cells += 1; }, "", TKestrixReadout::MsgMismatch},
        {"fewer cells", [](auto &b) { b.Cells -= 1; }, "", TKestrixReadout::MsgMismatch},
        {"no battery", [](auto &b) { b.ID = 0; }, "", TKestrixReadout::MsgMismatch},
        {"empty logger", [](auto &) {}, "load-kestrix 2 " + empty.toStdString(), TKestrixReadout::MsgEmpty},
        {"no logger", [](auto &) {}, "unplug 2", TKestrixReadout::MsgNoLogger},
    };
    for (const auto &refusal : refusals) {
        SCOPED_TRACE(refusal.what);
        if (!refusal.logger.empty())
            sim->control(refusal.logger);
        TBRASKDataModule::Battery selected = matching;
        refusal.change(selected);
        Readout readout(db, search, terminals);
        readout.Start(selected);
        ASSERT_TRUE(WaitFor([&] { return readout.infos.size() == 2; }, 30000));
        EXPECT_EQ(readout.infos, QVector<int>({TKestrixReadout::MsgInitializing, refusal.message}));
        EXPECT_FALSE(readout.finished);
        readout.Stop();
        ASSERT_TRUE(readout.Finished());
        EXPECT_EQ(std::make_tuple(readout.outcome.Result, readout.outcome.Message, readout.outcome.ServiceID),
                  std::make_tuple(int(TKestrixReadout::ResultCancel), refusal.message, 0));
        EXPECT_EQ(ServiceCount(battery), 0);
    }
}

// A value is stored when it differs from the last stored one by at least
// MinDeltaU; the first and the last value of every phase always are, so a
// flat phase keeps its end.
TEST_F(KestrixReadout, ChangesOfAtLeastMinDeltaUAndEveryPhasesEndsAreStored)
{
    // The logger counts in steps of 5 mV, like the chargers.
    StartLogger({{5000, 5000, 5010, 5015, 5015, 5015}, {5015, 5015, 5015}});
    Readout readout(db, search, terminals, 10);
    readout.Start(Selected(db));
    ASSERT_TRUE(readout.Finished());
    const int service = readout.outcome.ServiceID;
    using Stored = std::tuple<int, int, int, int>;   // step, time, voltage, current
    std::vector<Stored> stored;
    for (const Sample &s : Samples(service))
        stored.emplace_back(s.Step, s.Time, s.Voltage, s.Current);
    EXPECT_EQ(stored, std::vector<Stored>({{1, 0, 5000, 500},
                                           {1, 60, 5010, 500},
                                           {1, 150, 5015, 500},
                                           {2, 150, 5015, 300},
                                           {2, 270, 5015, 300}}));
    EXPECT_EQ(RowOf(Step(service, 1)), Row(Entladen, 500, 150, 500 * 150 / 3600, OK));
    EXPECT_EQ(RowOf(Step(service, 2)), Row(Laden, 300, 120, 300 * 120 / 3600, OK));
}
