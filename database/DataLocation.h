#pragma once
// Where braskon and braskon-cli keep the database and the log, so both always
// work on the same data:
//   1. --database DIR, when given, else the environment variable BRASKON_DATABASE,
//      else the database chosen in the options dialog (kept in the user's
//      settings file); each may instead name a lab database on a PostgreSQL
//      server, postgresql://USER@HOST[:PORT]/DBNAME, shared by every PC of the lab;
//   2. a folder "database" that already exists beside the program (portable use);
//   3. the per-user data folder, $XDG_DATA_HOME/braskon (~/.local/share/braskon).
// A chosen folder that exists but cannot be written is used read-only with a
// message; the program never moves on to another folder by itself.
// The log goes to the per-user state folder, $XDG_STATE_HOME/braskon
// (~/.local/state/braskon/log.txt).

#include <QString>

#include <memory>

class QSettings;

struct DataLocation {
    QString directory;   // absolute path of the folder holding braskon.db, or the server URL
    bool readOnly = false;
    QString message;     // German, set when readOnly: what the user should know

    // programDirectory: the folder of the running program file; setting: the
    // database chosen in the options dialog (empty: none).
    static DataLocation Choose(const QString &databaseOption, const QString &programDirectory,
                               const QString &setting = QString());
    // Choose() with the folder of the running program and the user's setting.
    static DataLocation ForThisProgram(const QString &databaseOption);

    // The user's settings file ($XDG_CONFIG_HOME/braskon/braskon.conf), shared
    // by braskon and braskon-cli; readable and writable by its owner only.
    static std::unique_ptr<QSettings> OpenUserSettings();
    // What a server role that may only read is told at the start.
    static QString ReadOnlyRoleMessage(const QString &database);
    // Makes the settings file (when missing) and gives it the owner's rights only.
    static void KeepPrivate(const QString &settingsFile);
    // A server URL kept with its password (as older versions did): the
    // password is taken out of the settings, and `notice` says what the user
    // should do (German). False when there was none.
    static bool ForgetStoredPassword(QSettings &settings, QString &notice);
    // The database chosen in the options dialog: a folder or a server URL,
    // empty for the default.
    static QString StoredChoice(const QSettings &settings);
    // Keeps the choice (an empty one removes it). A folder is kept as an
    // absolute path; false with a German reason, and nothing kept, when the
    // text names neither a folder nor a valid server URL, holds a line break
    // or the like, or carries a password (passwords come from ~/.pgpass or
    // PGPASSWORD, never from the settings).
    static bool StoreChoice(QSettings &settings, const QString &choice, QString &error);
    // The check of StoreChoice alone; the text as it would be kept.
    static bool CheckChoice(const QString &choice, QString &normalized, QString &error);

    bool IsServer() const;
    // Creates the folder when it is missing; returns false with a German
    // reason when that fails.
    bool Prepare(QString &error) const;

    static QString UserDataDirectory();   // $XDG_DATA_HOME/braskon
    static QString UserStateDirectory();  // $XDG_STATE_HOME/braskon
    static QString UserSettingsFile();    // $XDG_CONFIG_HOME/braskon/braskon.conf
    // The log file in the state folder (the folder is created when missing);
    // falls back to "log.txt" in the current folder when it cannot be created.
    static QString LogFilePath();
    // The help lines of the --database option, shared by both programs.
    static QString OptionHelp();
};
