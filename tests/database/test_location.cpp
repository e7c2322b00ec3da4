// Where the database and the log live: the --database option, a "database"
// folder beside the program, else the per-user folders of the XDG base
// directory specification; a folder that cannot be written is kept, read-only.

#include "database/DataLocation.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <unistd.h>

namespace {

class EnvironmentVariable {
public:
    EnvironmentVariable(const char *name, const QByteArray &value) : name_(name), saved_(qgetenv(name)),
        had_(qEnvironmentVariableIsSet(name))
    {
        qputenv(name, value);
    }
    ~EnvironmentVariable()
    {
        if (had_)
            qputenv(name_, saved_);
        else
            qunsetenv(name_);
    }

private:
    const char *name_;
    QByteArray saved_;
    bool had_;
};

} // namespace

TEST(DataLocation, OptionThenFolderBesideTheProgramThenUserDataFolder)
{
    QTemporaryDir root;
    const EnvironmentVariable data("XDG_DATA_HOME", root.filePath("data").toUtf8());
    const EnvironmentVariable state("XDG_STATE_HOME", root.filePath("state").toUtf8());
    const QString program = root.filePath("bin");
    QDir().mkpath(program);

    struct Case {
        QString option;
        bool besideExists;
        QString expected;
    } cases[] = {
        {QString(), false, root.filePath("data/braskon")},
        {QString(), true, root.filePath("bin/database")},
        {root.filePath("mine"), true, root.filePath("mine")},
    };
    for (const Case &c : cases) {
        if (c.besideExists)
            QDir().mkpath(root.filePath("bin/database"));
        const DataLocation location = DataLocation::Choose(c.option, program);
        EXPECT_EQ(location.directory, c.expected);
        EXPECT_FALSE(location.readOnly);
        QString error;
        EXPECT_TRUE(location.Prepare(error)) << error.toStdString();
        EXPECT_TRUE(QDir(c.expected).exists());
    }
    // Only an absolute XDG variable counts; a relative one falls back to the home folder.
    {
        const EnvironmentVariable relative("XDG_DATA_HOME", "relative/data");
        EXPECT_EQ(DataLocation::UserDataDirectory(), QDir::homePath() + "/.local/share/braskon");
    }
    EXPECT_EQ(DataLocation::LogFilePath(), root.filePath("state/braskon/log.txt"));
    EXPECT_TRUE(QDir(root.filePath("state/braskon")).exists());
}

TEST(DataLocation, FolderThatCannotBeWrittenIsKeptReadOnlyWithAMessage)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes everywhere; the install test checks this as an unprivileged user";
    QTemporaryDir root;
    const QString locked = root.filePath("locked");
    QDir().mkpath(locked);
    QFile file(locked + "/braskon.db");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    // A file that may not be written in a writable folder, then a folder that may not be written.
    QFile::setPermissions(file.fileName(), QFile::ReadOwner);
    DataLocation location = DataLocation::Choose(locked, root.path());
    EXPECT_TRUE(location.readOnly);
    QFile::setPermissions(file.fileName(), QFile::ReadOwner | QFile::WriteOwner);
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner);
    location = DataLocation::Choose(locked, root.path());
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_TRUE(location.readOnly);
    EXPECT_EQ(location.directory, locked);
    EXPECT_TRUE(location.message.contains(QStringLiteral("schreibgesch\u00fctzt"))) << location.message.toStdString();

    // A missing folder is no reason for read-only: it is created.
    EXPECT_FALSE(DataLocation::Choose(root.filePath("new"), root.path()).readOnly);
}
