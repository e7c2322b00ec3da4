#pragma once
// TServiceManager: holds every started treatment until it is closed, polls
// every running one at each timer tick (the ports side by side, the
// treatments of one port one after another), reports what each tick brought as values,
// and offers the start, stop and resume operations. Writes "log.txt": one
// line per poll. It belongs to the thread of the treatment engine (with its
// record store and terminal registry); tests drive it directly.

#include "treatment/Service.h"
#include "treatment/ServiceViews.h"
#include "treatment/TerminalLock.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace Ohmrida { class TerminalManager; }

// One step of a user program as the selection dialog's grid gives it.
struct UserStep {
    int Function = Laden;   // Entladen or Laden
    int Current = 0;        // mA
    int TimeLimit = 0;      // s, 0 = none
};

// Thrown by ParseUserSteps for a cell it cannot read.
class UserStepError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The steps of a user program from grid rows (function, current, limit cells).
// A row is a step when its function and current cells are both non-empty
// (after trimming); "E" is Entladen, "L" Laden (either case); an empty limit
// is 0. Throws UserStepError naming the row for another function letter, a
// current that is not a positive whole number, or a negative/non-numeric limit.
struct UserGridRow {
    QString Function, Current, Limit;
};
std::vector<UserStep> ParseUserSteps(const std::vector<UserGridRow> &rows);

class TServiceManager {
public:
    // Creates (truncates) the log file; the default is "log.txt" in the current
    // directory.
    TServiceManager(RecordStore &database, Ohmrida::TerminalManager &terminals,
                    const std::string &logPath = "log.txt");
    // Program end: deletes the treatments without stopping their terminals;
    // nothing is sent. Records still waiting to be written get a last try.
    ~TServiceManager();
    TServiceManager(const TServiceManager &) = delete;
    TServiceManager &operator=(const TServiceManager &) = delete;

    // Appends.
    Service *Add(std::unique_ptr<Service> service);
    // Takes the treatment out and deletes it (its rows stay).
    void Remove(Service *service);
    bool HasService(int serviceID) const;
    bool HasBattery(int batteryID) const;
    bool HasTerminal(const std::string &terminalName) const;
    // One port's share of a tick: its running treatments in list order,
    // polled one after another on the port's own thread (Run) while the
    // other ports are polled at the same time. Until the round is given back
    // (FinishRounds) its treatments are lent out: nothing else touches them.
    struct PortRound {
        struct Poll {
            Service *Polled = nullptr;
            Sample Taken;
        };
        int Port = 0;
        std::vector<Poll> Polls;
        std::string Log;   // the round's lines of log.txt
        // Polls every treatment of the round once; touches only them and their port.
        void Run();
    };
    // The rounds of a tick: one per port that has a running treatment and is
    // not in busyPorts (whose round of an earlier tick is still under way:
    // their period stretches). Lends out their treatments.
    std::vector<PortRound> TakeRounds(const std::set<int> &busyPorts = {});
    // What one tick brought: the treatments polled, the news of every
    // treatment that has some (the polled ones, those whose records were
    // tried and failed or were made good, those whose step rows went in), and
    // whether any step row was written (also of stopped ones).
    struct TickResult {
        std::vector<Service *> Polled;
        std::vector<PollReport> Reports;
        bool StepRowsWritten = false;
    };
    // Takes the rounds back, appends their log lines, then writes what waits
    // of every treatment not lent out (samples, step results, heartbeats and
    // registrations) in one transaction, oldest first, and reports. What
    // cannot be written (file locked past the wait, disk full, server gone)
    // stays waiting, in order, for the next call, while the polls go on. Once
    // a write has failed, the next ones wait only briefly for a lock (see
    // SetWriteWaits), so the polls keep their pace. The heartbeat and the
    // registration follow the written rows and never run ahead of them.
    // Swallows every exception.
    TickResult FinishRounds(std::vector<PortRound> rounds);
    // Whether the treatment is out in a round.
    bool IsLent(const Service *service) const { return lent_.count(service) > 0; }
    // The timer tick on the calling thread: every running treatment polled
    // once, port after port, then written and reported as above. A call
    // made while a tick runs does nothing.
    TickResult Tick();
    // The news of one treatment as a tick would report it, not polled.
    PollReport ReportOf(const Service &service) const;
    // What the treatment's page shows from its start.
    TreatmentSetup SetupOf(const Service &service) const;

    // Both starts check battery, terminal and currents before anything is
    // written (ServiceStartError) and claim the terminal (TerminalBusyError),
    // then write the treatment with its rows and registration in one commit
    // and add the treatment; the terminal is touched only by the first poll.
    Service *StartStandardService(int batteryID, int program, int chargeCurrent, int dischargeCurrent,
                                  const std::string &terminalName);
    Service *StartUserService(int batteryID, const std::vector<UserStep> &steps, const std::string &terminalName);
    // Stops (aborts unless ended) and removes the treatment. What waits to be
    // written is written first (with the full busy time-out). When that
    // fails, the charger is stopped and the treatment removed all the same,
    // the records are kept and written by a later tick, and a DatabaseError
    // says so.
    void StopService(Service *service);

