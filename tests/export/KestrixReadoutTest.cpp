// The logger readout thread against the simulated Kestrix.

#include "KestrixFixture.h"

#include <QMutexLocker>

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
