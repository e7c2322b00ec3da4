#include "TableCursor.h"

#include <QSqlField>

TableCursor::TableCursor(SqlStore &store, QString table, QStringList keyColumns)
    : store_(store), table_(std::move(table)), keys_(std::move(keyColumns))
{
}

bool TableCursor::isEmpty()
{
    QSqlQuery query = store_.exec(QStringLiteral("SELECT 1 FROM %1 LIMIT 1").arg(table_));
    return !query.next();
}

QString TableCursor::keyOrder() const
{
    return keys_.join(QStringLiteral(", "));
}

QString TableCursor::keyAfter() const
{
    QStringList marks;
    for (int i = 0; i < keys_.size(); ++i)
        marks << QStringLiteral("?");
    return QStringLiteral("(%1) > (%2)").arg(keyOrder(), marks.join(QStringLiteral(", ")));
}

QVariantList TableCursor::currentKey() const
{
    QVariantList key;
    for (const QString &column : keys_)
        key << row_.value(column);
    return key;
}

bool TableCursor::load(const QString &where, const QVariantList &values)
{
    QString sql = QStringLiteral("SELECT * FROM %1").arg(table_);
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where;
    sql += QStringLiteral(" ORDER BY %1 LIMIT 1").arg(keyOrder());
    QSqlQuery query = store_.exec(sql, values);
    onRow_ = query.next();
    row_ = onRow_ ? query.record() : QSqlRecord();
    return onRow_;
}

bool TableCursor::first()
{
    return load(QString(), {});
}

bool TableCursor::next()
{
    if (!onRow_)
        return false;
    return load(keyAfter(), currentKey());
}

bool TableCursor::findKey(const QVariantList &key)
{
    QStringList terms;
    for (const QString &column : keys_)
        terms << column + QStringLiteral(" = ?");
    return load(terms.join(QStringLiteral(" AND ")), key);
}

QVariant TableCursor::value(const QString &column) const
{
    return onRow_ ? row_.value(column) : QVariant();
}

void TableCursor::append(const QVariantMap &values)
{
    QStringList columns;
    QStringList marks;
    QVariantList bound;
    for (auto it = values.constBegin(); it != values.constEnd(); ++it) {
        columns << it.key();
        marks << QStringLiteral("?");
        bound << it.value();
    }
    // One statement: either the whole row is stored or, on failure, nothing.
    store_.exec(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                    .arg(table_, columns.join(QStringLiteral(", ")), marks.join(QStringLiteral(", "))),
                bound);
    QVariantList key;
    for (const QString &column : keys_)
        key << values.value(column);
    if (!keys_.isEmpty() && values.contains(keys_.first()))
        findKey(key);
}

void TableCursor::edit(const QVariantMap &values)
{
    if (!onRow_)
        throw DatabaseError(QStringLiteral("Tabelle %1: kein aktueller Datensatz zum Bearbeiten").arg(table_));
    QStringList assignments;
    QVariantList bound;
    for (auto it = values.constBegin(); it != values.constEnd(); ++it) {
        assignments << it.key() + QStringLiteral(" = ?");
        bound << it.value();
    }
    QStringList terms;
    for (const QString &column : keys_)
        terms << column + QStringLiteral(" = ?");
    bound << currentKey();
    store_.exec(QStringLiteral("UPDATE %1 SET %2 WHERE %3")
                    .arg(table_, assignments.join(QStringLiteral(", ")), terms.join(QStringLiteral(" AND "))),
                bound);
    for (auto it = values.constBegin(); it != values.constEnd(); ++it)
        row_.setValue(it.key(), it.value());
}

void TableCursor::remove()
{
    if (!onRow_)
        return;
    const QVariantList key = currentKey();
    QStringList terms;
    for (const QString &column : keys_)
        terms << column + QStringLiteral(" = ?");
    store_.exec(QStringLiteral("DELETE FROM %1 WHERE %2").arg(table_, terms.join(QStringLiteral(" AND "))), key);
    load(keyAfter(), key);
}
