#include "export/CsvWriter.h"

#include <QLocale>

#include <cstdlib>

QChar CsvWriter::Separator() const
{
    return form_ == Form::German ? QLatin1Char(';') : QLatin1Char(',');
}

QString CsvWriter::Field(const QString &text) const
{
    if (!text.contains(Separator()) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\r'))
        && !text.contains(QLatin1Char('\n')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString CsvWriter::Milli(int thousandths) const
{
    const qint64 magnitude = std::llabs(static_cast<qint64>(thousandths));
    QString text = QString::number(magnitude / 1000);
    QString fraction = QStringLiteral("%1").arg(magnitude % 1000, 3, 10, QLatin1Char('0'));
    while (fraction.endsWith(QLatin1Char('0')))
        fraction.chop(1);
    if (!fraction.isEmpty())
        text += (form_ == Form::German ? QLatin1Char(',') : QLatin1Char('.')) + fraction;
    return thousandths < 0 ? QLatin1Char('-') + text : text;
}

QByteArray CsvWriter::Start() const
{
    return form_ == Form::German ? QByteArray("\xEF\xBB\xBF") : QByteArray();
}

QByteArray CsvWriter::Row(const QStringList &fields) const
{
    QStringList quoted;
    quoted.reserve(fields.size());
    for (const QString &field : fields)
        quoted.append(Field(field));
    return (quoted.join(Separator()) + QLatin1String("\r\n")).toUtf8();
}

namespace CsvForms {

QString StandardFilter()
{
    return QStringLiteral("CSV-Dateien, Standard: Komma, Dezimalpunkt (*.csv)");
}

QString GermanFilter()
{
    return QStringLiteral("CSV-Dateien f\u00fcr deutsche Tabellenkalkulation: Semikolon, Dezimalkomma (*.csv)");
}

QStringList Filters()
{
    return {GermanFilter(), StandardFilter()};
}

CsvWriter::Form FormForFilter(const QString &filter)
{
    return filter == GermanFilter() ? CsvWriter::Form::German : CsvWriter::Form::Standard;
}

QString FilterForForm(CsvWriter::Form form)
{
    return form == CsvWriter::Form::German ? GermanFilter() : StandardFilter();
}

CsvWriter::Form FormForLocale()
{
    return QLocale().decimalPoint() == QLatin1String(",") ? CsvWriter::Form::German : CsvWriter::Form::Standard;
}

} // namespace CsvForms
