#include "tests/support/TestDatabase.h"

#include <QElapsedTimer>

#include <tuple>
#include <thread>

using Store = DatabaseTest;

// A file that is no database, or an empty one, is crossed by the program's start-up test.
TEST_F(Store, DamagedOrIncompleteDatabasesAreRefusedUnchanged)
{
    // The statement that spoils a new database, and what the refusal must name.
    const QList<std::pair<QString, QStringList>> damages = {
        {"DROP TABLE sub", {"Tabelle \"sub\""}},
        {"ALTER TABLE samples DROP COLUMN F_Voltage", {"F_Voltage", "samples"}},
    };
    for (const auto &[damage, expected] : damages) {
        QFile::remove(file());
        { TBRASKDataModule module(dir()); }
        execute(damage);
        const QByteArray before = digest();
        const QString message = refusal();
        for (const QString &part : expected)
            EXPECT_TRUE(message.contains(part)) << message.toStdString();
        EXPECT_EQ(digest(), before);
    }

    // Damage inside a table of many pages: one page in the middle spoilt.
    QFile::remove(file());
    addService(addBattery(1).ID, 1, 1, 0);
    module_.reset();
    records_.reset();
    execute("INSERT INTO samples (F_ServiceID, F_Step, F_Time, F_Voltage, F_Current) "
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000) "
            "SELECT 1, 1, i, 1200 + i % 100, 100 FROM n");
    const qint64 size = QFileInfo(file()).size();
    ASSERT_GT(size, 40 * 4096);
    {
        QFile spoilt(file());
        ASSERT_TRUE(spoilt.open(QIODevice::ReadWrite));
        spoilt.seek(size / 2 / 4096 * 4096 + 8);
        spoilt.write(QByteArray(2000, '\x5a'));
    }
    const QByteArray before = digest();
    EXPECT_TRUE(refusal().contains("keine g\u00fcltige Datenbank")) << refusal().toStdString();
    EXPECT_EQ(digest(), before);
}

TEST_F(Store, ConcurrentWritersLoseNothing)
{
    addBattery(1);
    const int first = addService(1, 0, 0, 0);
    const int second = addService(1, 0, 0, 0);
    constexpr int samples = 150, steps = 30;
    auto writer = [this](int service) {
        for (int i = 0; i < samples; ++i) {
            records().InsertSample({service, i / 5 + 1, i, 1000 + i, i, 0});
            if (i % 5 == 0) {
                StepRecord step{service, i / 5 + 1, 1, 100};
                records().InsertStep(step);
                step.Duration = i;
                step.State = OK;
                records().StoreStepResult(step);
            }
        }
    };
    records();   // made before the threads share it
    std::thread a(writer, first);
    std::thread b(writer, second);
    writer(0);   // the main thread writes at the same time
    a.join();
    b.join();
    for (int service : {0, first, second})
        EXPECT_EQ(std::make_pair(qint64(samples), qint64(steps)),
                  std::make_pair(scalar(QString("SELECT COUNT(DISTINCT F_Time) FROM samples WHERE F_ServiceID = %1").arg(service)),
                                 scalar(QString("SELECT COUNT(*) FROM sub WHERE F_ServiceID = %1 AND F_State = 3").arg(service))));
    records_.reset();
    module_.reset();
    if (!onServer()) {
        EXPECT_EQ(scalar("SELECT (SELECT integrity_check FROM pragma_integrity_check) = 'ok'"), 1);
    }
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM samples"), 3 * samples);
}

// Another program holds the write lock (SQLite) or locks the samples away
// (PostgreSQL): the windows' reads go on beside it, and one that would have
// to wait gives up at once instead of holding up the window.
TEST_F(Store, WindowsReadBesideALockAndNeverWaitLong)
{
    const int service = addService(addBattery(1).ID, 1, 1, 3);
    module().ReopenBatteries(1);
    const QString name = QStringLiteral("other-program");
    {
        QSqlDatabase other = OpenTestConnection(dir(), name);
        QSqlQuery lock(other);
        ASSERT_TRUE(onServer() ? lock.exec("BEGIN") && lock.exec("LOCK TABLE samples IN ACCESS EXCLUSIVE MODE")
                               : lock.exec("BEGIN EXCLUSIVE"));
        QElapsedTimer clock;
        clock.start();
        module().RefreshLists();
        EXPECT_EQ(module().ServiceQuery()->rowCount(), 1);
        if (onServer()) {
            EXPECT_THROW(module().Reader().Samples(service), DatabaseBusyError);
        } else {
            EXPECT_EQ(module().Reader().Samples(service).size(), 3);
        }
        EXPECT_LT(clock.elapsed(), 5 * TBRASKDataModule::ReadWaitMs);
        // A writer waits for the lock (here: a short wait, then busy).
        records().Store().setBusyWait(100);
        EXPECT_THROW(records().InsertSample({service, 1, 9, 1000, 10, 0}), DatabaseBusyError);
        lock.exec("ROLLBACK");
    }
    QSqlDatabase::removeDatabase(name);
    records().Store().setBusyWait(-1);
    records().InsertSample({service, 1, 9, 1000, 10, 0});
    EXPECT_EQ(module().Reader().Samples(service).size(), 4);
}

TEST_F(Store, KilledWriterKeepsEveryReturnedInsert)
{
    module();   // creates the database
    module_.reset();
    QProcess writer;
    writer.start(QStringLiteral(CRASH_HELPER), {dir()});
    ASSERT_TRUE(writer.waitForStarted());
    QByteArray output;
    // Let a good number of inserts return, then kill without warning.
    while (output.count('\n') < 200) {
        ASSERT_TRUE(writer.waitForReadyRead(20000)) << writer.readAllStandardError().toStdString();
        output += writer.readAllStandardOutput();
    }
    writer.kill();
    ASSERT_TRUE(writer.waitForFinished(10000));
    output += writer.readAllStandardOutput();
    const QList<QByteArray> lines = output.trimmed().split('\n');
    const int lastReturned = lines.last().toInt();
    ASSERT_GE(lastReturned, 200);
    TBRASKDataModule reopened(dir());
    EXPECT_EQ(query("PRAGMA journal_mode").toString(), "wal");   // readers never block the writers
    EXPECT_EQ(scalar(QString("SELECT COUNT(DISTINCT F_Time) FROM samples WHERE F_Time <= %1").arg(lastReturned)),
              lastReturned);
    EXPECT_EQ(scalar("SELECT (SELECT integrity_check FROM pragma_integrity_check) = 'ok'"), 1);
}

TEST_F(Store, FileLockedByAnotherProgramIsReportedAsBusy)
{
    module();
    module_.reset();
    const QByteArray before = digest();
    // Another program: a connection of its own holding the file exclusively.
    {
        QSqlDatabase other = OpenTestConnection(dir(), QStringLiteral("other-program"));
        QSqlQuery lock(other);
        ASSERT_TRUE(lock.exec("PRAGMA locking_mode=EXCLUSIVE") && lock.exec("BEGIN EXCLUSIVE"));
        try {
            TBRASKDataModule module(dir());
            ADD_FAILURE() << "a locked file was opened";
        } catch (const DatabaseBusyError &error) {
            EXPECT_TRUE(error.message().contains("gesperrt") && !error.message().contains("keine g\u00fcltige"))
                << error.message().toStdString();
        }
        ASSERT_TRUE(lock.exec("COMMIT"));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other-program"));
    EXPECT_EQ(digest(), before);
    EXPECT_EQ(module().PeekBatteryID(), 1);   // free again: opens as usual
}
