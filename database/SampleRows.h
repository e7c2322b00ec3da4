#pragma once
// The samples of one treatment in stored order, walked forward once: key,
// step, time, voltage, current. On a database file SQLite's own statement on
// the calling thread's connection, which hands out integers without a
// QVariant each (most of a long read's time otherwise); on a server a
// forward-only query. For the long reads (exports, diagrams) that run on a
// thread of their own with that thread's connection.

#include <QSqlQuery>
#include <QtGlobal>

class SqlStore;
struct sqlite3;
struct sqlite3_stmt;

class SampleRows {
public:
    // The samples stored after the one with key afterKey (0: all). Throws
    // DatabaseError.
    SampleRows(SqlStore &store, int serviceID, qint64 afterKey = 0);
    ~SampleRows();
    SampleRows(const SampleRows &) = delete;
    SampleRows &operator=(const SampleRows &) = delete;

    // The next row into the fields below; false after the last one.
    bool next();

    qint64 key = 0;
    int step = 0, time = 0, voltage = 0, current = 0;

private:
    [[noreturn]] void fail();

    sqlite3 *connection_ = nullptr;
    sqlite3_stmt *statement_ = nullptr;
    QSqlQuery query_;
};
