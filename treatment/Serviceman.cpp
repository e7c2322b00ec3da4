#include "treatment/Serviceman.h"

#include "treatment/Resume.h"

#include "charger/TerminalManager.h"
#include "database/OwnerProcess.h"

#include <algorithm>
#include <sstream>

namespace {

// Restores a flag on every path out of a scope.
class FlagGuard {
public:
    explicit FlagGuard(bool &flag) : flag_(flag) { flag_ = true; }
    ~FlagGuard() { flag_ = false; }
    FlagGuard(const FlagGuard &) = delete;
    FlagGuard &operator=(const FlagGuard &) = delete;

private:
    bool &flag_;
};

} // namespace

std::vector<UserStep> ParseUserSteps(const std::vector<UserGridRow> &rows)
{
    std::vector<UserStep> steps;
    for (size_t i = 0; i < rows.size(); ++i) {
        const QString function = rows[i].Function.trimmed();
        const QString current = rows[i].Current.trimmed();
        const QString limit = rows[i].Limit.trimmed();
        if (function.isEmpty() || current.isEmpty())
            continue;
        const QString row = QString::number(i + 1);
        UserStep step;
        if (function.compare(QLatin1String("E"), Qt::CaseInsensitive) == 0)
            step.Function = Entladen;
        else if (function.compare(QLatin1String("L"), Qt::CaseInsensitive) == 0)
            step.Function = Laden;
        else
            throw UserStepError(
                QStringLiteral("Zeile %1: Funktion \"%2\" ist weder E noch L.").arg(row, function).toStdString());
        step.Current = WholeNumber(current).value_or(0);
        if (step.Current <= 0 || step.Current > 0xFFFF)
            throw UserStepError(
                QStringLiteral("Zeile %1: Strom \"%2\" ist keine gültige Stromstärke in mA.").arg(row, current)
                    .toStdString());
        step.TimeLimit = limit.isEmpty() ? 0 : WholeNumber(limit).value_or(-1);
        if (step.TimeLimit < 0)
            throw UserStepError(
                QStringLiteral("Zeile %1: Zeitlimit \"%2\" ist keine gültige Zeit in s.").arg(row, limit)
                    .toStdString());
        steps.push_back(step);
    }
    return steps;
}

TServiceManager::TServiceManager(RecordStore &database, Ohmrida::TerminalManager &terminals,
                                 const std::string &logPath)
    : database_(database), terminals_(terminals), log_(logPath, std::ios::out | std::ios::trunc)
{
}

TServiceManager::~TServiceManager()
{
    // Waiting records get a last try; they are lost with the process otherwise.
    for (Closing &closing : closing_) {
        if (closing.service->TryWritePending(writeWait()) && closing.registered) {
            try {
                database_.UnregisterRunning(closing.service->ID());
            } catch (const std::exception &) {
                // Found as interrupted at the next start, and closed from there.
            }
        }
    }
    for (const auto &service : services_)
        writesFailing_ = !service->TryWritePending(writeWait());
    // The treatments are let go as they are: their chargers keep running.
    closing_.clear();
    services_.clear();
    log_.flush();
}

Service *TServiceManager::Add(std::unique_ptr<Service> service)
{
    lastAnswer_[service.get()] = std::chrono::steady_clock::now();
    services_.push_back(std::move(service));
    return services_.back().get();
}

void TServiceManager::Remove(Service *service)
{
    take(service);
}

std::unique_ptr<Service> TServiceManager::take(Service *service)
{
    auto found = std::find_if(services_.begin(), services_.end(),
                              [service](const std::unique_ptr<Service> &s) { return s.get() == service; });
    if (found == services_.end())
        return nullptr;
    lastAnswer_.erase(service);
    lent_.erase(service);
    locks_.erase(service);
    registered_.erase(service->ID());
    writeTried_.erase(service);
    stepsWritten_.erase(service);
    std::unique_ptr<Service> taken = std::move(*found);
    services_.erase(found);
    return taken;
}

bool TServiceManager::HasService(int serviceID) const
{
    return std::any_of(services_.begin(), services_.end(),
                       [serviceID](const std::unique_ptr<Service> &s) { return s->ID() == serviceID; });
}

bool TServiceManager::HasBattery(int batteryID) const
{
    return std::any_of(services_.begin(), services_.end(),
                       [batteryID](const std::unique_ptr<Service> &s) { return s->BatteryID() == batteryID; });
}

