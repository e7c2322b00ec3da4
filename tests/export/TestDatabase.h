#pragma once
// A data module on a fresh database in a temporary directory.

#include "TestRows.h"

#include <QTemporaryDir>

#include <memory>

struct TestDatabase {
    // Adds a battery and selects it.
    int AddBattery(int id, int capacity, int type = 1, int cells = 4, const QString &brand = QString())
    {
        InsertBattery(*data, id, capacity, brand, type, cells);
        data->ReopenBatteries(id);
        return id;
    }

    QTemporaryDir directory;
    std::unique_ptr<TBRASKDataModule> data = std::make_unique<TBRASKDataModule>(directory.path());
};
