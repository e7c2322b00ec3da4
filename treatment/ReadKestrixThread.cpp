#include "ReadKestrixThread.h"

#include "Datamodule.h"
#include "Terminal.h"
#include "TerminalManager.h"

#include <QElapsedTimer>
#include <QMutexLocker>
#include <QVector>

#include <cstdlib>
#include <exception>
#include <memory>

namespace {

// Samples are committed in batches: one disk sync per batch instead of one
// per value. A batch is written when it is full, when it has waited this
// long, before a failure or cancellation is recorded, and at the end, so a
// crash loses at most the last fraction of a second of values.
constexpr int SampleBatchSize = 500;
constexpr qint64 SampleBatchMaxAgeMs = 500;

} // namespace

struct TReadKestrixThread::Recording {
    Ohmrida::ProgramSettings settings;
    int32_t chargeInterval = 0;      // s between two values while charging
    int32_t dischargeInterval = 0;   // s between two values while discharging
    int32_t phaseCounts[MaxPhases] = {};
};

QString TReadKestrixThread::MessageText(int messageIndex)
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
    default:
        return QString();
    }
}

QString TReadKestrixThread::MessageText(int messageIndex, int position, int maximum)
{
    if (messageIndex != MsgReadFailed)
        return MessageText(messageIndex);
    return QStringLiteral("KESTRIX antwortet nicht mehr: Auslesen nach %1 von %2 Werten abgebrochen!")
        .arg(position)
        .arg(maximum);
}

TReadKestrixThread::TReadKestrixThread(Ohmrida::TerminalManager &terminals, TBRASKDataModule &data,
                                       QObject *parent)
    : QThread(parent), terminals_(terminals), data_(data)
{
}

TReadKestrixThread::~TReadKestrixThread()
{
    RequestTermination();
    wait();
}

void TReadKestrixThread::RequestTermination()
{
    {
        QMutexLocker lock(&stopMutex_);
        stopRequested_ = true;
    }
    stopChanged_.wakeAll();
}

QString TReadKestrixThread::ErrorText() const
{
    QMutexLocker lock(&errorMutex_);
    return errorText_;
}

void TReadKestrixThread::showInfo(int messageIndex)
{
    messageIndex_ = messageIndex;
    emit ShowInfo(messageIndex);
}

void TReadKestrixThread::run()
{
    resultCode_ = ResultCancel;
    progressMax_ = 0;
    progressPosition_ = 0;
    serviceID_ = 0;
    showInfo(MsgInitializing);

    int message = MsgInitializing;
    try {
        message = readOut();
    } catch (const std::exception &error) {
        // An exception must not leave the thread; the records written so far
        // stay, and the user learns why the transfer stopped.
        QMutexLocker lock(&errorMutex_);
        errorText_ = QString::fromStdString(error.what());
        message = MsgFailed;
    }

    if (message != MsgInitializing) {
        // The message stays on screen until the user dismisses it.
        showInfo(message);
        waitForTermination();
    }
}

int TReadKestrixThread::readOut()
{
    std::unique_ptr<Ohmrida::Terminal> logger = terminals_.FindLogger();
    if (!logger)
        return MsgNoLogger;

    // A header that could not be read completely leaves nothing to check
    // against: the logger is not ready.
    Recording recording;
    if (!logger->ReadLoggerHeader(recording.settings, recording.chargeInterval, recording.dischargeInterval,
                                  recording.phaseCounts))
        return MsgNoLogger;

    TBRASKDataModule::Battery battery;
    data_.ReadSelectedBattery(battery);
    if (battery.ID <= 0 || recording.settings.capacity != battery.Capacity
        || recording.settings.batteryType != battery.Type || recording.settings.cells != battery.Cells)
        return MsgMismatch;

    if (recording.phaseCounts[0] <= 0)
        return MsgEmpty;

    return transfer(*logger, recording, battery.ID) ? MsgInitializing : MsgReadFailed;
}

bool TReadKestrixThread::readValue(Ohmrida::Terminal &logger, int32_t &millivolts)
{
    const Ohmrida::Terminal::LoggerRead first = logger.ReadLoggerValue(millivolts);
    if (first == Ohmrida::Terminal::LoggerRead::Ok)
        return true;
    // One retry, and only after complete silence: the request may have been
    // lost before the logger saw it. After a short or garbled answer the
    // logger has moved on, and a second request would file the next value
    // under this value's time. A user who asked to stop gets no retry.
    if (first == Ohmrida::Terminal::LoggerRead::BadAnswer || TerminationRequested())
        return false;
    return logger.ReadLoggerValue(millivolts) == Ohmrida::Terminal::LoggerRead::Ok;
}

