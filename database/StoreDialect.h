#pragma once
// What differs between the two engines the store runs on, the file
// braskon.db (SQLite) and a lab database on a PostgreSQL server: opening and
// checking the database, the settings of a connection, the statements whose
// SQL differs, the write-ahead log and how failures are told. SqlStore asks
// its dialect instead of branching; SQL that both engines understand stays
// with the code that runs it.

#include <QSqlDatabase>
#include <QString>

#include <memory>

class QSqlError;
class SqlStore;

class StoreDialect {
public:
    // How long a statement waits for another program's lock by default.
    static constexpr int BusyTimeoutMs = 10000;

    // SQLite for a folder, PostgreSQL for a postgresql:// URL (see ServerAddress).
    static std::unique_ptr<StoreDialect> For(const QString &location);
    virtual ~StoreDialect();

    // The database file, or the server URL without password (for messages).
    virtual QString location() const = 0;
    virtual bool isServer() const = 0;

    // Checks the tables (or creates them in a new database) before anything
    // writes; true when this process may only read.
    virtual bool prepare(SqlStore &store) = 0;

    // ---- connections ----
    // Adds a connection under name with this database's settings and opens
    // it; when it cannot be opened, removes it and throws.
    QSqlDatabase open(const QString &name) const;
    // A thread's own connection, once opened: settings that last as long as it.
    virtual void setUpSession(QSqlDatabase db) const = 0;
    // Makes the connection wait that long for another program's lock.
    virtual QString busyWaitStatement(int milliseconds) const = 0;
    // Whether a connection found closed (by the server) is opened again.
    virtual bool reopensClosedConnections() const = 0;
    [[noreturn]] virtual void failToOpen(const QSqlError &error) const = 0;

    // ---- statements ----
    // Begins a transaction that will write.
    virtual QString beginWrite() const = 0;
    // Begins one consistent view of the whole database that writes nothing.
    virtual QString beginSnapshot() const = 0;
    // Appended to a SELECT inside a transaction that will update the rows
    // read: they stay locked against other writers until the commit.
    virtual QString lockRowsClause() const = 0;
    // The column that orders samples as they were stored.
    virtual QString insertionOrder() const = 0;
    // One bound value, the table's name: a row when the table exists.
    virtual QString tableExistsQuery() const = 0;
    // A number that changes with every commit of any connection to the
    // database; empty where other programs' changes are notified instead.
    virtual QString changeCounterQuery() const { return {}; }

    // ---- the write-ahead log ----
    // Empties the log into the database; false when a reader still needs it.
    virtual bool truncateJournal(SqlStore &store) const;
    // Bytes the log takes now.
    virtual qint64 journalSize() const { return 0; }

    // ---- failures ----
    // The connection itself broke: it is made again by the next call.
    virtual bool lostConnection(const QSqlError &error) const = 0;
    // Throws the DatabaseError (or one of its kinds) for a failed statement.
    [[noreturn]] void fail(const QSqlError &error) const;

    // ---- for the dialects ----
    // The engine's own words for a failure.
    static QString EngineMessage(const QSqlError &error);
    [[noreturn]] static void FailBusy(const QString &location);
    [[noreturn]] static void FailDuplicateKey();
    [[noreturn]] static void Fail(const QString &what, const QSqlError &error);
    // Runs one statement without bound values; throws "what: <engine's message>".
    static void Run(QSqlDatabase db, const QString &sql, const QString &what);

protected:
    virtual QString driver() const = 0;
    virtual void configure(QSqlDatabase &db) const = 0;
    // Throws for the failures this engine tells apart (locks, keys, ...);
    // returns for the others.
    virtual void refuse(const QSqlError &error) const = 0;
};
