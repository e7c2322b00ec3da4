#include "export/SamplesCsv.h"

#include "export/Richie.h"
#include "export/StreamedExport.h"

#include "database/Datamodule.h"

#include <QBuffer>

namespace SamplesCsv {

QStringList Header()
{
    return {QStringLiteral("Zeit [s]"),     QStringLiteral("Schritt"),  QStringLiteral("Funktion"),
            QStringLiteral("Spannung [V]"), QStringLiteral("Strom [A]"), QStringLiteral("Kapazit\u00e4t [mAh]")};
}

void Write(TBRASKDataModule &data, int serviceID, QIODevice &out, CsvWriter::Form form)
{
    // Read through the data module's own connection, beside any writer.
    StreamedExport::WriteSamplesCsv(data.Reader().Store(), serviceID, out, form);
}

QByteArray Build(TBRASKDataModule &data, int serviceID, CsvWriter::Form form)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    Write(data, serviceID, buffer, form);
    return bytes;
}

void Write(TBRASKDataModule &data, int serviceID, const QString &fileName, CsvWriter::Form form)
{
    // Written aside and renamed: a failed export never leaves half a file.
    StreamedExport::SaveSamplesCsv(data.Reader().Store(), serviceID, fileName, form);
}

QString FileFilter()
{
    return QStringLiteral("CSV-Dateien (*.csv)");
}

} // namespace SamplesCsv
