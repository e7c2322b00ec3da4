#pragma once
// The five tables with the columns the program reads and writes, the
// registry of running treatments and the indexes: the statements that make
// an empty database and the check that an existing one has them all.

#include <QHash>
#include <QString>
#include <QStringList>

namespace StoreSchema {

// The five tables, and their columns in order.
QStringList TableNames();
QStringList ColumnsOf(const QString &table);
// The spelling of a column as the code uses it (PostgreSQL reports names in
// lower case).
QString CanonicalColumn(const QString &name);

// The tables, indexes and ID counters of an empty database, in order.
// sampleKey: the definition of the samples' key column, which keeps their
// insertion order.
QStringList CreateStatements(const QString &sampleKey);
// The registry of running treatments, made by the first program that registers one.
QString CreateRunning();
QStringList CreateIndexes();

// Throws DatabaseError naming the first table or column that is missing.
// present: the columns of each table found, keys in lower case.
void Check(const QHash<QString, QStringList> &present, const QString &location);

} // namespace StoreSchema
