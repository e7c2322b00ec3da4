// braskon started as a user starts it: a damaged or incomplete database ends it
// with a clear reason and status 1 and is left as it was.

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

TEST(ProgramStart, DamagedOrIncompleteDatabaseEndsTheProgramAndStaysUnchanged)
{
    // File content (empty: no tables at all) and the reason the program must give.
    const std::pair<QByteArray, QString> cases[] = {
        {"Das ist keine Datenbank, nur ein Einkaufszettel.\n", QStringLiteral("keine g\u00fcltige Datenbank")},
        {QByteArray(), QStringLiteral("Tabelle \"batteries\"")}};
    for (const auto& [content, reason] : cases) {
        QTemporaryDir dir;
        QFile file(dir.filePath("braskon.db"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();
        QProcess braskon;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        braskon.setProcessEnvironment(environment);
        braskon.start(QStringLiteral(BRASKON_PATH), {"--database", dir.path()});
        if (!braskon.waitForFinished(60000))
            braskon.kill();
        const QString errors = QString::fromUtf8(braskon.readAllStandardError());
        EXPECT_EQ(braskon.exitStatus() == QProcess::NormalExit ? braskon.exitCode() : -1, 1);
        EXPECT_TRUE(errors.contains(reason)) << errors.toStdString();
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), content);
    }
}
