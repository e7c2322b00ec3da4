#pragma once
// Where braskon and braskon-cli keep the database and the log, so both always
// work on the same data:
//   1. --database DIR, when given, else the environment variable BRASKON_DATABASE;
//      either may instead name a lab database on a PostgreSQL server,
//      postgresql://USER@HOST[:PORT]/DBNAME, shared by every PC of the lab;
//   2. a folder "database" that already exists beside the program (portable use);
//   3. the per-user data folder, $XDG_DATA_HOME/braskon (~/.local/share/braskon).
// A chosen folder that exists but cannot be written is used read-only with a
// message; the program never moves on to another folder by itself.
// The log goes to the per-user state folder, $XDG_STATE_HOME/braskon
// (~/.local/state/braskon/log.txt).

#include <QString>

struct DataLocation {
    QString directory;   // absolute path of the folder holding braskon.db, or the server URL
    bool readOnly = false;
    QString message;     // German, set when readOnly: what the user should know

    // programDirectory: the folder of the running program file.
    static DataLocation Choose(const QString &databaseOption, const QString &programDirectory);
    // Choose() with the folder of the running program.
    static DataLocation ForThisProgram(const QString &databaseOption);

    bool IsServer() const;
    // Creates the folder when it is missing; returns false with a German
    // reason when that fails.
    bool Prepare(QString &error) const;

    static QString UserDataDirectory();   // $XDG_DATA_HOME/braskon
    static QString UserStateDirectory();  // $XDG_STATE_HOME/braskon
    // The log file in the state folder (the folder is created when missing);
    // falls back to "log.txt" in the current folder when it cannot be created.
    static QString LogFilePath();
};
