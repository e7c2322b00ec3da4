#pragma once
// The file braskon.db through SQLite. The journal is WAL with
// synchronous=FULL, so a post survives a crash of the program or of the
// machine right after it. A file is validated before anything may write to
// it (a refused file stays exactly as it was), and a file this process cannot
// write is only read.

#include "database/StoreDialect.h"

class SqliteDialect : public StoreDialect {
public:
    // braskon.db in folder; created with the empty database when missing.
    explicit SqliteDialect(const QString &folder);

    QString location() const override { return filePath_; }
    bool isServer() const override { return false; }
    bool prepare(SqlStore &store) override;

    void setUpSession(QSqlDatabase db) const override;
    QString busyWaitStatement(int milliseconds) const override;
    bool reopensClosedConnections() const override { return false; }
    [[noreturn]] void failToOpen(const QSqlError &error) const override;

    QString beginWrite() const override;
    QString beginSnapshot() const override;
    QString lockRowsClause() const override;
    QString insertionOrder() const override;
    QString tableExistsQuery() const override;
    QString changeCounterQuery() const override;

    bool truncateJournal(SqlStore &store) const override;
    qint64 journalSize() const override;

    bool lostConnection(const QSqlError &error) const override;

    // Tables, indexes and counters of the empty database, built under another
    // name and renamed when complete.
    static void CreateFile(const QString &filePath);
    // Schema and page check on a read-only connection; throws DatabaseError
    // (DatabaseBusyError while another program holds the file locked).
    static void Validate(const QString &filePath);
    static bool IsWritable(const QString &filePath);

protected:
    QString driver() const override;
    void configure(QSqlDatabase &db) const override;
    void refuse(const QSqlError &error) const override;

private:
    QString folder_;
    QString filePath_;
    bool readOnly_ = false;
};
