#pragma once
// The step list of one treatment for the live control window: a read-only
// table of its rows in table "sub" with the display texts of function,
// duration and state. It reads through the data module's step lookup, so the
// window depends on no SQL text.

#include "database/Records.h"

#include <QAbstractTableModel>
#include <QVector>

#include <functional>

class TBRASKDataModule;

class StepListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // Fills a step record whose ServiceID and Step are set; false when there is no such row.
    using StepReader = std::function<bool(StepRecord& step)>;

    // Columns in the order the grid shows them.
    enum Column { FunctionString = 0, Parameter, Capacity, DurationString, StateString, ColumnCount };

    explicit StepListModel(StepReader reader, QObject* parent = nullptr);
    // Reads through TBRASKDataModule::GetSubService.
    static StepReader ReaderOf(TBRASKDataModule& database);

    // Shows the steps of this treatment (no rows for 0, and none until the
    // next Refresh when the database cannot be read now).
    void Open(int serviceID);
    void Close();
    // Re-reads the rows of the open treatment; keeps them when the database
    // cannot be read now.
    void Refresh();
    bool IsOpen() const { return open; }
    int ServiceID() const { return serviceID; }
    const StepRecord& Step(int row) const { return steps.at(row); }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Display text of a step duration: "h:m:s", or "0" for no time.
    static QString DurationDisplay(int seconds);

private:
    QVector<StepRecord> ReadSteps() const;

    StepReader reader;
    QVector<StepRecord> steps;
    int serviceID = 0;
    bool open = false;
};
