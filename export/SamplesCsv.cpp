#include "SamplesCsv.h"

#include "Richie.h"

#include "database/Datamodule.h"
#include "database/Texts.h"

#include <QBuffer>
#include <QSaveFile>

#include <cmath>

namespace SamplesCsv {

namespace {

void Put(QIODevice &out, const QByteArray &bytes)
{
    if (out.write(bytes) != bytes.size())
        throw ExportError(QStringLiteral("Die Messwerte k\u00f6nnen nicht geschrieben werden: %1").arg(out.errorString()));
}

} // namespace

QStringList Header()
{
    return {QStringLiteral("Zeit [s]"),     QStringLiteral("Schritt"),  QStringLiteral("Funktion"),
            QStringLiteral("Spannung [V]"), QStringLiteral("Strom [A]"), QStringLiteral("Kapazit\u00e4t [mAh]")};
}

void Write(TBRASKDataModule &data, int serviceID, QIODevice &out, CsvWriter::Form form)
{
    const CsvWriter csv(form);
    Put(out, csv.Start() + csv.Row(Header()));
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
        Put(out, csv.Row({QString::number(sample.Time), QString::number(sample.Step),
                          function >= 0 ? FunctionName(function) : QString(), csv.Milli(sample.Voltage),
                          csv.Milli(sample.Current), QString::number(std::llround(milliampSeconds / 3600.0))}));
    }
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
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        throw ExportError(QStringLiteral("Die Datei %1 kann nicht geschrieben werden: %2")
                              .arg(fileName, file.errorString()));
    try {
        Write(data, serviceID, file, form);
    } catch (const ExportError &) {
        throw ExportError(QStringLiteral("Die Datei %1 kann nicht geschrieben werden: %2")
                              .arg(fileName, file.errorString()));
    }
    if (!file.commit())
        throw ExportError(QStringLiteral("Die Datei %1 kann nicht geschrieben werden: %2")
                              .arg(fileName, file.errorString()));
}

QString FileFilter()
{
    return QStringLiteral("CSV-Dateien (*.csv)");
}

} // namespace SamplesCsv
