// braskon started as a user starts it: a damaged or incomplete database, or no
// display, ends it with a clear reason and status 1 (the database is left as it
// was); ended from outside it keeps its settings.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

#include <csignal>

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

namespace {

// A home of its own: data, state and settings in it, every port pointing nowhere.
QProcessEnvironment HomeIn(const QTemporaryDir &home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *variable : {"DISPLAY", "WAYLAND_DISPLAY", "BRASKON_DATABASE"})
        environment.remove(QLatin1String(variable));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath("config"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath("data"));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), home.filePath("state"));
    for (int port = 1; port <= 9; ++port)
        environment.insert(QStringLiteral("BRASKON_COM%1").arg(port), QStringLiteral("/nonexistent/com%1").arg(port));
    return environment;
}

int ExitStatus(const QProcess &process)
{
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

} // namespace

TEST(ProgramStart, WithoutADisplayAGermanMessageAndStatusOne)
{
    QTemporaryDir home;
    QProcessEnvironment environment = HomeIn(home);
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    QProcess braskon;
    braskon.setProcessEnvironment(environment);
    braskon.start(QStringLiteral(BRASKON_PATH), QStringList());
    ASSERT_TRUE(braskon.waitForFinished(60000));
    const QString errors = QString::fromUtf8(braskon.readAllStandardError());
    EXPECT_EQ(ExitStatus(braskon), 1);
    EXPECT_TRUE(errors.startsWith(QStringLiteral("braskon: keine grafische Anzeige"))) << errors.toStdString();
    EXPECT_FALSE(errors.contains(QStringLiteral("einstall"), Qt::CaseInsensitive)) << errors.toStdString();
}

// A logout or kill (SIGTERM) ends the program as "Beenden" does: status 0, and
// the settings it had and the window's size are in the file.
TEST(ProgramStart, EndedBySigtermKeepsTheSettings)
{
    QTemporaryDir home;
    QDir().mkpath(home.filePath("config/braskon"));
    const QString file = home.filePath("config/braskon/braskon.conf");
    {
        QSettings settings(file, QSettings::IniFormat);
        settings.setValue(QStringLiteral("options/timerMs"), 7000);
    }
    QProcess braskon;
    braskon.setProcessEnvironment(HomeIn(home));
    braskon.start(QStringLiteral(BRASKON_PATH), QStringList());
    ASSERT_TRUE(braskon.waitForStarted(60000));
    // The log is opened once the program is built, after it listens for the signal.
    const QString log = home.filePath("state/braskon/log.txt");
    for (int i = 0; i < 600 && !QFile::exists(log) && braskon.state() == QProcess::Running; ++i)
        braskon.waitForFinished(100);
    ASSERT_TRUE(QFile::exists(log)) << braskon.readAllStandardError().toStdString();
    ::kill(static_cast<pid_t>(braskon.processId()), SIGTERM);
    ASSERT_TRUE(braskon.waitForFinished(60000));
    EXPECT_EQ(ExitStatus(braskon), 0) << braskon.readAllStandardError().toStdString();
    QSettings kept(file, QSettings::IniFormat);
    EXPECT_EQ(kept.value(QStringLiteral("options/timerMs")).toInt(), 7000);
    EXPECT_FALSE(kept.value(QStringLiteral("window/geometry")).toByteArray().isEmpty());
}
