// The braskon program itself, started as a user starts it: a damaged or
// incomplete database ends it with a clear reason and a non-zero status and is
// left as it was; a missing one is created empty and the program comes up.

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

namespace {

// Runs braskon on the database folder; its exit code (-1 when it crashed or
// hung) and its error output.
std::pair<int, QString> StartBraskon(const QString& folder, const QStringList& more = {})
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(BRASKON_PATH), QStringList{"--database", folder} + more);
    if (!process.waitForFinished(60000))
        process.kill();
    process.waitForFinished();
    const bool ended = process.exitStatus() == QProcess::NormalExit;
    return {ended ? process.exitCode() : -1, QString::fromUtf8(process.readAllStandardError())};
}

QByteArray Content(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Runs the statements on an SQLite file; the rows of the last one, columns joined by '='.
QStringList Sql(const QString& path, const QStringList& statements)
{
    QStringList rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("startup"));
        db.setDatabaseName(path);
        EXPECT_TRUE(db.open());
        QSqlQuery query(db);
        for (const QString& statement : statements)
            EXPECT_TRUE(query.exec(statement)) << statement.toStdString();
        while (query.next())
            rows << query.value(0).toString() + QLatin1Char('=') + query.value(1).toString();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("startup"));
    return rows;
}

} // namespace

TEST(ProgramStart, DamagedOrIncompleteDatabaseEndsTheProgramAndStaysUnchanged)
{
    QTemporaryDir garbage, incomplete;
    {
        QFile file(garbage.filePath("braskon.db"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("Das ist keine Datenbank, nur ein Einkaufszettel.\n");
    }
    Sql(incomplete.filePath("braskon.db"), {"CREATE TABLE batteries (F_ID INTEGER PRIMARY KEY)"});
    const std::pair<QTemporaryDir*, const char*> cases[] = {{&garbage, "keine gültige Datenbank"},
                                                            {&incomplete, "fehlt"}};
    for (const auto& [dir, reason] : cases) {
        const QByteArray before = Content(dir->filePath("braskon.db"));
        const auto [exitCode, errors] = StartBraskon(dir->path());
        EXPECT_EQ(exitCode, 1);
        EXPECT_TRUE(errors.contains(QString::fromUtf8(reason))) << errors.toStdString();
        EXPECT_EQ(Content(dir->filePath("braskon.db")), before);
    }
}

TEST(ProgramStart, MissingDatabaseIsCreatedEmptyAndTheMainWindowComesUp)
{
    QTemporaryDir dir;
    const auto [exitCode, errors] = StartBraskon(dir.filePath("db"), {"--screenshot", dir.filePath("main.png")});
    EXPECT_EQ(exitCode, 0) << errors.toStdString();
    EXPECT_GT(QFile(dir.filePath("main.png")).size(), 0);
    ASSERT_TRUE(QFile::exists(dir.filePath("db/braskon.db")));
    EXPECT_EQ(Sql(dir.filePath("db/braskon.db"), {"SELECT TableName, NextID FROM nextid ORDER BY TableName"}),
              QStringList({"batteries=1", "services=1"}));
}
