// A database that refuses writes during polls (held locked by another
// program): nothing is lost, nothing is written twice, and the rows end as the
// charger did. Against a scripted charger, with the real data module and file.

#include "TreatmentFixture.h"

#include "SqliteLock.h"

#include <chrono>

using namespace TreatmentTest;
using Clock = std::chrono::steady_clock;

namespace {

struct Expected {
    int Step, Time, Voltage, Current;
};

} // namespace

class WriteFailureTest : public TreatmentFixture {
protected:
    void SetUp() override
    {
        TreatmentFixture::SetUp();
        // Every poll keeps its sample; a lock costs 300 ms at first, then 20 ms per try.
        database_->SetMinDeltaU(0);
        database_->SetMinDeltaI(0);
        manager_->SetWriteWaits(300, 20);
    }

    void ExpectStep(int serviceID, int step, int state, int duration, int capacity)
    {
        const StepRecord row = StepRow(serviceID, step);
        EXPECT_EQ(state, row.State) << "step " << step;
        EXPECT_EQ(duration, row.Duration) << "step " << step;
        EXPECT_EQ(capacity, row.Capacity) << "step " << step;
    }
    void ExpectSamples(int serviceID, const std::vector<Expected> &expected)
    {
        const std::vector<Sample> stored = SamplesOf(serviceID);
        ASSERT_EQ(expected.size(), stored.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(expected[i].Step, stored[i].Step) << "sample " << i;
            EXPECT_EQ(expected[i].Time, stored[i].Time) << "sample " << i;
            EXPECT_EQ(expected[i].Voltage, stored[i].Voltage) << "sample " << i;
            EXPECT_EQ(expected[i].Current, stored[i].Current) << "sample " << i;
        }
    }
    // Milliseconds one tick took.
    long TimedTick()
    {
        const auto start = Clock::now();
        manager_->Tick(host_);
        return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    }
    int RegisteredStep(int serviceID)
    {
        TBRASKDataModule::RunningTreatment row;
        row.ServiceID = serviceID;
        EXPECT_TRUE(database_->FindRunning(row));
        return row.Step;
    }
};

