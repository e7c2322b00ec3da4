#include "database/ChangeListener.h"

#include "database/PostgresDialect.h"
#include "database/SqlStore.h"
#include "database/StoreDialect.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUuid>

ChangeListener::ChangeListener(const SqlStore &store, QObject *parent)
    : QObject(parent), store_(store),
      name_(QStringLiteral("braskon-listen-") + QUuid::createUuid().toString(QUuid::Id128))
{
    gather_.setSingleShot(true);
    gather_.setInterval(GatherMs);
    connect(&gather_, &QTimer::timeout, this, [this] {
        const QStringList tables(pending_.begin(), pending_.end());
        pending_.clear();
        if (!tables.isEmpty())
            emit tablesChanged(tables);
    });
    watch_.setInterval(WatchMs);
    connect(&watch_, &QTimer::timeout, this, &ChangeListener::watch);
    connectAndListen();
    watch_.start();
}

ChangeListener::~ChangeListener()
{
    if (QSqlDatabase::contains(name_)) {
        {
            QSqlDatabase db = QSqlDatabase::database(name_, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(name_);
    }
}

void ChangeListener::connectAndListen()
{
    listening_ = false;
    try {
        QSqlDatabase db;
        if (QSqlDatabase::contains(name_)) {
            db = QSqlDatabase::database(name_, false);
            db.close();
            if (!db.open())
                return;
        } else {
            db = store_.dialect().open(name_);
            connect(db.driver(),
                    qOverload<const QString &, QSqlDriver::NotificationSource, const QVariant &>(
                        &QSqlDriver::notification),
                    this, &ChangeListener::received);
        }
        listening_ = db.driver()->subscribeToNotification(PostgresDialect::ChangeChannel());
    } catch (const std::exception &error) {
        // The server is away; the watch tries again.
        qWarning("%s", error.what());
    }
}

void ChangeListener::received(const QString &channel, QSqlDriver::NotificationSource, const QVariant &payload)
{
    if (channel != PostgresDialect::ChangeChannel())
        return;
    pending_.insert(payload.toString());
    if (!gather_.isActive())
        gather_.start();
}

void ChangeListener::watch()
{
    if (listening_) {
        QSqlQuery probe(QSqlDatabase::database(name_, false));
        if (probe.exec(QStringLiteral("SELECT 1")))
            return;
    }
    connectAndListen();
    if (!listening_)
        return;
    // What changed while nobody listened is unknown: all of it.
    for (const char *table : {"batteries", "services", "sub", "samples"})
        pending_.insert(QString::fromLatin1(table));
    gather_.start();
}