bool TServiceManager::HasTerminal(const std::string &terminalName) const
{
    return std::any_of(services_.begin(), services_.end(), [&terminalName](const std::unique_ptr<Service> &s) {
        return s->Terminal().Name() == terminalName;
    });
}

void TServiceManager::PortRound::Run()
{
    // The lines go to log.txt when the round is given back, so the ports'
    // threads never share the stream.
    std::ostringstream log;
    for (Poll &poll : Polls) {
        poll.Polled->SetLog(&log);
        poll.Polled->Poll(poll.Taken);
        poll.Polled->SetLog(nullptr);
    }
    Log = log.str();
}

std::vector<TServiceManager::PortRound> TServiceManager::TakeRounds(const std::set<int> &busyPorts)
{
    std::map<int, PortRound> byPort;
    for (const auto &owned : services_) {
        Service *service = owned.get();
        if (service->ServiceState() == Service::Ended || lent_.count(service))
            continue;
        const int port = service->Terminal().Port()->PortNumber();
        if (busyPorts.count(port))
            continue;
        PortRound &round = byPort[port];
        round.Port = port;
        PortRound::Poll poll;
        poll.Polled = service;
        round.Polls.push_back(poll);
        lent_.insert(service);
    }
    std::vector<PortRound> rounds;
    for (auto &entry : byPort)
        rounds.push_back(std::move(entry.second));
    return rounds;
}

TServiceManager::TickResult TServiceManager::FinishRounds(std::vector<PortRound> rounds)
{
    TickResult result;
    try {
        const auto now = std::chrono::steady_clock::now();
        std::map<const Service *, const Sample *> taken;
        std::set<const Service *> polled;
        for (const PortRound &round : rounds) {
            if (log_.is_open() && !round.Log.empty()) {
                // A line that could not be written (disk full) leaves the
                // stream failed; the next round tries again.
                if (!log_)
                    log_.clear();
                log_ << round.Log;
                log_.flush();
            }
            for (const PortRound::Poll &poll : round.Polls) {
                lent_.erase(poll.Polled);
                result.Polled.push_back(poll.Polled);
                taken[poll.Polled] = &poll.Taken;
                polled.insert(poll.Polled);
                if (poll.Polled->LastPollAnswered())
                    lastAnswer_[poll.Polled] = now;
            }
        }
        writePending(polled);
        for (const auto &owned : services_) {
            const Service &service = *owned;
            if (lent_.count(&service))
                continue;
            PollReport report = ReportOf(service);
            const auto sample = taken.find(&service);
            report.Polled = sample != taken.end();
            report.Sent = report.Polled && service.LastPollSent();
            report.Answered = report.Polled && service.LastPollAnswered();
            if (report.Polled) {
                const Ohmrida::Reply &fault = service.LastFault();
                report.FaultKind = fault.kind;
                report.Fault = FaultText(fault, service.Terminal());
                report.FaultLabel = FaultLabel(fault);
            }
            if (report.Polled && report.Answered) {
                report.Voltage = sample->second->Voltage;
                report.Current = sample->second->Current;
                report.Capacity = sample->second->Capacity;
                report.SampleTime = sample->second->Time;
            } else if (report.Polled) {
                report.SilentSeconds = static_cast<int>(
                    std::chrono::duration_cast<std::chrono::seconds>(now - lastAnswer_[&service]).count());
            }
            report.StepsWritten = stepsWritten_.count(&service) > 0;
            if (writeTried_.count(&service)) {
                report.Write = service.WriteState();
                report.WriteShown = report.Write.Failing || report.Write.JustRecovered();
            }
            if (report.Polled || report.StepsWritten || report.WriteShown)
                result.Reports.push_back(std::move(report));
        }
        result.StepRowsWritten = stepRowsWritten_;
    } catch (...) {
        // A failing tick must not take the timer down; the next tick tries again.
        result.Reports.clear();
    }
    return result;
}

TServiceManager::TickResult TServiceManager::Tick()
{
    if (ticking_)
        return TickResult();
    FlagGuard guard(ticking_);
    std::vector<PortRound> rounds = TakeRounds();
    for (PortRound &round : rounds)
        round.Run();
    return FinishRounds(std::move(rounds));
}

