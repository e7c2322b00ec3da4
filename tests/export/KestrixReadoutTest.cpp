// The logger readout thread against the simulated Kestrix.

#include "KestrixFixture.h"

#include <QMutexLocker>

#include <algorithm>
#include <functional>
#include <tuple>
#include <utility>

namespace {

// Records what the thread reports, in the thread itself (direct connections),
// and optionally asks it to stop at a given point.
struct ReadoutObserver {
    explicit ReadoutObserver(TReadKestrixThread &thread) : thread(thread)
    {
        QObject::connect(&thread, &TReadKestrixThread::ShowInfo, &thread, [this](int index) {
            QMutexLocker lock(&mutex);
            infos.append(index);
            if (stopAtInfo == index)
                this->thread.RequestTermination();
        }, Qt::DirectConnection);
        QObject::connect(&thread, &TReadKestrixThread::ShowProgress, &thread, [this](int, int position) {
            QMutexLocker lock(&mutex);
            lastPosition = position;
            if (position == stopAtPosition)
                this->thread.RequestTermination();
            if (position == faultAtPosition && fault)
                fault();
        }, Qt::DirectConnection);
    }

    QVector<int> Infos()
    {
        QMutexLocker lock(&mutex);
        return infos;
    }

    TReadKestrixThread &thread;
    QMutex mutex;
    QVector<int> infos;
    int lastPosition = 0;
    int stopAtPosition = -1;
    int stopAtInfo = -1;
    // Run on the readout thread right after that value was read.
    int faultAtPosition = -1;
    std::function<void()> fault;
};

bool WaitFinished(TReadKestrixThread &thread)
{
    return WaitFor([&] { return thread.isFinished(); }, 30000);
}

} // namespace

class KestrixReadout : public KestrixFixture {};

TEST_F(KestrixReadout, TwoPhasesGiveTheirStepRowsSampleTimesAndProgress)
{
    StartLogger(RecordingFile::WithCounts({121, 61}));
    db.data->SetMinDeltaU(0);   // keep every value, to check every time
    TReadKestrixThread thread(terminals, *db.data);
    ReadoutObserver observer(thread);
    thread.start();
    ASSERT_TRUE(WaitFinished(thread));

    EXPECT_EQ(thread.ResultCode(), TReadKestrixThread::ResultOK);
    EXPECT_EQ(thread.MessageIndex(), TReadKestrixThread::MsgInitializing);
    EXPECT_EQ(observer.Infos(), QVector<int>({0}));
    EXPECT_EQ(thread.ProgressMax(), 182);
    EXPECT_EQ(observer.lastPosition, 182);

    const int service = thread.ServiceID();
    TBRASKDataModule::Service record;
    record.ID = service;
    ASSERT_TRUE(db.data->LoadService(record));
    EXPECT_EQ(std::make_pair(record.BatteryID, record.Program), std::make_pair(battery, 3));

    // Function, parameter, duration, capacity, state of the two step rows.
    using Row = std::tuple<int, int, int, int, int>;
    const auto row = [&](int step) {
        const StepRecord r = Step(service, step);
        return Row(r.Function, r.Parameter, r.Duration, r.Capacity, r.State);
    };
    EXPECT_EQ(row(1), Row(Entladen, 500, 3600, 500, OK));
    EXPECT_EQ(row(2), Row(Laden, 300, 3600, 300, OK));
    EXPECT_FALSE(HasStep(service, 3));

    const std::vector<Sample> samples = Samples(service);
    ASSERT_EQ(samples.size(), 182u);
    for (int i = 0; i < 182; ++i) {
        const bool discharge = i < 121;
        const Row expected(discharge ? 1 : 2, discharge ? i * 30 : 3600 + (i - 121) * 60,
                           discharge ? 500 : 300, 5005 + 5 * i, 0);
        EXPECT_EQ(Row(samples[i].Step, samples[i].Time, samples[i].Current, samples[i].Voltage, 0), expected)
            << "value " << i;
    }
}

