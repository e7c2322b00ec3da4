#include "database/StoreDialect.h"

#include "database/DatabaseError.h"
#include "database/PostgresDialect.h"
#include "database/ServerAddress.h"
#include "database/SqliteDialect.h"

#include <QSqlError>
#include <QSqlQuery>

std::unique_ptr<StoreDialect> StoreDialect::For(const QString &location)
{
    if (ServerAddress::IsServerLocation(location))
        return std::make_unique<PostgresDialect>(location);
    return std::make_unique<SqliteDialect>(location);
}

StoreDialect::~StoreDialect() = default;

QSqlDatabase StoreDialect::open(const QString &name) const
{
    QSqlDatabase db = QSqlDatabase::addDatabase(driver(), name);
    configure(db);
    if (!db.open()) {
        const QSqlError error = db.lastError();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
        failToOpen(error);
    }
    return db;
}

void StoreDialect::fail(const QSqlError &error) const
{
    refuse(error);
    Fail(QStringLiteral("Datenbankfehler"), error);
}

bool StoreDialect::truncateJournal(SqlStore &) const
{
    return true;
}

QString StoreDialect::EngineMessage(const QSqlError &error)
{
    QString text = error.databaseText();
    if (text.isEmpty())
        text = error.text();
    return text;
}

void StoreDialect::FailBusy(const QString &location)
{
    throw DatabaseBusyError(QStringLiteral("Die Datenbank %1 ist gerade von einem anderen Programm gesperrt. "
                                           "Bitte das andere Programm beenden oder es sp\u00e4ter noch einmal "
                                           "versuchen; an der Datei wurde nichts ge\u00e4ndert.")
                                .arg(location));
}

void StoreDialect::FailDuplicateKey()
{
    throw DuplicateKeyError(QStringLiteral("Der Eintrag ist bereits vorhanden; es wurde nichts gespeichert."));
}

void StoreDialect::Fail(const QString &what, const QSqlError &error)
{
    throw DatabaseError(QStringLiteral("%1: %2").arg(what, EngineMessage(error)));
}

void StoreDialect::Run(QSqlDatabase db, const QString &sql, const QString &what)
{
    QSqlQuery query(db);
    if (!query.exec(sql))
        Fail(what, query.lastError());
}
