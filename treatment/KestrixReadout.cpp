#include "treatment/KestrixReadout.h"

#include "treatment/PortSearch.h"

#include "charger/Plausibility.h"
#include "charger/Terminal.h"
#include "charger/TerminalManager.h"
#include "database/RecordStore.h"
#include "database/Texts.h"

#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <iterator>
#include <vector>

namespace {

// Samples are committed in batches: one disk sync per batch instead of one
// per value. A batch is written when it is full, when it has waited this
// long, before a failure or cancellation is recorded, and at the end, so a
// crash loses at most the last fraction of a second of values.
constexpr int SampleBatchSize = 500;
constexpr qint64 SampleBatchMaxAgeMs = 500;
// Values are read in turns of about this long, so that the engine's ticks
// and requests get their turn in between.
constexpr qint64 TurnMs = 20;
// Reads of the header until two agree.
constexpr int MaxHeaderReads = 12;

QString hexText(const Ohmrida::Reply &reply)
{
    return QString::fromStdString(Ohmrida::HexText(reply.bytes));
}

} // namespace

struct TKestrixReadout::Recording {
    Ohmrida::ProgramSettings settings;
    int32_t chargeInterval = 0;      // s between two values while charging
    int32_t dischargeInterval = 0;   // s between two values while discharging
    int32_t phaseCounts[MaxPhases] = {};
};

QString TKestrixReadout::MessageText(int messageIndex)
{
    switch (messageIndex) {
    case MsgInitializing:
        return QStringLiteral("Initialisierung...");
    case MsgNoLogger:
        return QStringLiteral("KESTRIX nicht angeschlossen oder nicht bereit zum Auslesen!");
    case MsgMismatch:
        return QStringLiteral("Aufzeichnung paßt nicht zum ausgewählten Akku!");
    case MsgEmpty:
        return QStringLiteral("KESTRIX ist leer!");
    case MsgFailed:
        return QStringLiteral("Ausführung fehlgeschlagen!");
    case MsgReadFailed:
        return QStringLiteral("KESTRIX antwortet nicht mehr: Auslesen abgebrochen!");
    case MsgGarbled:
        return QStringLiteral("Unverst\u00e4ndliche Antworten vom KESTRIX: Auslesen abgebrochen!");
    case MsgGarbledHeader:
        return QStringLiteral("Unverst\u00e4ndliche Antwort vom KESTRIX: nichts gespeichert!");
    default:
        return QString();
    }
}

QString TKestrixReadout::text(int message) const
{
    const QString logger = loggerName_.isEmpty() ? QStringLiteral("KESTRIX") : loggerName_;
    const QString where = QStringLiteral("nach %1 von %2 Werten").arg(outcome_.Position).arg(outcome_.Maximum);
    switch (message) {
    case MsgReadFailed:
        return QStringLiteral("%1 antwortet nicht mehr: Auslesen %2 abgebrochen!").arg(logger, where);
    case MsgGarbled:
        return QStringLiteral("Unverst\u00e4ndliche Antworten von %1: Auslesen %2 abgebrochen!").arg(logger, where);
    case MsgGarbledHeader:
        return QStringLiteral("Unverst\u00e4ndliche Antwort von %1 (%2): nichts gespeichert!")
            .arg(logger, headerProblem_);
    default:
        return MessageText(message);
    }
}

TKestrixReadout::TKestrixReadout(RecordStore &records, TPortSearch &search, Ohmrida::TerminalManager &terminals,
                                 StopFlag stop, QObject *parent)
    : QObject(parent), records_(records), search_(search), terminals_(terminals), stop_(std::move(stop))
{
}

TKestrixReadout::~TKestrixReadout() = default;

void TKestrixReadout::queue(void (TKestrixReadout::*step)())
{
    QMetaObject::invokeMethod(this, step, Qt::QueuedConnection);
}

void TKestrixReadout::Start(const BatteryRecord &battery)
{
    battery_ = battery;
    minDeltaU_ = records_.MinDeltaU();
    emit ShowInfo(MsgInitializing, MessageText(MsgInitializing));
    QPointer<TKestrixReadout> self(this);
    search_.FindLogger([self](int port) {
        if (self)
            self->loggerFound(port);
    });
}

void TKestrixReadout::loggerFound(int port)
{
    if (port == 0) {
        end(MsgNoLogger);
        return;
    }
    logger_ = terminals_.LoggerOn(port);
    loggerName_ = QStringLiteral("KESTRIX an %1").arg(QString::fromStdString(logger_->Port()->PortName()));
    readHeader();
}