TEST_F(KestrixReadout, CountOfOneAndConstantVoltages)
{
    RecordingFile recording;
    recording.phases = {QVector<int>{1300}, QVector<int>(10, 1300), QVector<int>{1300, 1305, 1320, 1320}};
    StartLogger(recording);
    ASSERT_EQ(db.data->MinDeltaU(), 10);
    TReadKestrixThread thread(terminals, *db.data);
    thread.start();
    ASSERT_TRUE(WaitFinished(thread));
    ASSERT_EQ(thread.ResultCode(), TReadKestrixThread::ResultOK);
    const int service = thread.ServiceID();

    // Count 1: duration 0, capacity 0, exactly one sample.
    EXPECT_EQ(Step(service, 1).Duration, 0);
    EXPECT_EQ(Step(service, 1).Capacity, 0);
    EXPECT_EQ(Step(service, 2).Duration, 9 * 60);
    EXPECT_EQ(Step(service, 2).Capacity, 300 * 540 / 3600);

    std::vector<std::pair<int, int>> stored;   // (step, time)
    for (const Sample &sample : Samples(service))
        stored.emplace_back(sample.Step, sample.Time);
    const std::vector<std::pair<int, int>> expected = {
        {1, 0},                  // the only value
        {2, 0}, {2, 540},        // all 1300 mV: first and last only
        {3, 540}, {3, 600}, {3, 630}};   // 1305 is within 10 mV of 1300; the last is always kept
    EXPECT_EQ(stored, expected);
}

TEST_F(KestrixReadout, CapacityMismatchWritesNothingAndWaitsForCancel)
{
    RecordingFile recording = RecordingFile::WithCounts({121, 61});
    recording.capacity = 1100;
    StartLogger(recording, 1000);
    TReadKestrixThread thread(terminals, *db.data);
    ReadoutObserver observer(thread);
    thread.start();
    ASSERT_TRUE(WaitFor([&] { return observer.Infos().size() == 2; }));
    EXPECT_EQ(observer.Infos(), QVector<int>({0, TReadKestrixThread::MsgMismatch}));
    EXPECT_FALSE(thread.isFinished());   // the message stays until "Abbrechen"
    thread.RequestTermination();
    ASSERT_TRUE(WaitFinished(thread));
    EXPECT_EQ(thread.ResultCode(), TReadKestrixThread::ResultCancel);
    EXPECT_EQ(thread.ServiceID(), 0);
    EXPECT_EQ(ServiceCount(battery), 0);
}

TEST_F(KestrixReadout, EmptyLoggerAndMissingLogger)
{
    StartLogger(RecordingFile::WithCounts({}));
    for (const int message : {TReadKestrixThread::MsgEmpty, TReadKestrixThread::MsgNoLogger}) {
        if (message == TReadKestrixThread::MsgNoLogger)
            sim->control("unplug 2");
        TReadKestrixThread thread(terminals, *db.data);
        ReadoutObserver observer(thread);
        observer.stopAtInfo = message;   // "Abbrechen" on the message
        thread.start();
        ASSERT_TRUE(WaitFinished(thread));
        EXPECT_EQ(observer.Infos(), QVector<int>({0, message}));
        EXPECT_EQ(thread.ResultCode(), TReadKestrixThread::ResultCancel);
    }
    EXPECT_EQ(ServiceCount(battery), 0);
}

TEST_F(KestrixReadout, CancelAfterFiftyValuesKeepsWhatWasRead)
{
    StartLogger(RecordingFile::WithCounts({40, 61, 81}));
    db.data->SetMinDeltaU(0);
    TReadKestrixThread thread(terminals, *db.data);
    ReadoutObserver observer(thread);
    observer.stopAtPosition = 50;
    thread.start();
    ASSERT_TRUE(WaitFinished(thread));

    EXPECT_EQ(thread.ResultCode(), TReadKestrixThread::ResultOK);
    EXPECT_EQ(thread.ProgressMax(), 182);
    EXPECT_EQ(observer.lastPosition, 50);
    const int service = thread.ServiceID();
    // Phases 1 and 2 were begun, each row complete; phase 3 never started.
    EXPECT_EQ(Step(service, 1).Duration, 39 * 30);
    EXPECT_EQ(Step(service, 2).Duration, 60 * 60);
    EXPECT_EQ(Step(service, 2).State, OK);
    EXPECT_FALSE(HasStep(service, 3));
    const std::vector<Sample> samples = Samples(service);
    ASSERT_EQ(samples.size(), 50u);
    EXPECT_EQ(samples.back().Step, 2);
    EXPECT_EQ(samples.back().Time, 39 * 30 + 9 * 60);
}

