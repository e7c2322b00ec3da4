// A database that refuses writes during polls (held locked by another
// program): nothing is lost, nothing is written twice, and the rows end as the
// charger did. Against a scripted charger, with the real data module and file.

#include "TreatmentFixture.h"

#include "SqliteLock.h"

using namespace TreatmentTest;
using std::make_tuple;

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
    // Step, time, voltage and current of every stored sample.
    std::vector<std::tuple<int, int, int, int>> Stored(int serviceID)
    {
        std::vector<std::tuple<int, int, int, int>> rows;
        for (const Sample &s : SamplesOf(serviceID))
            rows.emplace_back(s.Step, s.Time, s.Voltage, s.Current);
        return rows;
    }
    long TimedTick()   // ms
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

    auto lock = std::make_unique<SimTest::SqliteLock>(database_->DatabaseFile());
    window->calls.clear();
    std::vector<long> took;
    for (const ChannelStatus &status : {Discharging(120, 20, 1190), Charging(5, 1, 1300), Charging(65, 9, 1310)}) {
        charger.SetStatus(0, status);
        took.push_back(TimedTick());
    }
    EXPECT_GE(took[0], 250) << "the first failing write waits for the lock";
    EXPECT_LT(std::max(took[1], took[2]), 250) << "later ones only try briefly, so the polls keep their pace";

    // The treatment follows the charger; the database holds what it held.
    EXPECT_EQ(make_tuple(1, int(OK)), make_tuple(service->CurrentStep(), service->Step(0).State));
    EXPECT_EQ((std::vector<std::tuple<int, int, int, int>>{{1, 60, 1200, 200}}), Stored(id));
    EXPECT_EQ(make_tuple(Laeuft, 0, 0), Step(id, 1));
    EXPECT_EQ(make_tuple(Folgt, 0, 0), Step(id, 2));
    EXPECT_EQ(0, RegisteredStep(id)) << "the registry never runs ahead of the rows";
    const WriteStatus failing = service->WriteState();
    EXPECT_EQ(make_tuple(true, 3, 2), make_tuple(failing.Failing, failing.WaitingSamples, failing.WaitingSteps));
    EXPECT_TRUE(failing.Reason.contains(QStringLiteral("gesperrt"))) << failing.Reason.toStdString();
    // The window heard of it on every tick, got the readings all the same,
    // and re-read no step list that could not have changed.
    EXPECT_EQ(make_tuple(3L, 3L, 0L), make_tuple(window->Count("ShowWriteStatus"), window->Count("ShowVoltage"),
                                                 window->Count("RefreshSteps")));
    EXPECT_EQ("ShowVoltage 1.31", *std::find_if(window->calls.rbegin(), window->calls.rend(), [](const std::string &c) {
        return c.rfind("ShowVoltage", 0) == 0; }));
    const std::string log = Log();
    EXPECT_EQ(4, std::count(log.begin(), log.end(), '\n')) << "every poll wrote its log line";

    // The charger finishes during the outage: the end waits too, and the
    // treatment stays registered until its rows are in.
    charger.SetStatus(0, Idle(1250));
    manager_->Tick(host_);
    EXPECT_EQ(Service::Ended, service->ServiceState());
    EXPECT_TRUE(manager_->HasUnwritten());
    EXPECT_EQ(0, RegisteredStep(id));
    EXPECT_EQ(make_tuple(4, 3), make_tuple(service->WriteState().WaitingSamples, service->WriteState().WaitingSteps));

    lock.reset();
    window->calls.clear();
    EXPECT_EQ(nullptr, manager_->Tick(host_)) << "an ended treatment is not polled, but written";
    EXPECT_FALSE(manager_->HasUnwritten() || service->HasPendingWrites());
    const std::vector<std::tuple<int, int, int, int>> all = {
        {1, 60, 1200, 200}, {1, 120, 1190, 200}, {2, 125, 1300, 500}, {2, 185, 1310, 500}, {3, 185, 1250, 0}};
    EXPECT_EQ(all, Stored(id));
    EXPECT_EQ(make_tuple(OK, 120, 20), Step(id, 1));
    EXPECT_EQ(make_tuple(OK, 65, 9), Step(id, 2));
    EXPECT_TRUE(database_->RunningTreatments().isEmpty());
    ASSERT_FALSE(window->writeStatuses.empty());
    const WriteStatus recovered = window->writeStatuses.back();
    EXPECT_EQ(make_tuple(false, 4, 3), make_tuple(recovered.Failing, recovered.RecoveredSamples, recovered.RecoveredSteps));
    EXPECT_EQ((std::vector<std::string>{"ShowWriteStatus", "RefreshSteps"}), window->calls);
    manager_->Tick(host_);
    EXPECT_EQ(all, Stored(id)) << "nothing is written twice by later ticks";
}

