#pragma once
// The database through Qt Sql: either the file braskon.db (SQLite, the
// default) or a lab database on a PostgreSQL server, named by a URL
// postgresql://USER@HOST[:PORT]/DBNAME (see ServerAddress). What differs
// between the two is the store's dialect (SqliteDialect, PostgresDialect);
// the connections are one per thread (ThreadConnections); the tables are
// StoreSchema's.
//
// Every statement runs on the calling thread's connection; outside an
// explicit transaction it commits at once. Failures are DatabaseError
// exceptions with German messages (DatabaseBusyError while another program
// holds a lock past the wait, DatabaseConnectionError when the server is
// gone, DuplicateKeyError for a key in use).
//
// Rows are reached through exec() (bound values, a forward-only query), from a
// typed function of RecordReader/RecordStore; SQL that differs between the
// engines is asked of dialect(). The windows' lists are QueryModels over exec().

#include "database/DatabaseError.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <initializer_list>
#include <memory>

class StoreDialect;
class ThreadConnections;

class SqlStore {
public:
    static QString fileName();   // "braskon.db"
    static bool IsServerLocation(const QString &location);   // postgresql:// or postgres://

    // location: a folder (braskon.db in it, created with the empty database when
    // missing) or a PostgreSQL URL (the tables are created in an empty
    // database). Throws DatabaseError when the file is not a database or lacks a
    // table or column (such a file is left unchanged), DatabaseConnectionError
    // when the server cannot be reached.
    explicit SqlStore(const QString &location);
    ~SqlStore();
    SqlStore(const SqlStore &) = delete;
    SqlStore &operator=(const SqlStore &) = delete;

    const StoreDialect &dialect() const { return *dialect_; }
    // The database file, or the server URL without password.
    const QString &filePath() const { return filePath_; }
    bool isServer() const;
    // A file this process cannot write (or a server database whose tables this
    // role may not change) is opened read-only: it is read as usual, and every
    // change is refused with a DatabaseError saying so.
    bool readOnly() const { return readOnly_; }

    // The calling thread's connection, opened on first use (and again after it broke).
    QSqlDatabase connection();

    // Prepares and runs one statement with bound positional values on the calling
    // thread's connection; throws DatabaseError with the engine's message.
    QSqlQuery exec(const QString &sql, std::initializer_list<QVariant> values = {});
    QSqlQuery exec(const QString &sql, const QVariantList &values);

    bool hasTable(const QString &name);
    // Creates the registry of running treatments when missing.
    void createRunningTable();

    // SQLite: copies the write-ahead log into the file and empties the log
    // (truncates it to 0 bytes), so that space a failed or long run of writes
    // took is given back; false when a reader still needs the log (nothing
    // lost, the next call tries again). Always true on a server and on a file
    // that is only read.
    bool truncateJournal();
    // Bytes the write-ahead log takes now (0 on a server).
    qint64 journalSize() const;

    // How long the calling thread's connection waits for another program's
    // lock before a statement fails as busy (DatabaseBusyError); a negative
    // value restores the thread's usual wait.
    void setBusyWait(int milliseconds);
    // The calling thread's usual wait from now on (negative: the store's
    // default of 10 s), kept when the connection is made again. The windows'
    // thread waits only briefly: a locked database must not hold up input.
    void setThreadBusyWait(int milliseconds);

    // All-or-nothing group of statements on the calling thread's connection;
    // nested ones are savepoints.
    class Transaction {
    public:
        explicit Transaction(SqlStore &store);
        ~Transaction();   // rolls back unless committed
        void commit();
        Transaction(const Transaction &) = delete;
        Transaction &operator=(const Transaction &) = delete;
    private:
        SqlStore &store_;
        int depth_ = 0;
        bool open_ = true;
    };

    // One consistent view of the whole database for a long read (a copy)
    // while others go on writing; writes nothing, so a read-only store takes it.
    class Snapshot {
    public:
        explicit Snapshot(SqlStore &store);
        ~Snapshot();
        Snapshot(const Snapshot &) = delete;
        Snapshot &operator=(const Snapshot &) = delete;
    private:
        SqlStore &store_;
    };

private:
    [[noreturn]] void failStatement(const QSqlQuery &query);

    std::unique_ptr<StoreDialect> dialect_;
    std::unique_ptr<ThreadConnections> connections_;   // uses dialect_
    QString filePath_;
    bool readOnly_ = false;
};
