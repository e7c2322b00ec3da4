#pragma once
// TTreatmentEngine: the front ends' handle on the treatment engine. It starts
// the engine thread with its worker (TEngineWorker), which alone owns the
// terminal registry, the serial ports and every write to the database, and
// lives on the thread of its creator (the window thread, or the command
// line's). Every request returns at once and is carried out on the engine
// thread in the order given; the results come back as signals carrying
// values, on this object's thread: one per poll (Polled), one per change of
// the running treatments (TreatmentsChanged, with a copy the windows decide
// from), a page's treatment once its start has committed (TreatmentStarted).
//
// A treatment is known by the ticket of the request that started (or resumed)
// it; its page is created from TreatmentStarted and goes with
// TreatmentStopped.

#include "treatment/KestrixReadout.h"
#include "treatment/ServiceViews.h"
#include "treatment/Serviceman.h"

#include <QObject>
#include <QString>
#include <QThread>
#include <QVector>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

class SqlStore;
class TEngineWorker;

class TTreatmentEngine : public QObject {
    Q_OBJECT
public:
    // Records through its own store on the database (shared with the windows'
    // data module); the service manager creates the log file at logPath.
    TTreatmentEngine(std::shared_ptr<SqlStore> database, const std::string &logPath, QObject *parent = nullptr);
    // An engine that only searches the ports (no records, no log file).
    explicit TTreatmentEngine(QObject *parent = nullptr);
    // Program end: waits for an exchange under way, then drops the treatments
    // without telling their chargers (they keep running).
    ~TTreatmentEngine() override;
    TTreatmentEngine(const TTreatmentEngine &) = delete;
    TTreatmentEngine &operator=(const TTreatmentEngine &) = delete;

    // ---- treatments ----
    // Starts a treatment and returns its ticket. A terminal that is not filed
    // yet is searched for first. A failure comes back by CommandFailed, and
    // nothing is started then.
    int StartStandard(int batteryID, int program, int chargeCurrent, int dischargeCurrent,
                      const std::string &terminalName);
    int StartUser(int batteryID, const std::vector<UserStep> &steps, const std::string &terminalName);
    // Takes up a treatment whose recorder was gone (TServiceManager::ResumeService):
    // the ports are searched when the terminal is not filed, and a page is
    // created as for a start when the charger still runs it. The outcome
    // comes back by ResumeFinished. Returns the ticket.
    int Resume(int serviceID, int batteryID, const std::string &terminalName);
    // Closes an interrupted treatment that is not to go on (its open steps
    // become "abgebrochen"); the outcome comes back by ResumeFinished.
    void Abandon(int serviceID);
    // Stops the charger of an interrupted treatment (if it still runs it) and
    // closes the treatment (TServiceManager::StopInterrupted), after a search
    // of the ports when its terminal is not filed; the outcome comes back by
    // ResumeFinished.
    void StopInterrupted(int serviceID, const std::string &terminalName);
    // Stops the treatment of the ticket. False when the ticket holds no
    // treatment or its stop is already under way, so a second click never
    // stops another treatment.
    bool Stop(int ticket);
    // One timer tick: every port not still busy with its last round polls its
    // running treatments once more. Skipped (false) while earlier requests
    // are still under way, so an overdue timer never piles up ticks.
    bool Tick();
    void SetSamplingThresholds(int minDeltaU, int minDeltaI);
    // How long writes wait for a lock (TServiceManager::SetWriteWaits).
    void SetWriteWaits(int firstMs, int retryMs);

    // ---- the port search ----
    // Asks every port at once; the terminals come back port by port
    // (TerminalsFound) and all together at the end (SearchFinished). Returns
    // the search's number.
    int SearchTerminals();

    // ---- records of the windows and the command line ----
    // Stores a new battery (RecordStore::AddBattery); BatteryAdded says which
    // ID it got. Returns the request's ticket.
    int AddBattery(const BatteryRecord &battery, int proposal);
    void DeleteBattery(int batteryID);
    void DeleteService(int serviceID);
    void SetBatteryInfo(int batteryID, const QString &info);

    // ---- the logger ----
    // Reads the logger into a new treatment of the battery; LoggerInfo,
    // LoggerProgress and LoggerFinished report. One readout at a time.
    void ReadLogger(const BatteryRecord &battery);
    // Asks the readout to stop (before the next value, or while it shows a message).
    void CancelLogger();
    bool LoggerRunning() const { return loggerRunning_; }

    // ---- the copy of the engine's treatments ----
    bool IsStopping(int ticket) const;
    bool HasBattery(int batteryID) const;
    bool HasService(int serviceID) const;
    bool HasTerminal(const std::string &terminalName) const;
    // Started treatments, and starts still on their way.
    std::vector<TreatmentInfo> Treatments() const;
    // The treatment with that ID, or nullptr.
    const TreatmentInfo *FindService(int serviceID) const;
    // Records still to be written, of the treatments and of stopped ones.
    int WaitingWrites() const { return state_.WaitingWrites; }
    bool HasUnwritten() const { return state_.Unwritten; }
    // How each port with treatments keeps the clock, as of the last tick.
    const std::vector<PortPace> &Paces() const { return state_.Paces; }
    // Whether requests, or polls of a tick, are still under way.
    bool Busy() const { return inFlight_ > 0 || state_.RoundsOut > 0; }

    // Runs `work` on the engine thread with its manager and waits for it; for
    // tools and tests that must look inside. Never call it from the engine thread.
    void RunOnEngine(const std::function<void(TServiceManager &)> &work);

signals:
    // A request failed; the text says why (German).
    void CommandFailed(const QString &reason);
    // A treatment's rows are committed: its page shows it from now on.
    void TreatmentStarted(const TreatmentSetup &setup);
    // A treatment was stopped and left the engine: its page goes.
    void TreatmentStopped(int ticket, int serviceID);
    // One treatment's news of a tick.
    void Polled(const PollReport &report);
    // The copy of the treatments changed (a start, stop, step or tick).
    void TreatmentsChanged();
    // A tick has been carried out (polled or not).
    void TickDone();
    // A Resume or Abandon is done: resumed tells whether the treatment goes on;
    // the text says what became of it (German).
    void ResumeFinished(int serviceID, bool resumed, const QString &text);
    void TerminalsFound(int search, const QVector<TerminalInfo> &terminals);
    void SearchFinished(int search, const QVector<TerminalInfo> &terminals);
    // The engine wrote these records; lists showing them read them again.
    void RecordsWritten(const RecordChange &change);
    void BatteryAdded(int ticket, const AddedBattery &added);
    void LoggerInfo(int message, const QString &text);
    void LoggerProgress(int maximum, int position);
    void LoggerFinished(const LoggerOutcome &outcome);

private:
    void connectWorker();
    // Queues work for the worker as the request of a new ticket.
    int request(const std::function<void(TEngineWorker &, int ticket)> &work);
    void post(const std::function<void(TEngineWorker &)> &work);
    int addPendingStart(int batteryID, const std::string &terminalName, int program, int chargeCurrent,
                        int dischargeCurrent);
    void requestDone(int ticket, const EngineState &state);

    QThread thread_;
    std::unique_ptr<TEngineWorker> worker_;
    int nextTicket_ = 1;
    int nextSearch_ = 1;
    int inFlight_ = 0;
    EngineState state_;
    std::map<int, TreatmentInfo> pendingStarts_;
    std::set<int> stopping_;
    TKestrixReadout::StopFlag loggerStop_;
    bool loggerRunning_ = false;
};
