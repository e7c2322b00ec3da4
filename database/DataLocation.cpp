#include "DataLocation.h"

#include "SqlStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

// $XDG_<name>_HOME when it is an absolute path (the base directory
// specification ignores relative ones), else the fallback under the home folder.
QString xdgHome(const char *variable, const QString &fallback)
{
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::cleanPath(QDir::homePath() + QLatin1Char('/') + fallback);
}

bool writableFolder(const QFileInfo &folder)
{
    return folder.isDir() && folder.isWritable();
}

} // namespace

QString DataLocation::UserDataDirectory()
{
    return xdgHome("XDG_DATA_HOME", QStringLiteral(".local/share")) + QStringLiteral("/braskon");
}

QString DataLocation::UserStateDirectory()
{
    return xdgHome("XDG_STATE_HOME", QStringLiteral(".local/state")) + QStringLiteral("/braskon");
}

QString DataLocation::LogFilePath()
{
    const QString folder = UserStateDirectory();
    if (QDir().mkpath(folder) && QFileInfo(folder).isWritable())
        return folder + QStringLiteral("/log.txt");
    return QStringLiteral("log.txt");
}

DataLocation DataLocation::Choose(const QString &databaseOption, const QString &programDirectory)
{
    DataLocation location;
    const QString chosen = databaseOption.isEmpty() ? qEnvironmentVariable("BRASKON_DATABASE") : databaseOption;
    if (SqlStore::IsServerLocation(chosen)) {
        // A lab database on a server: whether it may be written is the server's answer.
        location.directory = chosen;
        return location;
    }
    if (!chosen.isEmpty()) {
        location.directory = QFileInfo(chosen).absoluteFilePath();
    } else {
        const QFileInfo beside(QDir(programDirectory).absoluteFilePath(QStringLiteral("database")));
        location.directory = beside.isDir() ? beside.absoluteFilePath() : UserDataDirectory();
    }
    const QFileInfo folder(location.directory);
    const QFileInfo file(QDir(location.directory).absoluteFilePath(SqlStore::fileName()));
    // A missing folder is created later; an existing one must take the
    // database file and its journal, an existing file must take the changes.
    if (folder.exists() && (!writableFolder(folder) || (file.exists() && !SqlStore::isWritable(file.filePath())))) {
        location.readOnly = true;
        location.message =
            (writableFolder(folder) ? QStringLiteral("Die Datenbank in %1 ist f\u00fcr diesen Benutzer schreibgesch\u00fctzt.")
                                    : QStringLiteral("Der Datenbankordner %1 ist schreibgesch\u00fctzt."))
                .arg(QDir::toNativeSeparators(location.directory))
            + QStringLiteral(" Die Datenbank wird nur zum Lesen ge\u00f6ffnet: \u00c4nderungen werden nicht gespeichert.");
    }
    return location;
}

DataLocation DataLocation::ForThisProgram(const QString &databaseOption)
{
    return Choose(databaseOption, QCoreApplication::applicationDirPath());
}

bool DataLocation::Prepare(QString &error) const
{
    if (IsServer())
        return true;
    // Nothing to read, and no database can be made there.
    if (readOnly && !QFileInfo::exists(QDir(directory).absoluteFilePath(SqlStore::fileName()))) {
        error = QStringLiteral("Der Datenbankordner %1 ist schreibgesch\u00fctzt und enth\u00e4lt keine Datenbank %2.")
                    .arg(QDir::toNativeSeparators(directory), SqlStore::fileName());
        return false;
    }
    if (QFileInfo(directory).isDir() || QDir().mkpath(directory))
        return true;
    error = QStringLiteral("Der Datenbankordner %1 kann nicht angelegt werden.")
                .arg(QDir::toNativeSeparators(directory));
    return false;
}

bool DataLocation::IsServer() const
{
    return SqlStore::IsServerLocation(directory);
}
