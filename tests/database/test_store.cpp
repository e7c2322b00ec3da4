#include "TestDatabase.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>

#include <functional>
#include <thread>
#include <tuple>

#include <unistd.h>

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
    EXPECT_EQ(query("PRAGMA journal_mode").toString(), "wal");   // readers never block the writers
    module_.reset();
    EXPECT_FALSE(QFile::exists(file() + ".new"));
}

TEST_F(Store, DamagedOrIncompleteDatabasesAreRefusedUnchanged)
{
    const auto garbage = [this](const QByteArray &content) {
        QFile spoilt(file());
        ASSERT_TRUE(spoilt.open(QIODevice::WriteOnly));
        spoilt.write(content);
    };
    const auto created = [this](const QString &sql) {
        { TBRASKDataModule module(dir()); }
        execute(sql);
    };
    // How the file is spoilt, and what the refusal must name.
    const QList<std::pair<std::function<void()>, QStringList>> damages = {
        {[&] { garbage(QByteArray(4096, '\x5a')); }, {"keine g\u00fcltige Datenbank"}},
        {[&] { created("DROP TABLE sub"); }, {"Tabelle \"sub\""}},
        {[&] { created("ALTER TABLE samples DROP COLUMN F_Voltage"); }, {"F_Voltage", "samples"}},
        {[&] { garbage(QByteArray()); }, {"Tabelle \"batteries\""}},
    };
    ASSERT_TRUE(QDir().mkpath(dir()));
    for (const auto &[damage, expected] : damages) {
        QFile::remove(file());
        damage();
        const QByteArray before = digest(file());
        const QString message = refusal(dir());
        for (const QString &part : expected)
            EXPECT_TRUE(message.contains(part)) << message.toStdString();
        EXPECT_EQ(digest(file()), before);
    }
    EXPECT_EQ(QFileInfo(file()).size(), 0);
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
    if (!onServer())
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

TEST_F(Store, DamageInsideATableIsRefusedBeforeAnythingIsWritten)
{
    // Enough samples for many pages; then one page in the middle is spoilt.
    addService(addBattery(1).ID, 1, 1, 0);
    module_.reset();
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
    const QByteArray before = digest(file());
    const QString message = refusal(dir());
    EXPECT_TRUE(message.contains("keine g\u00fcltige Datenbank")) << message.toStdString();
    EXPECT_EQ(digest(file()), before);
}

TEST_F(Store, FileLockedByAnotherProgramIsReportedAsBusy)
{
    module();
    module_.reset();
    const QByteArray before = digest(file());
    // Another program: a connection of its own holding the file exclusively.
    const QString name = QStringLiteral("other-program");
    {
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        other.setDatabaseName(file());
        ASSERT_TRUE(other.open());
        QSqlQuery lock(other);
        ASSERT_TRUE(lock.exec("PRAGMA locking_mode=EXCLUSIVE"));
        ASSERT_TRUE(lock.exec("BEGIN EXCLUSIVE"));
        try {
            TBRASKDataModule module(dir());
            ADD_FAILURE() << "a locked file was opened";
        } catch (const DatabaseBusyError &error) {
            EXPECT_TRUE(error.message().contains("gesperrt")) << error.message().toStdString();
            EXPECT_FALSE(error.message().contains("keine g\u00fcltige")) << error.message().toStdString();
        }
        ASSERT_TRUE(lock.exec("COMMIT"));
        other.close();
    }
    QSqlDatabase::removeDatabase(name);
    EXPECT_EQ(digest(file()), before);
    EXPECT_EQ(module().PeekBatteryID(), 1);   // free again: opens as usual
}

// A file this process cannot write. As root every permission is granted, so
// the command then runs as the unprivileged user "nobody".
TEST_F(Store, ReadOnlyFileIsListedAndExportedButNeverChanged)
{
    addService(addBattery(3).ID, 3, 2, 5);
    module_.reset();
    const bool root = ::geteuid() == 0;
    const auto runCli = [&](const QStringList &args) {
        QProcess process;
        QStringList command = QStringList{"--database", dir()} + args;
        if (root) {
            process.start("setpriv", QStringList{"--reuid=65534", "--regid=65534", "--clear-groups",
                                                 QStringLiteral(BRASKON_CLI)} + command);
        } else {
            process.start(QStringLiteral(BRASKON_CLI), command);
        }
        EXPECT_TRUE(process.waitForFinished(30000));
        return std::make_tuple(process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                               QString::fromUtf8(process.readAllStandardError()));
    };
    const auto mode = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther | QFile::ExeOwner | QFile::ExeGroup
                      | QFile::ExeOther;
    ASSERT_TRUE(QFile::setPermissions(temp_.path(), mode));
    ASSERT_TRUE(QFile::setPermissions(file(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    // The folder writable (room for lock files), then read-only as well.
    for (const bool folderWritable : {true, false}) {
        SCOPED_TRACE(folderWritable ? "folder writable" : "folder read-only");
        ASSERT_TRUE(QFile::setPermissions(dir(), folderWritable ? mode | QFile::WriteOwner | QFile::WriteGroup
                                                                         | QFile::WriteOther
                                                                  : mode));
        const QByteArray before = digest(file());

        const auto [listStatus, list, listErr] = runCli({"battery", "list"});
        EXPECT_EQ(listStatus, 0) << listErr.toStdString();
        EXPECT_TRUE(list.startsWith("3\t1000\t")) << list.toStdString();
        const auto [exportStatus, exported, exportErr] = runCli({"export", "steps", "1"});
        EXPECT_EQ(exportStatus, 0) << exportErr.toStdString();
        EXPECT_TRUE(exported.contains("Entladen")) << exported.toStdString();

        for (const QStringList &change : {QStringList{"battery", "add", "--capacity", "500", "--type", "NC",
                                                      "--cells", "1"},
                                          QStringList{"service", "delete", "1"}}) {
            const auto [status, out, err] = runCli(change);
            EXPECT_NE(status, 0) << change.join(' ').toStdString();
            EXPECT_TRUE(err.contains("schreibgesch\u00fctzt")) << err.toStdString();
        }
        EXPECT_EQ(digest(file()), before);
    }
    ASSERT_TRUE(QFile::setPermissions(dir(), mode | QFile::WriteOwner));
    ASSERT_TRUE(QFile::setPermissions(file(), QFile::ReadOwner | QFile::WriteOwner));
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM batteries"), 1);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM services"), 1);
}
