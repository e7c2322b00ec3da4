#pragma once
// TEngineWorker: the treatment engine's side on its own thread. It owns what
// only one thread may touch: the terminal registry with the serial ports, the
// port search, the record store that does every write, the service manager
// with the running treatments, and a logger readout while one runs. Requests
// arrive as queued calls from TTreatmentEngine; results leave as signals that
// carry values. Nothing of it is reached from another thread.

#include "treatment/KestrixReadout.h"
#include "treatment/ServiceViews.h"
#include "treatment/Serviceman.h"

#include <QObject>
#include <QString>
#include <QVector>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class RecordStore;
class SqlStore;
class TPortPollers;
class TPortSearch;
namespace Ohmrida { class TerminalManager; }

class TEngineWorker : public QObject {
    Q_OBJECT
public:
    // Without a database it only searches (no records, no log file).
    TEngineWorker(std::shared_ptr<SqlStore> database, const std::string &logPath);
    ~TEngineWorker() override;

    // ---- requests (on the engine thread) ----
    void StartStandard(int ticket, int batteryID, int program, int chargeCurrent, int dischargeCurrent,
                       const std::string &terminal);
    void StartUser(int ticket, int batteryID, const std::vector<UserStep> &steps, const std::string &terminal);
    void Resume(int ticket, int serviceID, const std::string &terminal);
    void Abandon(int ticket, int serviceID);
    void StopInterrupted(int ticket, int serviceID, const std::string &terminal);
    void Stop(int ticket);
    // Sends every port that is not still busy with its last round a round of
    // its running treatments; when the rounds of this tick are back, their
    // records are written in one transaction and reported (Polled, TickDone).
    void Tick(int ticket);
    void Search(int search);
    void SetSamplingThresholds(int minDeltaU, int minDeltaI);
    void SetWriteWaits(int firstMs, int retryMs);
    void AddBattery(int ticket, const BatteryRecord &battery, int proposal);
    void DeleteBattery(int ticket, int batteryID);
    void DeleteService(int ticket, int serviceID);
    void SetBatteryInfo(int ticket, int batteryID, const QString &info);
    void ReadLogger(const BatteryRecord &battery, TKestrixReadout::StopFlag stop);
    void CheckLoggerStop();
    // Runs work with the manager (tools and tests that look inside).
    void Inspect(const std::function<void(TServiceManager &)> &work);
    // Program end: drops the treatments on this thread (their chargers keep
    // running), ends the port workers.
    void Shutdown();

signals:
    // The request of this ticket is done; the treatments as they are now.
    void Done(int ticket, const EngineState &state);
    void Failed(int ticket, const QString &reason);
    void Started(const TreatmentSetup &setup);
    void Stopped(int ticket, int serviceID);
    void Polled(const PollReport &report);
    void TickDone();
    // The treatments as they are after a tick's rounds came back.
    void StateChanged(const EngineState &state);
    void ResumeFinished(int serviceID, bool resumed, const QString &text);
    void TerminalsFound(int search, const QVector<TerminalInfo> &terminals);
    void SearchFinished(int search, const QVector<TerminalInfo> &terminals);
    void RecordsWritten(const RecordChange &change);
    void BatteryAdded(int ticket, const AddedBattery &added);
    void LoggerInfo(int message, const QString &text);
    void LoggerProgress(int maximum, int position);
    void LoggerFinished(const LoggerOutcome &outcome);

private:
    // Runs a request: a failure is reported, and the request is done either way.
    void run(int ticket, const std::function<void()> &work);
    void done(int ticket);
    void fail(int ticket, const std::exception_ptr &failure);
    // Runs work once the terminal is filed: at once, or after a search of all ports.
    void withTerminal(const std::string &terminal, const std::function<void()> &work);
    void started(int ticket, Service *service, bool resumed);
    RecordStore &records();
    TServiceManager &manager();
    // Made on first use, on the engine thread, as its workers' answers are.
    TPortSearch &search();
    QVector<TerminalInfo> terminalsOn(int port) const;
    EngineState state() const;
    void roundBack(int tick, TServiceManager::PortRound round, std::chrono::steady_clock::time_point began);
    // Writes and reports the rounds that are back; then the requests that
    // waited for their treatments.
    void finishRounds();

    std::unique_ptr<Ohmrida::TerminalManager> terminals_;
    std::unique_ptr<RecordStore> records_;
    std::unique_ptr<TServiceManager> manager_;
    std::unique_ptr<TPortSearch> search_;
    std::unique_ptr<TPortPollers> pollers_;
    // Rounds back from their ports and not yet written.
    std::vector<TServiceManager::PortRound> returned_;
    int tick_ = 0;       // the number of the latest tick
    int tickOpen_ = 0;   // its rounds still under way
    std::chrono::steady_clock::time_point lastTick_;
    int tickIntervalMs_ = 0;
    std::map<int, PortPace> paces_;
    std::map<int, std::chrono::steady_clock::time_point> roundBegan_;
    // What the windows last saw of each treatment, for those out in a round.
    mutable std::map<int, TreatmentInfo> shown_;
    // Requests that wait until their treatment is back from its round.
    std::vector<std::function<void()>> waiting_;
    std::unique_ptr<TKestrixReadout> readout_;
    std::map<int, int> tickets_;   // service ID -> ticket of its start or resume
};