void TKestrixReadout::readHeader()
{
    // A header that could not be read at all leaves nothing to check
    // against: the logger is not ready.
    recording_ = std::make_unique<Recording>();
    Recording &recording = *recording_;
    const Ohmrida::Reply header = readAgreeingHeader(recording);
    if (header.kind == Ohmrida::Reply::NoAnswer) {
        end(MsgNoLogger);
        return;
    }
    if (header.kind != Ohmrida::Reply::Ok) {
        end(MsgGarbledHeader);
        return;
    }
    if (battery_.ID <= 0 || recording.settings.capacity != battery_.Capacity
        || recording.settings.batteryType != battery_.Type || recording.settings.cells != battery_.Cells) {
        end(MsgMismatch);
        return;
    }
    if (recording.phaseCounts[0] <= 0) {
        end(MsgEmpty);
        return;
    }
    try {
        outcome_.Result = ResultOK;
        RecordStore::Service service;
        service.BatteryID = battery_.ID;
        service.Program = recording.settings.program;
        records_.InsertService(service);
        outcome_.ServiceID = service.ID;
    } catch (const std::exception &error) {
        failWith(error);
        return;
    }
    phases_ = 0;
    outcome_.Maximum = 0;
    while (phases_ < MaxPhases && recording.phaseCounts[phases_] > 0)
        outcome_.Maximum += recording.phaseCounts[phases_++];
    function_ = FirstFunction(recording.settings.program);
    phase_ = 0;
    timeOffset_ = 0;
    batch_.reserve(SampleBatchSize);
    batchAge_.start();
    queue(&TKestrixReadout::beginPhase);
}

Ohmrida::Reply TKestrixReadout::readAgreeingHeader(Recording &recording)
{
    // The header decides how many values are read and how they are filed, so
    // it is taken only when two plausible readings agree: a garbled one that
    // still looks plausible is not repeated by the next.
    std::vector<Recording> readings;
    Ohmrida::Reply reply;
    for (int read = 0; read < MaxHeaderReads && !stopRequested(); ++read) {
        Recording candidate;
        reply = logger_->ReadLoggerHeader(candidate.settings, candidate.chargeInterval, candidate.dischargeInterval,
                                          candidate.phaseCounts);
        if (reply.kind == Ohmrida::Reply::NoAnswer)
            return reply;
        if (reply.kind != Ohmrida::Reply::Ok) {
            headerProblem_ = QStringLiteral("%1: %2").arg(QString::fromStdString(reply.problem), hexText(reply));
            continue;
        }
        const auto same = std::find_if(readings.begin(), readings.end(), [&](const Recording &earlier) {
            return earlier.settings == candidate.settings && earlier.chargeInterval == candidate.chargeInterval
                   && earlier.dischargeInterval == candidate.dischargeInterval
                   && std::equal(std::begin(candidate.phaseCounts), std::end(candidate.phaseCounts),
                                 std::begin(earlier.phaseCounts));
        });
        if (same != readings.end()) {
            recording = candidate;
            return reply;
        }
        if (!readings.empty())
            headerProblem_ = QStringLiteral("keine zwei Lesungen der Kopfdaten stimmen \u00fcberein");
        readings.push_back(candidate);
    }
    reply.kind = Ohmrida::Reply::Unintelligible;
    return reply;
}

void TKestrixReadout::beginPhase()
{
    if (phase_ >= phases_ || stopRequested()) {
        try {
            writeBatch();
        } catch (const std::exception &error) {
            failWith(error);
            return;
        }
        end(MsgInitializing);
        return;
    }
    const Recording &recording = *recording_;
    const int count = recording.phaseCounts[phase_];
    const bool charging = function_ == Laden;
    interval_ = charging ? recording.chargeInterval : recording.dischargeInterval;
    step_ = StepRecord();
    step_.ServiceID = outcome_.ServiceID;
    step_.Step = phase_ + 1;
    step_.Function = function_;
    step_.Parameter = charging ? recording.settings.chargeCurrent : recording.settings.dischargeCurrent;
    try {
        records_.InsertStep(step_);
        // The row is complete before the first value is read, so a cancelled
        // transfer leaves only finished rows.
        step_.Duration = (count - 1) * interval_;
        step_.Capacity = int(qint64(step_.Parameter) * step_.Duration / 3600);
        step_.State = OK;
        records_.StoreStepResult(step_);
    } catch (const std::exception &error) {
        failWith(error);
        return;
    }
    value_ = 0;
    lastRead_ = -1;
    lastVoltage_ = -1;
    queue(&TKestrixReadout::readValues);
}

Ohmrida::Reply TKestrixReadout::readValue(int32_t &millivolts)
{
    Ohmrida::Reply reply = logger_->ReadLoggerValue(millivolts);
    // One retry, and only after complete silence: the request may have been
    // lost before the logger saw it. After a short or garbled answer the
    // logger has moved on, and a second request would file the next value
    // under this value's time. A user who asked to stop gets no retry.
    if (reply.kind == Ohmrida::Reply::NoAnswer && !stopRequested())
        reply = logger_->ReadLoggerValue(millivolts);
    if (reply.kind == Ohmrida::Reply::Ok) {
        reply.problem = Ohmrida::Plausible::CheckLoggerValue(millivolts, recording_->settings);
        if (!reply.problem.empty())
            reply.kind = Ohmrida::Reply::Unintelligible;
    }
    return reply;
}