// Program 3 with the file locked from the second poll of the discharge to past
// the end of the charge: a sample, the step change (step 1 "OK", step 2
// "läuft" and its sample) and the end all wait, in order, and are written by
// the tick after the lock is gone.
TEST_F(WriteFailureTest, OutageKeepsSamplesStepResultsAndTheEndInOrder)
{
    ScriptedCharger &charger = AttachCharger(1, 1);
    Service *service = StartStandard(3, 500, 200);
    const int id = service->ID();
    RecordingControlWindow *window = host_.Window(0);

    charger.SetStatus(0, Discharging(60, 10, 1200));
    ASSERT_EQ(service, manager_->Tick(host_));
    ExpectSamples(id, {{1, 60, 1200, 200}});

    auto lock = std::make_unique<SimTest::SqliteLock>(database_->DatabaseFile());
    window->calls.clear();
    charger.SetStatus(0, Discharging(120, 20, 1190));
    const long first = TimedTick();
    charger.SetStatus(0, Charging(5, 1, 1300));
    const long second = TimedTick();
    charger.SetStatus(0, Charging(65, 9, 1310));
    const long third = TimedTick();
    EXPECT_GE(first, 250) << "the first failing write waits for the lock";
    EXPECT_LT(second, 250) << "later ones only try briefly, so the polls keep their pace";
    EXPECT_LT(third, 250);

    // The treatment follows the charger; the database holds what it held.
    EXPECT_EQ(1, service->CurrentStep());
    EXPECT_EQ(OK, service->Step(0).State);
    ExpectSamples(id, {{1, 60, 1200, 200}});
    ExpectStep(id, 1, Laeuft, 0, 0);
    ExpectStep(id, 2, Folgt, 0, 0);
    EXPECT_EQ(0, RegisteredStep(id)) << "the registry never runs ahead of the rows";
    const WriteStatus failing = service->WriteState();
    EXPECT_TRUE(failing.Failing);
    EXPECT_EQ(3, failing.WaitingSamples);
    EXPECT_EQ(2, failing.WaitingSteps);
    EXPECT_TRUE(failing.Reason.contains(QStringLiteral("gesperrt"))) << failing.Reason.toStdString();
    EXPECT_TRUE(WriteStatusText(failing).startsWith(QStringLiteral("Speichern fehlgeschlagen seit ")));
    EXPECT_TRUE(WriteStatusText(failing).endsWith(QStringLiteral(" \u2013 3 Messwerte warten, 2 Schrittergebnisse")))
        << WriteStatusText(failing).toStdString();
    // The window heard of it on every tick, got the readings all the same,
    // and re-read no step list that could not have changed.
    EXPECT_EQ(3, std::count(window->calls.begin(), window->calls.end(), "ShowWriteStatus"));
    EXPECT_EQ(3, std::count(window->calls.begin(), window->calls.end(), "ShowVoltage"));
    EXPECT_EQ(0, std::count(window->calls.begin(), window->calls.end(), "RefreshSteps"));
    EXPECT_NEAR(1.31, window->voltage, 1e-9);
    const std::string log = Log();
    EXPECT_EQ(4, std::count(log.begin(), log.end(), '\n')) << "every poll wrote its log line";

    // The charger finishes during the outage: the end waits too, and the
    // treatment stays registered until its rows are in.
    charger.SetStatus(0, Idle(1250));
    manager_->Tick(host_);
    EXPECT_EQ(Service::Ended, service->ServiceState());
    EXPECT_TRUE(manager_->HasUnwritten());
    EXPECT_EQ(0, RegisteredStep(id));
    EXPECT_EQ(4, service->WriteState().WaitingSamples);
    EXPECT_EQ(3, service->WriteState().WaitingSteps);

    lock.reset();
    window->calls.clear();
    EXPECT_EQ(nullptr, manager_->Tick(host_)) << "an ended treatment is not polled, but written";
    EXPECT_FALSE(manager_->HasUnwritten());
    EXPECT_FALSE(service->HasPendingWrites());
    ExpectSamples(id, {{1, 60, 1200, 200}, {1, 120, 1190, 200}, {2, 125, 1300, 500}, {2, 185, 1310, 500},
                       {3, 185, 1250, 0}});
    ExpectStep(id, 1, OK, 120, 20);
    ExpectStep(id, 2, OK, 65, 9);
    EXPECT_TRUE(database_->RunningTreatments().isEmpty());
    ASSERT_FALSE(window->writeStatuses.empty());
    const WriteStatus recovered = window->writeStatuses.back();
    EXPECT_FALSE(recovered.Failing);
    EXPECT_EQ(4, recovered.RecoveredSamples);
    EXPECT_EQ(3, recovered.RecoveredSteps);
    EXPECT_TRUE(WriteStatusText(recovered).isEmpty());
    const std::vector<std::string> expectedCalls = {"ShowWriteStatus", "RefreshSteps"};
    EXPECT_EQ(expectedCalls, window->calls);

    // Nothing is written twice by later ticks.
    manager_->Tick(host_);
    EXPECT_EQ(5u, SamplesOf(id).size());
}

// A stop while records wait writes them first; when it cannot, the charger
// is stopped all the same, the stop says why, and a later tick writes them.
TEST_F(WriteFailureTest, StopDuringTheOutageStopsTheChargerAndWritesLater)
{
    ScriptedCharger &charger = AttachCharger(1, 1);
    Service *service = StartStandard(3, 500, 200);
    const int id = service->ID();
    charger.SetStatus(0, Discharging(60, 10, 1200));
    manager_->Tick(host_);

    auto lock = std::make_unique<SimTest::SqliteLock>(database_->DatabaseFile());
    charger.SetStatus(0, Discharging(90, 15, 1195));
    manager_->Tick(host_);
    charger.ClearMessages();
    try {
        manager_->StopService(host_, service);
        FAIL() << "the stop must report the failed write";
    } catch (const DatabaseError &error) {
        const std::string text = error.what();
        EXPECT_NE(std::string::npos, text.find("Ladeger\u00e4t gestoppt")) << text;
        EXPECT_NE(std::string::npos, text.find("1 Messwert und 1 Schrittergebnis konnten")) << text;
        EXPECT_NE(std::string::npos, text.find("nachgetragen")) << text;
    }
    EXPECT_EQ(std::vector<Bytes>{Bytes{0x13}}, charger.Messages()) << "the charger is stopped first";
    EXPECT_EQ(0, manager_->Count());
    EXPECT_TRUE(host_.pages.empty());
    EXPECT_EQ(1, host_.batteryPageShown);
    EXPECT_TRUE(manager_->HasUnwritten());
    EXPECT_EQ(2, manager_->WaitingWrites());
    ExpectStep(id, 1, Laeuft, 0, 0);

    lock.reset();
    manager_->Tick(host_);
    EXPECT_FALSE(manager_->HasUnwritten());
    ExpectSamples(id, {{1, 60, 1200, 200}, {1, 90, 1195, 200}});
    ExpectStep(id, 1, Abgebrochen, 90, 15);
    ExpectStep(id, 2, Folgt, 0, 0);
    EXPECT_TRUE(database_->RunningTreatments().isEmpty());
    EXPECT_TRUE(charger.Messages().size() == 1) << "nothing more is sent for a stopped treatment";
}

