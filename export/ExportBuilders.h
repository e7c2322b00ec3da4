#pragma once
// The three texts that leave the program through the Richie buffer: the table
// of a list, the label of a battery and the measurement protocol of a
// treatment. Each builder empties the buffer first.

#include "export/Richie.h"

#include <QStringList>
#include <QVector>

class QAbstractItemModel;
class QueryModel;
class TBRASKDataModule;

namespace ExportBuilders {

// The columns of the three lists in the order the grids show them.
QStringList BatteryListColumns();   // F_ID, F_Capacity, F_TypeString, F_Brand
QStringList ServiceListColumns();   // F_Date, F_Time, F_ProgramString
QStringList StepListColumns();      // F_FunctionString, F_Parameter, F_Capacity, F_DurationString, F_StateString

// Model column numbers of the named columns; throws ExportError for a name the
// query does not have.
QVector<int> ColumnIndexes(const QueryModel &query, const QStringList &columns);

// The display text of one cell: floating-point values in the user's locale
// (shortest form), everything else as the model displays it.
QString CellText(const QAbstractItemModel &model, int row, int column);

// One line per row, no title line. The texts of the given columns (model
// column numbers, in display order) are joined by tabs; a tab is put in front
// of a text only when the line built so far is not empty.
void BuildTable(const QAbstractItemModel &model, const QVector<int> &columns, Richie &buffer);

// "Akku <ID>", the brand, and "<type>   <capacity>mAh   <voltage>V".
void BuildLabel(int batteryID, const QString &brand, int type, int capacity, int cells, Richie &buffer);
// The label of the battery selected in the battery list.
void BuildSelectedLabel(TBRASKDataModule &data, Richie &buffer);

// The header line and one line per sample whose step row exists: time in s,
// voltage in V, current x 0.001 and the step function, separated by tabs.
// Empty when the treatment has no samples. For the clipboard and the
// printer; files stream (StreamedExport).
void BuildProtocol(TBRASKDataModule &data, int serviceID, Richie &buffer);

// One label over each of the four columns, with its unit.
QString ProtocolHeader();   // "[s]\t[V]\t[A]\t[fx]"

} // namespace ExportBuilders
