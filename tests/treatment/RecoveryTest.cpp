// A recorder that dies, two recorders on one terminal, deleting what is being
// recorded: braskon-cli run against braskon-sim, killed and restarted.

#include "TreatmentFixture.h"

#include "SimulatorProcess.h"
#include "database/OwnerProcess.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUuid>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <random>
#include <thread>

using namespace TreatmentTest;
using Clock = std::chrono::steady_clock;

namespace {

// One poll line of braskon-cli run, as the sample it stands for.
struct PollLine {
    int Step = 0, Voltage = 0, Current = 0;
};

std::vector<PollLine> PollLines(const QString &output)
{
    static const QRegularExpression line(
        QStringLiteral("^Schritt (\\d+)  Zeit \\S+  (-?[\\d.]+) V  (-?[\\d.]+) A  -?\\d+ mAh  \\S+$"),
        QRegularExpression::MultilineOption);
    std::vector<PollLine> lines;
    for (auto match = line.globalMatch(output); match.hasNext();) {
        const auto m = match.next();
        lines.push_back({m.captured(1).toInt(), qRound(m.captured(2).toDouble() * 1000),
                         qRound(m.captured(3).toDouble() * 1000)});
    }
    return lines;
}

int TreatmentOf(const QString &output)
{
    static const QRegularExpression first(QStringLiteral("^Behandlung (\\d+)[ :]"),
                                          QRegularExpression::MultilineOption);
    const auto match = first.match(output);
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

} // namespace

class RecoveryTest : public TreatmentFixture {
protected:
    SimTest::SimulatorProcess sim_{{"--port", "1=lumo", "--speed", "100", "--soc", "60"}};

    void SetUp() override
    {
        TreatmentFixture::SetUp();
        sim_.start();
    }

    QStringList Run(std::initializer_list<QString> args)
    {
        return QStringList{"--database", dir_.path(), "run"} + QStringList(args);
    }
    QStringList StartProgram3() const
    {
        return {"--database", dir_.path(), "run",         "--battery",     QString::number(BatteryID),
                "--terminal", "Lumo an COM1", "--program", "3",           "--charge",
                "500",        "--discharge",  "500",       "--tick-ms",   "50",
                "--min-delta-u", "0",         "--min-delta-i", "0"};
    }

    void Launch(QProcess &cli, const QStringList &args)
    {
        // Messages and poll lines in one stream, in the order written.
        cli.setProcessChannelMode(QProcess::MergedChannels);
        cli.setWorkingDirectory(dir_.path());
        cli.start(QStringLiteral(BRASKON_CLI_PATH), args);
        ASSERT_TRUE(cli.waitForStarted(5000));
    }
    // Reads the recorder's output until it printed `polls` poll lines.
    QString WaitForPolls(QProcess &cli, size_t polls)
    {
        QString output;
        const auto until = Clock::now() + std::chrono::seconds(20);
        while (PollLines(output).size() < polls && Clock::now() < until && cli.state() == QProcess::Running) {
            cli.waitForReadyRead(100);
            output += QString::fromUtf8(cli.readAllStandardOutput());
        }
        return output;
    }
    QString KillHard(QProcess &cli)
    {
        // Never kill(0): that would be this process's whole group.
        if (cli.state() == QProcess::Running && cli.processId() > 0)
            ::kill(static_cast<pid_t>(cli.processId()), SIGKILL);
        cli.waitForFinished(5000);
        return QString::fromUtf8(cli.readAllStandardOutput());
    }
    // Runs braskon-cli to its end: exit code and standard output + error.
    std::pair<int, QString> Cli(const QStringList &args, int timeoutMs = 30000)
    {
        QProcess cli;
        Launch(cli, args);
        if (!cli.waitForFinished(timeoutMs)) {
            cli.kill();
            cli.waitForFinished();
        }
        return {cli.exitCode(), QString::fromUtf8(cli.readAll())};
    }
    QString ListState(int serviceID)
    {
        const auto [code, text] = Cli({"--database", dir_.path(), "service", "list"});
        EXPECT_EQ(0, code) << text.toStdString();
        for (const QString &line : text.split('\n'))
            if (line.startsWith(QString::number(serviceID) + '\t'))
                return line.section('\t', 5, 5);
        return {};
    }

    // A second connection of its own: the file as another program finds it.
    QVariant Scalar(const QString &sql)
    {
        const QString name = QUuid::createUuid().toString();
        QVariant value;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(database_->DatabaseFile());
            EXPECT_TRUE(db.open());
            QSqlQuery query(db);
            EXPECT_TRUE(query.exec(sql)) << sql.toStdString();
            if (query.next())
                value = query.value(0);
        }
        QSqlDatabase::removeDatabase(name);
        return value;
    }