void TServiceManager::registryRows(const Service &service, bool polled)
{
    const int id = service.ID();
    if (!registered_.count(id))
        return;
    if (service.ServiceState() == Service::Ended)
        database_.UnregisterRunning(id);
    else if (polled && service.LastPollAnswered())
        database_.UpdateRunning(id, service.CurrentStep(), service.LastStepTime(), service.LastCapacity());
    else if (polled)
        database_.TouchRunning(id);
}

void TServiceManager::registryWritten(const Service &service)
{
    if (service.ServiceState() != Service::Ended || !registered_.erase(service.ID()))
        return;
    // The terminal is free again although the page stays open.
    locks_.erase(&service);
}

void TServiceManager::writePending(const std::set<const Service *> &polled)
{
    writeTried_.clear();
    stepsWritten_.clear();
    stepRowsWritten_ = false;
    const bool outage = writesFailing_ || journalToCompact_;
    std::vector<Service *> writing;
    bool registry = false;
    for (const Closing &closing : closing_) {
        writing.push_back(closing.service.get());
        registry = registry || closing.registered;
    }
    for (const auto &service : services_) {
        if (lent_.count(service.get()))
            continue;
        writing.push_back(service.get());
        registry = registry
                   || (registered_.count(service->ID())
                       && (polled.count(service.get()) || service->ServiceState() == Service::Ended));
    }
    const bool records = std::any_of(writing.begin(), writing.end(),
                                     [](const Service *service) { return service->HasPendingWrites(); });
    if (!records && !registry) {
        compactJournal(outage, false, false);
        return;
    }
    try {
        // One commit for the whole tick: the samples and step results of
        // every port, with the heartbeats that follow them.
        database_.InTransaction(
            [&] {
                for (Service *service : writing)
                    service->WritePendingInto();
                for (const Closing &closing : closing_)
                    if (closing.registered)
                        database_.UnregisterRunning(closing.service->ID());
                for (const auto &service : services_)
                    if (!lent_.count(service.get()))
                        registryRows(*service, polled.count(service.get()) > 0);
            },
            writeWait());
    } catch (const DatabaseBusyError &error) {
        // Locked by another program: no single treatment would fare better.
        for (Service *service : writing) {
            if (service->HasPendingWrites()) {
                service->PendingFailed(error.message());
                writeTried_.insert(service);
            }
        }
        writesFailing_ = true;
        return;
    } catch (const std::exception &) {
        // One treatment's records may be at fault; the others need not wait for it.
        const auto [wrote, failed] = writeEach(polled);
        compactJournal(outage, wrote, failed);
        return;
    }
    writesFailing_ = false;
    for (Service *service : writing) {
        if (service->HasPendingWrites()) {
            writeTried_.insert(service);
            if (service->Pending().StepResults() > 0) {
                stepsWritten_.insert(service);
                stepRowsWritten_ = true;
            }
        }
        service->PendingCommitted();
    }
    closing_.clear();
    for (const auto &service : services_)
        if (!lent_.count(service.get()))
            registryWritten(*service);
    compactJournal(outage, records, false);
}

void TServiceManager::compactJournal(bool outage, bool wrote, bool failed)
{
    // The backlog of an outage is in: the log that held it (and may have
    // filled the disk) is emptied into the file, so the recording goes on
    // with the space given back. A log grown long for another reason is
    // emptied too. A reader that holds it back only defers this.
    if (!failed && ((outage && wrote) || journalToCompact_ || database_.JournalSize() > MaxJournalBytes))
        journalToCompact_ = !database_.CompactJournal(retryWaitMs_);
}

std::pair<bool, bool> TServiceManager::writeEach(const std::set<const Service *> &polled)
{
    bool wrote = false, failed = false;
    const auto attempt = [&](Service &service) {
        if (!service.HasPendingWrites())
            return true;
        const bool steps = service.Pending().StepResults() > 0;
        const bool written = service.TryWritePending(writeWait());
        writesFailing_ = !written;
        wrote = wrote || written;
        failed = failed || !written;
        wrote = wrote || written;
        failed = failed || !written;
        writeTried_.insert(&service);
        if (written && steps) {
            stepsWritten_.insert(&service);
            stepRowsWritten_ = true;
        }
        return written;
    };
    for (auto it = closing_.begin(); it != closing_.end();) {
        bool done = attempt(*it->service);
        if (done && it->registered) {
            try {
                database_.InTransaction([&] { database_.UnregisterRunning(it->service->ID()); }, writeWait());
                it->registered = false;
            } catch (const std::exception &) {
                done = false;
            }
        }
        it = done ? closing_.erase(it) : std::next(it);
    }
    for (const auto &owned : services_) {
        Service &service = *owned;
        // A resume starts from the registry and the stored rows together, so
        // the registry must not run ahead of rows still waiting.
        if (lent_.count(&service) || !attempt(service))
            continue;
        try {
            database_.InTransaction([&] { registryRows(service, polled.count(&service) > 0); }, writeWait());
            registryWritten(service);
        } catch (const std::exception &) {
            // A missed heartbeat is made good by the next poll, a registration
            // of an ended treatment goes at its next turn; neither holds up
            // the samples.
            writesFailing_ = true;
        }
    }
    return {wrote, failed};
}

