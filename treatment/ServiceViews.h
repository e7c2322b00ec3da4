#pragma once
// What the treatment engine tells its front ends (the main window, the command
// line), as values: a terminal the search found, a treatment that started,
// each treatment's news of a tick, the copy of the running treatments. The
// engine sends them as signals from its thread; nothing in them points into
// the engine. And the views that show treatments: the live window of a
// treatment page and the diagram windows, fed from those values on the
// windows' own thread, so the run loop works and is tested without a window.

#include "database/Records.h"

#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <QVector>

#include <string>
#include <vector>

// Whether a treatment's records reach the database. While writing fails (file
// locked by another program, disk full, server gone), the samples and step
// results wait in memory, in order, and are written by the next tick that
// succeeds.
struct WriteStatus {
    bool Failing = false;
    QDateTime Since;            // first failed write of this outage (local time)
    QString Reason;             // the database's message of the last failure
    int WaitingSamples = 0;
    int WaitingSteps = 0;       // step results not yet written
    int DroppedSamples = 0;     // samples beyond the waiting room of this outage, lost
    // What the write that ended the outage made good (0 on every other tick).
    int RecoveredSamples = 0;
    int RecoveredSteps = 0;
    bool JustRecovered() const { return RecoveredSamples + RecoveredSteps > 0; }
};

// "1 Messwert und 3 Schrittergebnisse".
inline QString RecordsText(int samples, int steps)
{
    return QStringLiteral("%1 %2 und %3 %4")
        .arg(samples)
        .arg(samples == 1 ? QStringLiteral("Messwert") : QStringLiteral("Messwerte"))
        .arg(steps)
        .arg(steps == 1 ? QStringLiteral("Schrittergebnis") : QStringLiteral("Schrittergebnisse"));
}

// "Speichern fehlgeschlagen seit 14:05:09 – 12 Messwerte warten" (with
// waiting step results and lost samples when there are any); empty when
// writing works.
inline QString WriteStatusText(const WriteStatus &status)
{
    if (!status.Failing)
        return QString();
    QString text = QStringLiteral("Speichern fehlgeschlagen seit %1 \u2013 %2 %3")
                       .arg(status.Since.time().toString(QStringLiteral("HH:mm:ss")))
                       .arg(status.WaitingSamples)
                       .arg(status.WaitingSamples == 1 ? QStringLiteral("Messwert wartet")
                                                       : QStringLiteral("Messwerte warten"));
    if (status.WaitingSteps > 0)
        text += QStringLiteral(", %1 Schrittergebnis%2").arg(status.WaitingSteps).arg(
            status.WaitingSteps == 1 ? QString() : QStringLiteral("se"));
    if (status.DroppedSamples > 0)
        text += QStringLiteral(", %1 verworfen").arg(status.DroppedSamples);
    return text;
}

// A charger terminal a search found: "Varn/Akku2 an COM5", the device type
// (Ohmrida::DeviceTypes), its port 1..9, its channel address and current limits.
struct TerminalInfo {
    QString Name;
    int Kind = 0;
    int Port = 0;
    int Address = 0;
    int MinCurrent = 0, MaxCurrent = 0;   // mA
};

// A treatment whose rows are committed, with what its page shows from the
// start: caption "<terminal>: Akku <ID>", nominal voltage in V (fraction
// dropped), the terminal's maximum current in A and the battery's capacity.
struct TreatmentSetup {
    int Ticket = 0;        // of the start or resume that made it
    int ServiceID = 0;
    int BatteryID = 0;
    QString BatteryName;   // the battery's description
    QString Terminal;
    QString Caption;
    int Program = 0;
    double NominalVoltage = 0;
    double MaxCurrentA = 0;
    int NominalCapacity = 0;
    bool Resumed = false;
    QVector<StepRecord> Steps;
};

// One treatment's news of one tick: its poll (when it was the one polled),
// and how writing its records went.
struct PollReport {
    int ServiceID = 0;
    bool Polled = false;     // this tick polled the treatment
    bool Sent = false;       // ... the poll reached the port (not held elsewhere past its wait)
    bool Answered = false;   // ... and the charger answered
    int StepTime = 0;        // s into the running step
    int Voltage = 0;         // mV
    int Current = 0;         // mA
    int Capacity = 0;        // mAh
    int Function = 0;        // StepFunction shown (Warten once ended)
    int SampleTime = 0;      // s since the treatment started
    int SilentSeconds = 0;   // without answer: since the last answer (or the start)
    // What went wrong in the poll (an Ohmrida::Reply::Kind, 0: nothing): why
    // it got no reading, or a command the charger refused. In words naming
    // the terminal and its port, and in a few words for the live page.
    int FaultKind = 0;
    QString Fault;
    QString FaultLabel;
    int RejectedAnswers = 0;   // answers turned down since the start
    int LateSamples = 0, LateSteps = 0;   // rows written only after an outage, since the start
    bool StepsWritten = false;   // step rows were written: lists read them again
    bool WriteShown = false;     // Write is news (failing, or just recovered)
    WriteStatus Write;
    int Waiting = 0;         // records of the treatment not yet written
    int State = 0;           // Service::State
    int CurrentStep = 0;     // 0-based (the step count once all are done)
    QVector<StepRecord> Steps;   // with their states as far as they are written
};

