#include "livecontrol/StepListModel.h"

#include "database/Datamodule.h"
#include "database/Texts.h"

namespace {
// A treatment has at most ten steps; the bound guards against a reader that
// never reports the end.
constexpr int MaxStepsRead = 100;
}  // namespace

StepListModel::StepListModel(StepReader stepReader, QObject* parent)
    : QAbstractTableModel(parent), reader(std::move(stepReader))
{
}

StepListModel::StepReader StepListModel::ReaderOf(TBRASKDataModule& database)
{
    return [&database](StepRecord& step) { return database.GetSubService(step); };
}

QVector<StepRecord> StepListModel::ReadSteps() const
{
    QVector<StepRecord> rows;
    if (!reader || serviceID == 0)
        return rows;
    for (int number = 1; number <= MaxStepsRead; ++number) {
        StepRecord step;
        step.ServiceID = serviceID;
        step.Step = number;
        if (!reader(step))
            break;
        rows.push_back(step);
    }
    return rows;
}

void StepListModel::Open(int id)
{
    beginResetModel();
    serviceID = id;
    open = true;
    steps.clear();
    try {
        steps = ReadSteps();
    } catch (const DatabaseError &) {
        // The database is held by another program just now; the next refresh reads the steps.
    }
    endResetModel();
}

void StepListModel::Close()
{
    beginResetModel();
    open = false;
    steps.clear();
    endResetModel();
}

void StepListModel::Refresh()
{
    if (!open)
        return;
    // Read first, so that a failing read leaves the shown rows as they were
    // (the database held by another program just now: the next refresh reads).
    QVector<StepRecord> rows;
    try {
        rows = ReadSteps();
    } catch (const DatabaseError &) {
        return;
    }
    beginResetModel();
    steps = std::move(rows);
    endResetModel();
}

int StepListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(steps.size());
}

int StepListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString StepListModel::DurationDisplay(int seconds)
{
    return seconds != 0 ? DurationText(seconds) : QStringLiteral("0");
}

QVariant StepListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= steps.size())
        return {};
    const StepRecord& step = steps[index.row()];
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
        case FunctionString: return FunctionName(step.Function);
        case Parameter: return step.Parameter;
        case Capacity: return step.Capacity;
        case DurationString: return DurationDisplay(step.Duration);
        case StateString: return StateName(step.State);
        default: return {};
        }
    }
    if (role == Qt::TextAlignmentRole) {
        switch (index.column()) {
        case DurationString: return int(Qt::AlignRight | Qt::AlignVCenter);
        case StateString: return int(Qt::AlignCenter);
        default: return int(Qt::AlignLeft | Qt::AlignVCenter);
        }
    }
    return {};
}

QVariant StepListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignCenter);
    if (role != Qt::DisplayRole)
        return {};
    switch (section) {
    case FunctionString: return QStringLiteral("Funktion");
    case Parameter: return QStringLiteral("mA");
    case Capacity: return QStringLiteral("mAh");
    case DurationString: return QStringLiteral("Dauer");
    case StateString: return QStringLiteral("Status");
    default: return {};
    }
}

Qt::ItemFlags StepListModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? (Qt::ItemIsEnabled | Qt::ItemIsSelectable) : Qt::NoItemFlags;
}
