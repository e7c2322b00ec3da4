#include "SamplesCsv.h"

#include "Richie.h"

#include "database/Datamodule.h"
#include "database/Texts.h"

#include <QSaveFile>

#include <cmath>

namespace SamplesCsv {

namespace {

const QLatin1String lineEnd("\r\n");

// Thousandths as a decimal with a dot and without trailing zeros: 1365 -> "1.365", -200 -> "-0.2".
QString milliText(int value)
{
    const qint64 magnitude = std::llabs(static_cast<qint64>(value));
    QString text = QString::number(magnitude / 1000);
    QString fraction = QStringLiteral("%1").arg(magnitude % 1000, 3, 10, QLatin1Char('0'));
    while (fraction.endsWith(QLatin1Char('0')))
        fraction.chop(1);
    if (!fraction.isEmpty())
        text += QLatin1Char('.') + fraction;
    return value < 0 ? QLatin1Char('-') + text : text;
}

} // namespace

QString Header()
{
    return QStringLiteral("Zeit [s],Schritt,Funktion,Spannung [V],Strom [A],Kapazit\u00e4t [mAh]");
}

QString Field(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\r'))
        && !text.contains(QLatin1Char('\n')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString Build(TBRASKDataModule &data, int serviceID)
{
    QString csv = Header() + lineEnd;
    // Read through the data module's own connection, beside any writer.
    const QVector<Sample> samples = data.Reader().Samples(serviceID);
    int currentStep = -1, lastTime = 0, lastCurrent = 0;
    int function = -1;
    double milliampSeconds = 0;
    for (const Sample &sample : samples) {
        if (sample.Step != currentStep) {
            currentStep = sample.Step;
            milliampSeconds = 0;
            StepRecord step;
            step.ServiceID = serviceID;
            step.Step = sample.Step;
            function = data.GetSubService(step) ? step.Function : -1;
        } else {
            milliampSeconds += 0.5 * (std::abs(lastCurrent) + std::abs(sample.Current)) * (sample.Time - lastTime);
        }
        lastTime = sample.Time;
        lastCurrent = sample.Current;
        const QStringList fields = {QString::number(sample.Time),
                                    QString::number(sample.Step),
                                    Field(function >= 0 ? FunctionName(function) : QString()),
                                    milliText(sample.Voltage),
                                    milliText(sample.Current),
                                    QString::number(std::llround(milliampSeconds / 3600.0))};
        csv += fields.join(QLatin1Char(',')) + lineEnd;
    }
    return csv;
}

void Write(TBRASKDataModule &data, int serviceID, const QString &fileName)
{
    const QByteArray content = Build(data, serviceID).toUtf8();
    // Written aside and renamed: a failed export never leaves half a file.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit())
        throw ExportError(QStringLiteral("Die Datei %1 kann nicht geschrieben werden: %2")
                              .arg(fileName, file.errorString()));
}

QString FileFilter()
{
    return QStringLiteral("CSV-Dateien (*.csv)");
}

} // namespace SamplesCsv
