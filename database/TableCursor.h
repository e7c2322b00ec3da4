#pragma once
// A cursor on one table, walked in primary-key order: keyed lookup, append,
// edit and delete of the current row (the cursor then stands on the row that
// followed), and a sequential walk. The current row is a copy; every change is
// one statement that commits at once.

#include "SqlStore.h"

#include <QSqlRecord>
#include <QStringList>
#include <QVariant>

class TableCursor {
public:
    TableCursor(SqlStore &store, QString table, QStringList keyColumns);

    const QString &table() const { return table_; }
    bool isEmpty();

    bool first();                 // false when the table is empty
    bool next();                  // false once the end is passed
    bool eof() const { return !onRow_; }
    bool findKey(const QVariantList &key);   // key values in key order

    QVariant value(const QString &column) const;   // of the current row
    const QSqlRecord &record() const { return row_; }

    // Stores a new row at once; throws DatabaseError (duplicate key, ...), and
    // then nothing was stored. The cursor stands on the new row.
    void append(const QVariantMap &values);
    // Overwrites columns of the current row at once.
    void edit(const QVariantMap &values);
    // Deletes the current row; the cursor moves to the following row.
    void remove();

private:
    bool load(const QString &where, const QVariantList &values);
    QVariantList currentKey() const;
    QString keyOrder() const;
    QString keyAfter() const;

    SqlStore &store_;
    QString table_;
    QStringList keys_;
    QSqlRecord row_;
    bool onRow_ = false;
};
