#include "treatment/Service.h"

#include "treatment/ServiceViews.h"

#include <QByteArray>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <ostream>

namespace {

// The steps a charger's own program runs, in order; empty for programs the
// chargers do not run by themselves.
std::vector<int> ProgramFunctions(int program)
{
    switch (program) {
    case 1: return {Laden};
    case 2: return {Entladen};
    case 3: return {Entladen, Laden};
    case 4: return {Laden, Entladen, Laden};
    case 5: return {Entladen, Laden, Entladen, Laden};
    default: return {};
    }
}

QString BatteryNotFound(int batteryID)
{
    return QStringLiteral("Akku %1 ist nicht in der Datenbank.").arg(batteryID);
}

QString DoesNotFit(int batteryID, const QString &what, qint64 value, const QString &unit, int low, int high)
{
    return QStringLiteral("Akku %1 kann nicht behandelt werden: %2 %3 %4 passt nicht in die Programmnachricht "
                          "an das Ladegerät (erlaubt sind %5 bis %6 %4). Es wurde nichts gesendet oder gespeichert.")
        .arg(batteryID)
        .arg(what)
        .arg(value)
        .arg(unit)
        .arg(low)
        .arg(high);
}

} // namespace

QString ProgramMessageProblem(const RecordStore::Battery &battery, const std::vector<int> &currents)
{
    if (battery.Type < -128 || battery.Type > 127)
        return DoesNotFit(battery.ID, QStringLiteral("der Akkutyp"), battery.Type, QString(), -128, 127);
    if (battery.Cells < 0 || battery.Cells > 255)
        return DoesNotFit(battery.ID, QStringLiteral("die Zellenzahl"), battery.Cells, QStringLiteral("Zellen"), 0,
                          255);
    if (battery.Capacity < 0 || battery.Capacity > 65535)
        return DoesNotFit(battery.ID, QStringLiteral("die Kapazität"), battery.Capacity, QStringLiteral("mAh"), 0,
                          65535);
    for (const int current : currents) {
        if (current < 0 || current > 65535)
            return DoesNotFit(battery.ID, QStringLiteral("der Strom"), current, QStringLiteral("mA"), 0, 65535);
    }
    return QString();
}

double DeviceSpeed()
{
    bool ok = false;
    const double speed = qEnvironmentVariable("BRASKON_DEVICE_SPEED").toDouble(&ok);
    return ok && speed >= 1 ? speed : 1.0;
}

QString FaultText(const Ohmrida::Reply &reply, const Ohmrida::Terminal &terminal)
{
    const QString name = QString::fromStdString(terminal.Name());
    const QString command = QString::fromStdString(Ohmrida::CommandName(reply.command));
    const QString bytes = QString::fromStdString(Ohmrida::HexText(reply.bytes));
    switch (reply.kind) {
    case Ohmrida::Reply::Ok:
        break;
    case Ohmrida::Reply::Refused:
        return QStringLiteral("%1 hat den Befehl %2 abgelehnt (Antwort %3)").arg(name, command, bytes);
    case Ohmrida::Reply::Unintelligible:
        return QStringLiteral("unverst\u00e4ndliche Antwort von %1 auf %2: %3 (%4)")
            .arg(name, command, QString::fromStdString(reply.problem), bytes);
    case Ohmrida::Reply::NoAnswer: {
        const QString device =
            terminal.Port() ? QString::fromStdString(terminal.Port()->DevicePath()) : QStringLiteral("kein Ger\u00e4t");
        return QStringLiteral("keine Antwort von %1 (%2)").arg(name, device);
    }
    }
    return QString();
}

QString FaultLabel(const Ohmrida::Reply &reply)
{
    switch (reply.kind) {
    case Ohmrida::Reply::Ok: break;
    case Ohmrida::Reply::Refused: return QStringLiteral("Befehl abgelehnt");
    case Ohmrida::Reply::Unintelligible: return QStringLiteral("unverst\u00e4ndliche Antwort");
    case Ohmrida::Reply::NoAnswer: return QStringLiteral("keine Antwort");
    }
    return QString();
}

