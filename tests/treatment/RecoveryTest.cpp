// braskon-cli run against braskon-sim, killed, resumed and doubled.

#include "tests/treatment/TreatmentFixture.h"

#include "tests/support/SimulatorProcess.h"
#include "tests/support/TestDatabase.h"
#include "database/OwnerProcess.h"
#include "treatment/Resume.h"

#include <cstdlib>
#include <random>
#include <thread>

using namespace TreatmentTest;
using std::make_tuple;

class RecoveryTest : public TreatmentFixture {
protected:
    SimTest::SimulatorProcess sim_{{"--port", "1=lumo", "--speed", "100", "--soc", "60"}};

    void SetUp() override
    {
        TreatmentFixture::SetUp();
        sim_.start();
    }
    QString ListState(int serviceID)
    {
        const auto [code, text] = Cli({"service", "list"});
        EXPECT_EQ(0, code) << text.toStdString();
        for (const QString &line : text.split('\n'))
            if (line.startsWith(QString::number(serviceID) + '\t'))
                return line.section('\t', 5, 5);
        return {};
    }
    // A connection of its own: the file as another program finds it.
    int Scalar(const QString &sql)
    {
        const QVariant value = QueryOnce(dir_.path(), sql);
        return value.toString() == "ok" ? 1 : value.toInt();
    }

    // What must hold after any kill: a sound file without orphans, every poll
    // line printed stored as the sample after `before`, and the treatment
    // found as interrupted.
    void ExpectSoundAfterKill(const QString &output, int serviceID, size_t before, const std::string &where,
                              bool interrupted)
    {
        SCOPED_TRACE(where);
        EXPECT_EQ(1, Scalar("PRAGMA integrity_check"));
        // Open steps only in registered treatments: nothing stays "läuft" unnoticed.
        // The registry appears with the first registration.
        const bool registry = Scalar("SELECT COUNT(*) FROM sqlite_master WHERE name = 'running'") == 1;
        for (const char *orphans :
             {"SELECT COUNT(*) FROM samples WHERE F_ServiceID NOT IN (SELECT F_ID FROM services)",
              "SELECT COUNT(*) FROM sub WHERE F_ServiceID NOT IN (SELECT F_ID FROM services)",
              "SELECT COUNT(*) FROM services WHERE (SELECT COUNT(*) FROM sub WHERE F_ServiceID = F_ID) <> 2",
              registry ? "SELECT COUNT(*) FROM running WHERE F_ServiceID NOT IN (SELECT F_ID FROM services)" : "",
              registry ? "SELECT COUNT(*) FROM services WHERE F_ID NOT IN (SELECT F_ServiceID FROM running) AND F_ID "
                         "IN (SELECT F_ServiceID FROM sub WHERE F_State IN (0, 1))" : ""})
            if (*orphans) {
                EXPECT_EQ(0, Scalar(orphans)) << orphans;
            }
        const std::vector<PollLine> printed = PollLines(output);
        if (serviceID == 0) {
            EXPECT_TRUE(printed.empty());
            return;
        }
        const std::vector<Sample> stored = SamplesOf(serviceID);
        ASSERT_GE(stored.size(), before + printed.size()) << output.toStdString();
        for (size_t i = 0; i < printed.size(); ++i) {
            const Sample &s = stored[before + i];
            EXPECT_EQ(make_tuple(printed[i].Step, printed[i].Voltage, printed[i].Current),
                      make_tuple(s.Step, s.Voltage, s.Current)) << "line " << i;
        }
        EXPECT_EQ(interrupted ? RecordStore::RecordingState::Interrupted : RecordStore::RecordingState::Ended,
                  database_->StateOf(serviceID));
    }
};

