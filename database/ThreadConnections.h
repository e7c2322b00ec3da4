#pragma once
// The store's connections, one per thread: a Qt Sql connection may be used
// only by the thread that opened it. A thread's connection is opened on its
// first call (named per store and thread) and closed when the thread
// finishes; one that broke is made again by the next call outside a
// transaction, while a transaction that lost its connection fails as a whole.
// Each thread also has its own wait for other programs' locks and its own
// depth of nested transactions. The mutex guards only the bookkeeping, never
// a statement.

#include <QHash>
#include <QMetaObject>
#include <QMutex>
#include <QSqlDatabase>
#include <QString>

class QSqlQuery;
class QThread;
class StoreDialect;

class ThreadConnections {
public:
    explicit ThreadConnections(const StoreDialect &dialect);
    ~ThreadConnections();
    ThreadConnections(const ThreadConnections &) = delete;
    ThreadConnections &operator=(const ThreadConnections &) = delete;

    // The calling thread's connection, opened on first use (and again after it broke).
    QSqlDatabase connection();
    // Throws the dialect's error for the failed statement; a connection that
    // broke is marked to be made again.
    [[noreturn]] void fail(const QSqlQuery &query);

    // How long the calling thread's connection waits for another program's
    // lock; negative: the thread's usual wait.
    void setBusyWait(int milliseconds);
    // The calling thread's usual wait from now on (negative: the default),
    // kept when the connection is made again.
    void setThreadBusyWait(int milliseconds);

    // Nesting of the calling thread's transactions: enter() returns the depth
    // before, leave() undoes one enter().
    int depth();
    int enter();
    void leave();

private:
    QString open(QThread *thread);
    void drop(QThread *thread);
    int threadBusyWait();
    void applyBusyWait(QSqlDatabase db, int milliseconds);

    const StoreDialect &dialect_;
    const QString baseName_;
    struct Connection {
        QString name;
        QMetaObject::Connection finished;
        bool broken = false;
        int busyWaitMs = -1;   // the thread's usual wait, -1: the default
    };
    QMutex mutex_;
    QHash<QThread *, Connection> connections_;
    QHash<QThread *, int> depth_;
};