int FlagsToFunction(uint8_t modeFlags)
{
    if (modeFlags & 0x01)
        return Laden;
    if (!(modeFlags & 0x02))
        return Warten;
    return Entladen;
}

Service::Service(Common, RecordStore &database, int batteryID, const Ohmrida::Terminal &registryTerminal,
                 int program)
    : database_(database)
{
    battery_.ID = batteryID;
    service_.BatteryID = batteryID;
    service_.Program = program;
    // Checked before the treatment's row exists, so a refused start leaves no trace.
    if (!database_.LoadBattery(battery_))
        throw ServiceStartError(BatteryNotFound(batteryID).toStdString());
    terminal_ = std::make_unique<Ohmrida::Terminal>(registryTerminal.Name(), registryTerminal.Port(),
                                                    registryTerminal.DeviceType(), registryTerminal.Address());
}

void Service::checkFits(const std::vector<int> &currents) const
{
    const QString problem = ProgramMessageProblem(battery_, currents);
    if (!problem.isEmpty())
        throw ServiceStartError(problem.toStdString());
    // The charger would take a current outside its range, or refuse it late.
    for (int current : currents) {
        if (current < terminal_->MinCurrent() || current > terminal_->MaxCurrent())
            throw ServiceStartError(QStringLiteral("Strom %1 mA liegt nicht zwischen %2 und %3 mA von %4; es wurde "
                                                   "nichts gesendet oder gespeichert.")
                                        .arg(current)
                                        .arg(terminal_->MinCurrent())
                                        .arg(terminal_->MaxCurrent())
                                        .arg(QString::fromStdString(terminal_->Name()))
                                        .toStdString());
    }
}

void Service::insertRows()
{
    database_.InsertServiceWithSteps(service_, steps_);
    for (StepRecord &step : steps_) {
        step.Duration = 0;
        step.Capacity = 0;
        step.State = Folgt;
    }
    changed_ = true;
}

Service::Service(RecordStore &database, int batteryID, const Ohmrida::Terminal &registryTerminal, int program,
                 int chargeCurrent, int dischargeCurrent)
    : Service(Common(), database, batteryID, registryTerminal, program)
{
    const std::vector<int> functions = ProgramFunctions(program);
    if (functions.empty())
        throw ServiceStartError(
            QStringLiteral("Programm %1 hat keine Schritte.").arg(ProgramName(program)).toStdString());
    // Both currents go into the program message, whichever steps use them.
    checkFits({chargeCurrent, dischargeCurrent});
    chargeCurrent_ = chargeCurrent;
    dischargeCurrent_ = dischargeCurrent;
    steps_.resize(functions.size());
    for (size_t i = 0; i < functions.size(); ++i) {
        StepRecord &step = steps_[i];
        step.Step = static_cast<int>(i) + 1;
        step.Function = functions[i];
        step.Parameter = functions[i] == Laden ? chargeCurrent_ : dischargeCurrent_;
    }
    insertRows();
}

Service::Service(RecordStore &database, int batteryID, const Ohmrida::Terminal &registryTerminal,
                 const std::vector<StepRecord> &steps)
    : Service(Common(), database, batteryID, registryTerminal, 0)
{
    if (steps.empty() || steps.size() > static_cast<size_t>(MaxUserSteps))
        throw ServiceStartError(
            QStringLiteral("Ein Benutzerprogramm braucht 1 bis %1 Schritte.").arg(MaxUserSteps).toStdString());
    std::vector<int> currents;
    for (const StepRecord &step : steps)
        currents.push_back(step.Parameter);
    checkFits(currents);
    steps_.resize(steps.size());
    for (size_t i = 0; i < steps.size(); ++i) {
        StepRecord &step = steps_[i];
        step.Step = static_cast<int>(i) + 1;
        step.Function = steps[i].Function;
        step.Parameter = steps[i].Parameter;
        step.TimeLimit = steps[i].TimeLimit;
    }
    insertRows();
}