    // Every started treatment holds its terminal's lock (TerminalLock) and is
    // registered as running (RecordStore::RegisterRunning) together with
    // its rows; the polls keep its heartbeat, and its registration goes when it
    // ends or is stopped. A start on a terminal that another live process
    // holds is refused (TerminalBusyError) before anything is written or sent;
    // an interrupted treatment left on that terminal is closed first, as its
    // charger is about to be reprogrammed.
    //
    // Takes up an interrupted treatment (see Resume.h): refuses while its
    // recorder lives or another process holds the terminal, asks the charger
    // for its status (the terminal must be filed: the engine searches the
    // ports first), and either adds the treatment (returned) or, when the
    // charger no longer runs it or was restarted, closes its open steps
    // ("abgebrochen", at the last stored sample) and returns nullptr.
    // `outcome` gets what became of it (German). A charger that gives no
    // plausible answer, or a terminal not found, leaves it interrupted
    // (ServiceStartError).
    Service *ResumeService(int serviceID, QString *outcome = nullptr);
    // The user does not want an interrupted treatment to go on: its charger
    // is stopped when it still runs the treatment (or does not answer
    // clearly), and its open steps are closed at the last stored sample.
    // Returns what happened (German). A refused stop leaves it interrupted
    // (ServiceStartError), as do a live recorder and a busy terminal. The
    // terminal must be filed, as for a resume.
    QString StopInterrupted(int serviceID);
    // Closes an interrupted treatment without asking its charger (its records
    // are gone, or another treatment is about to reprogram the terminal).
    void AbandonService(int serviceID);
    // The lock of the terminal, after checking the registry for a live owner
    // of it on this machine (other than the treatment `resuming`); closes
    // interrupted treatments on it other than that one. Throws
    // TerminalBusyError. A front end may claim before it searches the ports,
    // so that a refused start sends nothing at all.
    std::unique_ptr<TerminalLock> ClaimTerminal(const std::string &terminalName, int resuming = 0);
    // The treatment with that ID, nullptr if none.
    Service *ServiceOf(int serviceID) const;

    // The terminal registry the treatments are started on.
    Ohmrida::TerminalManager &Terminals() const { return terminals_; }

    int Count() const { return static_cast<int>(services_.size()); }
    Service *At(int index) const { return services_.at(static_cast<size_t>(index)).get(); }

    // Flushes the log file (it is also flushed after every line).
    void FlushLog();

    // How long a write waits for a lock another program holds: firstMs while
    // writing works (negative: the data module's busy time-out), retryMs once
    // a write has failed, until one succeeds. Defaults: -1 and 500 ms.
    void SetWriteWaits(int firstMs, int retryMs);
    // Whether the last write attempt failed.
    bool WritesFailing() const { return writesFailing_; }
    // Records not yet written, of the listed treatments (not lent out) and of
    // stopped ones whose records could not be written when they were stopped.
    int WaitingWrites() const;
    // Whether anything is still to be written, or an ended treatment's
    // registration still to be removed.
    bool HasUnwritten() const;
    // The write-ahead log is emptied into the file after an outage's backlog
    // is written, and whenever it grows past this.
    static constexpr qint64 MaxJournalBytes = 16 * 1024 * 1024;

private:
    Service *startService(int batteryID, const std::string &terminalName,
                          const std::function<std::unique_ptr<Service>(const Ohmrida::Terminal &)> &build);
    // Writes what waits of the treatments not lent out, stopped ones first,
    // with the heartbeats of `polled` and the registrations of ended ones, in
    // one transaction; on a failure other than a lock, each treatment alone.
    void writePending(const std::set<const Service *> &polled);
    // Each treatment's records and registry rows in a transaction of its own;
    // returns whether any records were written and whether any failed.
    std::pair<bool, bool> writeEach(const std::set<const Service *> &polled);
    // Empties the write-ahead log into the file once an outage's backlog is in
    // (or the log has grown long).
    void compactJournal(bool outage, bool wrote, bool failed);
    // The registry rows of a treatment whose records are written (no transaction).
    void registryRows(const Service &service, bool polled);
    void registryWritten(const Service &service);
    int writeWait() const { return writesFailing_ ? retryWaitMs_ : firstWaitMs_; }
    // Out of the list, without deleting it; lock and registration as Remove.
    std::unique_ptr<Service> take(Service *service);

    RecordStore &database_;
    Ohmrida::TerminalManager &terminals_;
    std::ofstream log_;
    std::vector<std::unique_ptr<Service>> services_;
    // When each treatment's charger last answered a status read (or was added).
    std::map<const Service *, std::chrono::steady_clock::time_point> lastAnswer_;
    // The terminal locks of the treatments, and the IDs still registered as running.
    std::map<const Service *, std::unique_ptr<TerminalLock>> locks_;
    std::set<int> registered_;
    std::set<const Service *> lent_;
    bool ticking_ = false;

    // Stopped treatments (charger stopped, page gone) whose records or
    // registration removal could not be written yet.
    struct Closing {
        std::unique_ptr<Service> service;
        bool registered = false;
    };
    std::vector<Closing> closing_;
    int firstWaitMs_ = -1;
    int retryWaitMs_ = 500;
    bool writesFailing_ = false;
    bool journalToCompact_ = false;   // an emptying of the log that could not be done yet
    // Of the last write round: whose write was tried, whose step rows went in.
    std::set<const Service *> writeTried_;
    std::set<const Service *> stepsWritten_;
    bool stepRowsWritten_ = false;   // of any treatment, stopped ones too
};
