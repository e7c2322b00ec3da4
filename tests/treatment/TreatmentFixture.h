#pragma once
// A temporary database with one battery, log.txt in a temporary working
// directory, the record store, terminal registry and service manager the
// engine holds (here on the test's thread), and pages fed from the manager's
// reports; braskon-cli runs on the same database.

#include "tests/treatment/Fakes.h"
#include "tests/treatment/ScriptedCharger.h"
#include "treatment/Serviceman.h"
#include "charger/TerminalManager.h"
#include "database/RecordStore.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <optional>
#include <sstream>
#include <tuple>

#include <unistd.h>

namespace TreatmentTest {

using Clock = std::chrono::steady_clock;

inline std::string FileText(const std::string &path)   // "" when missing
{
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

inline ChannelStatus Charging(int time, int capacity, int voltage = 1300) { return {0x01, 0, voltage, capacity, time}; }
inline ChannelStatus Discharging(int time, int capacity, int voltage = 1200) { return {0x02, 0, voltage, capacity, time}; }
inline ChannelStatus Idle(int voltage = 1250) { return {0x00, 0, voltage, 0, 0}; }

// One poll line of braskon-cli run, as the sample it stands for; Waiting when
// it says the sample is not stored yet.
struct PollLine {
    int Step = 0, Time = 0, Voltage = 0, Current = 0, Capacity = 0;
    QString Function;
    bool Waiting = false;
};

inline std::vector<PollLine> PollLines(const QString &output)
{
    static const QRegularExpression line(
        QStringLiteral("^Schritt (\\d+)  Zeit (\\d+):(\\d+):(\\d+)  (-?[\\d.]+) V  (-?[\\d.]+) A  (-?\\d+) mAh  (\\S+)"
                       "(  \\(nicht gespeichert, \\d+ warten\\))?$"),
        QRegularExpression::MultilineOption);
    std::vector<PollLine> lines;
    for (auto match = line.globalMatch(output); match.hasNext();) {
        const auto m = match.next();
        lines.push_back({m.captured(1).toInt(), m.captured(2).toInt() * 3600 + m.captured(3).toInt() * 60 + m.captured(4).toInt(),
                         qRound(m.captured(5).toDouble() * 1000), qRound(m.captured(6).toDouble() * 1000),
                         m.captured(7).toInt(), m.captured(8), !m.captured(9).isEmpty()});
    }
    return lines;
}

class TreatmentFixture : public ::testing::Test {
protected:
    static constexpr int BatteryID = 7;

    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        ChargerTest::DetachAllPorts();
        char buffer[4096];
        previousDirectory_ = getcwd(buffer, sizeof buffer) ? buffer : "/";
        ASSERT_EQ(0, chdir(dir_.path().toLocal8Bit().constData()));
        database_ = std::make_unique<RecordStore>(dir_.path());
        AddBattery(BatteryID, 1800, 1, 4);
        terminals_ = std::make_unique<Ohmrida::TerminalManager>();
        manager_ = std::make_unique<TServiceManager>(*database_, *terminals_);
    }

    void TearDown() override
    {
        if (savedSpeed_)
            qputenv("BRASKON_DEVICE_SPEED", *savedSpeed_);
        else if (chargerSpeedSet_)
            qunsetenv("BRASKON_DEVICE_SPEED");
        manager_.reset();
        terminals_.reset();
        chargers_.clear();
        database_.reset();
        ChargerTest::DetachAllPorts();
        if (chdir(previousDirectory_.c_str()) != 0)
            ADD_FAILURE() << "cannot return to " << previousDirectory_;
    }

    // A scripted charger on COM<n>, its terminals filed in the terminal manager.
    // Its counters move as the test sets them, however little time passes.
    ScriptedCharger &AttachCharger(int portNumber, uint8_t deviceType)
    {
        if (!chargerSpeedSet_) {
            chargerSpeedSet_ = true;
            if (qEnvironmentVariableIsSet("BRASKON_DEVICE_SPEED"))
                savedSpeed_ = qgetenv("BRASKON_DEVICE_SPEED");
            qputenv("BRASKON_DEVICE_SPEED", "1000000000");
        }
        chargers_.push_back(std::make_unique<ScriptedCharger>(portNumber, deviceType));
        terminals_->ScanPort(terminals_->Port(portNumber));
        chargers_.back()->ClearMessages();
        return *chargers_.back();
    }

    void AddBattery(int id, int capacity, int type, int cells)
    {
        RecordStore::Battery battery;
        battery.ID = id;
        battery.Capacity = capacity;
        battery.Type = type;
        battery.Cells = cells;
        database_->InsertBattery(battery);
    }

    StepRecord StepRow(int serviceID, int step)
    {
        StepRecord record{serviceID, step};
        if (!database_->GetSubService(record))
            ADD_FAILURE() << "no row for step " << step << " of treatment " << serviceID;
        return record;
    }
    // State, duration and capacity of a step row.
    std::tuple<int, int, int> Step(int serviceID, int step)
    {
        const StepRecord row = StepRow(serviceID, step);
        return {row.State, row.Duration, row.Capacity};
    }

    std::vector<Sample> SamplesOf(int serviceID)
    {
        const QVector<Sample> samples = database_->Samples(serviceID);
        return std::vector<Sample>(samples.begin(), samples.end());
    }

    // A treatment the manager started gets its page, as the engine's report makes one.
    Service *Started(Service *service)
    {
        pages_.Start(manager_->SetupOf(*service));
        return service;
    }
    Service *StartStandard(int program, int charge = 500, int discharge = 200,
                           const std::string &terminal = "Ohmrida an COM1")
    {
        return Started(manager_->StartStandardService(BatteryID, program, charge, discharge, terminal));
    }
    // One tick, its reports fed to the pages; the (first) treatment polled.
    Service *Tick()
    {
        const TServiceManager::TickResult tick = manager_->Tick();
        pages_.Feed(tick.Reports);
        return tick.Polled.empty() ? nullptr : tick.Polled.front();
    }
    // Stops the treatment; its page goes, also when its records could not be written.
    void Stop(Service *service)
    {
        const int id = service->ID();
        try {
            manager_->StopService(service);
        } catch (...) {
            pages_.Remove(id);
            throw;
        }
        pages_.Remove(id);
    }

    std::string Log()
    {
        manager_->FlushLog();
        return FileText("log.txt");
    }

    // braskon-cli on this database, started from an empty folder of its own with
    // its log in dir_/state; standard output and error in one stream, in order.
    void StartCli(QProcess &cli, const QStringList &args)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_STATE_HOME"), dir_.filePath(QStringLiteral("state")));
        cli.setProcessEnvironment(environment);
        cli.setProcessChannelMode(QProcess::MergedChannels);
        QDir().mkpath(dir_.filePath(QStringLiteral("cwd")));
        cli.setWorkingDirectory(dir_.filePath(QStringLiteral("cwd")));
        cli.start(QStringLiteral(BRASKON_CLI_PATH), QStringList{"--database", dir_.path()} + args);
        ASSERT_TRUE(cli.waitForStarted(5000));
    }
    // Runs braskon-cli to its end: exit code and output.
    std::pair<int, QString> Cli(const QStringList &args, int timeoutMs = 30000)
    {
        QProcess cli;
        StartCli(cli, args);
        if (!cli.waitForFinished(timeoutMs))
            KillHard(cli);
        return {cli.exitCode(), QString::fromUtf8(cli.readAll())};
    }
    static QStringList Program3(const QString &terminal = QStringLiteral("Lumo an COM1"))
    {
        return {"run", "--battery", QString::number(BatteryID), "--terminal", terminal, "--program", "3", "--charge",
                "500", "--discharge", "500", "--tick-ms", "50", "--min-delta-u", "0", "--min-delta-i", "0"};
    }
    // Reads the output of `cli` until `done` holds for it, `cli` ended or the time is up.
    static bool ReadUntil(QProcess &cli, QString &output, const std::function<bool(const QString &)> &done,
                          int seconds = 20)
    {
        const auto until = Clock::now() + std::chrono::seconds(seconds);
        while (!done(output) && Clock::now() < until && cli.state() == QProcess::Running) {
            cli.waitForReadyRead(100);
            output += QString::fromUtf8(cli.readAll());
        }
        output += QString::fromUtf8(cli.readAll());
        return done(output);
    }
    static QString WaitForPolls(QProcess &cli, size_t polls)
    {
        QString output;
        ReadUntil(cli, output, [polls](const QString &out) { return PollLines(out).size() >= polls; });
        return output;
    }
    static QString KillHard(QProcess &cli)
    {
        // Never kill(0): that would be this process's whole group.
        if (cli.state() == QProcess::Running && cli.processId() > 0)
            ::kill(static_cast<pid_t>(cli.processId()), SIGKILL);
        cli.waitForFinished(5000);
        return QString::fromUtf8(cli.readAll());
    }

    QTemporaryDir dir_;
    std::string previousDirectory_;
    std::unique_ptr<RecordStore> database_;
    std::unique_ptr<Ohmrida::TerminalManager> terminals_;
    std::unique_ptr<TServiceManager> manager_;
    std::vector<std::unique_ptr<ScriptedCharger>> chargers_;
    RecordingPages pages_;
    bool chargerSpeedSet_ = false;
    std::optional<QByteArray> savedSpeed_;
};

} // namespace TreatmentTest