// A stop while records wait writes them first; when it cannot, the charger
// is stopped all the same, the stop says why, and a later tick writes them.
// Without an outage a stop writes at once and reports nothing.
TEST_F(WriteFailureTest, StopDuringTheOutageStopsTheChargerAndWritesLater)
{
    ScriptedCharger &charger = AttachCharger(1, 1);
    AttachCharger(2, 1).SetStatus(0, Discharging(60, 10, 1200));
    Service *service = StartStandard(3, 500, 200);
    Service *other = StartStandard(3, 500, 200, "Ohmrida an COM2");
    const int id = service->ID(), otherID = other->ID();
    charger.SetStatus(0, Discharging(60, 10, 1200));
    manager_->Tick(host_);
    manager_->Tick(host_);
    EXPECT_NO_THROW(manager_->StopService(host_, other));
    EXPECT_EQ(make_tuple(Abgebrochen, 60, 10), Step(otherID, 1));

    auto lock = std::make_unique<SimTest::SqliteLock>(database_->DatabaseFile());
    charger.SetStatus(0, Discharging(90, 15, 1195));
    manager_->Tick(host_);
    charger.ClearMessages();
    try {
        manager_->StopService(host_, service);
        FAIL() << "the stop must report the failed write";
    } catch (const DatabaseError &error) {
        const std::string text = error.what();
        for (const char *part : {"Ladeger\u00e4t gestoppt", "1 Messwert und 1 Schrittergebnis konnten", "nachgetragen"})
            EXPECT_NE(std::string::npos, text.find(part)) << text;
    }
    EXPECT_EQ(std::vector<Bytes>{Bytes{0x13}}, charger.Messages()) << "the charger is stopped first";
    EXPECT_EQ(make_tuple(0, true, 1), make_tuple(manager_->Count(), host_.pages.empty(), host_.batteryPageShown - 1));
    EXPECT_EQ(make_tuple(true, 2), make_tuple(manager_->HasUnwritten(), manager_->WaitingWrites()));
    EXPECT_EQ(make_tuple(Laeuft, 0, 0), Step(id, 1));

    lock.reset();
    manager_->Tick(host_);
    EXPECT_FALSE(manager_->HasUnwritten());
    EXPECT_EQ((std::vector<std::tuple<int, int, int, int>>{{1, 60, 1200, 200}, {1, 90, 1195, 200}}), Stored(id));
    EXPECT_EQ(make_tuple(Abgebrochen, 90, 15), Step(id, 1));
    EXPECT_EQ(make_tuple(Folgt, 0, 0), Step(id, 2));
    EXPECT_TRUE(database_->RunningTreatments().isEmpty());
    EXPECT_EQ(1u, charger.Messages().size()) << "nothing more is sent for a stopped treatment";
}

// The waiting room: entries in the order given, samples beyond the bound
// dropped and counted, step results always kept; and what the window says of it.
TEST(PendingWrites, KeepsOrderAndDropsSamplesOnlyBeyondItsRoom)
{
    QTemporaryDir dir;
    TBRASKDataModule database(dir.path());
    TBRASKDataModule::Service record;
    record.BatteryID = 1;
    std::vector<StepRecord> steps = {{0, 1}, {0, 2}};
    database.InsertServiceWithSteps(record, steps);

    PendingWrites pending(3);
    pending.AddStepResult({record.ID, 1, 0, 0, 0, 0, Laeuft});
    EXPECT_TRUE(pending.AddSample({record.ID, 1, 10, 1200, 100, 0}));
    pending.AddStepResult({record.ID, 1, 0, 0, 20, 0, OK});
    EXPECT_TRUE(pending.AddSample({record.ID, 2, 21, 1300, 500, 0}));
    EXPECT_TRUE(pending.AddSample({record.ID, 2, 22, 1310, 500, 0}));
    EXPECT_FALSE(pending.AddSample({record.ID, 2, 23, 1320, 500, 0}));
    pending.AddStepResult({record.ID, 2, 0, 0, 0, 0, Laeuft});
    EXPECT_EQ(make_tuple(3, 3, 1, 6), make_tuple(pending.Samples(), pending.StepResults(), pending.Dropped(), pending.Size()));

    database.InTransaction([&] { pending.WriteTo(database); });
    EXPECT_EQ(6, pending.Size()) << "kept until the caller's commit";
    pending.Clear();
    EXPECT_TRUE(pending.Empty());
    EXPECT_EQ(1, pending.Dropped()) << "the loss stays counted until it was reported";

    StepRecord first{record.ID, 1}, second{record.ID, 2};
    ASSERT_TRUE(database.GetSubService(first) && database.GetSubService(second));
    EXPECT_EQ(make_tuple(OK, 20, Laeuft), make_tuple(first.State, first.Duration, second.State)) << "the later result wins";
    database.SelectSamples(record.ID);
    std::vector<int> times;
    for (bool more = database.FirstSample(); more; more = database.NextSample()) {
        Sample sample;
        database.GetSample(sample);
        times.push_back(sample.Time);
    }
    EXPECT_EQ((std::vector<int>{10, 21, 22}), times);

    WriteStatus status;
    EXPECT_TRUE(WriteStatusText(status).isEmpty());
    status.Failing = true;
    status.Since = QDateTime(QDate(2024, 3, 1), QTime(9, 5, 7));
    const struct {
        int samples, steps, dropped;
        const char *text;
    } cases[] = {
        {1, 0, 0, "1 Messwert wartet"},
        {12, 0, 0, "12 Messwerte warten"},
        {0, 1, 0, "0 Messwerte warten, 1 Schrittergebnis"},
        {100000, 3, 250, "100000 Messwerte warten, 3 Schrittergebnisse, 250 verworfen"},
    };
    for (const auto &c : cases) {
        status.WaitingSamples = c.samples;
        status.WaitingSteps = c.steps;
        status.DroppedSamples = c.dropped;
        EXPECT_EQ("Speichern fehlgeschlagen seit 09:05:07 \u2013 " + QString::fromUtf8(c.text), WriteStatusText(status));
    }
}