    // What must hold after any kill: a sound file without orphans, every poll
    // line printed stored as the sample after `before`, and the treatment
    // found as interrupted.
    void ExpectSoundAfterKill(const QString &output, int serviceID, size_t before, const std::string &where,
                              bool interrupted = true)
    {
        EXPECT_EQ(QStringLiteral("ok"), Scalar("PRAGMA integrity_check").toString()) << where;
        // The registry appears with the first registration.
        const bool registry = Scalar("SELECT COUNT(*) FROM sqlite_master WHERE name = 'running'").toInt() == 1;
        for (const char *orphans :
             {"SELECT COUNT(*) FROM samples WHERE F_ServiceID NOT IN (SELECT F_ID FROM services)",
              "SELECT COUNT(*) FROM sub WHERE F_ServiceID NOT IN (SELECT F_ID FROM services)",
              "SELECT COUNT(*) FROM services WHERE (SELECT COUNT(*) FROM sub WHERE F_ServiceID = F_ID) <> 2"})
            EXPECT_EQ(0, Scalar(orphans).toInt()) << where << ": " << orphans;
        // Open steps only in registered treatments: nothing stays "läuft" unnoticed.
        if (registry)
            for (const char *unregistered :
                 {"SELECT COUNT(*) FROM running WHERE F_ServiceID NOT IN (SELECT F_ID FROM services)",
                  "SELECT COUNT(*) FROM services WHERE F_ID NOT IN (SELECT F_ServiceID FROM running) AND F_ID IN "
                  "(SELECT F_ServiceID FROM sub WHERE F_State IN (0, 1))"})
                EXPECT_EQ(0, Scalar(unregistered).toInt()) << where << ": " << unregistered;
        const std::vector<PollLine> printed = PollLines(output);
        if (serviceID == 0) {
            EXPECT_TRUE(printed.empty()) << where;
            return;
        }
        const std::vector<Sample> stored = SamplesOf(serviceID);
        ASSERT_GE(stored.size(), before + printed.size()) << where << output.toStdString();
        for (size_t i = 0; i < printed.size(); ++i) {
            const Sample &sample = stored[before + i];
            EXPECT_EQ(printed[i].Step, sample.Step) << where << " line " << i;
            EXPECT_EQ(printed[i].Voltage, sample.Voltage) << where << " line " << i;
            EXPECT_EQ(printed[i].Current, sample.Current) << where << " line " << i;
        }
        EXPECT_EQ(interrupted ? TBRASKDataModule::RecordingState::Interrupted : TBRASKDataModule::RecordingState::Ended,
                  database_->StateOf(serviceID))
            << where;
    }
};

TEST_F(RecoveryTest, ProgramThreeGoesOnAfterTheRecorderWasKilled)
{
    QProcess recorder;
    Launch(recorder, StartProgram3());
    QString output = WaitForPolls(recorder, 4);
    output += KillHard(recorder);
    const std::vector<Sample> before = SamplesOf(1);
    ASSERT_GE(before.size(), 4u) << output.toStdString();
    EXPECT_EQ(QStringLiteral("unterbrochen"), ListState(1));
    EXPECT_EQ(Laeuft, StepRow(1, 1).State);

    // The charger went on meanwhile; now it runs fast to the end.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    sim_.control("set-speed 3000");
    const auto [code, resumed] = Cli(Run({"--resume", "1", "--tick-ms", "50"}));
    EXPECT_EQ(0, code) << resumed.toStdString();
    EXPECT_TRUE(resumed.startsWith("Behandlung 1 fortgesetzt: Lumo an COM1: Akku 7")) << resumed.toStdString();

    EXPECT_EQ(OK, StepRow(1, 1).State);
    EXPECT_EQ(OK, StepRow(1, 2).State);
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
    Launch(recorder, StartProgram3());
    WaitForPolls(recorder, 6);
    KillHard(recorder);
    const Sample last = SamplesOf(1).back();
    sim_.control("stop-by-hand 1");
    const auto [code, text] = Cli(Run({"--resume", "1"}));
    EXPECT_EQ(1, code);
    EXPECT_TRUE(text.contains("nicht mehr aus")) << text.toStdString();
    const StepRecord first = StepRow(1, 1);
    EXPECT_EQ(Abgebrochen, first.State);
    EXPECT_GE(first.Duration, last.Time) << "the last recorded time of the step";
    EXPECT_GT(first.Capacity, 0);
    EXPECT_EQ(Abgebrochen, StepRow(1, 2).State);
    EXPECT_EQ(QStringLiteral("beendet"), ListState(1));
    // Only the status was asked for: nothing loaded, started or stopped.
    const std::vector<std::string> trace = sim_.trace();
    EXPECT_EQ(0u, trace.back().find("COM1 rx 12")) << trace.back();
}

