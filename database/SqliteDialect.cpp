#include "database/SqliteDialect.h"

#include "database/DatabaseError.h"
#include "database/SqlStore.h"
#include "database/StoreSchema.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUuid>

namespace {

constexpr int ValidationBusyTimeoutMs = 2000;
constexpr qint64 JournalSizeLimit = 4 * 1024 * 1024;

// SQLITE_BUSY and SQLITE_LOCKED: another program holds the file.
bool isBusy(const QSqlError &error)
{
    const QString code = error.nativeErrorCode();
    return code == QLatin1String("5") || code == QLatin1String("6")
           || StoreDialect::EngineMessage(error).contains(QLatin1String("locked"), Qt::CaseInsensitive);
}

// SQLITE_CONSTRAINT_PRIMARYKEY and _UNIQUE, and the plain constraint code of
// older drivers.
bool isDuplicateKey(const QSqlError &error)
{
    const QString code = error.nativeErrorCode();
    return code == QLatin1String("1555") || code == QLatin1String("2067")
           || (code == QLatin1String("19") && StoreDialect::EngineMessage(error).contains(QLatin1String("UNIQUE")));
}

// How a connection reaches the file. A read-only file in a folder where no
// -shm file can be made is opened as immutable, which needs no lock files;
// that is only safe while no -wal file holds changes that were not yet
// copied into the database.
void configureFile(QSqlDatabase &db, const QString &filePath, bool readOnly, int busyTimeoutMs)
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
        : filePath_(filePath), name_(QStringLiteral("braskon-scratch-") + QUuid::createUuid().toString(QUuid::Id128))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
        configureFile(db, filePath, readOnly, ValidationBusyTimeoutMs);
        if (!db.open()) {
            // The destructor does not run for a constructor that throws.
            const QSqlError error = db.lastError();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(name_);
            fail(error, QStringLiteral("Datenbank %1 kann nicht ge\u00f6ffnet werden").arg(filePath));
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
    ScratchConnection(const ScratchConnection &) = delete;
    ScratchConnection &operator=(const ScratchConnection &) = delete;

    QSqlDatabase db() const { return QSqlDatabase::database(name_, false); }
    // A busy file is told as such, anything else as "what: <engine's message>".
    [[noreturn]] void fail(const QSqlError &error, const QString &what) const
    {
        if (isBusy(error))
            StoreDialect::FailBusy(filePath_);
        throw DatabaseError(QStringLiteral("%1: %2").arg(what, StoreDialect::EngineMessage(error)));
    }
    // The file is no database at all.
    [[noreturn]] void refuse(const QSqlError &error) const
    {
        if (isBusy(error))
            StoreDialect::FailBusy(filePath_);
        throw DatabaseError(QStringLiteral("Die Datei %1 ist keine g\u00fcltige Datenbank (%2)")
                                .arg(filePath_, StoreDialect::EngineMessage(error)));
    }

private:
    QString filePath_;
    QString name_;
};

} // namespace

SqliteDialect::SqliteDialect(const QString &folder)
    : folder_(QDir(folder).absolutePath()), filePath_(QDir(folder).absoluteFilePath(SqlStore::fileName()))
{
}

bool SqliteDialect::prepare(SqlStore &store)
{
    if (!QFileInfo::exists(filePath_)) {
        if (!QDir(folder_).exists() && !QDir().mkpath(folder_))
            throw DatabaseError(QStringLiteral("Das Datenbankverzeichnis %1 kann nicht angelegt werden").arg(folder_));
        CreateFile(filePath_);
    }
    Validate(filePath_);
    readOnly_ = !IsWritable(filePath_);
    if (!readOnly_) {
        for (const QString &index : StoreSchema::CreateIndexes())
            store.exec(index);
    }
    return readOnly_;
}

QString SqliteDialect::driver() const
{
    return QStringLiteral("QSQLITE");
}

void SqliteDialect::configure(QSqlDatabase &db) const
{
    configureFile(db, filePath_, readOnly_, BusyTimeoutMs);
}

void SqliteDialect::setUpSession(QSqlDatabase db) const
{
    // WAL with full sync: a committed post survives a crash of the program
    // or the machine. A read-only file is only read, never switched.
    if (readOnly_)
        return;
    const QString what = QStringLiteral("Datenbank einrichten");
    Run(db, QStringLiteral("PRAGMA journal_mode=WAL"), what);
    Run(db, QStringLiteral("PRAGMA synchronous=FULL"), what);
    // A log that a long run of writes let grow is cut back to this whenever
    // a checkpoint has emptied it, instead of keeping the space.
    Run(db, QStringLiteral("PRAGMA journal_size_limit=%1").arg(JournalSizeLimit), what);
}

QString SqliteDialect::busyWaitStatement(int milliseconds) const
{
    return QStringLiteral("PRAGMA busy_timeout = %1").arg(milliseconds);
}