PollReport TServiceManager::ReportOf(const Service &service) const
{
    PollReport report;
    report.ServiceID = service.ID();
    report.StepTime = service.LastStepTime();
    report.Function = service.CurrentFunction();
    report.Waiting = service.Pending().Size();
    report.Write = service.WriteState();
    report.State = service.ServiceState();
    report.CurrentStep = service.CurrentStep();
    report.RejectedAnswers = service.RejectedAnswers();
    report.LateSamples = service.LateSamples();
    report.LateSteps = service.LateSteps();
    for (int i = 0; i < service.StepCount(); ++i)
        report.Steps.append(service.Step(i));
    return report;
}

TreatmentSetup TServiceManager::SetupOf(const Service &service) const
{
    const Ohmrida::Terminal &terminal = service.Terminal();
    const RecordStore::Battery &battery = service.Battery();
    TreatmentSetup setup;
    setup.ServiceID = service.ID();
    setup.BatteryID = battery.ID;
    setup.Terminal = QString::fromStdString(terminal.Name());
    setup.Caption = setup.Terminal + QStringLiteral(": Akku ") + QString::number(battery.ID);
    setup.Program = service.Program();
    // Same value as the selected battery's voltage with its fraction dropped.
    setup.NominalVoltage = static_cast<int>(NominalVoltage(battery.Cells, battery.Type));
    setup.MaxCurrentA = terminal.MaxCurrent() * 0.001;
    setup.NominalCapacity = battery.Capacity;
    setup.BatteryName = battery.Brand;
    for (int i = 0; i < service.StepCount(); ++i)
        setup.Steps.append(service.Step(i));
    return setup;
}

Service *TServiceManager::startService(
    int batteryID, const std::string &terminalName,
    const std::function<std::unique_ptr<Service>(const Ohmrida::Terminal &)> &build)
{
    const Ohmrida::Terminal *filed = terminals_.Get(terminalName);
    if (!filed)
        throw ServiceStartError(
            QStringLiteral("Ladeterminal \"%1\" wurde nicht gefunden.").arg(QString::fromStdString(terminalName))
                .toStdString());
    // A copy: the registry is filed anew by every search.
    const Ohmrida::Terminal terminal(filed->Name(), filed->Port(), filed->DeviceType(), filed->Address());
    RecordStore::Battery battery;
    battery.ID = batteryID;
    if (!database_.LoadBattery(battery))
        throw ServiceStartError(
            QStringLiteral("Akku %1 ist nicht in der Datenbank.").arg(batteryID).toStdString());

    std::unique_ptr<TerminalLock> lock = ClaimTerminal(terminalName);
    std::unique_ptr<Service> service;
    // The treatment's rows and its registration are one commit: a kill
    // leaves either all of them or none.
    database_.InTransaction([&] {
        service = build(terminal);
        RecordStore::RunningTreatment running;
        running.ServiceID = service->ID();
        running.Terminal = QString::fromStdString(terminalName);
        running.ChargeCurrent = service->ChargeCurrent();
        running.DischargeCurrent = service->DischargeCurrent();
        running.Limits = Resume::LimitsText(*service);
        database_.RegisterRunning(running);
    });
    Service *added = Add(std::move(service));
    locks_[added] = std::move(lock);
    registered_.insert(added->ID());
    return added;
}

