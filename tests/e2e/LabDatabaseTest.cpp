// Lab stations recording through braskon-cli into one PostgreSQL database
// (only with BRASKON_TEST_PG): two at once, copies both ways, a server restart.

#include "tests/support/TestDatabase.h"

#include "tests/support/SimulatorProcess.h"

#include "mainwindow/Mainform.h"
#include "mainwindow/Startup.h"

#include <QAction>
#include <QPlainTextEdit>
#include <QUuid>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>
#include <functional>
#include <memory>

namespace {

const QString Terminal = QStringLiteral("Lumo an COM1");

// One braskon-cli run (killed with the object) as station `station` with COM1 on `device`.
class Station {
public:
    Station(const QString &database, const QString &station, const std::string &device)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("BRASKON_HOST"), station);
        process_.setProcessEnvironment(environment);
        process_.setProcessChannelMode(QProcess::MergedChannels);
        // Every answered poll stores a sample: no threshold.
        process_.start(QStringLiteral(BRASKON_CLI),
                       {"--database", database, "--port", "COM1=" + QString::fromStdString(device), "run",
                        "--battery", station == QLatin1String("lab-b") ? "2" : "1", "--terminal", Terminal,
                        "--program", "3", "--charge", "30", "--discharge", "30", "--tick-ms", "100",
                        "--min-delta-u", "0", "--min-delta-i", "0"});
        process_.waitForStarted(10000);
    }
    QString output()
    {
        output_ += QString::fromUtf8(process_.readAll());
        return output_;
    }
    int polls() { return count(QStringLiteral("^Schritt \\d+  Zeit")); }
    // Polls whose sample waits for the database.
    int keptPolls() { return count(QStringLiteral("^Schritt \\d+  Zeit.*nicht gespeichert")); }
    bool waitForPolls(int count, int ms) { return waitFor([&] { return polls() >= count; }, ms); }
    bool waitForKeptPolls(int count, int ms) { return waitFor([&] { return keptPolls() >= count; }, ms); }
    // Stops the treatment as the user's Ctrl+C does and waits for the end.
    void stop()
    {
        if (process_.processId() > 0)
            ::kill(pid_t(process_.processId()), SIGINT);
        process_.waitForFinished(20000);
        output();
    }
    int serviceID()
    {
        const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("Behandlung (\\d+)")).match(output());
        return match.hasMatch() ? match.captured(1).toInt() : 0;
    }

private:
    int count(const QString &line)
    {
        return int(output().count(QRegularExpression(line, QRegularExpression::MultilineOption)));
    }
    bool waitFor(const std::function<bool()> &condition, int ms)
    {
        QElapsedTimer clock;
        clock.start();
        while (!condition() && clock.elapsed() < ms && process_.state() == QProcess::Running)
            process_.waitForReadyRead(100);
        return condition();
    }

    QProcess process_;
    QString output_;
};

qint64 Count(const QString &database, const QString &sql) { return QueryOnce(database, sql).toLongLong(); }

// Rows of every table and check sums of the samples and counters.
QList<qint64> RowCounts(const QString &database)
{
    QList<qint64> counts;
    for (const char *sql : {"batteries", "services", "sub", "samples", "nextid"})
        counts << Count(database, QStringLiteral("SELECT COUNT(*) FROM %1").arg(QLatin1String(sql)));
    for (const char *sql : {"SELECT SUM(F_Voltage) + SUM(F_Time) FROM samples", "SELECT SUM(NextID) FROM nextid"})
        counts << Count(database, QLatin1String(sql));
    return counts;
}

TEST(LabDatabase, TwoStationsRecordIntoOneDatabaseAndItCopiesBothWays)
{
    ServerDatabase server;
    const QString database = server.url();
    for (int i = 0; i < 2; ++i)
        RunCli({"--database", database, "battery", "add", "--capacity", "300", "--type", "NMH", "--cells", "4"});

    SimTest::SimulatorProcess labA({"--port", "1=lumo", "--speed", "100", "--soc", "40"});
    SimTest::SimulatorProcess labB({"--port", "1=lumo", "--speed", "100", "--soc", "40"});
    labA.start();
    labB.start();
    Station a(database, QStringLiteral("lab-a"), labA.portPath(1));
    Station b(database, QStringLiteral("lab-b"), labB.portPath(1));
    ASSERT_TRUE(a.waitForPolls(15, 30000)) << a.output().toStdString();
    ASSERT_TRUE(b.waitForPolls(15, 30000)) << b.output().toStdString();
    a.stop();
    b.stop();

    const int serviceA = a.serviceID(), serviceB = b.serviceID();
    EXPECT_EQ((QSet<int>{serviceA, serviceB}), (QSet<int>{1, 2}));
    for (auto [service, station] : {std::pair{serviceA, &a}, std::pair{serviceB, &b}}) {
        // Each printed poll stands for one stored sample, stored once.
        EXPECT_EQ(Count(database, QStringLiteral("SELECT COUNT(*) FROM samples WHERE F_ServiceID = %1").arg(service)),
                  station->polls())
            << station->output().toStdString();
    }
    EXPECT_EQ(Count(database, "SELECT COUNT(*) FROM samples"), a.polls() + b.polls());
    EXPECT_EQ(Count(database, "SELECT NextID FROM nextid WHERE TableName = 'services'"), 3);
    EXPECT_EQ(Count(database, "SELECT COUNT(DISTINCT F_Host) FROM running"), 0) << "both ended and unregistered";

    // To a file and back to another server database: the same rows.
    QTemporaryDir folder;
    ServerDatabase back;
    const CliRun toFile = RunCli({"db", "copy", database, folder.path()});
    EXPECT_EQ(toFile.status, 0) << toFile.err.toStdString();
    const CliRun toServer = RunCli({"db", "copy", folder.path(), back.url()});
    EXPECT_EQ(toServer.status, 0) << toServer.err.toStdString();
    EXPECT_TRUE(toServer.out.contains(QRegularExpression(QStringLiteral("samples +%1 +%1").arg(a.polls() + b.polls()))))
        << toServer.out.toStdString();
    EXPECT_EQ(RowCounts(database), RowCounts(folder.path()));
    EXPECT_EQ(RowCounts(database), RowCounts(back.url()));
    // A target that holds records is refused and left alone.
    const CliRun refused = RunCli({"db", "copy", database, back.url()});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("ist nicht leer"))) << refused.err.toStdString();
    EXPECT_EQ(RowCounts(database), RowCounts(back.url()));
}