// Without an outage a stop writes at once and reports nothing.
TEST_F(WriteFailureTest, StopWithoutOutageWritesAtOnce)
{
    ScriptedCharger &charger = AttachCharger(1, 1);
    Service *service = StartStandard(3, 500, 200);
    const int id = service->ID();
    charger.SetStatus(0, Discharging(60, 10, 1200));
    manager_->Tick(host_);
    EXPECT_NO_THROW(manager_->StopService(host_, service));
    EXPECT_FALSE(manager_->HasUnwritten());
    ExpectStep(id, 1, Abgebrochen, 60, 10);
    EXPECT_TRUE(database_->RunningTreatments().isEmpty());
}

// The waiting room: entries in the order given, samples beyond the bound
// dropped and counted, step results always kept.
TEST(PendingWrites, KeepsOrderAndDropsSamplesOnlyBeyondItsRoom)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    TBRASKDataModule database(dir.path());
    TBRASKDataModule::Service record;
    record.BatteryID = 1;
    std::vector<StepRecord> steps(2);
    steps[0].Step = 1;
    steps[1].Step = 2;
    database.InsertServiceWithSteps(record, steps);

    PendingWrites pending(3);
    StepRecord first = steps[0];
    first.State = Laeuft;
    pending.AddStepResult(first);
    EXPECT_TRUE(pending.AddSample({record.ID, 1, 10, 1200, 100, 0}));
    first.State = OK;
    first.Duration = 20;
    pending.AddStepResult(first);
    EXPECT_TRUE(pending.AddSample({record.ID, 2, 21, 1300, 500, 0}));
    EXPECT_TRUE(pending.AddSample({record.ID, 2, 22, 1310, 500, 0}));
    EXPECT_FALSE(pending.AddSample({record.ID, 2, 23, 1320, 500, 0}));
    StepRecord second = steps[1];
    second.State = Laeuft;
    pending.AddStepResult(second);
    EXPECT_EQ(3, pending.Samples());
    EXPECT_EQ(3, pending.StepResults());
    EXPECT_EQ(1, pending.Dropped());
    EXPECT_EQ(6, pending.Size());

    database.InTransaction([&] { pending.WriteTo(database); });
    EXPECT_EQ(6, pending.Size()) << "kept until the caller's commit";
    pending.Clear();
    EXPECT_TRUE(pending.Empty());
    EXPECT_EQ(1, pending.Dropped()) << "the loss stays counted until it was reported";

    StepRecord stored{record.ID, 1};
    ASSERT_TRUE(database.GetSubService(stored));
    EXPECT_EQ(OK, stored.State) << "the later result of a step wins";
    EXPECT_EQ(20, stored.Duration);
    stored = StepRecord{record.ID, 2};
    ASSERT_TRUE(database.GetSubService(stored));
    EXPECT_EQ(Laeuft, stored.State);
    database.SelectSamples(record.ID);
    std::vector<int> times;
    for (bool more = database.FirstSample(); more; more = database.NextSample()) {
        Sample sample;
        database.GetSample(sample);
        times.push_back(sample.Time);
    }
    EXPECT_EQ((std::vector<int>{10, 21, 22}), times);
}

TEST(WriteStatusText, SaysSinceWhenAndWhatWaits)
{
    WriteStatus status;
    EXPECT_TRUE(WriteStatusText(status).isEmpty());
    status.Failing = true;
    status.Since = QDateTime(QDate(2024, 3, 1), QTime(9, 5, 7));
    const struct {
        int samples, steps, dropped;
        const char *text;
    } cases[] = {
        {1, 0, 0, "Speichern fehlgeschlagen seit 09:05:07 \u2013 1 Messwert wartet"},
        {12, 0, 0, "Speichern fehlgeschlagen seit 09:05:07 \u2013 12 Messwerte warten"},
        {0, 1, 0, "Speichern fehlgeschlagen seit 09:05:07 \u2013 0 Messwerte warten, 1 Schrittergebnis"},
        {100000, 3, 250, "Speichern fehlgeschlagen seit 09:05:07 \u2013 100000 Messwerte warten, 3 Schrittergebnisse, "
                         "250 verworfen"},
    };
    for (const auto &c : cases) {
        status.WaitingSamples = c.samples;
        status.WaitingSteps = c.steps;
        status.DroppedSamples = c.dropped;
        EXPECT_EQ(QString::fromUtf8(c.text), WriteStatusText(status));
    }
}
