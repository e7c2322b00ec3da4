#include "ReadKestrixThread.h"

#include "Datamodule.h"
#include "Terminal.h"
#include "TerminalManager.h"

#include <QMutexLocker>

#include <cstdlib>
#include <exception>
#include <memory>

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
    default:
        return QString();
    }
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

    transfer(*logger, recording, battery.ID);
    return MsgInitializing;
}

void TReadKestrixThread::transfer(Ohmrida::Terminal &logger, const Recording &recording, int batteryID)
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
        step.Duration = 0;
        step.Capacity = 0;
        step.State = Folgt;
        data_.InsertStep(step);

        // The row is complete before the first value is read, so a cancelled
        // transfer leaves only finished rows.
        step.Duration = (count - 1) * interval;
        step.Capacity = int(qint64(step.Parameter) * step.Duration / 3600);
        step.State = OK;
        data_.StoreStepResult(step);

        int lastVoltage = -1;
        for (int value = 0; value < count && !TerminationRequested(); ++value) {
            Sample sample;
            sample.ServiceID = serviceID;
            sample.Step = step.Step;
            sample.Time = value * interval + timeOffset;
            sample.Voltage = logger.ReadLoggerValue();
            sample.Current = step.Parameter;
            if (std::abs(sample.Voltage - lastVoltage) >= data_.MinDeltaU() || value == count - 1) {
                data_.InsertSample(sample);
                lastVoltage = sample.Voltage;
            }
            emit ShowProgress(total, ++progressPosition_);
        }

        function = charging ? Entladen : Laden;
        timeOffset += step.Duration;
    }
}

void TReadKestrixThread::waitForTermination()
{
    QMutexLocker lock(&stopMutex_);
    while (!stopRequested_)
        stopChanged_.wait(&stopMutex_);
}
