#include "SqlStore.h"

#include <algorithm>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlRecord>
#include <QThread>
#include <QUrl>
#include <QUuid>

namespace {

struct TableSchema {
    const char *name;
    QStringList columns;   // the columns the system reads and writes
    const char *create;
};

const QList<TableSchema> &schema()
{
    static const QList<TableSchema> tables = {
        {"batteries",
         {"F_ID", "F_Capacity", "F_Type", "F_Form", "F_Cells", "F_MaxCharge", "F_SelfDischarge",
          "F_Date", "F_Brand", "F_Info"},
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
         "CREATE TABLE samples (F_SampleID INTEGER PRIMARY KEY, F_ServiceID INTEGER, F_Step INTEGER, "
         "F_Time INTEGER, F_Voltage INTEGER, F_Current INTEGER)"},
        {"nextid",
         {"TableName", "NextID"},
         "CREATE TABLE nextid (TableName VARCHAR(20) PRIMARY KEY, NextID INTEGER)"},
    };
    return tables;
}

const char *const indexes[] = {
    "CREATE INDEX IF NOT EXISTS samples_by_service ON samples (F_ServiceID)",
    "CREATE INDEX IF NOT EXISTS services_by_battery ON services (F_Battery)",
};

QString engineMessage(const QSqlError &error)
{
    QString text = error.databaseText();
    if (text.isEmpty())
        text = error.text();
    return text;
}

// SQLITE_BUSY and SQLITE_LOCKED: another program holds the file.
bool isBusy(const QSqlError &error)
{
    const QString code = error.nativeErrorCode();
    return code == QLatin1String("5") || code == QLatin1String("6")
        || engineMessage(error).contains(QLatin1String("locked"), Qt::CaseInsensitive);
}

[[noreturn]] void failBusy(const QString &filePath)
{
    throw DatabaseBusyError(QStringLiteral("Die Datenbank %1 ist gerade von einem anderen Programm gesperrt. "
                                           "Bitte das andere Programm beenden oder es sp\u00e4ter noch einmal "
                                           "versuchen; an der Datei wurde nichts ge\u00e4ndert.")
                                .arg(filePath));
}

[[noreturn]] void fail(const QString &what, const QSqlError &error)
{
    throw DatabaseError(QStringLiteral("%1: %2").arg(what, engineMessage(error)));
}

constexpr int ValidationBusyTimeoutMs = 2000;
constexpr int BusyTimeoutMs = 10000;

// How a connection reaches the file. A read-only file in a folder where no
// -shm file can be made is opened as immutable, which needs no lock files;
// that is only safe while no -wal file holds changes that were not yet
// copied into the database.
void configure(QSqlDatabase &db, const QString &filePath, bool readOnly, int busyTimeoutMs)
{
    QStringList options{QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs)};
    QString name = filePath;
    if (readOnly) {
        options << QStringLiteral("QSQLITE_OPEN_READONLY");
        const QFileInfo info(filePath);
        if (!QFileInfo(info.absolutePath()).isWritable() && !QFileInfo::exists(filePath + QStringLiteral("-wal"))) {
            options << QStringLiteral("QSQLITE_OPEN_URI");
            name = QUrl::fromLocalFile(info.absoluteFilePath()).toString(QUrl::FullyEncoded)
                   + QStringLiteral("?immutable=1");
        }
    }
    db.setDatabaseName(name);
    db.setConnectOptions(options.join(QLatin1Char(';')));
}

// A connection of its own for one-off work on a file (creation, validation).
class ScratchConnection {
public:
    ScratchConnection(const QString &filePath, bool readOnly)
        : name_(QStringLiteral("braskon-scratch-") + QUuid::createUuid().toString(QUuid::Id128))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
        configure(db, filePath, readOnly, ValidationBusyTimeoutMs);
        if (!db.open()) {
            if (isBusy(db.lastError()))
                failBusy(filePath);
            fail(QStringLiteral("Datenbank %1 kann nicht ge\u00f6ffnet werden").arg(filePath), db.lastError());
        }
    }
    ~ScratchConnection()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(name_, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(name_);
    }
    QSqlDatabase db() const { return QSqlDatabase::database(name_, false); }

private:
    QString name_;
};

void run(QSqlDatabase db, const QString &sql, const QString &what)
{
    QSqlQuery query(db);
    if (!query.exec(sql))
        fail(what, query.lastError());
}

} // namespace