Service::Service(RecordStore &database, int batteryID, const Ohmrida::Terminal &registryTerminal, int stepCount)
    : Service(Common(), database, batteryID, registryTerminal, 0)
{
    if (stepCount < 1 || stepCount > MaxUserSteps)
        throw ServiceStartError(
            QStringLiteral("Programm %1 hat keine Schritte.").arg(ProgramName(0)).toStdString());
    checkFits({});
    database_.InsertService(service_);
    steps_.resize(static_cast<size_t>(stepCount));
}

Service::~Service() = default;

std::unique_ptr<Service> Service::Restore(RecordStore &database, const RestorePoint &point,
                                          const Ohmrida::Terminal &registryTerminal)
{
    std::unique_ptr<Service> service(new Service(database));
    service->battery_.ID = point.Record.BatteryID;
    if (!database.LoadBattery(service->battery_))
        throw ServiceStartError(BatteryNotFound(point.Record.BatteryID).toStdString());
    service->service_ = point.Record;
    service->steps_ = point.Steps;
    service->currentStep_ = point.CurrentStep;
    service->timeOffset_ = point.TimeOffset;
    service->lastRecordedVoltage_ = point.LastRecordedVoltage;
    service->lastRecordedCurrent_ = point.LastRecordedCurrent;
    service->lastStepTime_ = point.LastStepTime;
    service->lastCapacity_ = point.LastCapacity;
    service->chargeCurrent_ = point.ChargeCurrent;
    service->dischargeCurrent_ = point.DischargeCurrent;
    service->state_ = Running;
    // The charger was seen running the step before it was taken up again.
    service->stepSeen_ = true;
    // Where the counters stood is known, when is not: the first reading is
    // held to "not backwards" only.
    service->keepProgress(service->steps_.at(static_cast<size_t>(point.CurrentStep)).Function,
                          {point.LastStepTime, point.LastCapacity}, std::chrono::steady_clock::now(), false);
    service->terminal_ = std::make_unique<Ohmrida::Terminal>(registryTerminal.Name(), registryTerminal.Port(),
                                                             registryTerminal.DeviceType(),
                                                             registryTerminal.Address());
    return service;
}

void Service::SetStep(int index, int function, int current, int timeLimit)
{
    checkFits({current});
    StepRecord &step = steps_.at(static_cast<size_t>(index));
    step.ServiceID = service_.ID;
    step.Step = index + 1;
    step.Function = function;
    step.Parameter = current;
    step.TimeLimit = timeLimit;
    database_.InsertStep(step);
    step.Duration = 0;
    step.Capacity = 0;
    step.State = Folgt;
    changed_ = true;
}

void Service::UpdateStep(int index, int duration, int capacity, int state)
{
    StepRecord &step = steps_.at(static_cast<size_t>(index));
    step.Duration = duration;
    step.Capacity = capacity;
    step.State = state;
    writes_.AddStepResult(step);
    changed_ = true;
}

bool Service::TryWritePending(int busyWaitMs)
{
    writeStatus_.RecoveredSamples = writeStatus_.RecoveredSteps = 0;
    if (writes_.Empty())
        return true;
    try {
        database_.InTransaction([this] { writes_.WriteTo(database_); }, busyWaitMs);
    } catch (const DatabaseError &error) {
        noteWriteFailure(error.message());
        return false;
    } catch (const std::exception &error) {
        noteWriteFailure(QString::fromUtf8(error.what()));
        return false;
    }
    PendingCommitted();
    return true;
}

void Service::PendingCommitted()
{
    const int samples = writes_.Samples();
    const int steps = writes_.StepResults();
    writes_.Clear();
    writeStatus_.RecoveredSamples = writeStatus_.RecoveredSteps = 0;
    if (writeStatus_.Failing) {
        writeStatus_.Failing = false;
        writeStatus_.RecoveredSamples = samples;
        writeStatus_.RecoveredSteps = steps;
        lateSamples_ += samples;
        lateSteps_ += steps;
    }
}

