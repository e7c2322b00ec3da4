#include "export/ExportBuilders.h"

#include "export/StreamedExport.h"

#include "database/Datamodule.h"
#include "database/QueryModel.h"
#include "database/Texts.h"

#include <QAbstractItemModel>
#include <QBuffer>

namespace ExportBuilders {

QStringList BatteryListColumns()
{
    return {QStringLiteral("F_ID"), QStringLiteral("F_Capacity"), QStringLiteral("F_TypeString"),
            QStringLiteral("F_Brand"), QStringLiteral("F_Health")};
}

QStringList ServiceListColumns()
{
    return {QStringLiteral("F_Date"), QStringLiteral("F_Time"), QStringLiteral("F_ProgramString")};
}

QStringList StepListColumns()
{
    return {QStringLiteral("F_FunctionString"), QStringLiteral("F_Parameter"), QStringLiteral("F_Capacity"),
            QStringLiteral("F_DurationString"), QStringLiteral("F_StateString")};
}

QVector<int> ColumnIndexes(const QueryModel &query, const QStringList &columns)
{
    QVector<int> indexes;
    for (const QString &name : columns) {
        const int index = query.columnIndex(name);
        if (index < 0)
            throw ExportError(QStringLiteral("Die Liste hat keine Spalte %1.").arg(name));
        indexes.append(index);
    }
    return indexes;
}

QString CellText(const QAbstractItemModel &model, int row, int column)
{
    const QVariant value = model.data(model.index(row, column), Qt::DisplayRole);
    switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
        return FloatText(value.toDouble());
    default:
        return value.toString();
    }
}

void BuildTable(const QAbstractItemModel &model, const QVector<int> &columns, Richie &buffer)
{
    buffer.Clear();
    const int rows = model.rowCount();
    for (int row = 0; row < rows; ++row) {
        QString line;
        for (const int column : columns) {
            if (!line.isEmpty())
                line += QLatin1Char('\t');
            line += TableCell(CellText(model, row, column));
        }
        buffer.Add(line);
    }
}

void BuildLabel(int batteryID, const QString &brand, int type, int capacity, int cells, Richie &buffer)
{
    buffer.Clear();
    buffer.Add(QStringLiteral("Akku %1").arg(batteryID));
    buffer.Add(brand);
    buffer.Add(TypeName(type) + QStringLiteral("   ") + QString::number(capacity) + QStringLiteral("mAh   ")
               + FloatText(NominalVoltage(cells, type)) + QStringLiteral("V"));
}

void BuildSelectedLabel(TBRASKDataModule &data, Richie &buffer)
{
    TBRASKDataModule::Battery battery;
    data.ReadSelectedBattery(battery);
    BuildLabel(battery.ID, battery.Brand, battery.Type, battery.Capacity, battery.Cells, buffer);
}

QString ProtocolHeader()
{
    return QStringLiteral("[s]\t[V]\t[A]\t[fx]");
}

void BuildProtocol(TBRASKDataModule &data, int serviceID, Richie &buffer)
{
    buffer.Clear();
    // Read through the data module's own connection, beside any writer, by
    // the one query the file export streams.
    QBuffer text;
    text.open(QIODevice::WriteOnly);
    StreamedExport::WriteProtocol(data.Reader().Store(), serviceID, Richie::Format::PlainText, buffer.FontFamily(),
                                  buffer.FontPointSize(), text);
    const QByteArray &bytes = text.data();
    qsizetype from = 0;
    for (qsizetype end = bytes.indexOf("\r\n"); end >= 0; from = end + 2, end = bytes.indexOf("\r\n", from))
        buffer.AddLine(QString::fromUtf8(bytes.constData() + from, end - from));
}

} // namespace ExportBuilders
