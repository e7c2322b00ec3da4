#include "database/ThreadConnections.h"

#include "database/StoreDialect.h"

#include <QObject>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QUuid>

#include <algorithm>

ThreadConnections::ThreadConnections(const StoreDialect &dialect)
    : dialect_(dialect),
      baseName_(QStringLiteral("braskon-") + QUuid::createUuid().toString(QUuid::Id128) + QLatin1Char('-'))
{
}

ThreadConnections::~ThreadConnections()
{
    QMutexLocker locker(&mutex_);
    for (auto it = connections_.begin(); it != connections_.end(); ++it) {
        QObject::disconnect(it->finished);
        {
            QSqlDatabase db = QSqlDatabase::database(it->name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(it->name);
    }
    connections_.clear();
}

QSqlDatabase ThreadConnections::connection()
{
    QThread *thread = QThread::currentThread();
    QString name;
    bool broken = false;
    bool inTransaction = false;
    {
        QMutexLocker locker(&mutex_);
        auto it = connections_.constFind(thread);
        if (it != connections_.constEnd()) {
            name = it->name;
            inTransaction = depth_.value(thread, 0) > 0;
            broken = it->broken && !inTransaction;
        }
    }
    if (name.isEmpty())
        return QSqlDatabase::database(open(thread), false);
    QSqlDatabase db = QSqlDatabase::database(name, false);
    // The driver may have closed a connection that the server ended.
    if (dialect_.reopensClosedConnections() && !db.isOpen() && !inTransaction)
        broken = true;
    if (broken) {
        db.close();
        if (!db.open())
            dialect_.failToOpen(db.lastError());
        {
            QMutexLocker locker(&mutex_);
            connections_[thread].broken = false;
        }
        applyBusyWait(db, threadBusyWait());
    }
    return db;
}

QString ThreadConnections::open(QThread *thread)
{
    const QString name = baseName_ + QString::number(quintptr(thread), 16);
    {
        QSqlDatabase db = dialect_.open(name);
        dialect_.setUpSession(db);
    }
    Connection entry;
    entry.name = name;
    entry.finished = QObject::connect(thread, &QThread::finished, [this, thread] { drop(thread); });
    QMutexLocker locker(&mutex_);
    connections_.insert(thread, entry);
    return name;
}

void ThreadConnections::drop(QThread *thread)
{
    QString name;
    {
        QMutexLocker locker(&mutex_);
        auto it = connections_.find(thread);
        if (it == connections_.end())
            return;
        name = it->name;
        QObject::disconnect(it->finished);
        connections_.erase(it);
    }
    {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

void ThreadConnections::fail(const QSqlQuery &query)
{
    const QSqlError error = query.lastError();
    if (dialect_.lostConnection(error)) {
        QMutexLocker locker(&mutex_);
        auto it = connections_.find(QThread::currentThread());
        if (it != connections_.end())
            it->broken = true;
    }
    dialect_.fail(error);
}

void ThreadConnections::setBusyWait(int milliseconds)
{
    const int wait = milliseconds < 0 ? threadBusyWait() : std::min(milliseconds, StoreDialect::BusyTimeoutMs * 60);
    applyBusyWait(connection(), wait);
}

void ThreadConnections::setThreadBusyWait(int milliseconds)
{
    QSqlDatabase db = connection();
    {
        QMutexLocker locker(&mutex_);
        connections_[QThread::currentThread()].busyWaitMs = milliseconds;
    }
    applyBusyWait(db, milliseconds < 0 ? StoreDialect::BusyTimeoutMs : milliseconds);
}

int ThreadConnections::threadBusyWait()
{
    QMutexLocker locker(&mutex_);
    const int wait = connections_.value(QThread::currentThread()).busyWaitMs;
    return wait < 0 ? StoreDialect::BusyTimeoutMs : wait;
}

void ThreadConnections::applyBusyWait(QSqlDatabase db, int milliseconds)
{
    // The statement takes no bound values; the number is a clamped integer,
    // never text from outside. It changes nothing stored, so a read-only
    // database takes it too.
    QSqlQuery query(db);
    if (!query.exec(dialect_.busyWaitStatement(milliseconds)))
        fail(query);
}

int ThreadConnections::depth()
{
    QMutexLocker locker(&mutex_);
    return depth_.value(QThread::currentThread(), 0);
}

int ThreadConnections::enter()
{
    QMutexLocker locker(&mutex_);
    return depth_[QThread::currentThread()]++;
}

void ThreadConnections::leave()
{
    QMutexLocker locker(&mutex_);
    auto it = depth_.find(QThread::currentThread());
    if (it != depth_.end() && --it.value() <= 0)
        depth_.erase(it);
}
