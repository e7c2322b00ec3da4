#pragma once
// Which columns of a list query a grid shows, in which order, how wide and
// how aligned. The query models carry every stored and calculated column; the
// grid hides the others.

#include <QString>
#include <QVector>
#include <Qt>

class QTableView;
class QueryModel;

namespace GridColumns {

struct Column {
    const char *field;
    int width;
    Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
};

// Shows exactly the listed columns of the model, in list order, with their
// widths and alignments; the last one fills the rest of the grid. Safe to call
// again after the model's columns changed (a query opened or closed).
void Apply(QTableView *view, QueryModel *model, const QVector<Column> &columns);

// The display text of one cell by column name; empty when there is no such
// row or column.
QString DisplayText(const QueryModel &model, int row, const QString &column);

}  // namespace GridColumns