std::unique_ptr<TerminalLock> TServiceManager::ClaimTerminal(const std::string &terminalName, int resuming)
{
    std::unique_ptr<TerminalLock> lock = TerminalLock::Acquire(terminalName);
    const QString name = QString::fromStdString(terminalName);
    for (const RecordStore::RunningTreatment &row : database_.RunningTreatments()) {
        if (row.Terminal != name || row.ServiceID == resuming || row.Host != OwnerProcess::HostName())
            continue;
        if (RecordReader::OwnerAlive(row)) {
            // Another process's treatment, even one whose lock this process
            // could take (its lock folder differs), owns the terminal. Two
            // treatments of this process are the windows' business.
            if (row.Pid != OwnerProcess::CurrentPid())
                throw TerminalBusyError(
                    QStringLiteral("Ladeterminal \"%1\" wird schon f\u00fcr die Behandlung %2 benutzt "
                                   "(Prozess %3); an das Ladeger\u00e4t wurde nichts gesendet.")
                        .arg(name)
                        .arg(row.ServiceID)
                        .arg(row.Pid)
                        .toStdString());
        } else {
            Resume::Close(database_, row);
        }
    }
    return lock;
}

namespace {

// A treatment whose recorder still lives is not to be taken over.
void RefuseIfStillRecorded(const RecordStore::RunningTreatment &row)
{
    if (RecordReader::OwnerAlive(row))
        throw TerminalBusyError(QStringLiteral("Die Behandlung %1 wird noch von Prozess %2 auf %3 aufgezeichnet.")
                                    .arg(row.ServiceID)
                                    .arg(row.Pid)
                                    .arg(row.Host)
                                    .toStdString());
}

} // namespace

Service *TServiceManager::ResumeService(int serviceID, QString *outcome)
{
    if (HasService(serviceID))
        throw ServiceStartError(QStringLiteral("Die Behandlung %1 l\u00e4uft bereits.").arg(serviceID).toStdString());
    RecordStore::RunningTreatment row;
    row.ServiceID = serviceID;
    if (!database_.FindRunning(row))
        throw ServiceStartError(
            QStringLiteral("Die Behandlung %1 l\u00e4uft nicht; sie ist beendet.").arg(serviceID).toStdString());
    RefuseIfStillRecorded(row);
    const std::string terminalName = row.Terminal.toStdString();
    std::unique_ptr<TerminalLock> lock = ClaimTerminal(terminalName, serviceID);
    const Service::RestorePoint point = Resume::Load(database_, row);
    RecordStore::Battery battery;
    battery.ID = point.Record.BatteryID;
    if (!database_.LoadBattery(battery))
        throw ServiceStartError(
            QStringLiteral("Akku %1 ist nicht in der Datenbank.").arg(battery.ID).toStdString());

    const Ohmrida::Terminal *terminal = terminals_.Get(terminalName);
    if (!terminal)
        throw ServiceStartError(QStringLiteral("Ladeterminal \"%1\" wurde nicht gefunden; die Behandlung %2 "
                                               "bleibt unterbrochen.")
                                    .arg(row.Terminal)
                                    .arg(serviceID)
                                    .toStdString());
    Ohmrida::Terminal asked(terminal->Name(), terminal->Port(), terminal->DeviceType(), terminal->Address());
    Ohmrida::Reply fault;
    switch (Resume::AskCharger(asked, point, battery, fault)) {
    case Resume::Verdict::NoAnswer:
        throw ServiceStartError(QStringLiteral("%1; die Behandlung %2 bleibt unterbrochen.")
                                    .arg(FaultText(fault, asked))
                                    .arg(serviceID)
                                    .toStdString());
    case Resume::Verdict::NotRunning:
        Resume::Close(database_, row);
        if (outcome)
            *outcome = QStringLiteral("Das Ladeger\u00e4t f\u00fchrt die Behandlung %1 nicht mehr aus; ihre offenen "
                                      "Schritte sind als \u201eabgebrochen\u201c vermerkt.")
                           .arg(serviceID);
        return nullptr;
    case Resume::Verdict::Restarted:
        // Another run of the same program: its times would be appended to
        // the old record as if they followed on.
        Resume::Close(database_, row);
        if (outcome)
            *outcome = QStringLiteral("Das Ladeger\u00e4t an %1 wurde neu gestartet: es f\u00fchrt das Programm der "
                                      "Behandlung %2 von vorn aus, ohne dass es aufgezeichnet wird. Die Behandlung %2 "
                                      "ist beim letzten gespeicherten Messwert als \u201eabgebrochen\u201c "
                                      "abgeschlossen.")
                           .arg(row.Terminal)
                           .arg(serviceID);
        return nullptr;
    case Resume::Verdict::Runs:
        break;
    }

    std::unique_ptr<Service> service = Service::Restore(database_, point, *terminal);
    database_.InTransaction([&] {
        // A kill between the start and its first step row left the step "folgt".
        if (service->Step(point.CurrentStep).State == Folgt) {
            service->UpdateStep(point.CurrentStep, 0, 0, Laeuft);
            service->WritePendingNow();
        }
        row.Step = point.CurrentStep;
        row.StepTime = point.LastStepTime;
        row.Capacity = point.LastCapacity;
        database_.RegisterRunning(row);
    });
    Service *added = Add(std::move(service));
    locks_[added] = std::move(lock);
    registered_.insert(serviceID);
    if (outcome)
        *outcome = QStringLiteral("Die Behandlung %1 wird fortgesetzt.").arg(serviceID);
    return added;
}