TEST_F(KestrixReadout, CancelDuringInitialisation)
{
    StartLogger(RecordingFile::WithCounts({121, 61}));
    {
        // A logger that passes the checks: the treatment row, nothing else, OK.
        TReadKestrixThread thread(terminals, *db.data);
        ReadoutObserver observer(thread);
        observer.stopAtInfo = TReadKestrixThread::MsgInitializing;
        thread.start();
        ASSERT_TRUE(WaitFinished(thread));
        EXPECT_EQ(thread.ResultCode(), TReadKestrixThread::ResultOK);
        ASSERT_GT(thread.ServiceID(), 0);
        EXPECT_FALSE(HasStep(thread.ServiceID(), 1));
        EXPECT_TRUE(Samples(thread.ServiceID()).empty());
        EXPECT_EQ(observer.lastPosition, 0);
    }
    {
        // A logger that fails a check: the message, then the end at once.
        db.AddBattery(2, 2000, 1, 4);
        TReadKestrixThread thread(terminals, *db.data);
        ReadoutObserver observer(thread);
        observer.stopAtInfo = TReadKestrixThread::MsgInitializing;
        thread.start();
        ASSERT_TRUE(WaitFinished(thread));
        EXPECT_EQ(observer.Infos(), QVector<int>({0, TReadKestrixThread::MsgMismatch}));
        EXPECT_EQ(thread.ResultCode(), TReadKestrixThread::ResultCancel);
        EXPECT_EQ(ServiceCount(2), 0);
    }
}

TEST_F(KestrixReadout, AFailedValueReadEndsTheReadoutAsFailedAndKeepsWhatWasRead)
{
    StartLogger(RecordingFile::WithCounts({300, 300, 300}));
    db.data->SetMinDeltaU(0);
    // What happens to the logger after value 100, and how many value requests
    // then go unanswered or garbled: a silent logger gets one retry, a logger
    // that answered (short or with a wrong echo) has moved on and gets none.
    const std::vector<std::pair<std::string, int>> faults = {
        {"unplug 2", 2}, {"fault 2 silent", 2}, {"fault 2 short=2", 1}, {"fault 2 wrong-echo", 1}};
    for (const auto &[fault, failedRequests] : faults) {
        SCOPED_TRACE(fault);
        sim->control("plug 2");
        sim->control("clear 2");
        TReadKestrixThread thread(terminals, *db.data);
        ReadoutObserver observer(thread);
        observer.faultAtPosition = 100;
        size_t traceAtFault = 0;
        observer.fault = [&, fault = fault] {
            sim->control(fault);
            traceAtFault = sim->trace().size();
        };
        thread.start();
        // The failure is a message that stays until "Abbrechen".
        ASSERT_TRUE(WaitFor([&] { return observer.Infos().contains(TReadKestrixThread::MsgReadFailed); }, 30000));
        EXPECT_FALSE(thread.isFinished());
        EXPECT_EQ(TReadKestrixThread::MessageText(TReadKestrixThread::MsgReadFailed, thread.ProgressPosition(),
                                                  thread.ProgressMax()),
                  QStringLiteral("KESTRIX antwortet nicht mehr: Auslesen nach 100 von 900 Werten abgebrochen!"));
        thread.RequestTermination();
        ASSERT_TRUE(WaitFinished(thread));
        EXPECT_EQ(thread.ResultCode(), TReadKestrixThread::ResultOK);   // there is a treatment to show
        EXPECT_EQ(thread.MessageIndex(), TReadKestrixThread::MsgReadFailed);
        EXPECT_EQ(thread.ProgressPosition(), 100);

        const std::vector<std::string> trace = sim->trace();
        const auto valueRequests = std::count_if(trace.begin() + long(traceAtFault), trace.end(),
                                                 [](const std::string &line) { return line.find("rx F2") != std::string::npos; });
        EXPECT_EQ(valueRequests, failedRequests);

        // Every value read is stored as read, none as 0 mV.
        const int service = thread.ServiceID();
        const std::vector<Sample> samples = Samples(service);
        ASSERT_EQ(samples.size(), 100u);
        for (int i = 0; i < 100; ++i)
            EXPECT_EQ(std::make_pair(samples[i].Voltage, samples[i].Time), std::make_pair(5005 + 5 * i, 30 * i));

        // The step being read keeps what was read of it; the later ones are
        // there with nothing. Function, duration, capacity, state:
        using Row = std::tuple<int, int, int, int>;
        const auto row = [&](int step) {
            const StepRecord r = Step(service, step);
            return Row(r.Function, r.Duration, r.Capacity, r.State);
        };
        EXPECT_EQ(row(1), Row(Entladen, 99 * 30, 500 * 99 * 30 / 3600, Abgebrochen));
        EXPECT_EQ(row(2), Row(Laden, 0, 0, Abgebrochen));
        EXPECT_EQ(row(3), Row(Entladen, 0, 0, Abgebrochen));
        EXPECT_FALSE(HasStep(service, 4));
    }
}
