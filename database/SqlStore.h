#pragma once
// The database file braskon.db and its SQLite connections through Qt Sql.
// A Qt Sql connection may be used only by the thread that opened it, so the
// store opens one connection per thread (lazily, named per store and thread)
// and closes it when that thread finishes. Every statement outside an explicit
// transaction commits at once; the journal is WAL with synchronous=FULL, so a
// post survives a crash of the program or of the machine right after it.
// A file is validated before anything may write to it, and a file that cannot
// be written is only read.

#include "DatabaseError.h"

#include <QHash>
#include <QMutex>
#include <QObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <initializer_list>

class QThread;

class SqlStore {
public:
    static QString fileName();   // "braskon.db"

    // Opens (or creates, when the file is missing) the database in the
    // directory. Throws DatabaseError when the file is not a database or lacks a
    // table or column; such a file is left unchanged.
    explicit SqlStore(const QString &directory);
    ~SqlStore();
    SqlStore(const SqlStore &) = delete;
    SqlStore &operator=(const SqlStore &) = delete;

    const QString &filePath() const { return filePath_; }
    // A file this process cannot write is opened read-only: it is read as
    // usual, and every change is refused with a DatabaseError saying so.
    bool readOnly() const { return readOnly_; }

    // The calling thread's connection, opened on first use.
    QSqlDatabase connection();

    // Prepares and runs one statement with bound positional values on the calling
    // thread's connection; throws DatabaseError with the engine's message.
    QSqlQuery exec(const QString &sql, std::initializer_list<QVariant> values = {});
    QSqlQuery exec(const QString &sql, const QVariantList &values);

    // How long the calling thread's connection waits for another program's
    // lock before a statement fails as busy; a negative value restores the
    // usual busy time-out. Nothing happens on a read-only file.
    void setBusyWait(int milliseconds);

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

    // Tables, columns and the empty database.
    static void createSchema(const QString &filePath);
    // Schema and page check on a read-only connection; throws DatabaseError
    // (DatabaseBusyError while another program holds the file locked).
    static void validate(const QString &filePath);
    static bool isWritable(const QString &filePath);

private:
    QString openConnection(QThread *thread);
    void dropConnection(QThread *thread);

    QString filePath_;
    QString baseName_;
    bool readOnly_ = false;
    struct Connection {
        QString name;
        QMetaObject::Connection finished;
    };
    QMutex mutex_;
    QHash<QThread *, Connection> connections_;
    QHash<QThread *, int> transactionDepth_;
};
