#include "Resume.h"

#include "database/OwnerProcess.h"

#include <QStringList>

#include <algorithm>

namespace Resume {

QString Question(const RunningTreatment &row, int batteryID)
{
    return QStringLiteral("Die Behandlung von Akku %1 an %2 wurde unterbrochen. Fortsetzen?")
        .arg(batteryID)
        .arg(row.Terminal);
}

std::vector<RunningTreatment> Interrupted(RecordReader &database)
{
    std::vector<RunningTreatment> gone;
    // A terminal belongs to its PC: "Lumo an COM1" of another PC in a shared
    // database is another charger, and only that PC can resume its treatment.
    for (const RunningTreatment &row : database.RunningTreatments())
        if (row.Host == OwnerProcess::HostName() && !RecordReader::OwnerAlive(row))
            gone.push_back(row);
    return gone;
}

QString LimitsText(const Service &service)
{
    QStringList limits;
    for (int i = 0; i < service.StepCount(); ++i)
        limits << QString::number(service.Step(i).TimeLimit);
    return limits.join(QLatin1Char(','));
}

Service::RestorePoint Load(RecordReader &database, const RunningTreatment &row)
{
    if (row.Host != OwnerProcess::HostName())
        throw ServiceStartError(QStringLiteral("Die Behandlung %1 wurde an %2 auf %3 aufgezeichnet und kann nur "
                                               "dort fortgesetzt werden.")
                                    .arg(row.ServiceID)
                                    .arg(row.Terminal, row.Host)
                                    .toStdString());
    Service::RestorePoint point;
    point.Record.ID = row.ServiceID;
    if (!database.LoadService(point.Record))
        throw ServiceStartError(
            QStringLiteral("Die Behandlung %1 ist nicht mehr in der Datenbank.").arg(row.ServiceID).toStdString());
    const QStringList limits = row.Limits.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (int number = 1; number <= Service::MaxUserSteps; ++number) {
        StepRecord step;
        step.ServiceID = row.ServiceID;
        step.Step = number;
        if (!database.GetSubService(step))
            break;
        step.TimeLimit = number <= limits.size() ? limits[number - 1].toInt() : 0;
        point.Steps.push_back(step);
    }
    if (point.Steps.empty())
        throw ServiceStartError(
            QStringLiteral("Die Behandlung %1 hat keine Schritte.").arg(row.ServiceID).toStdString());
    // The first step not finished is the one that ran; the finished ones make the time offset.
    point.CurrentStep = static_cast<int>(point.Steps.size()) - 1;
    for (size_t i = 0; i < point.Steps.size(); ++i) {
        if (point.Steps[i].State == Folgt || point.Steps[i].State == Laeuft) {
            point.CurrentStep = static_cast<int>(i);
            break;
        }
        point.TimeOffset += point.Steps[i].Duration;
    }
    point.ChargeCurrent = row.ChargeCurrent;
    point.DischargeCurrent = row.DischargeCurrent;
    Sample last;
    if (database.LastSample(row.ServiceID, last)) {
        point.LastRecordedVoltage = last.Voltage;
        point.LastRecordedCurrent = last.Current;
        if (last.Step == point.CurrentStep + 1)
            point.LastStepTime = std::max(0, last.Time - point.TimeOffset);
    }
    // The last answered poll is at least as late as the last stored sample.
    if (row.Step == point.CurrentStep) {
        point.LastStepTime = std::max(point.LastStepTime, row.StepTime);
        point.LastCapacity = row.Capacity;
    }
    return point;
}

bool ChargerRunsIt(const Service::RestorePoint &point, const BatteryRecord &battery,
                   const Ohmrida::StatusValues &values, const Ohmrida::ProgramSettings &settings)
{
    if (values.errorCode != 0 || FlagsToFunction(values.modeFlags) == Warten)
        return false;
    if (settings.batteryType != static_cast<int8_t>(battery.Type & 0xFF)
        || settings.cells != static_cast<uint8_t>(battery.Cells & 0xFF))
        return false;
    if (point.Record.Program != 0)
        return settings.program == point.Record.Program && settings.chargeCurrent == point.ChargeCurrent
               && settings.dischargeCurrent == point.DischargeCurrent;
    const StepRecord &step = point.Steps.at(static_cast<size_t>(point.CurrentStep));
    return settings.program == (step.Function == Entladen ? 2 : 1) && settings.chargeCurrent == step.Parameter
           && FlagsToFunction(values.modeFlags) == step.Function;
}

void Close(RecordStore &database, const RunningTreatment &row)
{
    database.InTransaction([&] {
        ServiceRecord record;
        record.ID = row.ServiceID;
        if (database.LoadService(record)) {
            const Service::RestorePoint point = Load(database, row);
            for (size_t i = static_cast<size_t>(point.CurrentStep); i < point.Steps.size(); ++i) {
                StepRecord step = point.Steps[i];
                if (step.State != Folgt && step.State != Laeuft)
                    continue;
                const bool current = static_cast<int>(i) == point.CurrentStep;
                step.Duration = current ? point.LastStepTime : 0;
                step.Capacity = current ? point.LastCapacity : 0;
                step.State = Abgebrochen;
                database.StoreStepResult(step);
            }
        }
        database.UnregisterRunning(row.ServiceID);
    });
}

} // namespace Resume