void TKestrixReadout::writeBatch()
{
    if (!batch_.isEmpty())
        records_.InsertSamples(batch_);
    batch_.clear();
    batchAge_.restart();
}

void TKestrixReadout::readValues()
{
    const int count = recording_->phaseCounts[phase_];
    QElapsedTimer turn;
    turn.start();
    try {
        while (value_ < count && turn.elapsed() < TurnMs) {
            if (stopRequested()) {
                writeBatch();
                end(MsgInitializing);
                return;
            }
            int32_t voltage = 0;
            const Ohmrida::Reply reply = readValue(voltage);
            if (reply.kind == Ohmrida::Reply::Unintelligible && ++garbledInARow_ < MaxGarbledInARow) {
                outcome_.Skipped << QStringLiteral("Wert %1: %2 (%3)")
                                        .arg(outcome_.Position + 1)
                                        .arg(QString::fromStdString(reply.problem), hexText(reply));
                ++value_;
                emit ShowProgress(outcome_.Maximum, ++outcome_.Position);
                continue;
            }
            if (reply.kind != Ohmrida::Reply::Ok) {
                writeBatch();
                // A read cut short by the user's cancel is a cancel, not a failure.
                if (stopRequested()) {
                    end(MsgInitializing);
                    return;
                }
                markAborted(lastRead_ + 1);
                end(reply.kind == Ohmrida::Reply::NoAnswer ? MsgReadFailed : MsgGarbled);
                return;
            }
            garbledInARow_ = 0;
            lastRead_ = value_;
            Sample sample;
            sample.ServiceID = outcome_.ServiceID;
            sample.Step = step_.Step;
            sample.Time = value_ * interval_ + timeOffset_;
            sample.Voltage = voltage;
            sample.Current = step_.Parameter;
            if (std::abs(sample.Voltage - lastVoltage_) >= minDeltaU_ || value_ == count - 1) {
                batch_.append(sample);
                lastVoltage_ = sample.Voltage;
                if (batch_.size() >= SampleBatchSize || batchAge_.elapsed() >= SampleBatchMaxAgeMs)
                    writeBatch();
            }
            ++value_;
            emit ShowProgress(outcome_.Maximum, ++outcome_.Position);
        }
    } catch (const std::exception &error) {
        failWith(error);
        return;
    }
    if (value_ < count) {
        queue(&TKestrixReadout::readValues);
        return;
    }
    function_ = function_ == Laden ? Entladen : Laden;
    timeOffset_ += step_.Duration;
    ++phase_;
    queue(&TKestrixReadout::beginPhase);
}

void TKestrixReadout::markAborted(int valuesRead)
{
    // The step being read keeps what was read of it; the phases never begun
    // get their rows too, so the step list shows the whole recording and
    // which part of it is missing.
    StepRecord step = step_;
    step.Duration = valuesRead > 0 ? (valuesRead - 1) * interval_ : 0;
    step.Capacity = int(qint64(step.Parameter) * step.Duration / 3600);
    step.State = Abgebrochen;
    records_.StoreStepResult(step);
    int function = function_;
    for (int later = phase_ + 1; later < phases_; ++later) {
        function = function == Laden ? Entladen : Laden;
        StepRecord row;
        row.ServiceID = step.ServiceID;
        row.Step = later + 1;
        row.Function = function;
        row.Parameter = function == Laden ? recording_->settings.chargeCurrent : recording_->settings.dischargeCurrent;
        records_.InsertStep(row);
        row.State = Abgebrochen;
        records_.StoreStepResult(row);
    }
}

void TKestrixReadout::failWith(const std::exception &error)
{
    // The records written so far stay, and the user learns why the transfer stopped.
    const auto *database = dynamic_cast<const DatabaseError *>(&error);
    outcome_.Error = database ? database->message() : QString::fromUtf8(error.what());
    end(MsgFailed);
}

void TKestrixReadout::end(int message)
{
    outcome_.Message = message;
    if (message == MsgInitializing) {
        finished_ = true;
        emit Finished(outcome_);
        return;
    }
    // The message stays on screen until the user dismisses it.
    emit ShowInfo(message, text(message));
    waitingForStop_ = true;
    CheckStop();
}

void TKestrixReadout::CheckStop()
{
    if (!waitingForStop_ || finished_ || !stopRequested())
        return;
    finished_ = true;
    emit Finished(outcome_);
}