void Service::WritePendingNow()
{
    writeStatus_.RecoveredSamples = writeStatus_.RecoveredSteps = 0;
    if (writes_.Empty())
        return;
    const int samples = writes_.Samples();
    const int steps = writes_.StepResults();
    database_.InTransaction([this] { writes_.WriteTo(database_); });
    writes_.Clear();
    if (writeStatus_.Failing) {
        lateSamples_ += samples;
        lateSteps_ += steps;
    }
    writeStatus_.Failing = false;
}

void Service::noteWriteFailure(const QString &reason)
{
    if (!writeStatus_.Failing) {
        writeStatus_.Failing = true;
        writeStatus_.Since = QDateTime::currentDateTime();
        writes_.ResetDropped();
    }
    writeStatus_.Reason = reason;
}

WriteStatus Service::WriteState() const
{
    WriteStatus status = writeStatus_;
    status.WaitingSamples = writes_.Samples();
    status.WaitingSteps = writes_.StepResults();
    status.DroppedSamples = writes_.Dropped();
    return status;
}

Service::StartResult Service::loadAndStart(const Ohmrida::ProgramSettings &settings)
{
    // A refusal ends the sequence: after a refused stop or program the
    // charger must not be started on whatever it still holds. A command that
    // could not be sent ends it too; the whole sequence goes again later.
    // Silence and a garbled acknowledgement are no refusal; the status tells.
    Ohmrida::Terminal &terminal = *terminal_;
    const std::function<Ohmrida::Reply()> sequence[] = {[&] { return terminal.Stop(); },
                                                        [&] { return terminal.SendProgram(settings); },
                                                        [&] { return terminal.Start(); }};
    for (const auto &command : sequence) {
        const Ohmrida::Reply reply = command();
        if (!terminal.LastCommandSent()) {
            fault_ = reply;
            return StartResult::NotSent;
        }
        noteCommand(reply);
        if (reply.kind == Ohmrida::Reply::Refused)
            return StartResult::Refused;
    }
    return StartResult::Started;
}

void Service::noteCommand(const Ohmrida::Reply &reply)
{
    if (reply.kind == Ohmrida::Reply::Refused) {
        fault_ = reply;
    } else if (reply.kind == Ohmrida::Reply::Unintelligible) {
        ++rejectedAnswers_;
        logRejected(reply);
    }
}

void Service::fail(int duration, int capacity)
{
    End();
    UpdateStep(currentStep_, duration, capacity, Fehler);
}

Ohmrida::ProgramSettings Service::LoadedSettings() const
{
    Ohmrida::ProgramSettings settings;
    settings.batteryType = static_cast<int8_t>(battery_.Type & 0xFF);
    settings.cells = static_cast<uint8_t>(battery_.Cells & 0xFF);
    settings.capacity = static_cast<uint16_t>(battery_.Capacity & 0xFFFF);
    if (isUserProgram()) {
        // Every step of a user program is a one-step program of its own.
        const StepRecord &step = steps_.at(static_cast<size_t>(std::min(currentStep_, StepCount() - 1)));
        settings.program = step.Function == Entladen ? 2 : 1;
        settings.dischargeCurrent = static_cast<uint16_t>(step.Parameter);
        settings.chargeCurrent = static_cast<uint16_t>(step.Parameter);
    } else {
        // A standard program runs all its steps by itself; it is loaded once.
        settings.program = static_cast<uint8_t>(service_.Program);
        settings.dischargeCurrent = static_cast<uint16_t>(dischargeCurrent_);
        settings.chargeCurrent = static_cast<uint16_t>(chargeCurrent_);
    }
    return settings;
}

