#include "treatment/Resume.h"

#include "database/OwnerProcess.h"

#include <QStringList>

#include <algorithm>
#include <optional>

namespace Resume {

QString Question(const RunningTreatment &row, int batteryID)
{
    return QStringLiteral("Die Behandlung von Akku %1 an %2 wurde unterbrochen. Fortsetzen?")
        .arg(batteryID)
        .arg(row.Terminal);
}

QString ContinueText()
{
    return QStringLiteral("Fortsetzen");
}

QString StopText()
{
    return QStringLiteral("Ladeger\u00e4t stoppen und abschlie\u00dfen");
}

QString LaterText()
{
    return QStringLiteral("Beim n\u00e4chsten Start fragen");
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
            point.SampleStepTime = point.LastStepTime = std::max(0, last.Time - point.TimeOffset);
    }
    // The last answered poll is at least as late as the last stored sample.
    if (row.Step == point.CurrentStep) {
        point.LastStepTime = std::max(point.LastStepTime, row.StepTime);
        point.LastCapacity = row.Capacity;
        // A step runs at one current, so the capacity grows with its time;
        // what it was at the sample follows from the last counted pair.
        point.SampleCapacity = row.StepTime > 0 ? static_cast<int>(qint64(row.Capacity) *
                                                                   std::min(point.SampleStepTime, row.StepTime) /
                                                                   row.StepTime)
                                                : 0;
    }
    return point;
}

Verdict Judge(const Service::RestorePoint &point, const BatteryRecord &battery,
              const Ohmrida::StatusValues &values, const Ohmrida::ProgramSettings &settings)
{
    const int function = FlagsToFunction(values.modeFlags);
    if (values.errorCode != 0 || function == Warten)
        return Verdict::NotRunning;
    if (settings.batteryType != static_cast<int8_t>(battery.Type & 0xFF)
        || settings.cells != static_cast<uint8_t>(battery.Cells & 0xFF)
        || settings.capacity != static_cast<uint16_t>(battery.Capacity & 0xFFFF))
        return Verdict::NotRunning;
    const StepRecord &step = point.Steps.at(static_cast<size_t>(point.CurrentStep));
    if (point.Record.Program != 0) {
        if (settings.program != point.Record.Program || settings.chargeCurrent != point.ChargeCurrent
            || settings.dischargeCurrent != point.DischargeCurrent)
            return Verdict::NotRunning;
        // A standard program may have gone on to a later step meanwhile;
        // only the step that ran can be compared.
        if (function != step.Function)
            return Verdict::Runs;
    } else if (settings.program != (step.Function == Entladen ? 2 : 1) || settings.chargeCurrent != step.Parameter
               || settings.dischargeCurrent != step.Parameter || function != step.Function) {
        return Verdict::NotRunning;
    }
    if (values.time < point.LastStepTime || values.capacity < point.LastCapacity)
        return Verdict::Restarted;
    return Verdict::Runs;
}

Verdict AskCharger(Ohmrida::Terminal &terminal, const Service::RestorePoint &point,
                   const BatteryRecord &battery, Ohmrida::Reply &fault)
{
    std::optional<Verdict> previous;
    for (int read = 0; read < Service::MaxStatusReads; ++read) {
        Ohmrida::StatusValues values;
        Ohmrida::ProgramSettings settings;
        Ohmrida::Reply reply = terminal.ReadStatus(values, settings);
        if (reply.kind == Ohmrida::Reply::Ok) {
            // Sound in itself (voltage, current, counters for what it says it
            // runs); whether that is the treatment is the verdict's question.
            reply.problem = Ohmrida::Plausible::CheckStatus(values, settings, settings, terminal.DeviceType());
            if (reply.problem.empty()) {
                const Verdict verdict = Judge(point, battery, values, settings);
                if (previous && *previous == verdict)
                    return verdict;
                previous = verdict;
                continue;
            }
            reply.kind = Ohmrida::Reply::Unintelligible;
        }
        fault = reply;
        if (reply.kind == Ohmrida::Reply::NoAnswer)
            break;
    }
    if (fault.kind == Ohmrida::Reply::Ok)
        fault = Ohmrida::Reply{Ohmrida::Reply::Unintelligible, static_cast<uint8_t>(Ohmrida::CmdStatusA | terminal.Address()),
                               {}, "keine zwei gleichen Antworten"};
    return Verdict::NoAnswer;
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
                // What the database knows of the step ends at its last
                // stored sample; the charger may have run on after it.
                const bool current = static_cast<int>(i) == point.CurrentStep;
                step.Duration = current ? point.SampleStepTime : 0;
                step.Capacity = current ? point.SampleCapacity : 0;
                step.State = Abgebrochen;
                database.StoreStepResult(step);
            }
        }
        database.UnregisterRunning(row.ServiceID);
    });
}

} // namespace Resume