// The polls of the outage are kept and stored once the server is back.
TEST(LabDatabase, ServerStopAndRestartDuringARecordingLosesNoSample)
{
    QTemporaryDir own(QStringLiteral("/tmp/bpg-XXXXXX"));
    // The server's account (not root) must reach its folder.
    QFile::setPermissions(own.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                          | QFileDevice::ReadOther | QFileDevice::ExeOther);
    const QString folder = own.path() + QStringLiteral("/pg");
    const auto server = [&folder](const char *action) {
        QProcess script;
        script.start(QStringLiteral("bash"), {QStringLiteral(BRASKON_PG_SCRIPT), action, folder});
        script.waitForFinished(60000);
        return QString::fromUtf8(script.readAllStandardOutput()).trimmed();
    };
    const QString database = server("start");
    // The private server goes however the test ends.
    const std::unique_ptr<void, std::function<void(void *)>> stopper(&own, [&server](void *) { server("stop"); });
    ASSERT_TRUE(database.startsWith(QStringLiteral("postgresql://")));
    RunCli({"--database", database, "battery", "add", "--capacity", "300", "--type", "NMH", "--cells", "4"});

    SimTest::SimulatorProcess lab({"--port", "1=lumo", "--speed", "100", "--soc", "40"});
    lab.start();
    Station station(database, QStringLiteral("lab-a"), lab.portPath(1));
    ASSERT_TRUE(station.waitForPolls(5, 30000)) << station.output().toStdString();
    server("halt");
    // Polls go on while the server is away, their samples kept.
    ASSERT_TRUE(station.waitForKeptPolls(15, 30000)) << station.output().toStdString();
    server("start");
    const int afterOutage = station.polls();
    EXPECT_TRUE(station.waitForPolls(afterOutage + 10, 30000)) << station.output().toStdString();
    station.stop();
    const int service = station.serviceID();
    EXPECT_EQ(Count(database, QStringLiteral("SELECT COUNT(*) FROM samples WHERE F_ServiceID = %1").arg(service)),
              station.polls())
        << station.output().toStdString();
    // A poll is about 10 s of charger time at this speed; the outage was at
    // least 15 polls. Kept samples leave no gap.
    EXPECT_LE(Count(database, QStringLiteral("SELECT MAX(F_Time - before) FROM (SELECT F_Time, LAG(F_Time) OVER "
                                             "(ORDER BY F_SampleID) AS before FROM samples WHERE F_ServiceID = %1) t")
                                  .arg(service)),
              40)
        << station.output().toStdString();
}

} // namespace

// A role that may only read: the window opens read-only and says so, with
// everything that would change the database disabled, as for a file that
// may only be read.
TEST(LabDatabase, AReadingRoleOpensTheWindowReadOnly)
{
    ServerDatabase server;
    RunCli({"--database", server.url(), "battery", "add", "--capacity", "300", "--type", "NMH", "--cells", "4"});
    const QString reader = "braskon_reader_" + QUuid::createUuid().toString(QUuid::Id128).left(8);
    QueryOnce(qEnvironmentVariable("BRASKON_TEST_PG"), "CREATE ROLE " + reader + " LOGIN");
    QueryOnce(server.url(), "GRANT SELECT ON ALL TABLES IN SCHEMA public TO " + reader);
    const QString url = QString(server.url()).replace("://braskon@", "://" + reader + "@");
    {
        QTemporaryDir dir;
        TBraskon program(url, dir.filePath("log.txt").toStdString());
        TMainForm &form = program.MainForm();
        form.UpdateMenus();
        EXPECT_EQ(1, program.DataModule().SelectedBatteryID());
        for (QAction *action : {form.CommandAction(Command::NewAkku), form.CommandAction(Command::StartService),
                                form.CommandAction(Command::DeleteAkku), form.CommandAction(Command::Kestrix)})
            EXPECT_FALSE(action->isEnabled()) << action->objectName().toStdString();
        EXPECT_TRUE(form.CommandAction(Command::PrintInfo)->isEnabled()) << "what only reads stays";

        QProcess window;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", dir.filePath("config"));
        window.setProcessEnvironment(environment);
        window.start(BRASKON_GUI, {"--database", url, "--screenshot", dir.filePath("window.png")});
        ASSERT_TRUE(window.waitForFinished(30000));
        EXPECT_EQ(0, window.exitCode());
        const QString told = QString::fromUtf8(window.readAllStandardError());
        EXPECT_TRUE(told.contains("ist f\u00fcr diesen Benutzer schreibgesch\u00fctzt")) << told.toStdString();
    }
    QueryOnce(server.url(), "DROP OWNED BY " + reader);
    QueryOnce(qEnvironmentVariable("BRASKON_TEST_PG"), "DROP ROLE " + reader);
}
