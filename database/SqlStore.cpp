#include "database/SqlStore.h"

#include "database/ServerAddress.h"
#include "database/StoreDialect.h"
#include "database/StoreSchema.h"
#include "database/ThreadConnections.h"

QString SqlStore::fileName()
{
    return QStringLiteral("braskon.db");
}

bool SqlStore::IsServerLocation(const QString &location)
{
    return ServerAddress::IsServerLocation(location);
}

SqlStore::SqlStore(const QString &location)
    : dialect_(StoreDialect::For(location)), connections_(std::make_unique<ThreadConnections>(*dialect_)),
      filePath_(dialect_->location())
{
    readOnly_ = dialect_->prepare(*this);
}

SqlStore::~SqlStore() = default;

bool SqlStore::isServer() const
{
    return dialect_->isServer();
}

QSqlDatabase SqlStore::connection()
{
    return connections_->connection();
}

void SqlStore::failStatement(const QSqlQuery &query)
{
    connections_->fail(query);
}

QSqlQuery SqlStore::exec(const QString &sql, std::initializer_list<QVariant> values)
{
    return exec(sql, QVariantList(values));
}

QSqlQuery SqlStore::exec(const QString &sql, const QVariantList &values)
{
    if (readOnly_ && !sql.trimmed().startsWith(QLatin1String("SELECT"), Qt::CaseInsensitive))
        throw DatabaseError(QStringLiteral("Die Datenbank %1 ist schreibgesch\u00fctzt: sie kann gelesen, aber "
                                           "nicht ge\u00e4ndert werden. Es wurde nichts gespeichert.")
                                .arg(filePath_));
    QSqlQuery query(connection());
    query.setForwardOnly(true);
    if (values.isEmpty()) {
        // Nothing to bind: one round trip instead of prepare and execute.
        if (!query.exec(sql))
            failStatement(query);
        return query;
    }
    if (!query.prepare(sql))
        failStatement(query);
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!query.exec())
        failStatement(query);
    return query;
}

bool SqlStore::hasTable(const QString &name)
{
    return exec(dialect_->tableExistsQuery(), {name}).next();
}

void SqlStore::createRunningTable()
{
    exec(StoreSchema::CreateRunning());
}

bool SqlStore::truncateJournal()
{
    return readOnly_ || dialect_->truncateJournal(*this);
}

qint64 SqlStore::journalSize() const
{
    return dialect_->journalSize();
}

void SqlStore::setBusyWait(int milliseconds)
{
    connections_->setBusyWait(milliseconds);
}

void SqlStore::setThreadBusyWait(int milliseconds)
{
    connections_->setThreadBusyWait(milliseconds);
}

// ---- transactions --------------------------------------------------------------

SqlStore::Snapshot::Snapshot(SqlStore &store)
    : store_(store)
{
    QSqlQuery begin(store_.connection());
    if (!begin.exec(store_.dialect_->beginSnapshot()))
        store_.failStatement(begin);
}

SqlStore::Snapshot::~Snapshot()
{
    QSqlQuery end(store_.connection());
    end.exec(QStringLiteral("COMMIT"));
}

SqlStore::Transaction::Transaction(SqlStore &store)
    : store_(store)
{
    // A connection that broke since the last transaction is made again first.
    if (store_.connections_->depth() == 0)
        store_.connection();
    depth_ = store_.connections_->enter();
    try {
        if (depth_ > 0)
            store_.exec(QStringLiteral("SAVEPOINT nested%1").arg(depth_));
        else
            store_.exec(store_.dialect_->beginWrite());
    } catch (...) {
        store_.connections_->leave();
        throw;
    }
}

SqlStore::Transaction::~Transaction()
{
    if (!open_)
        return;
    try {
        if (depth_ == 0) {
            store_.exec(QStringLiteral("ROLLBACK"));
        } else {
            store_.exec(QStringLiteral("ROLLBACK TO nested%1").arg(depth_));
            store_.exec(QStringLiteral("RELEASE nested%1").arg(depth_));
        }
    } catch (const DatabaseError &) {
        // Nothing more can be done; the engine has rolled back already.
    }
    store_.connections_->leave();
}

void SqlStore::Transaction::commit()
{
    store_.exec(depth_ == 0 ? QStringLiteral("COMMIT") : QStringLiteral("RELEASE nested%1").arg(depth_));
    open_ = false;
    store_.connections_->leave();
}