QString TServiceManager::StopInterrupted(int serviceID)
{
    RecordStore::RunningTreatment row;
    row.ServiceID = serviceID;
    if (HasService(serviceID))
        throw ServiceStartError(QStringLiteral("Die Behandlung %1 l\u00e4uft bereits.").arg(serviceID).toStdString());
    if (!database_.FindRunning(row))
        throw ServiceStartError(
            QStringLiteral("Die Behandlung %1 l\u00e4uft nicht; sie ist beendet.").arg(serviceID).toStdString());
    RefuseIfStillRecorded(row);
    const std::string terminalName = row.Terminal.toStdString();
    const std::unique_ptr<TerminalLock> lock = ClaimTerminal(terminalName, serviceID);
    RecordStore::Service record;
    record.ID = serviceID;
    RecordStore::Battery battery;
    if (!database_.LoadService(record) || !(battery.ID = record.BatteryID, database_.LoadBattery(battery))) {
        // Nothing left to compare the charger with, nor to close.
        Resume::Close(database_, row);
        return QStringLiteral("Die Behandlung %1 ist nicht mehr in der Datenbank; das Ladeger\u00e4t an %2 wurde "
                              "nicht gestoppt.")
            .arg(serviceID)
            .arg(row.Terminal);
    }
    const Service::RestorePoint point = Resume::Load(database_, row);
    const Ohmrida::Terminal *terminal = terminals_.Get(terminalName);
    if (!terminal) {
        Resume::Close(database_, row);
        return QStringLiteral("Die Behandlung %1 ist als \u201eabgebrochen\u201c abgeschlossen. Das Ladeterminal "
                              "\"%2\" wurde nicht gefunden; bitte das Ladeger\u00e4t von Hand stoppen.")
            .arg(serviceID)
            .arg(row.Terminal);
    }
    Ohmrida::Terminal asked(terminal->Name(), terminal->Port(), terminal->DeviceType(), terminal->Address());
    Ohmrida::Reply fault;
    const Resume::Verdict verdict = Resume::AskCharger(asked, point, battery, fault);
    QString said;
    if (verdict == Resume::Verdict::NotRunning) {
        // Idle, failed or running what someone else loaded: not ours to stop.
        said = QStringLiteral("Das Ladeger\u00e4t f\u00fchrt sie nicht mehr aus; an das Ladeger\u00e4t wurde nichts "
                              "gesendet.");
    } else {
        // A charger that did not answer clearly gets the stop all the same:
        // if it hears it, it does not run on unwatched.
        const Ohmrida::Reply stopped = asked.Stop();
        if (stopped.kind == Ohmrida::Reply::Refused)
            throw ServiceStartError(QStringLiteral("%1; die Behandlung %2 bleibt unterbrochen.")
                                        .arg(FaultText(stopped, asked))
                                        .arg(serviceID)
                                        .toStdString());
        if (verdict == Resume::Verdict::NoAnswer)
            said = QStringLiteral("Der Stopp-Befehl wurde gesendet, ist aber unbest\u00e4tigt: %1. Bitte das "
                                  "Ladeger\u00e4t pr\u00fcfen.")
                       .arg(FaultText(fault, asked));
        else if (stopped.kind == Ohmrida::Reply::Ok)
            said = QStringLiteral("Das Ladeger\u00e4t ist gestoppt.");
        else
            said = QStringLiteral("Der Stopp-Befehl wurde gesendet, ist aber unbest\u00e4tigt: %1.")
                       .arg(FaultText(stopped, asked));
    }
    Resume::Close(database_, row);
    return QStringLiteral("Die Behandlung %1 an %2 ist beim letzten gespeicherten Messwert als \u201eabgebrochen\u201c "
                          "abgeschlossen. %3")
        .arg(serviceID)
        .arg(row.Terminal, said);
}