TEST_F(RecoveryTest, ProgramThreeGoesOnAfterTheRecorderWasKilled)
{
    QProcess recorder;
    StartCli(recorder, Program3());
    QString output = WaitForPolls(recorder, 4);
    output += KillHard(recorder);
    const std::vector<Sample> before = SamplesOf(1);
    ASSERT_GE(before.size(), 4u) << output.toStdString();
    EXPECT_EQ(QStringLiteral("unterbrochen"), ListState(1));
    EXPECT_EQ(Laeuft, StepRow(1, 1).State);

    // The charger goes on while nobody watches (its charge moves); then it
    // runs fast to the end.
    const std::string atKill = sim_.control("status 1");
    const auto until = Clock::now() + std::chrono::seconds(10);
    while (sim_.control("status 1") == atKill && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_NE(sim_.control("status 1"), atKill);
    sim_.control("set-speed 3000");
    const auto [code, resumed] = Cli({"run", "--resume", "1", "--tick-ms", "50"});
    EXPECT_EQ(0, code) << resumed.toStdString();
    EXPECT_TRUE(resumed.startsWith("Behandlung 1 fortgesetzt: Lumo an COM1: Akku 7")) << resumed.toStdString();
    EXPECT_EQ(make_tuple(OK, OK), make_tuple(StepRow(1, 1).State, StepRow(1, 2).State));
    EXPECT_GT(StepRow(1, 1).Duration, before.back().Time) << "the first step ran on while nobody watched";
    const std::vector<Sample> after = SamplesOf(1);
    ASSERT_GT(after.size(), before.size() + 2);
    for (size_t i = 1; i < after.size(); ++i)
        EXPECT_GE(after[i].Time, after[i - 1].Time) << "sample " << i << " of " << after.size();
    EXPECT_GT(after[before.size()].Time, before.back().Time) << "times carry on after the kill";
    EXPECT_GE(after.back().Step, 2);
    EXPECT_EQ(QStringLiteral("beendet"), ListState(1));
    EXPECT_TRUE(database_->RunningTreatments().isEmpty());
}

TEST_F(RecoveryTest, ChargerNoLongerRunningItClosesTheOpenSteps)
{
    QProcess recorder;
    StartCli(recorder, Program3());
    WaitForPolls(recorder, 6);
    KillHard(recorder);
    const Sample last = SamplesOf(1).back();
    sim_.control("stop-by-hand 1");
    const auto [code, text] = Cli({"run", "--resume", "1"});
    EXPECT_EQ(1, code);
    EXPECT_TRUE(text.contains("nicht mehr aus")) << text.toStdString();
    const StepRecord first = StepRow(1, 1);
    EXPECT_EQ(make_tuple(Abgebrochen, Abgebrochen), make_tuple(first.State, StepRow(1, 2).State));
    EXPECT_EQ(first.Duration, last.Time) << "the step ends at its last stored sample";
    EXPECT_GT(first.Capacity, 0);
    EXPECT_EQ(QStringLiteral("beendet"), ListState(1));
    // Only the status was asked for: nothing loaded, started or stopped.
    EXPECT_EQ(0u, sim_.trace().back().find("COM1 rx 12")) << sim_.trace().back();
}

// The charger was restarted with the same program while nobody recorded: its
// counters began again, and a resume must not append the new run to the old
// record. The restart is done on the wire, as a user at the device would.
TEST_F(RecoveryTest, RestartedChargerIsClosedNotAppended)
{
    QProcess recorder;
    StartCli(recorder, Program3());
    WaitForPolls(recorder, 6);
    KillHard(recorder);
    const std::vector<Sample> before = SamplesOf(1);
    {
        Ohmrida::AsynchSerialInterface port(1);
        Ohmrida::Terminal lumo("Lumo an COM1", &port, Ohmrida::DeviceLumo, 0);
        ASSERT_TRUE(lumo.Stop().Accepted());
        ASSERT_TRUE(lumo.SendProgram({3, 1, 4, 1800, 500, 500}).Accepted());
        ASSERT_TRUE(lumo.Start().Accepted());
    }
    const size_t mark = sim_.trace().size();
    const auto [code, text] = Cli({"run", "--resume", "1"});
    EXPECT_EQ(1, code);
    EXPECT_TRUE(text.contains("wurde neu gestartet")) << text.toStdString();
    EXPECT_EQ(before.size(), SamplesOf(1).size()) << "nothing appended";
    const StepRecord first = StepRow(1, 1);
    EXPECT_EQ(make_tuple(Abgebrochen, before.back().Time), make_tuple(first.State, first.Duration));
    EXPECT_EQ(Abgebrochen, StepRow(1, 2).State);
    EXPECT_EQ(QStringLiteral("beendet"), ListState(1));
    // The charger was only searched and asked; it runs on (the user was told).
    const std::vector<std::string> trace = sim_.trace();
    for (size_t i = mark; i < trace.size(); ++i) {
        const std::string command = trace[i].substr(8, 2);
        EXPECT_TRUE(command == "16" || command == "11" || command == "21" || command == "12") << trace[i];
    }
}

// "Stop the charger": the stop goes to the channel that still runs the
// treatment, and the record ends at its last stored sample.
TEST_F(RecoveryTest, StopAnswerStopsTheChargerAndClosesTheRecord)
{
    QProcess recorder;
    StartCli(recorder, Program3());
    WaitForPolls(recorder, 6);
    KillHard(recorder);
    const Sample last = SamplesOf(1).back();
    const size_t mark = sim_.trace().size();
    const auto [code, text] = Cli({"run", "--resume", "1", "--stop"});
    EXPECT_EQ(0, code) << text.toStdString();
    EXPECT_TRUE(text.contains("Das Ladeger\u00e4t ist gestoppt")) << text.toStdString();
    EXPECT_GE(sim_.waitForTrace("COM1 rx 13 tx 13 00", std::chrono::seconds(0), mark), 0) << "the stop on the wire";
    const StepRecord first = StepRow(1, 1);
    EXPECT_EQ(make_tuple(Abgebrochen, last.Time), make_tuple(first.State, first.Duration));
    EXPECT_EQ(QStringLiteral("beendet"), ListState(1));
    EXPECT_TRUE(database_->RunningTreatments().isEmpty());
    // The channel is idle now: a status read says so.
    Ohmrida::AsynchSerialInterface port(1);
    Ohmrida::StatusValues values;
    Ohmrida::ProgramSettings settings;
    ASSERT_TRUE(Ohmrida::Terminal("Lumo an COM1", &port, Ohmrida::DeviceLumo, 0).ReadStatus(values, settings).Accepted());
    EXPECT_EQ(0, values.modeFlags);
}

TEST_F(RecoveryTest, SecondRecorderIsRefusedWhileRecording)
{
    QProcess first;
    StartCli(first, Program3());
    WaitForPolls(first, 2);
    const size_t mark = sim_.trace().size();
    const auto [code, text] = Cli({"run", "--battery", QString::number(BatteryID), "--terminal", "Lumo an COM1",
                                   "--program", "1", "--charge", "300", "--discharge", "300"});
    EXPECT_EQ(1, code);
    EXPECT_TRUE(text.contains(QStringLiteral("wird schon von einem anderen Programm (Prozess %1) benutzt")
                                  .arg(first.processId())))
        << text.toStdString();
    const std::vector<std::string> trace = sim_.trace();
    for (size_t i = mark; i < trace.size(); ++i)
        for (const char *command : {"COM1 rx 13", "COM1 rx 14", "COM1 rx 15", "COM1 rx 16"})
            EXPECT_NE(0u, trace[i].find(command)) << "sent by the refused one: " << trace[i];
    EXPECT_EQ(2, database_->AllocateServiceID()) << "nothing stored";
    WaitForPolls(first, 2);
    EXPECT_EQ(QStringLiteral("l\u00e4uft"), ListState(1)) << "the first records on";
}

// The recorder killed at random moments, starting anew or resuming in turn.
// BRASKON_KILL_ROUNDS sets the number of kills (scripts/kill-test.sh runs many).
TEST_F(RecoveryTest, KilledAtRandomMomentsLeavesSoundRecords)
{
    const char *rounds = std::getenv("BRASKON_KILL_ROUNDS");
    const int kills = rounds ? std::max(1, std::atoi(rounds)) : 20;
    const unsigned seed = static_cast<unsigned>(std::random_device{}());
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> moment(0, 500);
    static const QRegularExpression treatment(QStringLiteral("^Behandlung (\\d+)[ :]"),
                                              QRegularExpression::MultilineOption);
    int interrupted = 0;   // the treatment the last kill left, 0 if none
    for (int round = 0; round < kills; ++round) {
        const bool resume = interrupted != 0 && round % 2 == 1;
        const int delay = moment(random);
        const std::string where = "round " + std::to_string(round) + (resume ? " (resume)" : "") + " after "
                                  + std::to_string(delay) + " ms, seed " + std::to_string(seed);
        const size_t before = resume ? SamplesOf(interrupted).size() : 0;
        const int newest = Scalar("SELECT MAX(F_ID) FROM services");
        QProcess recorder;
        StartCli(recorder, resume ? QStringList{"run", "--resume", QString::number(interrupted), "--tick-ms", "50",
                                                "--min-delta-u", "0", "--min-delta-i", "0"}
                                  : Program3());
        recorder.waitForFinished(delay);
        // Only a resume may end by itself: a kill inside the first poll's
        // loading can leave the charger stopped, and then it closes the steps.
        const bool exited = recorder.state() != QProcess::Running;
        const QString output = exited ? QString::fromUtf8(recorder.readAll()) : KillHard(recorder);
        if (exited) {
            ASSERT_TRUE(resume && output.contains("nicht mehr aus")) << where << output.toStdString();
        }
        // A kill before the first line may still have committed the rows.
        const int latest = Scalar("SELECT MAX(F_ID) FROM services");
        const int serviceID = resume ? interrupted : (latest > newest ? latest : 0);
        const auto printed = treatment.match(output);
        if (!resume && printed.hasMatch()) {
            EXPECT_EQ(printed.captured(1).toInt(), serviceID) << where;
        }
        ExpectSoundAfterKill(output, serviceID, before, where, !exited);
        interrupted = latest != 0 && database_->StateOf(latest) == RecordStore::RecordingState::Interrupted
                          ? latest : 0;
    }
}

using AbandonedTreatment = TreatmentFixture;

// The registry row reads back as written, field by field, and closing an
// abandoned treatment ends its running step at its last stored sample, with
// the capacity the last answered poll's pair gives for that time; the
// finished step keeps its figures, the later one gets none.
TEST_F(AbandonedTreatment, RegistryRowReadsBackAndTheOpenStepKeepsItsLastTimeAndCapacity)
{
    RecordStore::Service record;
    record.BatteryID = BatteryID;
    record.Program = 0;
    database_->InsertService(record);
    const int id = record.ID;
    for (int step = 1; step <= 3; ++step) {
        StepRecord row{id, step, step % 2, 100 * step};
        database_->InsertStep(row);
    }
    StepRecord finished{id, 1, 1, 100, 600, 80, OK};
    StepRecord running{id, 2, 0, 200, 0, 0, Laeuft};
    ASSERT_TRUE(database_->StoreStepResult(finished) && database_->StoreStepResult(running));
    database_->InsertSample({id, 2, 600 + 2000, 1200, 200, 0});

    RunningTreatment row;
    row.ServiceID = id;
    row.Terminal = QStringLiteral("Varn an COM3, Kanal 2");
    row.ChargeCurrent = 300;
    row.DischargeCurrent = 200;
    row.Limits = QStringLiteral("600,0,900");
    database_->RegisterRunning(row);
    database_->UpdateRunning(id, 1, 4321, 123);

    RunningTreatment read;
    read.ServiceID = id;
    ASSERT_TRUE(database_->FindRunning(read));
    EXPECT_EQ(make_tuple(read.Terminal, read.Host, read.Pid, read.Identity, read.Step, read.StepTime, read.Capacity,
                         read.ChargeCurrent, read.DischargeCurrent, read.Limits),
              make_tuple(row.Terminal, row.Host, row.Pid, row.Identity, 1, 4321, 123, 300, 200, row.Limits));
    EXPECT_LE(std::abs(read.Heartbeat - OwnerProcess::Now()), 5);
    ASSERT_EQ(1, database_->RunningTreatments().size());
    EXPECT_EQ(id, database_->RunningTreatments().front().ServiceID);

    Resume::Close(*database_, read);
    EXPECT_EQ(make_tuple(OK, 600, 80), Step(id, 1));
    EXPECT_EQ(make_tuple(Abgebrochen, 2000, 123 * 2000 / 4321), Step(id, 2));
    EXPECT_EQ(make_tuple(Abgebrochen, 0, 0), Step(id, 3));
    EXPECT_FALSE(database_->FindRunning(read));
}
