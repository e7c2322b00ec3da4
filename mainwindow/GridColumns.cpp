#include "mainwindow/GridColumns.h"

#include "database/QueryModel.h"

#include <QHash>
#include <QHeaderView>
#include <QStyledItemDelegate>
#include <QTableView>

namespace GridColumns {
namespace {

// Aligns the cells of a view by the name of their column.
class AlignmentDelegate : public QStyledItemDelegate {
public:
    AlignmentDelegate(QueryModel *model, QObject *parent)
        : QStyledItemDelegate(parent)
        , model_(model)
    {
    }
    void SetAlignments(QHash<QString, Qt::Alignment> alignments) { alignments_ = std::move(alignments); }

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        const auto alignment = alignments_.find(model_->columnName(index.column()));
        if (alignment != alignments_.end())
            option->displayAlignment = alignment.value();
    }

private:
    QueryModel *model_;
    QHash<QString, Qt::Alignment> alignments_;
};

}  // namespace

void Apply(QTableView *view, QueryModel *model, const QVector<Column> &columns)
{
    QHeaderView *header = view->horizontalHeader();
    auto *delegate = dynamic_cast<AlignmentDelegate *>(view->itemDelegate());
    if (!delegate) {
        delegate = new AlignmentDelegate(model, view);
        view->setItemDelegate(delegate);
    }
    QHash<QString, Qt::Alignment> alignments;
    QVector<int> shown;
    for (const Column &column : columns) {
        const int logical = model->columnIndex(QLatin1String(column.field));
        if (logical < 0)
            continue;
        alignments.insert(QLatin1String(column.field), column.alignment);
        shown.append(logical);
        header->moveSection(header->visualIndex(logical), static_cast<int>(shown.size()) - 1);
        view->setColumnHidden(logical, false);
        view->setColumnWidth(logical, column.width);
    }
    for (int logical = 0; logical < model->columnCount(); ++logical) {
        if (!shown.contains(logical))
            view->setColumnHidden(logical, true);
    }
    delegate->SetAlignments(alignments);
    header->setStretchLastSection(true);
}

QString DisplayText(const QueryModel &model, int row, const QString &column)
{
    const int logical = model.columnIndex(column);
    if (row < 0 || row >= model.rowCount() || logical < 0)
        return QString();
    return model.data(model.index(row, logical), Qt::DisplayRole).toString();
}

}  // namespace GridColumns