void TServiceManager::AbandonService(int serviceID)
{
    RecordStore::RunningTreatment row;
    row.ServiceID = serviceID;
    if (!database_.FindRunning(row) || HasService(serviceID))
        return;
    RefuseIfStillRecorded(row);
    Resume::Close(database_, row);
}

Service *TServiceManager::StartStandardService(int batteryID, int program, int chargeCurrent, int dischargeCurrent,
                                               const std::string &terminalName)
{
    return startService(batteryID, terminalName,
                        [&](const Ohmrida::Terminal &terminal) {
                            return std::make_unique<Service>(database_, batteryID, terminal, program, chargeCurrent,
                                                             dischargeCurrent);
                        });
}

Service *TServiceManager::StartUserService(int batteryID, const std::vector<UserStep> &steps,
                                           const std::string &terminalName)
{
    if (steps.empty() || steps.size() > static_cast<size_t>(Service::MaxUserSteps))
        throw ServiceStartError(
            QStringLiteral("Ein Benutzerprogramm braucht 1 bis %1 Schritte.").arg(Service::MaxUserSteps)
                .toStdString());
    return startService(batteryID, terminalName,
                        [&](const Ohmrida::Terminal &terminal) {
                            // Treatment and step rows are written together.
                            std::vector<StepRecord> records(steps.size());
                            for (size_t i = 0; i < steps.size(); ++i) {
                                records[i].Function = steps[i].Function;
                                records[i].Parameter = steps[i].Current;
                                records[i].TimeLimit = steps[i].TimeLimit;
                            }
                            return std::make_unique<Service>(database_, batteryID, terminal, records);
                        });
}

void TServiceManager::StopService(Service *service)
{
    if (!service)
        return;
    // The charger is stopped first, whatever becomes of the records.
    const bool endedByItself = service->ServiceState() == Service::Ended;
    if (!endedByItself)
        service->Abort();
    // The user waits for this one: the full busy time-out.
    const bool written = service->TryWritePending(firstWaitMs_);
    bool registered = registered_.count(service->ID()) > 0;
    if (written && registered) {
        try {
            database_.UnregisterRunning(service->ID());
            registered = false;
        } catch (const std::exception &) {
            // Tried again by the following ticks.
        }
    }
    writesFailing_ = !written;
    const WriteStatus status = service->WriteState();
    std::unique_ptr<Service> stopped = take(service);
    if (!stopped || (written && !registered))
        return;
    // Kept until its records are written (see writePending).
    const int id = stopped->ID();
    closing_.push_back({std::move(stopped), registered});
    if (written)
        return;
    // Say what happened to the treatment: a finished one was not aborted.
    throw DatabaseError(QStringLiteral("Die Behandlung %1 %2, aber %3 konnten nicht gespeichert werden: %4 "
                                       "Sie werden nachgetragen, sobald die Datenbank wieder beschreibbar ist.")
                            .arg(id)
                            .arg(endedByItself ? QStringLiteral("ist beendet")
                                               : QStringLiteral("ist abgebrochen und das Ladeger\u00e4t gestoppt"))
                            .arg(RecordsText(status.WaitingSamples, status.WaitingSteps))
                            .arg(status.Reason));
}

void TServiceManager::SetWriteWaits(int firstMs, int retryMs)
{
    firstWaitMs_ = firstMs;
    retryWaitMs_ = retryMs;
}

int TServiceManager::WaitingWrites() const
{
    int waiting = 0;
    for (const auto &service : services_)
        if (!lent_.count(service.get()))
            waiting += service->Pending().Size();
    for (const Closing &closing : closing_)
        waiting += closing.service->Pending().Size();
    return waiting;
}

bool TServiceManager::HasUnwritten() const
{
    if (!closing_.empty() || WaitingWrites() > 0)
        return true;
    // An ended treatment whose registration could not be removed yet.
    return std::any_of(services_.begin(), services_.end(), [this](const std::unique_ptr<Service> &service) {
        return !lent_.count(service.get()) && service->ServiceState() == Service::Ended
               && registered_.count(service->ID()) > 0;
    });
}

Service *TServiceManager::ServiceOf(int serviceID) const
{
    for (const auto &service : services_)
        if (service->ID() == serviceID)
            return service.get();
    return nullptr;
}

void TServiceManager::FlushLog()
{
    log_.flush();
}