Service::StartResult Service::Start()
{
    if (state_ == New) {
        currentStep_ = 0;
        timeOffset_ = 0;
        lastRecordedVoltage_ = 0;
        lastRecordedCurrent_ = 0;
        lastCapacity_ = 0;
        lastStepTime_ = 0;
    }
    // Every step of a user program is a one-step program of its own; a
    // standard program runs all its steps by itself and is loaded once.
    if (isUserProgram() || state_ == New) {
        const StartResult result = loadAndStart(LoadedSettings());
        startDue_ = result == StartResult::NotSent;
        if (result == StartResult::NotSent)
            return result;
        if (result == StartResult::Refused) {
            fail(0, 0);
            return result;
        }
        // The new program's counters begin now.
        keepProgress(steps_.at(static_cast<size_t>(currentStep_)).Function, {}, std::chrono::steady_clock::now());
    }
    UpdateStep(currentStep_, 0, 0, Laeuft);
    state_ = Running;
    stepSeen_ = false;
    return StartResult::Started;
}

void Service::End()
{
    const Ohmrida::Reply reply = terminal_->Stop();
    noteCommand(reply);
    state_ = Ended;
}

void Service::Abort()
{
    End();
    UpdateStep(currentStep_, lastStepTime_, lastCapacity_, Abgebrochen);
}

int Service::CurrentFunction() const
{
    if (state_ != Running)
        return Warten;
    return steps_.at(static_cast<size_t>(currentStep_)).Function;
}

void Service::writeLogLine(const Ohmrida::StatusValues *values)
{
    if (!log_)
        return;
    // A line that could not be written (disk full) leaves the stream failed;
    // the next poll tries again instead of staying silent for good.
    if (!*log_)
        log_->clear();
    // A poll that got no reading is marked with "-" in place of the flags.
    *log_ << std::hex << static_cast<unsigned>(terminal_->Address()) << '\t';
    if (values)
        *log_ << static_cast<unsigned>(values->modeFlags);
    else
        *log_ << '-';
    *log_ << std::dec << '\n';
    log_->flush();
}

void Service::logRejected(const Ohmrida::Reply &reply)
{
    if (!log_)
        return;
    if (!*log_)
        log_->clear();
    // Address, "?", why, and the bytes as they came.
    *log_ << std::hex << static_cast<unsigned>(terminal_->Address()) << std::dec << "\t?\t" << reply.problem << '\t'
          << Ohmrida::HexText(reply.bytes) << '\n';
    log_->flush();
}

void Service::keepProgress(int function, const Ohmrida::Plausible::Progress &progress,
                           std::chrono::steady_clock::time_point at, bool timed)
{
    progressFunction_ = function;
    progress_ = progress;
    progressAt_ = at;
    progressTimed_ = timed;
}

std::string Service::checkProgress(const Ohmrida::StatusValues &values, std::chrono::steady_clock::time_point at,
                                   const Reading *from) const
{
    const int function = FlagsToFunction(values.modeFlags);
    if (function == Warten)
        return {};
    // Another function than at the reference began after it, from 0.
    Ohmrida::Plausible::Progress last;
    double elapsed = -1;
    if (from) {
        if (FlagsToFunction(from->Values.modeFlags) == function)
            last = {from->Values.time, from->Values.capacity};
        elapsed = std::chrono::duration<double>(at - from->At).count();
    } else {
        if (function == progressFunction_)
            last = progress_;
        if (progressTimed_)
            elapsed = std::chrono::duration<double>(at - progressAt_).count();
    }
    const Ohmrida::ProgramSettings loaded = LoadedSettings();
    const int current = function == Entladen ? loaded.dischargeCurrent : loaded.chargeCurrent;
    return Ohmrida::Plausible::CheckProgress(last, {values.time, values.capacity}, current, elapsed, DeviceSpeed());
}

void Service::reject(const Ohmrida::Reply &reply)
{
    fault_ = reply;
    if (reply.kind == Ohmrida::Reply::NoAnswer)
        return;
    ++rejectedAnswers_;
    logRejected(reply);
}