QString SqlStore::fileName()
{
    return QStringLiteral("braskon.db");
}

void SqlStore::createSchema(const QString &filePath)
{
    // Built under a temporary name and renamed when complete, so an
    // interrupted creation never leaves a half-made braskon.db behind.
    const QString building = filePath + QStringLiteral(".new");
    QFile::remove(building);
    {
        ScratchConnection scratch(building, false);
        QSqlDatabase db = scratch.db();
        const QString what = QStringLiteral("Leere Datenbank kann nicht angelegt werden");
        run(db, QStringLiteral("BEGIN"), what);
        for (const TableSchema &table : schema())
            run(db, QString::fromUtf8(table.create), what);
        for (const char *index : indexes)
            run(db, QString::fromUtf8(index), what);
        run(db, QStringLiteral("INSERT INTO nextid (TableName, NextID) VALUES ('batteries', 1), ('services', 1)"), what);
        run(db, QStringLiteral("COMMIT"), what);
    }
    if (!QFile::rename(building, filePath)) {
        QFile::remove(building);
        throw DatabaseError(QStringLiteral("Datenbank %1 kann nicht angelegt werden").arg(filePath));
    }
}

void SqlStore::validate(const QString &filePath)
{
    // Read-only and before anything else touches the file: a file that is
    // refused must stay exactly as it was (no switch to WAL, no index).
    ScratchConnection scratch(filePath, true);
    QSqlDatabase db = scratch.db();
    QSqlQuery probe(db);
    if (!probe.exec(QStringLiteral("SELECT name FROM sqlite_master"))) {
        if (isBusy(probe.lastError()))
            failBusy(filePath);
        throw DatabaseError(QStringLiteral("Die Datei %1 ist keine g\u00fcltige Datenbank (%2)")
                                .arg(filePath, engineMessage(probe.lastError())));
    }
    probe.finish();
    for (const TableSchema &table : schema()) {
        const QString name = QString::fromUtf8(table.name);
        QSqlQuery info(db);
        info.prepare(QStringLiteral("SELECT name FROM pragma_table_info(?)"));
        info.addBindValue(name);
        if (!info.exec()) {
            if (isBusy(info.lastError()))
                failBusy(filePath);
            fail(QStringLiteral("Datenbank %1 kann nicht gelesen werden").arg(filePath), info.lastError());
        }
        QStringList present;
        while (info.next())
            present << info.value(0).toString();
        if (present.isEmpty())
            throw DatabaseError(QStringLiteral("Der Datenbank %1 fehlt die Tabelle \"%2\"").arg(filePath, name));
        for (const QString &column : table.columns) {
            if (!present.contains(column, Qt::CaseInsensitive))
                throw DatabaseError(QStringLiteral("In der Tabelle \"%1\" der Datenbank %2 fehlt die Spalte \"%3\"")
                                        .arg(name, filePath, column));
        }
    }
    // Damage inside the tables shows only when their pages are read; found
    // later, it would be found after the file had been changed.
    QSqlQuery check(db);
    if (!check.exec(QStringLiteral("PRAGMA quick_check"))) {
        if (isBusy(check.lastError()))
            failBusy(filePath);
        throw DatabaseError(QStringLiteral("Die Datei %1 ist keine g\u00fcltige Datenbank (%2)")
                                .arg(filePath, engineMessage(check.lastError())));
    }
    QStringList problems;
    while (check.next() && problems.size() < 3)
        problems << check.value(0).toString();
    if (problems != QStringList{QStringLiteral("ok")})
        throw DatabaseError(QStringLiteral("Die Datei %1 ist keine g\u00fcltige Datenbank (besch\u00e4digt: %2)")
                                .arg(filePath, problems.join(QStringLiteral("; "))));
}

bool SqlStore::isWritable(const QString &filePath)
{
    // Trying is the only answer that holds for every reason (permissions, a
    // read-only mount, an immutable file, a process running as root). Opening
    // for writing changes nothing; the journal needs the folder as well.
    QFile file(filePath);
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly))
        return false;
    file.close();
    return QFileInfo(QFileInfo(filePath).absolutePath()).isWritable();
}