void SqliteDialect::failToOpen(const QSqlError &error) const
{
    if (isBusy(error))
        FailBusy(filePath_);
    Fail(QStringLiteral("Datenbank %1 kann nicht ge\u00f6ffnet werden").arg(filePath_), error);
}

QString SqliteDialect::beginWrite() const
{
    // IMMEDIATE takes the write lock at once, so another process cannot make
    // the upgrade from reading to writing fail half-way.
    return QStringLiteral("BEGIN IMMEDIATE");
}

QString SqliteDialect::beginSnapshot() const
{
    // A read transaction in WAL mode sees the file as of its first read.
    return QStringLiteral("BEGIN");
}

QString SqliteDialect::lockRowsClause() const
{
    // The write transaction holds the whole file already.
    return {};
}

QString SqliteDialect::insertionOrder() const
{
    return QStringLiteral("rowid");
}

QString SqliteDialect::tableExistsQuery() const
{
    return QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?");
}

QString SqliteDialect::changeCounterQuery() const
{
    // Counts the commits of the other connections (the engine's, other programs').
    return QStringLiteral("PRAGMA data_version");
}

bool SqliteDialect::truncateJournal(SqlStore &store) const
{
    // One row: busy (1 when a reader or writer kept it from finishing), log frames, frames copied.
    QSqlQuery result = store.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    return result.next() && result.value(0).toInt() == 0;
}

qint64 SqliteDialect::journalSize() const
{
    return QFileInfo(filePath_ + QStringLiteral("-wal")).size();
}

bool SqliteDialect::lostConnection(const QSqlError &) const
{
    return false;
}

void SqliteDialect::refuse(const QSqlError &error) const
{
    if (isBusy(error))
        FailBusy(filePath_);
    if (isDuplicateKey(error))
        FailDuplicateKey();
}

void SqliteDialect::CreateFile(const QString &filePath)
{
    // Built under a temporary name and renamed when complete, so an
    // interrupted creation never leaves a half-made braskon.db behind.
    const QString building = filePath + QStringLiteral(".new");
    QFile::remove(building);
    {
        ScratchConnection scratch(building, false);
        QSqlDatabase db = scratch.db();
        const QString what = QStringLiteral("Leere Datenbank kann nicht angelegt werden");
        Run(db, QStringLiteral("BEGIN"), what);
        for (const QString &statement : StoreSchema::CreateStatements(QStringLiteral("F_SampleID INTEGER PRIMARY KEY")))
            Run(db, statement, what);
        Run(db, QStringLiteral("COMMIT"), what);
    }
    if (!QFile::rename(building, filePath)) {
        QFile::remove(building);
        throw DatabaseError(QStringLiteral("Datenbank %1 kann nicht angelegt werden").arg(filePath));
    }
}

void SqliteDialect::Validate(const QString &filePath)
{
    // Read-only and before anything else touches the file: a file that is
    // refused must stay exactly as it was (no switch to WAL, no index).
    ScratchConnection scratch(filePath, true);
    QSqlDatabase db = scratch.db();
    {
        QSqlQuery probe(db);
        if (!probe.exec(QStringLiteral("SELECT name FROM sqlite_master")))
            scratch.refuse(probe.lastError());
    }
    QHash<QString, QStringList> present;
    for (const QString &table : StoreSchema::TableNames()) {
        QSqlQuery info(db);
        info.prepare(QStringLiteral("SELECT name FROM pragma_table_info(?)"));
        info.addBindValue(table);
        if (!info.exec())
            scratch.fail(info.lastError(), QStringLiteral("Datenbank %1 kann nicht gelesen werden").arg(filePath));
        while (info.next())
            present[table] << info.value(0).toString();
    }
    StoreSchema::Check(present, filePath);
    // Damage inside the tables shows only when their pages are read; found
    // later, it would be found after the file had been changed.
    QSqlQuery check(db);
    if (!check.exec(QStringLiteral("PRAGMA quick_check")))
        scratch.refuse(check.lastError());
    QStringList problems;
    while (check.next() && problems.size() < 3)
        problems << check.value(0).toString();
    if (problems != QStringList{QStringLiteral("ok")})
        throw DatabaseError(QStringLiteral("Die Datei %1 ist keine g\u00fcltige Datenbank (besch\u00e4digt: %2)")
                                .arg(filePath, problems.join(QStringLiteral("; "))));
}

bool SqliteDialect::IsWritable(const QString &filePath)
{
    // Trying is the only answer that holds for every reason (permissions, a
    // read-only mount, an immutable file, a process running as root). Opening
    // for writing changes nothing; the journal needs the folder as well.
    QFile file(filePath);
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly))
        return false;
    file.close();
    // Journal files left by another user (a crashed run with sudo, say) make
    // every change fail with "attempt to write a readonly database".
    for (const char *suffix : {"-wal", "-shm"}) {
        QFile journal(filePath + QLatin1String(suffix));
        if (journal.exists() && !journal.open(QIODevice::ReadWrite | QIODevice::ExistingOnly))
            return false;
    }
    return QFileInfo(QFileInfo(filePath).absolutePath()).isWritable();
}
