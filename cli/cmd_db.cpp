// braskon-cli db copy SRC DST: a whole database from one store to the other
// (a database folder or a PostgreSQL URL on either side) with its IDs and
// counters, into an empty target, in one transaction; then the row counts of
// both sides. The registry of running treatments stays behind: its rows name
// processes that write to the source.

#include "cli/Arguments.h"
#include "cli/Command.h"

#include "database/SqlStore.h"
#include "database/StoreDialect.h"
#include "database/StoreSchema.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QSqlQuery>
#include <QTime>

namespace {

constexpr int RowsPerInsert = 250;

const char *const Usage = "Aufruf: braskon-cli db copy QUELLE ZIEL   (Datenbankordner oder postgresql://...)";

// Dates and times travel as the text both engines store and read back.
QVariant portable(const QVariant &value)
{
    if (value.typeId() == QMetaType::QDate)
        return value.toDate().toString(Qt::ISODate);
    if (value.typeId() == QMetaType::QTime)
        return value.toTime().toString(QStringLiteral("HH:mm:ss"));
    return value;
}

// The order in which the rows go over: the key, or for the samples the order
// in which they were stored.
QString orderOf(const QString &table, const SqlStore &source)
{
    if (table == QLatin1String("samples"))
        return source.dialect().insertionOrder();
    if (table == QLatin1String("sub"))
        return QStringLiteral("F_ServiceID, F_Step");
    if (table == QLatin1String("nextid"))
        return QStringLiteral("TableName");
    return QStringLiteral("F_ID");
}

void flush(SqlStore &target, const QString &table, const QStringList &columns, QVariantList &values)
{
    if (values.isEmpty())
        return;
    const qsizetype rows = values.size() / columns.size();
    QStringList marks;
    for (int i = 0; i < columns.size(); ++i)
        marks << QStringLiteral("?");
    const QString row = QLatin1Char('(') + marks.join(QStringLiteral(", ")) + QLatin1Char(')');
    QStringList allRows;
    for (qsizetype i = 0; i < rows; ++i)
        allRows << row;
    target.exec(QStringLiteral("INSERT INTO %1 (%2) VALUES %3")
                    .arg(table, columns.join(QStringLiteral(", ")), allRows.join(QStringLiteral(", "))),
                values);
    values.clear();
}

void copyTable(SqlStore &source, SqlStore &target, const QString &table)
{
    const QStringList columns = StoreSchema::ColumnsOf(table);
    QSqlQuery rows = source.exec(
        QStringLiteral("SELECT %1 FROM %2 ORDER BY %3").arg(columns.join(QStringLiteral(", ")), table, orderOf(table, source)));
    if (table == QLatin1String("nextid")) {
        // The target has its own counter rows already: they take the source's values.
        while (rows.next()) {
            const QVariant name = rows.value(0), next = rows.value(1);
            if (target.exec(QStringLiteral("UPDATE nextid SET NextID = ? WHERE TableName = ?"), {next, name})
                    .numRowsAffected()
                == 0)
                target.exec(QStringLiteral("INSERT INTO nextid (TableName, NextID) VALUES (?, ?)"), {name, next});
        }
        return;
    }
    QVariantList values;
    while (rows.next()) {
        for (int i = 0; i < columns.size(); ++i)
            values << portable(rows.value(i));
        if (values.size() >= RowsPerInsert * columns.size())
            flush(target, table, columns, values);
    }
    flush(target, table, columns, values);
}

qint64 count(SqlStore &store, const QString &table)
{
    QSqlQuery query = store.exec(QStringLiteral("SELECT COUNT(*) FROM %1").arg(table));
    return query.next() ? query.value(0).toLongLong() : -1;
}

QString absolute(const QString &location)
{
    return SqlStore::IsServerLocation(location) ? location : QFileInfo(location).absoluteFilePath();
}

int dbCommand(const QStringList &args, Cli::Context &context)
{
    Cli::Arguments arguments({}, 3);
    const Cli::Arguments::Outcome outcome = arguments.Read(args);
    if (outcome == Cli::Arguments::Outcome::Help)
        return Cli::ShowHelp(context);
    const QStringList words = arguments.Positional();
    if (outcome == Cli::Arguments::Outcome::Wrong || words.size() != 3 || words[0] != QLatin1String("copy")) {
        context.err << "braskon-cli db: " << Usage << Qt::endl;
        return 2;
    }
    const QString from = absolute(words[1]), to = absolute(words[2]);
    if (from == to) {
        context.err << "braskon-cli db copy: Quelle und Ziel sind dieselbe Datenbank" << Qt::endl;
        return 2;
    }
    if (!SqlStore::IsServerLocation(from) && !QFileInfo::exists(QDir(from).filePath(SqlStore::fileName()))) {
        context.err << "braskon-cli db copy: im Ordner " << QDir::toNativeSeparators(from) << " ist keine Datenbank ("
                    << SqlStore::fileName() << ")" << Qt::endl;
        return 1;
    }
    try {
        SqlStore source(from);
        SqlStore target(to);
        for (const QString &table : {QStringLiteral("batteries"), QStringLiteral("services"), QStringLiteral("sub"),
                                     QStringLiteral("samples")}) {
            if (count(target, table) != 0) {
                context.err << "braskon-cli db copy: das Ziel " << target.filePath() << " ist nicht leer (Tabelle "
                            << table << "); es wurde nichts kopiert" << Qt::endl;
                return 1;
            }
        }
        {
            // What the source holds at one moment, into the target all or nothing.
            SqlStore::Snapshot snapshot(source);
            SqlStore::Transaction transaction(target);
            for (const QString &table : StoreSchema::TableNames())
                copyTable(source, target, table);
            transaction.commit();
        }
        context.out << QStringLiteral("%1 %2 %3\n").arg(QStringLiteral("Tabelle"), -10).arg(QStringLiteral("Quelle"), 10).arg(QStringLiteral("Ziel"), 10);
        bool same = true;
        for (const QString &table : StoreSchema::TableNames()) {
            const qint64 there = count(source, table), here = count(target, table);
            same = same && there == here;
            context.out << QStringLiteral("%1 %2 %3\n").arg(table, -10).arg(there, 10).arg(here, 10);
        }
        context.out << source.filePath() << " -> " << target.filePath() << Qt::endl;
        if (!same)
            context.err << "braskon-cli db copy: Quelle und Ziel haben nicht gleich viele Zeilen (siehe oben)" << Qt::endl;
        return same ? 0 : 1;
    } catch (const DatabaseError &error) {
        context.err << "braskon-cli db copy: " << error.message() << Qt::endl;
        return 1;
    }
}

const Cli::CommandRegistration registration(
    "db",
    "db copy QUELLE ZIEL  eine ganze Datenbank kopieren (Ordner oder postgresql://...), mit IDs\n"
    "                       und Z\u00e4hlern; das Ziel muss leer sein",
    dbCommand);

} // namespace
