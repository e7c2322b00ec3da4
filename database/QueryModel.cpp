#include "database/QueryModel.h"

#include "database/SqlStore.h"
#include "database/StoreSchema.h"
#include "database/Texts.h"

#include <QSqlQuery>

QueryModel::QueryModel(SqlStore &store, Definition definition, QObject *parent)
    : QAbstractTableModel(parent), store_(store), definition_(std::move(definition))
{
}

void QueryModel::setSql(const QStringList &lines, const QVariantList &bindings)
{
    sqlLines_ = lines;
    bindings_ = bindings;
}

QString QueryModel::sql() const
{
    return sqlLines_.join(QString());
}

void QueryModel::open()
{
    QSqlQuery query = store_.exec(sql(), bindings_);
    QStringList columns;
    const QSqlRecord header = query.record();
    for (int i = 0; i < header.count(); ++i)
        columns << StoreSchema::CanonicalColumn(header.fieldName(i));
    storedColumnCount_ = static_cast<int>(columns.size());
    columns << definition_.calculatedColumns;

    QVector<QVariantList> rows;
    while (query.next()) {
        const QSqlRecord record = query.record();
        QVariantList row;
        row.reserve(columns.size());
        for (int i = 0; i < record.count(); ++i)
            row << record.value(i);
        if (definition_.calculate)
            row << definition_.calculate(record);
        rows.append(std::move(row));
    }
    resetRows(std::move(rows), std::move(columns), true);
}

void QueryModel::close()
{
    resetRows({}, columns_, false);
}

void QueryModel::resetRows(QVector<QVariantList> rows, QStringList columns, bool open)
{
    beginResetModel();
    rows_ = std::move(rows);
    columns_ = std::move(columns);
    open_ = open;
    current_ = rows_.isEmpty() ? -1 : 0;
    endResetModel();
    notifyCurrent();
}

bool QueryModel::isOpen() const
{
    return open_;
}

bool QueryModel::isEmpty() const
{
    return rows_.isEmpty();
}

int QueryModel::currentRow() const
{
    return current_;
}

void QueryModel::setCurrentRow(int row)
{
    if (row < 0 || row >= rows_.size() || row == current_)
        return;
    current_ = row;
    notifyCurrent();
}

bool QueryModel::first()
{
    if (isEmpty())
        return false;
    setCurrentRow(0);
    return true;
}

bool QueryModel::next()
{
    const int row = currentRow();
    if (row < 0 || row + 1 >= rowCount())
        return false;
    setCurrentRow(row + 1);
    return true;
}

bool QueryModel::last()
{
    if (isEmpty())
        return false;
    setCurrentRow(rowCount() - 1);
    return true;
}

void QueryModel::notifyCurrent()
{
    if (disableCount_ > 0) {
        pendingCurrentNotice_ = true;
        return;
    }
    emit currentRowChanged(currentRow());
    emit afterScroll();
}

void QueryModel::disableControls()
{
    ++disableCount_;
}

void QueryModel::enableControls(bool notify)
{
    if (disableCount_ > 0 && --disableCount_ == 0 && pendingCurrentNotice_) {
        pendingCurrentNotice_ = false;
        if (notify)
            notifyCurrent();
    }
}

bool QueryModel::controlsDisabled() const
{
    return disableCount_ > 0;
}

int QueryModel::columnIndex(const QString &column) const
{
    return static_cast<int>(columns_.indexOf(column));
}

QString QueryModel::columnName(int column) const
{
    return columns_.value(column);
}

QVariant QueryModel::value(int row, const QString &column) const
{
    const int index = columnIndex(column);
    if (row < 0 || row >= rows_.size() || index < 0)
        return QVariant();
    return rows_[row].value(index);
}

QVariant QueryModel::currentValue(const QString &column) const
{
    const int index = columnIndex(column);
    if (current_ < 0 || current_ >= rows_.size() || index < 0)
        return QVariant();
    return rows_[current_].value(index);
}

QString QueryModel::displayText(int row, const QString &column) const
{
    const int index = columnIndex(column);
    if (index < 0)
        return QString();
    return data(this->index(row, index), Qt::DisplayRole).toString();
}

int QueryModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    return int(rows_.size());
}

int QueryModel::columnCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    return int(columns_.size());
}

QVariant QueryModel::data(const QModelIndex &index, int role) const
{
    QString column;
    QVariant raw;
    bool stored = false;
    {
            if (!index.isValid() || index.row() >= rows_.size() || index.column() >= columns_.size())
            return QVariant();
        column = columns_[index.column()];
        raw = rows_[index.row()].value(index.column());
        stored = index.column() < storedColumnCount_;
    }
    switch (role) {
    case Qt::DisplayRole: {
        if (stored && definition_.render)
            return definition_.render(column, raw);
        if (raw.typeId() == QMetaType::Double)
            return FloatText(raw.toDouble());
        return raw;
    }
    case Qt::EditRole:
        return raw;
    default:
        return QVariant();
    }
}

QVariant QueryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    // A first click on a title orders ascending, whatever the style's habit.
    if (role == Qt::InitialSortOrderRole && orientation == Qt::Horizontal)
        return int(Qt::AscendingOrder);
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Vertical)
        return section + 1;
    const QString name = columnName(section);
    return definition_.titles.value(name, name);
}

void QueryModel::SetCell(int row, const QString &column, const QVariant &value)
{
    const int index = columnIndex(column);
    if (row < 0 || row >= rows_.size() || index < 0)
        return;
    rows_[row][index] = value;
    emit dataChanged(this->index(row, index), this->index(row, index), {Qt::DisplayRole, Qt::EditRole});
}
