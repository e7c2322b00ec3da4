#pragma once
#include "database/Datamodule.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>
#include <QVariant>

#include <gtest/gtest.h>
#include <memory>

// One temporary database directory per test, and a read-only look at the file
// through a connection of its own (not the module's).
class DatabaseTest : public ::testing::Test {
protected:
    QString dir() const { return temp_.path() + QStringLiteral("/database"); }
    QString file() const { return dir() + QStringLiteral("/braskon.db"); }

    TBRASKDataModule &module()
    {
        if (!module_)
            module_ = std::make_unique<TBRASKDataModule>(dir());
        return *module_;
    }

    // Runs `sql` on a connection of its own and returns the first value.
    QVariant query(const QString &sql) const
    {
        const QString name = QUuid::createUuid().toString();
        QVariant value;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(file());
            EXPECT_TRUE(db.open());
            QSqlQuery query(db);
            EXPECT_TRUE(query.exec(sql)) << sql.toStdString();
            if (query.next())
                value = query.value(0);
        }
        QSqlDatabase::removeDatabase(name);
        return value;
    }
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
        module().InsertBattery(battery);
        return battery;
    }

    int addService(int batteryID, int program, int steps, int samplesPerStep)
    {
        TBRASKDataModule::Service service;
        service.BatteryID = batteryID;
        service.Program = program;
        module().InsertService(service);
        for (int step = 1; step <= steps; ++step) {
            StepRecord record;
            record.ServiceID = service.ID;
            record.Step = step;
            record.Function = step % 2;
            record.Parameter = 100 * step;
            module().InsertStep(record);
            for (int i = 0; i < samplesPerStep; ++i)
                module().InsertSample({service.ID, step, i, 1200 + i, 100, 0});
        }
        return service.ID;
    }

    QTemporaryDir temp_;
    std::unique_ptr<TBRASKDataModule> module_;
};
