#include "database/SampleRows.h"

#include "database/DatabaseError.h"
#include "database/SqlStore.h"
#include "database/StoreDialect.h"

#include <QSqlDriver>

#include <sqlite3.h>

SampleRows::SampleRows(SqlStore &store, int serviceID, qint64 afterKey)
{
    QSqlDatabase db = store.connection();
    const QVariant handle = db.driver()->handle();
    if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0)
        connection_ = *static_cast<sqlite3 *const *>(handle.constData());
    if (!connection_) {
        // The key column is the store's own insertion order, never user input.
        const QString order = store.dialect().insertionOrder();
        query_ = store.exec(QStringLiteral("SELECT ") + order
                                + QStringLiteral(", F_Step, F_Time, F_Voltage, F_Current FROM samples "
                                                 "WHERE F_ServiceID = ? AND ")
                                + order + QStringLiteral(" > ? ORDER BY ") + order,
                            {serviceID, afterKey});
        return;
    }
    if (sqlite3_prepare_v2(connection_,
                           "SELECT rowid, F_Step, F_Time, F_Voltage, F_Current FROM samples "
                           "WHERE F_ServiceID = ?1 AND rowid > ?2 ORDER BY rowid",
                           -1, &statement_, nullptr)
            != SQLITE_OK
        || sqlite3_bind_int(statement_, 1, serviceID) != SQLITE_OK
        || sqlite3_bind_int64(statement_, 2, afterKey) != SQLITE_OK)
        fail();
}

SampleRows::~SampleRows()
{
    sqlite3_finalize(statement_);
}

bool SampleRows::next()
{
    if (!statement_) {
        if (!query_.next())
            return false;
        key = query_.value(0).toLongLong();
        step = query_.value(1).toInt();
        time = query_.value(2).toInt();
        voltage = query_.value(3).toInt();
        current = query_.value(4).toInt();
        return true;
    }
    const int result = sqlite3_step(statement_);
    if (result == SQLITE_DONE)
        return false;
    if (result != SQLITE_ROW)
        fail();
    key = sqlite3_column_int64(statement_, 0);
    step = sqlite3_column_int(statement_, 1);
    time = sqlite3_column_int(statement_, 2);
    voltage = sqlite3_column_int(statement_, 3);
    current = sqlite3_column_int(statement_, 4);
    return true;
}

void SampleRows::fail()
{
    throw DatabaseError(QStringLiteral("Die Messwerte k\u00f6nnen nicht gelesen werden: %1")
                            .arg(QString::fromUtf8(sqlite3_errmsg(connection_))));
}