// One treatment held by the engine, as the windows see it.
struct TreatmentInfo {
    int Ticket = 0;
    int ServiceID = 0;   // 0 while its start is still on the way
    int BatteryID = 0;
    std::string Terminal;
    int Program = 0;
    int ChargeCurrent = 0;
    int DischargeCurrent = 0;
    int State = 0;          // Service::State
    int CurrentStep = 0;
    int LastStepTime = 0;   // s into the running step at the last answered poll
    bool Stopping = false;  // a stop was given and is not done yet
};

// The engine's treatments after a request or a tick, and what still waits to
// be written (of them and of stopped ones).
// How one port keeps the clock. Its treatments are asked one after another,
// so a round takes their line time together; a round that does not fit in the
// clock makes the port skip ticks, and its treatments are polled less often.
struct PortPace {
    int Port = 0;
    int Treatments = 0;    // polled in its last round
    int RoundMs = 0;       // how long its last round took
    int PeriodMs = 0;      // between the starts of its last two rounds (0: one round so far)
    bool Stretched = false;   // a tick found its round still under way
};

// The text the options dialog shows for the ports whose period stretched;
// empty when every treatment is polled at the clock.
QString PacesText(const std::vector<PortPace> &paces, int clockMs);

struct EngineState {
    std::vector<TreatmentInfo> Treatments;
    std::vector<PortPace> Paces;   // of the ports with treatments
    int RoundsOut = 0;             // ports still polling a round
    int WaitingWrites = 0;
    bool Unwritten = false;   // records or an ended treatment's registration still to write
};

// The live view of one treatment (one per treatment page).
class ServiceControlWindow {
public:
    virtual ~ServiceControlWindow() = default;

    // Once at the start: treatment ID, caption, nominal voltage in V and the
    // terminal's maximum current in A.
    virtual void SetupService(int serviceID, const QString &caption, double nominalVoltage,
                              double maxCurrentA) = 0;
    // Fed on every tick that polled this treatment, in this order:
    virtual void ShowTime(int seconds) = 0;      // elapsed time of the running step
    virtual void ShowVoltage(double volts) = 0;
    virtual void ShowCurrent(double amps) = 0;
    virtual void AddVoltagePoint(double volts) = 0;
    virtual void SetStepFunction(int function) = 0;   // 0 Entladen, 1 Laden, 2 Warten
    virtual void ShowCapacity(int mAh) = 0;
    // A step row of the treatment was written: re-read the step list.
    virtual void RefreshSteps() = 0;
    // A tick whose poll got no reading: the charger has given none for this
    // many seconds (since the start if it never gave one); `fault` says what
    // came instead ("keine Antwort", "unverständliche Antwort", "Befehl
    // abgelehnt"). The next answered poll's ShowTime/ShowVoltage ends it.
    virtual void ShowNoAnswer([[maybe_unused]] int secondsSinceLastAnswer, [[maybe_unused]] const QString &fault) {}
    // After every tick that could not write this treatment's records (Failing,
    // with what waits), and once after the tick that wrote them all (not
    // Failing, JustRecovered).
    virtual void ShowWriteStatus([[maybe_unused]] const WriteStatus &status) {}
    virtual void SetNominalCapacity(int mAh) = 0;
};

// A window that draws curves and takes live points of running treatments; it
// decides itself whether it shows the treatment.
class LiveSampleSink {
public:
    virtual ~LiveSampleSink() = default;
    // kind 0: voltage in V, kind 1: current in mA; time in s; phase = step function.
    virtual void AddLiveSample(int serviceID, int kind, double time, double value, int phase) = 0;
};

// Sets up a new treatment page's live window.
void SetUpControlWindow(ServiceControlWindow &window, const TreatmentSetup &setup);
// Shows a tick's news in the live window, in the order above: the values of
// an answered poll (or the silence of an unanswered one), then the step list
// when rows were written, then the write status when it is news.
void FeedControlWindow(ServiceControlWindow &window, const PollReport &report);
// Hands an answered poll's voltage (V) and current (mA) to the diagrams.
void FeedDiagrams(const std::vector<LiveSampleSink *> &diagrams, const PollReport &report);

Q_DECLARE_METATYPE(WriteStatus)
Q_DECLARE_METATYPE(TerminalInfo)
Q_DECLARE_METATYPE(TreatmentSetup)
Q_DECLARE_METATYPE(PollReport)
Q_DECLARE_METATYPE(EngineState)
