#include "TestDatabase.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>

#include <thread>

namespace {

QByteArray digest(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

QString refusal(const QString &directory)
{
    try {
        TBRASKDataModule module(directory);
    } catch (const DatabaseError &error) {
        return error.message();
    }
    return QString();
}

} // namespace

using Store = DatabaseTest;

TEST_F(Store, MissingFileCreatesTheEmptyDatabase)
{
    ASSERT_FALSE(QFile::exists(dir()));
    EXPECT_EQ(module().PeekBatteryID(), 1);
    EXPECT_EQ(module().AllocateServiceID(), 1);
    EXPECT_EQ(module().DatabaseFile(), file());
    for (const char *table : {"batteries", "services", "sub", "samples", "nextid"})
        EXPECT_EQ(scalar(QString("SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name = '%1'").arg(table)), 1);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM sqlite_master WHERE type = 'index' AND name IN "
                     "('samples_by_service', 'services_by_battery')"),
              2);
    EXPECT_EQ(scalar("SELECT NextID FROM nextid WHERE TableName = 'batteries'"), 1);
    module_.reset();
    EXPECT_FALSE(QFile::exists(file() + ".new"));
}

TEST_F(Store, DamagedOrIncompleteDatabasesAreRefusedUnchanged)
{
    ASSERT_TRUE(QDir().mkpath(dir()));
    {
        QFile garbage(file());
        ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
        garbage.write(QByteArray(4096, '\x5a'));
    }
    QByteArray before = digest(file());
    EXPECT_TRUE(refusal(dir()).contains("keine g\u00fcltige Datenbank"));
    EXPECT_EQ(digest(file()), before);

    QFile::remove(file());
    { TBRASKDataModule created(dir()); }
    execute("DROP TABLE sub");
    before = digest(file());
    QString message = refusal(dir());
    EXPECT_TRUE(message.contains("Tabelle \"sub\"")) << message.toStdString();
    EXPECT_EQ(digest(file()), before);

    QFile::remove(file());
    { TBRASKDataModule created(dir()); }
    execute("ALTER TABLE samples DROP COLUMN F_Voltage");
    before = digest(file());
    message = refusal(dir());
    EXPECT_TRUE(message.contains("F_Voltage") && message.contains("samples")) << message.toStdString();
    EXPECT_EQ(digest(file()), before);

    QFile::remove(file());
    { QFile empty(file()); ASSERT_TRUE(empty.open(QIODevice::WriteOnly)); }
    EXPECT_TRUE(refusal(dir()).contains("Tabelle \"batteries\""));
    EXPECT_EQ(QFileInfo(file()).size(), 0);
}

TEST_F(Store, CommittedPostsSurviveInWalMode)
{
    module();
    const QString name = QUuid::createUuid().toString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", name);
        db.setDatabaseName(file());
        ASSERT_TRUE(db.open());
        QSqlQuery query(db);
        ASSERT_TRUE(query.exec("PRAGMA journal_mode") && query.next());
        EXPECT_EQ(query.value(0).toString(), "wal");
    }
    QSqlDatabase::removeDatabase(name);
}

TEST_F(Store, ConcurrentWritersLoseNothing)
{
    addBattery(1);
    const int first = addService(1, 0, 0, 0);
    const int second = addService(1, 0, 0, 0);
    constexpr int samples = 150;
    constexpr int steps = 30;
    auto writer = [this](int service) {
        for (int i = 0; i < samples; ++i) {
            module().InsertSample({service, i / 5 + 1, i, 1000 + i, i, 0});
            if (i % 5 == 0) {
                StepRecord step{service, i / 5 + 1, 1, 100, 0, 0, 0, 0};
                module().InsertStep(step);
                step.Duration = i;
                step.State = OK;
                module().StoreStepResult(step);
            }
        }
    };
    std::thread a(writer, first);
    std::thread b(writer, second);
    writer(0);   // the main thread writes at the same time
    a.join();
    b.join();
    for (int service : {0, first, second}) {
        EXPECT_EQ(scalar(QString("SELECT COUNT(*) FROM samples WHERE F_ServiceID = %1").arg(service)), samples);
        EXPECT_EQ(scalar(QString("SELECT COUNT(DISTINCT F_Time) FROM samples WHERE F_ServiceID = %1").arg(service)),
                  samples);
        EXPECT_EQ(scalar(QString("SELECT COUNT(*) FROM sub WHERE F_ServiceID = %1 AND F_State = 3").arg(service)),
                  steps);
    }
    module_.reset();
    EXPECT_EQ(scalar("SELECT (SELECT integrity_check FROM pragma_integrity_check) = 'ok'"), 1);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM samples"), 3 * samples);
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

    int lastReturned = 0;
    for (const QByteArray &line : output.split('\n')) {
        if (!line.isEmpty())
            lastReturned = line.toInt();
    }
    ASSERT_GE(lastReturned, 200);
    TBRASKDataModule reopened(dir());
    EXPECT_EQ(scalar(QString("SELECT COUNT(DISTINCT F_Time) FROM samples WHERE F_Time <= %1").arg(lastReturned)),
              lastReturned);
    EXPECT_EQ(scalar("SELECT (SELECT integrity_check FROM pragma_integrity_check) = 'ok'"), 1);
}