std::optional<Service::Reading> Service::readOnce()
{
    Reading reading;
    Ohmrida::ProgramSettings echoed;
    Ohmrida::Reply reply = terminal_->ReadStatus(reading.Values, echoed);
    reading.At = std::chrono::steady_clock::now();
    if (reply.kind == Ohmrida::Reply::Ok) {
        reply.problem = Ohmrida::Plausible::CheckStatus(reading.Values, echoed, LoadedSettings(), terminal_->DeviceType());
        if (reply.problem.empty()) {
            reading.Disputed = checkProgress(reading.Values, reading.At, nullptr);
            return reading;
        }
        reply.kind = Ohmrida::Reply::Unintelligible;
    }
    reject(reply);
    return std::nullopt;
}

bool Service::endsStep(const Ohmrida::StatusValues &values) const
{
    if (values.errorCode != 0 || FlagsToFunction(values.modeFlags) != CurrentFunction())
        return true;
    if (!isUserProgram())
        return false;
    const int limit = steps_.at(static_cast<size_t>(currentStep_)).TimeLimit;
    return limit != 0 && limit <= values.time;
}

std::optional<Service::Reading> Service::readPlausible()
{
    const auto garbled = [this](const char *why) {
        return Ohmrida::Reply{Ohmrida::Reply::Unintelligible,
                              static_cast<uint8_t>(Ohmrida::CmdStatusA | terminal_->Address()), {}, why};
    };
    std::optional<Reading> unconfirmed;
    std::optional<Reading> disputed;
    const auto dropUnconfirmed = [&] {
        if (unconfirmed)
            reject(garbled("Schrittende nicht best\xC3\xA4tigt"));
        unconfirmed.reset();
    };
    for (int read = 0; read < MaxStatusReads; ++read) {
        std::optional<Reading> reading = readOnce();
        if (!reading) {
            // A silent charger costs a time-out per read: no second try.
            if (fault_.kind == Ohmrida::Reply::NoAnswer)
                break;
            continue;
        }
        if (!reading->Disputed.empty()) {
            // Two answers in a row that carry on from each other and lie
            // ahead of the last reading, only too far: that reading was a
            // garbled one that looked plausible (a capacity flipped low), and
            // these are the charger's counters. Counters behind the last
            // reading are never taken: a stored step's time and capacity do
            // not run backwards; they catch up within the pace allowed.
            const Ohmrida::StatusValues &v = reading->Values;
            const bool ahead = FlagsToFunction(v.modeFlags) != progressFunction_
                               || (v.time >= progress_.Time && v.capacity >= progress_.Capacity);
            const bool confirmed =
                ahead && disputed && checkProgress(reading->Values, reading->At, &*disputed).empty();
            disputed = reading;
            if (!confirmed) {
                Ohmrida::Reply reply = garbled("");
                reply.problem = reading->Disputed;
                reject(reply);
                continue;
            }
            reading->Disputed.clear();
        }
        const Ohmrida::StatusValues &v = reading->Values;
        if (!endsStep(v)) {
            dropUnconfirmed();
            return reading;
        }
        // The end, seen twice in a row, the same way.
        if (unconfirmed && FlagsToFunction(unconfirmed->Values.modeFlags) == FlagsToFunction(v.modeFlags)
            && unconfirmed->Values.errorCode == v.errorCode)
            return reading;
        dropUnconfirmed();
        unconfirmed = reading;
    }
    if (unconfirmed && fault_.kind == Ohmrida::Reply::Ok)
        fault_ = garbled("Schrittende nicht best\xC3\xA4tigt");
    dropUnconfirmed();
    return std::nullopt;
}

