#pragma once
// The database and its connections through Qt Sql: either the file braskon.db
// (SQLite, the default) or a lab database on a PostgreSQL server, named by a
// URL postgresql://USER@HOST[:PORT]/DBNAME (password from PGPASSWORD or
// ~/.pgpass, as every PostgreSQL client does; HOST may be a socket folder,
// percent-encoded or as ?host=/path).
//
// A Qt Sql connection may be used only by the thread that opened it, so the
// store opens one connection per thread (lazily, named per store and thread)
// and closes it when that thread finishes. Every statement outside an explicit
// transaction commits at once. SQLite: the journal is WAL with
// synchronous=FULL, so a post survives a crash of the program or of the
// machine right after it; a file is validated before anything may write to
// it, and a file that cannot be written is only read. PostgreSQL: a
// connection that broke fails its statement with DatabaseConnectionError and
// is opened again by the next call outside a transaction.
//
// Everything that differs between the two engines is decided here.

#include "database/DatabaseError.h"

#include <QHash>
#include <QMutex>
#include <QObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <initializer_list>

class QThread;

class SqlStore {
public:
    static QString fileName();   // "braskon.db"

    // Where a PostgreSQL database is, from its URL.
    struct ServerAddress {
        QString host;        // name, address or socket folder; empty: libpq's default
        int port = -1;
        QString user, password, database;
        QStringList options; // further libpq settings, "key=value"
        QString display;     // the URL without a password, for messages
    };
    static bool IsServerLocation(const QString &location);   // postgresql:// or postgres://
    // Throws DatabaseError with a German reason when the URL cannot be used.
    static ServerAddress ParseServerLocation(const QString &location);
    // The URL without its password (in the user part or as ?password=).
    static QString WithoutPassword(const QString &location);

    // location: a folder (braskon.db in it, created with the empty database when
    // missing) or a PostgreSQL URL (the tables are created in an empty
    // database). Throws DatabaseError when the file is not a database or lacks a
    // table or column (such a file is left unchanged), DatabaseConnectionError
    // when the server cannot be reached.
    explicit SqlStore(const QString &location);
    ~SqlStore();
    SqlStore(const SqlStore &) = delete;
    SqlStore &operator=(const SqlStore &) = delete;

    // The database file, or the server URL without password.
    const QString &filePath() const { return filePath_; }
    bool isServer() const { return server_; }
    // A file this process cannot write (or a server database whose tables this
    // role may not change) is opened read-only: it is read as usual, and every
    // change is refused with a DatabaseError saying so.
    bool readOnly() const { return readOnly_; }

    // The calling thread's connection, opened on first use (and again after it broke).
    QSqlDatabase connection();
    // A connection of its own under `name` with this store's settings, opened;
    // the caller removes it (QSqlDatabase::removeDatabase).
    QSqlDatabase openExtraConnection(const QString &name) const;

    // Prepares and runs one statement with bound positional values on the calling
    // thread's connection; throws DatabaseError with the engine's message.
    QSqlQuery exec(const QString &sql, std::initializer_list<QVariant> values = {});
    QSqlQuery exec(const QString &sql, const QVariantList &values);

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

    // All-or-nothing group of statements on the calling thread's connection.
    class Transaction {
    public:
        explicit Transaction(SqlStore &store);
        ~Transaction();   // rolls back unless committed
        void commit();
        Transaction(const Transaction &) = delete;
        Transaction &operator=(const Transaction &) = delete;
    private:
        void release();
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

    // ---- what differs between the engines ----
    // Appended to a SELECT inside a transaction that will update the rows read:
    // the rows stay locked against other writers until the commit (PostgreSQL;
    // SQLite's write transaction holds the whole file already).
    QString lockRowsClause() const;
    // The column that orders samples as they were stored.
    QString insertionOrder() const;
    bool hasTable(const QString &name);
    // Creates the registry of running treatments when missing.
    void createRunningTable();
    // The notification channel that the lists of other PCs listen on; empty
    // for SQLite. The payload is the changed table's name.
    static QString changeChannel();

    // The spelling of a column as the code uses it (PostgreSQL reports
    // names in lower case).
    static QString canonicalColumn(const QString &name);
    // The five tables (columns in order) and the registry.
    static QStringList tableNames();
    static QStringList columnsOf(const QString &table);

    // Tables, columns and the empty database.
    static void createSchema(const QString &filePath);
    // Schema and page check on a read-only connection; throws DatabaseError
    // (DatabaseBusyError while another program holds the file locked).
    static void validate(const QString &filePath);
    static bool isWritable(const QString &filePath);

private:
    QString openConnection(QThread *thread);
    void dropConnection(QThread *thread);
    void configureServer(QSqlDatabase &db) const;
    void openServer();
    [[noreturn]] void failStatement(const QSqlQuery &query);
    void markBroken();
    int transactionDepth();
    int threadBusyWait();
    void applyBusyWait(QSqlDatabase db, int milliseconds);

    QString filePath_;
    QString baseName_;
    bool server_ = false;
    ServerAddress address_;
    bool readOnly_ = false;
    struct Connection {
        QString name;
        QMetaObject::Connection finished;
        bool broken = false;
        int busyWaitMs = -1;   // the thread's usual wait, -1: the default
    };
    QMutex mutex_;
    QHash<QThread *, Connection> connections_;
    QHash<QThread *, int> transactionDepth_;
};