SqlStore::SqlStore(const QString &directory)
    : baseName_(QStringLiteral("braskon-") + QUuid::createUuid().toString(QUuid::Id128) + QLatin1Char('-'))
{
    const QDir dir(directory);
    filePath_ = dir.absoluteFilePath(fileName());
    if (!QFileInfo::exists(filePath_)) {
        if (!dir.exists() && !QDir().mkpath(dir.absolutePath()))
            throw DatabaseError(QStringLiteral("Das Datenbankverzeichnis %1 kann nicht angelegt werden")
                                    .arg(dir.absolutePath()));
        createSchema(filePath_);
    }
    validate(filePath_);
    readOnly_ = !isWritable(filePath_);
    if (!readOnly_) {
        for (const char *index : indexes)
            exec(QString::fromUtf8(index));
    }
}

SqlStore::~SqlStore()
{
    QMutexLocker locker(&mutex_);
    for (auto it = connections_.begin(); it != connections_.end(); ++it) {
        QObject::disconnect(it->finished);
        {
            QSqlDatabase db = QSqlDatabase::database(it->name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(it->name);
    }
    connections_.clear();
}

QSqlDatabase SqlStore::connection()
{
    QThread *thread = QThread::currentThread();
    QString name;
    {
        QMutexLocker locker(&mutex_);
        auto it = connections_.constFind(thread);
        if (it != connections_.constEnd())
            name = it->name;
    }
    if (name.isEmpty())
        name = openConnection(thread);
    return QSqlDatabase::database(name, false);
}

QString SqlStore::openConnection(QThread *thread)
{
    const QString name = baseName_ + QString::number(quintptr(thread), 16);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        configure(db, filePath_, readOnly_, BusyTimeoutMs);
        if (!db.open()) {
            const QSqlError error = db.lastError();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(name);
            if (isBusy(error))
                failBusy(filePath_);
            fail(QStringLiteral("Datenbank %1 kann nicht ge\u00f6ffnet werden").arg(filePath_), error);
        }
        // WAL with full sync: a committed post survives a crash of the program
        // or the machine. A read-only file is only read, never switched.
        if (!readOnly_) {
            run(db, QStringLiteral("PRAGMA journal_mode=WAL"), QStringLiteral("Datenbank einrichten"));
            run(db, QStringLiteral("PRAGMA synchronous=FULL"), QStringLiteral("Datenbank einrichten"));
        }
    }
    Connection entry;
    entry.name = name;
    entry.finished = QObject::connect(thread, &QThread::finished, [this, thread] { dropConnection(thread); });
    QMutexLocker locker(&mutex_);
    connections_.insert(thread, entry);
    return name;
}

void SqlStore::dropConnection(QThread *thread)
{
    QString name;
    {
        QMutexLocker locker(&mutex_);
        auto it = connections_.find(thread);
        if (it == connections_.end())
            return;
        name = it->name;
        QObject::disconnect(it->finished);
        connections_.erase(it);
    }
    {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
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
    if (!query.prepare(sql))
        fail(QStringLiteral("Datenbankfehler"), query.lastError());
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!query.exec()) {
        if (isBusy(query.lastError()))
            failBusy(filePath_);
        fail(QStringLiteral("Datenbankfehler"), query.lastError());
    }
    return query;
}

void SqlStore::setBusyWait(int milliseconds)
{
    if (readOnly_)
        return;
    // A pragma takes no bound values; the number is a clamped integer, never text from outside.
    const int wait = milliseconds < 0 ? BusyTimeoutMs : std::min(milliseconds, BusyTimeoutMs * 60);
    exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(wait));
}

SqlStore::Transaction::Transaction(SqlStore &store)
    : store_(store)
{
    QThread *thread = QThread::currentThread();
    {
        QMutexLocker locker(&store_.mutex_);
        depth_ = store_.transactionDepth_[thread]++;
    }
    try {
        // IMMEDIATE takes the write lock at once, so another process cannot
        // make the upgrade from reading to writing fail half-way.
        store_.exec(depth_ == 0 ? QStringLiteral("BEGIN IMMEDIATE")
                                : QStringLiteral("SAVEPOINT nested%1").arg(depth_));
    } catch (...) {
        release();
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
    release();
}

void SqlStore::Transaction::commit()
{
    store_.exec(depth_ == 0 ? QStringLiteral("COMMIT") : QStringLiteral("RELEASE nested%1").arg(depth_));
    open_ = false;
    release();
}

void SqlStore::Transaction::release()
{
    QMutexLocker locker(&store_.mutex_);
    auto it = store_.transactionDepth_.find(QThread::currentThread());
    if (it != store_.transactionDepth_.end() && --it.value() <= 0)
        store_.transactionDepth_.erase(it);
}
