#include "database/DataLocation.h"

#include "database/ServerAddress.h"
#include "database/SqlStore.h"
#include "database/SqliteDialect.h"
#include "database/Texts.h"

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
    auto settings = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                                QStringLiteral("braskon"), QStringLiteral("braskon"));
    KeepPrivate(settings->fileName());
    return settings;
}

QString DataLocation::ReadOnlyRoleMessage(const QString &database)
{
    return QStringLiteral("Die Datenbank %1 ist f\u00fcr diesen Benutzer schreibgesch\u00fctzt (er darf sie nur lesen). "
                          "Die Datenbank wird nur zum Lesen ge\u00f6ffnet: \u00c4nderungen werden nicht gespeichert.")
        .arg(database);
}

void DataLocation::KeepPrivate(const QString &settingsFile)
{
    // The file names the user's database and ports: for the user's eyes only.
    // It is made (empty) with these rights before anything is written to it;
    // the settings are written to a new file that takes over the old one's rights.
    QDir().mkpath(QFileInfo(settingsFile).absolutePath());
    QFile file(settingsFile);
    if (!file.exists() && !file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return;
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

bool DataLocation::ForgetStoredPassword(QSettings &settings, QString &notice)
{
    const QString stored = StoredChoice(settings);
    if (!SqlStore::IsServerLocation(stored))
        return false;
    QString withoutPassword;
    try {
        withoutPassword = ServerAddress::WithoutPassword(stored);
    } catch (const DatabaseError &) {
        return false;
    }
    if (withoutPassword == stored)
        return false;
    settings.setValue(choiceKey, withoutPassword);
    settings.sync();
    notice = QStringLiteral("In den Einstellungen stand das Passwort der Datenbank %1 im Klartext; es wurde dort "
                            "gel\u00f6scht. Dieses Mal wird es noch benutzt. Bitte tragen Sie es in ~/.pgpass ein "
                            "(Rechner:Port:Datenbank:Benutzer:Passwort, nur f\u00fcr Sie lesbar: chmod 600) oder "
                            "setzen Sie PGPASSWORD; sonst gelingt die Anmeldung beim n\u00e4chsten Start nicht.")
                 .arg(withoutPassword);
    return true;
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
    const QString oneLine = OneLineProblem(text, QStringLiteral("Die Angabe der Datenbank"));
    if (!oneLine.isEmpty()) {
        error = oneLine;
        return false;
    }
    if (SqlStore::IsServerLocation(text)) {
        try {
            if (!ServerAddress::Parse(text).password.isEmpty()) {
                // Kept in the settings it would lie in a file in clear text.
                error = QStringLiteral("Ein Passwort wird nicht gespeichert. Bitte die Adresse ohne Passwort angeben "
                                       "(postgresql://BENUTZER@RECHNER/DATENBANK) und das Passwort in ~/.pgpass "
                                       "eintragen (Rechner:Port:Datenbank:Benutzer:Passwort, nur f\u00fcr Sie "
                                       "lesbar: chmod 600) oder in der Umgebungsvariablen PGPASSWORD setzen.");
                return false;
            }
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
    if (folder.exists() && (!writableFolder(folder) || (file.exists() && !SqliteDialect::IsWritable(file.filePath())))) {
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
