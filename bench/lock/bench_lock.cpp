// bench_lock: the main window's longest event-loop stall while another
// program holds the database locked for 20 s during a recording.
//
// The whole program (as its start-up builds it, offscreen) records program 1
// on braskon-sim's Lumo with the default write waits, its clock ticking every
// second, while a user moves through the battery list every 100 ms. Another
// program's connection (a thread of its own here) holds the lock:
//   - SQLite: BEGIN EXCLUSIVE on braskon.db;
//   - PostgreSQL (with BRASKON_BENCH_PG=URL of an empty database):
//     LOCK TABLE samples IN ACCESS EXCLUSIVE MODE.
// Afterwards the program runs on until the waiting records are written.
// Prints the longest stall (goal < 50 ms), the same for 20 s just before
// without a lock (what the machine's load alone costs), and the answered
// polls against the stored samples (no thresholds: every answered poll is one
// sample).

#include "tests/support/StallProbe.h"
#include "tests/support/ProgramFixture.h"
#include "tests/support/SimulatorProcess.h"

#include "database/Datamodule.h"
#include "database/ServerAddress.h"
#include "database/SqlStore.h"
#include "mainwindow/Mainform.h"
#include "treatment/TreatmentEngine.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>
#include <QTest>
#include <QThread>
#include <QUuid>

#include <cstdio>
#include <memory>

namespace {

constexpr int LockSeconds = 20;

QSqlDatabase Connect(const QString &location, const QString &name)
{
    const bool server = SqlStore::IsServerLocation(location);
    QSqlDatabase db = QSqlDatabase::addDatabase(server ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE"), name);
    if (server) {
        const ServerAddress address = ServerAddress::Parse(location);
        db.setHostName(address.host);
        db.setUserName(address.user);
        db.setDatabaseName(address.database);
        if (address.port > 0)
            db.setPort(address.port);
    } else {
        db.setDatabaseName(location);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    }
    if (!db.open())
        qFatal("cannot open %s: %s", qPrintable(location), qPrintable(db.lastError().text()));
    return db;
}

// Another program's lock on the database, held for LockSeconds.
std::unique_ptr<QThread> HoldLock(const QString &target)
{
    std::unique_ptr<QThread> holder(QThread::create([target] {
        const QString name = QUuid::createUuid().toString();
        {
            QSqlDatabase db = Connect(target, name);
            QSqlQuery lock(db);
            const bool held = SqlStore::IsServerLocation(target)
                                  ? lock.exec(QStringLiteral("BEGIN"))
                                        && lock.exec(QStringLiteral("LOCK TABLE samples IN ACCESS EXCLUSIVE MODE"))
                                  : lock.exec(QStringLiteral("BEGIN EXCLUSIVE"));
            if (!held)
                qFatal("cannot lock: %s", qPrintable(lock.lastError().text()));
            QThread::sleep(LockSeconds);
            lock.exec(QStringLiteral("ROLLBACK"));
        }
        QSqlDatabase::removeDatabase(name);
    }));
    holder->start();
    return holder;
}

void Run(const QString &location, const char *label)
{
    SimTest::SimulatorProcess sim({"--port", "1=lumo", "--speed", "10"});
    sim.start();
    Program program(location);
    TMainForm &form = program.Form();
    TBRASKDataModule &db = program.Db();
    db.SetMinDeltaU(0);
    db.SetMinDeltaI(0);
    const int battery = InsertBattery(db, 1, 1000);
    InsertBattery(db, 2, 1000);
    db.ReopenBatteries(1);
    TTreatmentEngine &engine = program.Parts().Engine();
    const int ticket = engine.StartStandard(battery, 1, 100, 100, "Lumo an COM1");
    int service = 0;
    WaitFor([&] {
        for (const TreatmentInfo &info : engine.Treatments())
            service = info.Ticket == ticket ? info.ServiceID : service;
        return service != 0 && !engine.Busy();
    }, 20000);
    Part<QTimer>(form, "TheTimer")->setInterval(1000);
    Part<QTimer>(form, "TheTimer")->start();

    // The user moves through the battery list meanwhile.
    QTimer user;
    bool down = true;
    QObject::connect(&user, &QTimer::timeout, [&] {
        QTest::keyClick(Part<QTableView>(form, "BatteryDBGrid"), down ? Qt::Key_Down : Qt::Key_Up);
        down = !down;
    });
    Part<QTableView>(form, "BatteryDBGrid")->setFocus();
    user.start(100);

    QElapsedTimer clock;
    clock.start();
    StallProbe probe;
    probe.Start();
    QTest::qWait(LockSeconds * 1000);
    const qint64 unlockedStall = probe.Longest();
    clock.restart();
    probe.Restart();
    const std::unique_ptr<QThread> holder = HoldLock(location.isEmpty() ? db.DatabaseFile() : location);
    WaitFor([&] { return holder->isFinished(); }, (LockSeconds + 30) * 1000);
    holder->wait();
    const qint64 lockedStall = probe.Longest();
    probe.Stop();
    user.stop();

    // On until the records that waited are written.
    WaitFor([&] { return !engine.HasUnwritten() && clock.elapsed() > (LockSeconds + 5) * 1000; }, 60000);
    Part<QTimer>(form, "TheTimer")->stop();
    WaitFor([&] { return !engine.Busy(); }, 30000);

    QFile log(program.Directory() + QStringLiteral("/log.txt"));
    log.open(QIODevice::ReadOnly);
    int answered = 0, silent = 0;
    for (const QByteArray &line : log.readAll().split('\n')) {
        if (!line.isEmpty())
            (line.contains('-') ? silent : answered) += 1;
    }
    const int stored = int(db.Reader().Samples(service).size());
    std::printf("%s:\n  longest stall of the window %lld ms during a %d s lock (goal < 50 ms: %s), "
                "%lld ms in the %d s before without a lock;\n  %d polls answered, %d samples stored, %d unanswered\n",
                label, static_cast<long long>(lockedStall), LockSeconds, lockedStall < 50 ? "met" : "missed",
                static_cast<long long>(unlockedStall), LockSeconds, answered, stored, silent);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    Run(QString(), "SQLite, BEGIN EXCLUSIVE");
    const QString server = qEnvironmentVariable("BRASKON_BENCH_PG");
    if (!server.isEmpty())
        Run(server, "PostgreSQL, LOCK TABLE samples IN ACCESS EXCLUSIVE MODE");
    return 0;
}
