#pragma once
#include <tuple>
#include "database/Datamodule.h"
#include "database/RecordStore.h"
#include "database/ServerAddress.h"
#include "database/SqlStore.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>
#include <QVariant>

#include <gtest/gtest.h>
#include <memory>

// Connections of the tests' own (not the module's) to the database at
// `location`: the file braskon.db in a folder, or a PostgreSQL URL.
inline QSqlDatabase OpenTestConnection(const QString &location, const QString &name)
{
    const bool server = SqlStore::IsServerLocation(location);
    QSqlDatabase db = QSqlDatabase::addDatabase(server ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE"), name);
    if (server) {
        const ServerAddress address = ServerAddress::Parse(location);
        db.setHostName(address.host);
        db.setUserName(address.user);
        db.setDatabaseName(address.database);
        if (address.port > 0)
            db.setPort(address.port);
    } else {
        db.setDatabaseName(location + QStringLiteral("/braskon.db"));
    }
    EXPECT_TRUE(db.open()) << db.lastError().text().toStdString();
    return db;
}

// Runs one statement on a connection of its own; the first value of the result.
inline QVariant QueryOnce(const QString &location, const QString &sql)
{
    const QString name = QUuid::createUuid().toString();
    QVariant value;
    {
        QSqlDatabase db = OpenTestConnection(location, name);
        QSqlQuery query(db);
        EXPECT_TRUE(query.exec(sql)) << sql.toStdString() << ": " << query.lastError().text().toStdString();
        if (query.next())
            value = query.value(0);
    }
    QSqlDatabase::removeDatabase(name);
    return value;
}

struct CliRun {
    int status;
    QString out, err;
    bool crashed = false;   // ended by a signal (an abort, say)
};

// braskon-cli to its end.
inline CliRun RunCli(const QStringList &args, const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(BRASKON_CLI), args);
    EXPECT_TRUE(process.waitForFinished(60000));
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError()), process.exitStatus() == QProcess::CrashExit};
}

// A fresh database of its own on the test server (BRASKON_TEST_PG, the URL
// of its maintenance database), dropped again by the destructor.
class ServerDatabase {
public:
    ServerDatabase()
        : name_(QStringLiteral("t_") + QUuid::createUuid().toString(QUuid::Id128)),
          server_(qEnvironmentVariable("BRASKON_TEST_PG"))
    {
        QueryOnce(server_, QStringLiteral("CREATE DATABASE %1 STRATEGY FILE_COPY").arg(name_));
    }
    ~ServerDatabase() { QueryOnce(server_, QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name_)); }
    ServerDatabase(const ServerDatabase &) = delete;
    ServerDatabase &operator=(const ServerDatabase &) = delete;
    QString url() const { return server_.section(QLatin1Char('/'), 0, -2) + QLatin1Char('/') + name_; }
    static bool Available() { return !qEnvironmentVariableIsEmpty("BRASKON_TEST_PG"); }

private:
    QString name_, server_;
};

// One temporary database per test (on the BRASKON_TEST_PG server when set), and a
// look at it through a connection of its own.
class DatabaseTest : public ::testing::Test {
protected:
    ~DatabaseTest() override
    {
        module_.reset();
        records_.reset();
        server_.reset();
    }
    bool onServer() const { return ServerDatabase::Available(); }
    // What --database takes: the folder, or the server URL.
    QString dir() const
    {
        if (!onServer())
            return temp_.path() + QStringLiteral("/database");
        if (!server_)
            server_ = std::make_unique<ServerDatabase>();
        return server_->url();
    }
    QString file() const { return dir() + QStringLiteral("/braskon.db"); }
    QByteArray digest() const
    {
        QFile db(file());
        return db.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(db.readAll(), QCryptographicHash::Sha256)
                                             : QByteArray();
    }
    // The message a module opening the database fails with; empty if it opens.
    QString refusal() const
    {
        try {
            TBRASKDataModule module(dir());
        } catch (const DatabaseError &error) {
            return error.message();
        }
        return QString();
    }
    TBRASKDataModule &module()
    {
        if (!module_)
            module_ = std::make_unique<TBRASKDataModule>(dir());
        return *module_;
    }
    // The writer, as the treatment engine or the command line has one.
    RecordStore &records()
    {
        if (!records_)
            records_ = std::make_unique<RecordStore>(dir());
        return *records_;
    }
    CliRun run(const QStringList &args) { return RunCli(QStringList{"--database", dir()} + args); }

    // Runs `sql` on a connection of its own and returns the first value.
    QVariant query(const QString &sql) const { return QueryOnce(dir(), sql); }
    qint64 scalar(const QString &sql) const
    {
        const QVariant value = query(sql);
        return value.isValid() ? value.toLongLong() : -1;
    }
    void execute(const QString &sql) const { query(sql); }

    TBRASKDataModule::Battery addBattery(int id, int cells = 6, int type = 1, int form = 0)
    {
        TBRASKDataModule::Battery battery;
        battery.ID = id;
        battery.Capacity = 1000;
        battery.Cells = cells;
        battery.Type = type;
        battery.Form = form;
        battery.Brand = QStringLiteral("Akku %1").arg(id);
        records().InsertBattery(battery);
        // As the engine's notice makes the windows' lists follow.
        if (module_)
            module_->Follow({RecordChange::BatteryAdded, id, 0});
        return battery;
    }
    int addService(int batteryID, int program, int steps, int samplesPerStep)
    {
        TBRASKDataModule::Service service;
        service.BatteryID = batteryID;
        service.Program = program;
        records().InsertService(service);
        for (int step = 1; step <= steps; ++step) {
            StepRecord record{service.ID, step, step % 2, 100 * step};
            records().InsertStep(record);
            for (int i = 0; i < samplesPerStep; ++i)
                records().InsertSample({service.ID, step, i, 1200 + i, 100, 0});
        }
        if (module_)
            module_->Follow({RecordChange::ServiceAdded, batteryID, service.ID});
        return service.ID;
    }

    // A finished treatment of the battery on a given day: its steps as
    // (function, state, capacity), their results stored as a run leaves them.
    int addTreatment(int batteryID, int program, const QString &isoDate,
                     const std::vector<std::tuple<int, int, int>> &steps)
    {
        TBRASKDataModule::Service service;
        service.BatteryID = batteryID;
        service.Program = program;
        records().InsertService(service);
        int number = 0;
        for (const auto &[function, state, capacity] : steps) {
            StepRecord record{service.ID, ++number, function, 100};
            records().InsertStep(record);
            record.Duration = 3600;
            record.Capacity = capacity;
            record.State = state;
            records().StoreStepResult(record);
        }
        execute(QStringLiteral("UPDATE services SET F_Date = '%1' WHERE F_ID = %2").arg(isoDate).arg(service.ID));
        return service.ID;
    }

    QTemporaryDir temp_;
    mutable std::unique_ptr<ServerDatabase> server_;
    std::unique_ptr<TBRASKDataModule> module_;
    std::unique_ptr<RecordStore> records_;
};