TEST_F(RecoveryTest, SecondRecorderOnTheTerminalIsRefusedBeforeSendingAnything)
{
    QProcess first;
    Launch(first, StartProgram3());
    WaitForPolls(first, 2);
    const size_t mark = sim_.trace().size();
    const auto [code, text] = Cli(Run({"--battery", QString::number(BatteryID), "--terminal", "Lumo an COM1",
                                       "--program", "1", "--charge", "300", "--discharge", "300"}));
    EXPECT_EQ(1, code);
    EXPECT_TRUE(text.contains(QStringLiteral("wird schon von einem anderen Programm (Prozess %1) benutzt")
                                  .arg(first.processId())))
        << text.toStdString();
    const std::vector<std::string> trace = sim_.trace();
    for (size_t i = mark; i < trace.size(); ++i)
        for (const char *command : {"COM1 rx 13", "COM1 rx 14", "COM1 rx 15", "COM1 rx 16"})
            EXPECT_NE(0u, trace[i].find(command)) << "sent by the refused one: " << trace[i];
    TBRASKDataModule::Service second;
    second.ID = 2;
    EXPECT_FALSE(database_->LoadService(second)) << "nothing stored";
    // The first records on, its program untouched.
    WaitForPolls(first, 2);
    EXPECT_EQ(QStringLiteral("l\u00e4uft"), ListState(1));
    ASSERT_GT(first.processId(), 0);
    ::kill(static_cast<pid_t>(first.processId()), SIGTERM);
    ASSERT_TRUE(first.waitForFinished(10000));
    EXPECT_EQ(QStringLiteral("beendet"), ListState(1));
}

TEST_F(RecoveryTest, WhatIsBeingRecordedCannotBeDeleted)
{
    QProcess recorder;
    Launch(recorder, StartProgram3());
    WaitForPolls(recorder, 2);
    const QString id = QString::number(BatteryID);
    for (const QStringList &args : {QStringList{"battery", "delete", id}, QStringList{"service", "delete", "1"}}) {
        const auto [code, text] = Cli(QStringList{"--database", dir_.path()} + args);
        EXPECT_EQ(1, code) << args.join(' ').toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("kann nicht gel\u00f6scht werden: die Behandlung 1 wird gerade an "
                                                 "Lumo an COM1 aufgezeichnet")))
            << text.toStdString();
    }
    database_->ReopenBatteries(BatteryID);
    EXPECT_THROW(database_->DeleteSelectedBattery(), RecordingBusyError);
    EXPECT_THROW(database_->DeleteService(1), RecordingBusyError);
    WaitForPolls(recorder, 2);
    EXPECT_EQ(QStringLiteral("l\u00e4uft"), ListState(1)) << "the recorder goes on";

    // Once its recorder is gone, the interrupted record may go, registration included.
    KillHard(recorder);
    const auto [code, text] = Cli({"--database", dir_.path(), "service", "delete", "1"});
    EXPECT_EQ(0, code) << text.toStdString();
    EXPECT_TRUE(database_->RunningTreatments().isEmpty());
    EXPECT_TRUE(SamplesOf(1).empty());
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
    int interrupted = 0;   // the treatment the last kill left, 0 if none
    for (int round = 0; round < kills; ++round) {
        const bool resume = interrupted != 0 && round % 2 == 1;
        const int delay = moment(random);
        const std::string where = "round " + std::to_string(round) + (resume ? " (resume)" : "") + " after "
                                  + std::to_string(delay) + " ms, seed " + std::to_string(seed);
        const size_t before = resume ? SamplesOf(interrupted).size() : 0;
        const int newest = Scalar("SELECT MAX(F_ID) FROM services").toInt();
        QProcess recorder;
        Launch(recorder, resume ? Run({"--resume", QString::number(interrupted), "--tick-ms", "50",
                                       "--min-delta-u", "0", "--min-delta-i", "0"})
                                : StartProgram3());
        recorder.waitForFinished(delay);
        // Only a resume may end by itself: a kill inside the first poll's
        // loading can leave the charger stopped, and then it closes the steps.
        const bool exited = recorder.state() != QProcess::Running;
        const QString output = exited ? QString::fromUtf8(recorder.readAllStandardOutput()) : KillHard(recorder);
        if (exited)
            ASSERT_TRUE(resume && output.contains("nicht mehr aus")) << where << output.toStdString();
        // A kill before the first line may still have committed the rows.
        const int latest = Scalar("SELECT MAX(F_ID) FROM services").toInt();
        const int serviceID = resume ? interrupted : (latest > newest ? latest : 0);
        if (!resume && TreatmentOf(output) != 0)
            EXPECT_EQ(TreatmentOf(output), serviceID) << where;
        ExpectSoundAfterKill(output, serviceID, before, where, !exited);
        interrupted = latest != 0 && database_->StateOf(latest) == TBRASKDataModule::RecordingState::Interrupted
                          ? latest
                          : 0;
    }
}