bool Service::Poll(Sample &sample)
{
    changed_ = false;
    lastPollAnswered_ = false;
    lastPollSent_ = true;
    fault_ = Ohmrida::Reply{Ohmrida::Reply::Ok, 0, {}, {}};
    if (state_ == New || startDue_) {
        const StartResult started = Start();
        // A refused start has ended the treatment; there is nothing to read for.
        if (started == StartResult::Refused)
            return false;
        if (started == StartResult::NotSent) {
            lastPollSent_ = false;
            writeLogLine(nullptr);
            return false;
        }
    }

    const std::optional<Reading> reading = readPlausible();
    if (!reading) {
        // No reading: no step change, no sample, the previous values stay.
        lastPollSent_ = terminal_->LastCommandSent();
        writeLogLine(nullptr);
        return false;
    }
    Ohmrida::StatusValues v = reading->Values;
    lastPollAnswered_ = true;
    writeLogLine(&v);

    if (v.errorCode != 0) {
        End();
        UpdateStep(currentStep_, v.time, v.capacity, Fehler);
    }

    bool stepChanged = false;
    bool limitRefused = false;
    bool pastLastStep = false;
    // An ended treatment follows no further steps: a terminal that reports an
    // error while still showing a function must not turn the failed step into
    // "OK" and start the next one.
    // The charger's own reading, before a time limit makes it count as idle.
    if (state_ == Running && FlagsToFunction(v.modeFlags) == CurrentFunction())
        stepSeen_ = true;
    if (state_ == Running) {
        if (isUserProgram()) {
            const int limit = steps_.at(static_cast<size_t>(currentStep_)).TimeLimit;
            if (limit != 0 && limit <= v.time) {
                const Ohmrida::Reply stopped = terminal_->Stop();
                noteCommand(stopped);
                if (stopped.kind == Ohmrida::Reply::Refused) {
                    // The charger goes on with a step whose time is up.
                    fail(v.time, v.capacity);
                    limitRefused = true;
                } else {
                    // The stopped terminal counts as idle: the step is finished in
                    // this poll, and the sample belongs to the next step's start.
                    v.modeFlags = 0;
                    v.current = 0;
                    v.capacity = 0;
                    v.time = 0;
                }
            }
        }
    }
    keepProgress(FlagsToFunction(v.modeFlags), {v.time, v.capacity}, reading->At);
    if (state_ == Running && !limitRefused) {
        const int expected = CurrentFunction();
        const int actual = FlagsToFunction(v.modeFlags);
        stepChanged = expected != actual;
        if (stepChanged) {
            if (stepSeen_)
                UpdateStep(currentStep_, lastStepTime_, lastCapacity_, OK);
            else
                UpdateStep(currentStep_, 0, 0, Abgebrochen);
            timeOffset_ += lastStepTime_;
            currentStep_ += 1;
            // The finished step's counters are not the next step's.
            lastStepTime_ = 0;
            lastCapacity_ = 0;
            if (currentStep_ == StepCount()) {
                // CurrentStep now stands past the last step; an ended
                // treatment never uses it as an index again.
                End();
                pastLastStep = true;
            } else if (Start() == StartResult::Started && !isUserProgram()) {
                // The charger shows the function the standard program's next step has.
                if (CurrentFunction() == FlagsToFunction(v.modeFlags))
                    stepSeen_ = true;
                else
                    Abort();
            }
        }
    }

    sample.ServiceID = service_.ID;
    sample.Step = currentStep_ + 1;
    sample.Time = timeOffset_ + v.time;
    sample.Voltage = v.voltage;
    sample.Current = v.current;
    sample.Capacity = v.capacity;

    // The reading that ends the last step is of an idle charger after the
    // treatment: it belongs to no step, so it is shown but not recorded (the
    // finished step keeps the values of the poll before, as its row does).
    if (!pastLastStep
        && (std::abs(sample.Voltage - lastRecordedVoltage_) >= database_.MinDeltaU()
            || std::abs(sample.Current - lastRecordedCurrent_) >= database_.MinDeltaI() || stepChanged)) {
        // Beyond the waiting room of a long outage the sample is lost (and
        // counted); the deltas go on from it all the same.
        writes_.AddSample(sample);
        lastRecordedVoltage_ = sample.Voltage;
        lastRecordedCurrent_ = sample.Current;
    }

    lastStepTime_ = v.time;
    lastCapacity_ = v.capacity;
    return true;
}
