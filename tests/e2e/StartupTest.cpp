// The braskon program itself, started as a user starts it: a damaged or
// incomplete database ends it with a clear reason and a non-zero status and is
// left as it was; a missing one is created empty and the program comes up.

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

namespace {

struct ProgramRun {
    int exitCode = -1;
    QString errorOutput;
};

ProgramRun StartBraskon(const QStringList &arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(BRASKON_PATH), arguments);
    ProgramRun run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.errorOutput = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QByteArray FileHash(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

} // namespace

TEST(ProgramStart, DamagedOrIncompleteDatabaseEndsTheProgramAndStaysUnchanged)
{
    QTemporaryDir garbageDir;
    const QString garbage = garbageDir.filePath(QStringLiteral("braskon.db"));
    {
        QFile file(garbage);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("Das ist keine Datenbank, nur ein Einkaufszettel.\n");
    }
    const QByteArray garbageHash = FileHash(garbage);
    const ProgramRun damaged = StartBraskon({QStringLiteral("--database"), garbageDir.path()});
    EXPECT_EQ(damaged.exitCode, 1);
    EXPECT_TRUE(damaged.errorOutput.contains(QStringLiteral("keine g\u00fcltige Datenbank")))
        << damaged.errorOutput.toStdString();
    EXPECT_EQ(FileHash(garbage), garbageHash);

    QTemporaryDir incompleteDir;
    const QString incomplete = incompleteDir.filePath(QStringLiteral("braskon.db"));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("incomplete"));
        db.setDatabaseName(incomplete);
        ASSERT_TRUE(db.open());
        QSqlQuery query(db);
        ASSERT_TRUE(query.exec(QStringLiteral("CREATE TABLE batteries (F_ID INTEGER PRIMARY KEY)")));
        query.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("incomplete"));
    const QByteArray incompleteHash = FileHash(incomplete);
    const ProgramRun missingTable = StartBraskon({QStringLiteral("--database"), incompleteDir.path()});
    EXPECT_EQ(missingTable.exitCode, 1);
    EXPECT_TRUE(missingTable.errorOutput.contains(QStringLiteral("fehlt"))) << missingTable.errorOutput.toStdString();
    EXPECT_EQ(FileHash(incomplete), incompleteHash);
}

TEST(ProgramStart, MissingDatabaseIsCreatedEmptyAndTheMainWindowComesUp)
{
    QTemporaryDir dir;
    const QString picture = dir.filePath(QStringLiteral("main.png"));
    const ProgramRun run = StartBraskon({QStringLiteral("--database"), dir.filePath(QStringLiteral("db")),
                                  QStringLiteral("--screenshot"), picture});
    EXPECT_EQ(run.exitCode, 0) << run.errorOutput.toStdString();
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("db/braskon.db"))));
    EXPECT_GT(QFile(picture).size(), 0);

    QStringList counters;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("created"));
        db.setDatabaseName(dir.filePath(QStringLiteral("db/braskon.db")));
        ASSERT_TRUE(db.open());
        QSqlQuery query(db);
        ASSERT_TRUE(query.exec(QStringLiteral("SELECT TableName, NextID FROM nextid ORDER BY TableName")));
        while (query.next())
            counters << query.value(0).toString() + QLatin1Char('=') + query.value(1).toString();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("created"));
    EXPECT_EQ(counters, QStringList({QStringLiteral("batteries=1"), QStringLiteral("services=1")}));
}