bool TReadKestrixThread::transfer(Ohmrida::Terminal &logger, const Recording &recording, int batteryID)
{
    resultCode_ = ResultOK;

    TBRASKDataModule::Service service;
    service.BatteryID = batteryID;
    service.Program = recording.settings.program;
    data_.InsertService(service);
    const int serviceID = service.ID;
    serviceID_ = serviceID;

    int phases = 0;
    int total = 0;
    while (phases < MaxPhases && recording.phaseCounts[phases] > 0)
        total += recording.phaseCounts[phases++];
    progressMax_ = total;
    progressPosition_ = 0;

    QVector<Sample> batch;
    batch.reserve(SampleBatchSize);
    QElapsedTimer batchAge;
    const auto writeBatch = [&] {
        if (!batch.isEmpty())
            data_.InsertSamples(batch);
        batch.clear();
        batchAge.restart();
    };
    batchAge.start();
    const int minDeltaU = data_.MinDeltaU();

    int function = FirstFunction(recording.settings.program);
    int timeOffset = 0;
    for (int phase = 0; phase < phases && !TerminationRequested(); ++phase) {
        const int count = recording.phaseCounts[phase];
        const bool charging = function == Laden;
        const int interval = charging ? recording.chargeInterval : recording.dischargeInterval;

        StepRecord step;
        step.ServiceID = serviceID;
        step.Step = phase + 1;
        step.Function = function;
        step.Parameter = charging ? recording.settings.chargeCurrent : recording.settings.dischargeCurrent;
        data_.InsertStep(step);

        // The row is complete before the first value is read, so a cancelled
        // transfer leaves only finished rows.
        step.Duration = (count - 1) * interval;
        step.Capacity = int(qint64(step.Parameter) * step.Duration / 3600);
        step.State = OK;
        data_.StoreStepResult(step);

        int lastVoltage = -1;
        for (int value = 0; value < count && !TerminationRequested(); ++value) {
            int32_t voltage = 0;
            if (!readValue(logger, voltage)) {
                if (TerminationRequested())
                    break;   // the read was cut short by the user's cancel: a cancel, not a failure
                writeBatch();
                markAborted(recording, step, value, interval, phase, phases, function);
                return false;
            }
            Sample sample;
            sample.ServiceID = serviceID;
            sample.Step = step.Step;
            sample.Time = value * interval + timeOffset;
            sample.Voltage = voltage;
            sample.Current = step.Parameter;
            if (std::abs(sample.Voltage - lastVoltage) >= minDeltaU || value == count - 1) {
                batch.append(sample);
                lastVoltage = sample.Voltage;
                if (batch.size() >= SampleBatchSize || batchAge.elapsed() >= SampleBatchMaxAgeMs)
                    writeBatch();
            }
            emit ShowProgress(total, ++progressPosition_);
        }

        function = charging ? Entladen : Laden;
        timeOffset += step.Duration;
    }
    writeBatch();
    return true;
}

void TReadKestrixThread::markAborted(const Recording &recording, StepRecord step, int valuesRead, int interval,
                                     int phase, int phases, int function)
{
    // The step being read keeps what was read of it; the phases never begun
    // get their rows too, so the step list shows the whole recording and
    // which part of it is missing.
    step.Duration = valuesRead > 0 ? (valuesRead - 1) * interval : 0;
    step.Capacity = int(qint64(step.Parameter) * step.Duration / 3600);
    step.State = Abgebrochen;
    data_.StoreStepResult(step);
    for (int later = phase + 1; later < phases; ++later) {
        function = function == Laden ? Entladen : Laden;
        StepRecord row;
        row.ServiceID = step.ServiceID;
        row.Step = later + 1;
        row.Function = function;
        row.Parameter = function == Laden ? recording.settings.chargeCurrent : recording.settings.dischargeCurrent;
        data_.InsertStep(row);
        row.State = Abgebrochen;
        data_.StoreStepResult(row);
    }
}

void TReadKestrixThread::waitForTermination()
{
    QMutexLocker lock(&stopMutex_);
    while (!stopRequested_)
        stopChanged_.wait(&stopMutex_);
}
