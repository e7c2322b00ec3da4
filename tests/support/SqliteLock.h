#pragma once
// Holds the write lock of an SQLite database file the way another program
// would: a connection of its own inside BEGIN EXCLUSIVE, until Release() or
// the destructor. Header only; the user links Qt6::Sql.

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QUuid>

#include <stdexcept>

namespace SimTest {

class SqliteLock {
public:
    explicit SqliteLock(const QString &file) : name_(QUuid::createUuid().toString())
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
        db.setDatabaseName(file);
        // A writer's short transaction may be under way when the lock is asked for.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        if (!db.open())
            fail("cannot open " + file.toStdString() + ": " + db.lastError().text().toStdString());
        QSqlQuery begin(db);
        if (!begin.exec(QStringLiteral("BEGIN EXCLUSIVE")))
            fail("cannot lock " + file.toStdString() + ": " + begin.lastError().text().toStdString());
        held_ = true;
    }
    ~SqliteLock() { Release(); }
    SqliteLock(const SqliteLock &) = delete;
    SqliteLock &operator=(const SqliteLock &) = delete;

    void Release()
    {
        if (name_.isEmpty())
            return;
        {
            QSqlDatabase db = QSqlDatabase::database(name_, false);
            if (held_)
                QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            db.close();
        }
        QSqlDatabase::removeDatabase(name_);
        name_.clear();
        held_ = false;
    }

private:
    [[noreturn]] void fail(const std::string &what)
    {
        Release();
        throw std::runtime_error(what);
    }

    QString name_;
    bool held_ = false;
};

} // namespace SimTest
