#pragma once
// A lab database on a PostgreSQL server, named by its URL (see
// ServerAddress; the password from the URL, PGPASSWORD or ~/.pgpass, as every
// PostgreSQL client does). A connection that broke fails its statement with
// DatabaseConnectionError and is opened again by the next call outside a
// transaction. The tables are created in an empty database (two PCs starting
// at once create them once); a role that may not write them only reads.

#include "database/ServerAddress.h"
#include "database/StoreDialect.h"

class PostgresDialect : public StoreDialect {
public:
    // Throws DatabaseError for a URL that cannot be used or a missing driver.
    explicit PostgresDialect(const QString &url);

    // The notification channel every change of a list's table is told on,
    // once per statement, with the table's name; the lists of other PCs
    // listen on it.
    static QString ChangeChannel();

    QString location() const override { return address_.display; }
    bool isServer() const override { return true; }
    bool prepare(SqlStore &store) override;

    void setUpSession(QSqlDatabase db) const override;
    QString busyWaitStatement(int milliseconds) const override;
    bool reopensClosedConnections() const override { return true; }
    [[noreturn]] void failToOpen(const QSqlError &error) const override;

    QString beginWrite() const override;
    QString beginSnapshot() const override;
    QString lockRowsClause() const override;
    QString insertionOrder() const override;
    QString tableExistsQuery() const override;

    bool lostConnection(const QSqlError &error) const override;

protected:
    QString driver() const override;
    void configure(QSqlDatabase &db) const override;
    void refuse(const QSqlError &error) const override;

private:
    void createTables(SqlStore &store) const;

    ServerAddress address_;
};
