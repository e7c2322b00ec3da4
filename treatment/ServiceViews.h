#pragma once
// What the treatment code needs from the windows that show treatments. The live
// control window, the diagram windows and the main window (or a console front
// end) implement these, so the run loop works and is tested without any window.

#include <QDateTime>
#include <QString>

#include <vector>

class Service;

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

// The live view of one treatment (one per treatment page).
class ServiceControlWindow {
public:
    virtual ~ServiceControlWindow() = default;

    // Once at the start: treatment ID, caption "<terminal>: Akku <ID>", nominal
    // voltage in V and the terminal's maximum current in A.
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
    // A tick whose status read got no answer: the charger has been silent for
    // this many seconds (since the start if it never answered). The next
    // answered poll's ShowTime/ShowVoltage ends it.
    virtual void ShowNoAnswer([[maybe_unused]] int secondsSinceLastAnswer) {}
    // After every tick that could not write this treatment's records (Failing,
    // with what waits), and once after the tick that wrote them all (not
    // Failing, JustRecovered).
    virtual void ShowWriteStatus([[maybe_unused]] const WriteStatus &status) {}

    // The treatment shown (nullptr once it is gone) and the battery's capacity.
    virtual void SetService(Service *service) = 0;
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

// What the main window (or the command line front end) offers the treatment
// operations.
class ServiceHost {
public:
    virtual ~ServiceHost() = default;

    // Adds a treatment page captioned "Akku <batteryID>" with a new, shown
    // control window on it and returns that window (owned by the page).
    virtual ServiceControlWindow *CreateServicePage(int batteryID) = 0;
    // Deletes the page that holds the window (and the window); when pages
    // remain, the first one becomes the active page.
    virtual void DeleteServicePage(ServiceControlWindow *window) = 0;
    // The windows of the diagram pages, in page order.
    virtual std::vector<LiveSampleSink *> DiagramWindows() = 0;
    // Brings the battery page to the front.
    virtual void ShowBatteryPage() = 0;
};
