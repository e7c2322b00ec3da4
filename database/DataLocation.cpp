#include "DataLocation.h"

#include "SqlStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {

// $XDG_<name>_HOME when it is an absolute path (XDG base directories
// ignore relative ones), else the fallback under the home folder.
QString xdgHome(const char *variable, const QString &fallback)
{
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::cleanPath(QDir::homePath() + QLatin1Char('/') + fallback);
}

const QString choiceKey = QStringLiteral("database/location");

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

QString DataLocation::UserSettingsFile()
{
    // Where QSettings keeps the file OpenUserSettings() opens.
    return xdgHome("XDG_CONFIG_HOME", QStringLiteral(".config")) + QStringLiteral("/braskon/braskon.conf");
}

QString DataLocation::LogFilePath()
{
    const QString folder = UserStateDirectory();
    if (QDir().mkpath(folder) && QFileInfo(folder).isWritable())
        return folder + QStringLiteral("/log.txt");
    return QStringLiteral("log.txt");
}

std::unique_ptr<QSettings> DataLocation::OpenUserSettings()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("braskon"),
                                       QStringLiteral("braskon"));
}

QString DataLocation::StoredChoice(const QSettings &settings)
{
    return settings.value(choiceKey).toString().trimmed();
}

bool DataLocation::CheckChoice(const QString &choice, QString &normalized, QString &error)
{
    const QString text = choice.trimmed();
    if (text.isEmpty()) {
        normalized.clear();
        return true;
    }
    if (SqlStore::IsServerLocation(text)) {
        try {
            SqlStore::ParseServerLocation(text);
        } catch (const DatabaseError &bad) {
            error = bad.message();
            return false;
        }
        normalized = text;
        return true;
    }
    const QFileInfo folder(QDir::cleanPath(QDir::fromNativeSeparators(text)));
    if (folder.exists() && !folder.isDir()) {
        error = QStringLiteral("%1 ist eine Datei, kein Ordner. Angegeben wird der Ordner, in dem %2 liegt "
                               "oder angelegt werden soll, oder eine Adresse postgresql://BENUTZER@RECHNER/DATENBANK.")
                    .arg(QDir::toNativeSeparators(folder.absoluteFilePath()), SqlStore::fileName());
        return false;
    }
    // The choice holds for every later start, whatever folder that starts in.
    normalized = folder.absoluteFilePath();
    return true;
}

bool DataLocation::StoreChoice(QSettings &settings, const QString &choice, QString &error)
{
    QString normalized;
    if (!CheckChoice(choice, normalized, error))
        return false;
    if (normalized.isEmpty())
        settings.remove(choiceKey);
    else
        settings.setValue(choiceKey, normalized);
    settings.sync();
    return true;
}

DataLocation DataLocation::Choose(const QString &databaseOption, const QString &programDirectory,
                                  const QString &setting)
{
    DataLocation location;
    QString chosen = databaseOption.isEmpty() ? qEnvironmentVariable("BRASKON_DATABASE") : databaseOption;
    if (chosen.isEmpty())
        chosen = setting.trimmed();
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
    QString setting;
    // The settings are read only when neither the option nor the environment decides.
    if (databaseOption.isEmpty() && qEnvironmentVariableIsEmpty("BRASKON_DATABASE"))
        setting = StoredChoice(*OpenUserSettings());
    return Choose(databaseOption, QCoreApplication::applicationDirPath(), setting);
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

QString DataLocation::OptionHelp()
{
    return QStringLiteral(
        "  --database ORDNER    Datenbankordner (braskon.db) statt des Standardorts, oder\n"
        "  --database postgresql://BENUTZER@RECHNER[:PORT]/DATENBANK\n"
        "                       gemeinsame Labor-Datenbank auf einem PostgreSQL-Server\n"
        "                       (Passwort aus PGPASSWORD oder ~/.pgpass); ohne Option gilt\n"
        "                       die Umgebungsvariable BRASKON_DATABASE\n");
}
