#include "database/StoreSchema.h"

#include "database/DatabaseError.h"

namespace StoreSchema {

namespace {

struct Table {
    const char *name;
    QStringList columns;   // the columns the system reads and writes
    const char *create;    // %1: the samples' key column
};

const QList<Table> &tables()
{
    static const QList<Table> all = {
        {"batteries",
         {"F_ID", "F_Capacity", "F_Type", "F_Form", "F_Cells", "F_MaxCharge", "F_SelfDischarge", "F_Date", "F_Brand",
          "F_Info"},
         "CREATE TABLE batteries (F_ID INTEGER PRIMARY KEY, F_Capacity INTEGER, F_Type SMALLINT, "
         "F_Form SMALLINT, F_Cells SMALLINT, F_MaxCharge SMALLINT, F_SelfDischarge SMALLINT, "
         "F_Date DATE, F_Brand VARCHAR(50), F_Info VARCHAR(250))"},
        {"services",
         {"F_ID", "F_Battery", "F_Date", "F_Time", "F_Program"},
         "CREATE TABLE services (F_ID INTEGER PRIMARY KEY, F_Battery INTEGER, F_Date DATE, "
         "F_Time TIME, F_Program INTEGER)"},
        {"sub",
         {"F_ServiceID", "F_Step", "F_Function", "F_Parameter", "F_Duration", "F_Capacity", "F_State"},
         "CREATE TABLE sub (F_ServiceID INTEGER, F_Step SMALLINT, F_Function SMALLINT, "
         "F_Parameter SMALLINT, F_Duration INTEGER, F_Capacity INTEGER, F_State INTEGER, "
         "PRIMARY KEY (F_ServiceID, F_Step))"},
        // Samples are never looked up by key; the surrogate key keeps the walk in insertion order.
        {"samples",
         {"F_ServiceID", "F_Step", "F_Time", "F_Voltage", "F_Current"},
         "CREATE TABLE samples (%1, F_ServiceID INTEGER, F_Step INTEGER, F_Time INTEGER, F_Voltage INTEGER, "
         "F_Current INTEGER)"},
        {"nextid",
         {"TableName", "NextID"},
         "CREATE TABLE nextid (TableName VARCHAR(20) PRIMARY KEY, NextID INTEGER)"},
    };
    return all;
}

} // namespace

QStringList TableNames()
{
    QStringList names;
    for (const Table &table : tables())
        names << QString::fromLatin1(table.name);
    return names;
}

QStringList ColumnsOf(const QString &table)
{
    for (const Table &entry : tables())
        if (table == QLatin1String(entry.name))
            return entry.columns;
    return {};
}

QString CanonicalColumn(const QString &name)
{
    static const QHash<QString, QString> spelling = [] {
        QHash<QString, QString> map;
        for (const Table &table : tables())
            for (const QString &column : table.columns)
                map.insert(column.toLower(), column);
        for (const char *column : {"F_SampleID", "F_Terminal", "F_Host", "F_Pid", "F_Identity", "F_Heartbeat",
                                   "F_StepTime", "F_Charge", "F_Discharge", "F_Limits", "F_Health"})
            map.insert(QString::fromLatin1(column).toLower(), QString::fromLatin1(column));
        return map;
    }();
    return spelling.value(name.toLower(), name);
}

QStringList CreateStatements(const QString &sampleKey)
{
    QStringList statements;
    for (const Table &table : tables()) {
        const QString create = QString::fromLatin1(table.create);
        statements << (create.contains(QLatin1String("%1")) ? create.arg(sampleKey) : create);
    }
    statements << CreateIndexes();
    statements << QStringLiteral("INSERT INTO nextid (TableName, NextID) VALUES ('batteries', 1), ('services', 1)");
    return statements;
}

QString CreateRunning()
{
    return QStringLiteral(
        "CREATE TABLE IF NOT EXISTS running (F_ServiceID INTEGER PRIMARY KEY, F_Terminal VARCHAR(50), "
        "F_Host VARCHAR(255), F_Pid BIGINT, F_Identity VARCHAR(80), F_Heartbeat BIGINT, F_Step INTEGER, "
        "F_StepTime INTEGER, F_Capacity INTEGER, F_Charge INTEGER, F_Discharge INTEGER, F_Limits VARCHAR(80))");
}

QStringList CreateIndexes()
{
    return {QStringLiteral("CREATE INDEX IF NOT EXISTS samples_by_service ON samples (F_ServiceID)"),
            QStringLiteral("CREATE INDEX IF NOT EXISTS services_by_battery ON services (F_Battery)")};
}

void Check(const QHash<QString, QStringList> &present, const QString &location)
{
    for (const Table &table : tables()) {
        const QString name = QString::fromLatin1(table.name);
        const QStringList columns = present.value(name);
        if (columns.isEmpty())
            throw DatabaseError(QStringLiteral("Der Datenbank %1 fehlt die Tabelle \"%2\"").arg(location, name));
        for (const QString &column : table.columns) {
            if (!columns.contains(column, Qt::CaseInsensitive))
                throw DatabaseError(QStringLiteral("In der Tabelle \"%1\" der Datenbank %2 fehlt die Spalte \"%3\"")
                                        .arg(name, location, column));
        }
    }
}

} // namespace StoreSchema
