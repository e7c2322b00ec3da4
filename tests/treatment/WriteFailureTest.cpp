// A database held locked by another program during polls: nothing is lost,
// nothing is written twice, and the rows end as the charger did.

#include "tests/treatment/TreatmentFixture.h"

#include "tests/support/SqliteLock.h"
#include "tests/support/TestDatabase.h"

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
        Tick();
        return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    }
    int RegisteredStep(int serviceID)
    {
        RecordStore::RunningTreatment row;
        row.ServiceID = serviceID;
        EXPECT_TRUE(database_->FindRunning(row));
        return row.Step;
    }
};

// Locked from the second poll of program 3 to past its end: samples, the step
// change and the end wait in order and are written by the tick after the lock.
TEST_F(WriteFailureTest, OutageKeepsSamplesStepResultsAndTheEndInOrder)
{
    ScriptedCharger &charger = AttachCharger(1, 1);
    Service *service = StartStandard(3, 500, 200);
    const int id = service->ID();
    RecordingControlWindow *window = pages_.Window(0);
    charger.SetStatus(0, Discharging(60, 3, 1200));
    ASSERT_EQ(service, Tick());
    // Another program's writes leave a long write-ahead log behind, as an
    // outage's backlog on a full disk would.
    QueryOnce(dir_.path(), "CREATE TABLE filler AS WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                           "WHERE i < 3000) SELECT randomblob(1000) AS b FROM n");
    QueryOnce(dir_.path(), "DROP TABLE filler");
    ASSERT_GT(database_->JournalSize(), 2'000'000);

    auto lock = std::make_unique<SimTest::SqliteLock>(database_->DatabaseFile());
    window->calls.clear();
    std::vector<long> took;
    for (const ChannelStatus &status : {Discharging(120, 6, 1190), Charging(5, 1, 1300), Charging(65, 9, 1310)}) {
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
    // Every tick shows the write status and the readings, and re-reads no step list.
    EXPECT_EQ(make_tuple(3L, 3L, 0L), make_tuple(window->Count("ShowWriteStatus"), window->Count("ShowVoltage"),
                                                 window->Count("RefreshSteps")));
    EXPECT_EQ("ShowVoltage 1.31", *std::find_if(window->calls.rbegin(), window->calls.rend(), [](const std::string &c) {
        return c.rfind("ShowVoltage", 0) == 0; }));
    const std::string log = Log();
    EXPECT_EQ(4, std::count(log.begin(), log.end(), '\n')) << "every poll wrote its log line";

    // The end waits too; the treatment stays registered until its rows are in.
    charger.SetStatus(0, Idle(1250));
    Tick();
    EXPECT_EQ(Service::Ended, service->ServiceState());
    EXPECT_TRUE(manager_->HasUnwritten());
    EXPECT_EQ(0, RegisteredStep(id));
    // The idle reading that ended the last step is no sample.
    EXPECT_EQ(make_tuple(3, 3), make_tuple(service->WriteState().WaitingSamples, service->WriteState().WaitingSteps));

    lock.reset();
    window->calls.clear();
    EXPECT_EQ(nullptr, Tick()) << "an ended treatment is not polled, but written";
    EXPECT_FALSE(manager_->HasUnwritten() || service->HasPendingWrites());
    EXPECT_LT(database_->JournalSize(), 100'000) << "the log is emptied once the backlog is in";
    EXPECT_EQ(make_tuple(3, 3), make_tuple(service->LateSamples(), service->LateSteps()));
    const std::vector<std::tuple<int, int, int, int>> all = {
        {1, 60, 1200, 200}, {1, 120, 1190, 200}, {2, 125, 1300, 500}, {2, 185, 1310, 500}};
    EXPECT_EQ(all, Stored(id));
    EXPECT_EQ(make_tuple(OK, 120, 6), Step(id, 1));
    EXPECT_EQ(make_tuple(OK, 65, 9), Step(id, 2));
    EXPECT_TRUE(database_->RunningTreatments().isEmpty());
    ASSERT_FALSE(window->writeStatuses.empty());
    const WriteStatus recovered = window->writeStatuses.back();
    EXPECT_EQ(make_tuple(false, 3, 3), make_tuple(recovered.Failing, recovered.RecoveredSamples, recovered.RecoveredSteps));
    EXPECT_EQ((std::vector<std::string>{"ShowWriteStatus", "RefreshSteps"}), window->calls);
    Tick();
    EXPECT_EQ(all, Stored(id)) << "nothing is written twice by later ticks";
}

// A stop that cannot write stops the charger all the same, says why, and a
// later tick writes; without an outage a stop writes at once.
TEST_F(WriteFailureTest, StopDuringTheOutageStopsTheChargerAndWritesLater)
{
    ScriptedCharger &charger = AttachCharger(1, 1);
    AttachCharger(2, 1).SetStatus(0, Discharging(60, 3, 1200));
    Service *service = StartStandard(3, 500, 200);
    Service *other = StartStandard(3, 500, 200, "Ohmrida an COM2");
    const int id = service->ID(), otherID = other->ID();
    charger.SetStatus(0, Discharging(60, 3, 1200));
    Tick();
    Tick();
    EXPECT_NO_THROW(Stop(other));
    EXPECT_EQ(make_tuple(Abgebrochen, 60, 3), Step(otherID, 1));

    auto lock = std::make_unique<SimTest::SqliteLock>(database_->DatabaseFile());
    charger.SetStatus(0, Discharging(90, 5, 1195));
    Tick();
    charger.ClearMessages();
    try {
        Stop(service);
        FAIL() << "the stop must report the failed write";
    } catch (const DatabaseError &error) {
        const std::string text = error.what();
        for (const char *part : {"Ladeger\u00e4t gestoppt", "1 Messwert und 1 Schrittergebnis konnten", "nachgetragen"})
            EXPECT_NE(std::string::npos, text.find(part)) << text;
    }
    EXPECT_EQ(std::vector<Bytes>{Bytes{0x13}}, charger.Messages()) << "the charger is stopped first";
    EXPECT_EQ(make_tuple(0, true, 2), make_tuple(manager_->Count(), pages_.pages.empty(), pages_.removed));
    EXPECT_EQ(make_tuple(true, 2), make_tuple(manager_->HasUnwritten(), manager_->WaitingWrites()));
    EXPECT_EQ(make_tuple(Laeuft, 0, 0), Step(id, 1));

    lock.reset();
    Tick();
    EXPECT_FALSE(manager_->HasUnwritten());
    // Every tick polled both treatments, and each poll keeps its sample here.
    EXPECT_EQ((std::vector<std::tuple<int, int, int, int>>{{1, 60, 1200, 200}, {1, 60, 1200, 200}, {1, 90, 1195, 200}}),
              Stored(id));
    EXPECT_EQ(make_tuple(Abgebrochen, 90, 5), Step(id, 1));
    EXPECT_EQ(make_tuple(Folgt, 0, 0), Step(id, 2));
    EXPECT_TRUE(database_->RunningTreatments().isEmpty());
    EXPECT_EQ(1u, charger.Messages().size()) << "nothing more is sent for a stopped treatment";

    // A treatment the charger finished during the outage is closed as
    // finished, not as aborted.
    Service *finished = StartStandard(1, 500, 200, "Ohmrida an COM2");
    chargers_[1]->SetStatus(0, Charging(60, 8, 1300));
    Tick();
    lock = std::make_unique<SimTest::SqliteLock>(database_->DatabaseFile());
    chargers_[1]->SetStatus(0, Idle());
    Tick();
    ASSERT_EQ(Service::Ended, finished->ServiceState());
    chargers_[1]->ClearMessages();
    try {
        Stop(finished);
        FAIL() << "the stop must report the failed write";
    } catch (const DatabaseError &error) {
        EXPECT_TRUE(error.message().contains(QStringLiteral("ist beendet, aber"))
                    && !error.message().contains(QStringLiteral("abgebrochen")))
            << error.what();
    }
    EXPECT_TRUE(chargers_[1]->Messages().empty()) << "a finished treatment's charger is not stopped again";
}

// The waiting room's bound: samples beyond it dropped and counted, step results
// always kept; and what the window says of it.
TEST(PendingWrites, DropsSamplesOnlyBeyondItsRoomAndSaysSo)
{
    PendingWrites pending(3);
    pending.AddStepResult({1, 1, 0, 0, 0, 0, Laeuft});
    for (int time : {10, 21, 22})
        EXPECT_TRUE(pending.AddSample({1, 1, time, 1200, 100, 0}));
    EXPECT_FALSE(pending.AddSample({1, 2, 23, 1320, 500, 0}));
    pending.AddStepResult({1, 2, 0, 0, 0, 0, Laeuft});
    EXPECT_EQ(make_tuple(3, 2, 1, 5), make_tuple(pending.Samples(), pending.StepResults(), pending.Dropped(), pending.Size()));
    pending.Clear();
    EXPECT_EQ(make_tuple(true, 1), make_tuple(pending.Empty(), pending.Dropped())) << "the loss stays counted until reported";

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
