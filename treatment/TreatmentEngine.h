#pragma once
// TTreatmentEngine: runs the service manager on a thread of its own, so that no
// serial exchange and no durable write ever holds up the windows. The windows
// talk to it from their thread: they give commands (start, stop, tick) that are
// carried out on the engine thread in the order given, and they are fed through
// the ServiceHost they hand in, always on their own thread and in the order the
// manager fed them.
//
// A treatment is known to the windows by a ticket, handed out when its start is
// given; its page is asked for (CreateServicePage) once the engine has checked
// the battery and the terminal, and dropped again if the start then fails.
// What the windows need to decide (which batteries, treatments and terminals are
// busy) is a copy that the engine sends after every command and tick.

#include "Serviceman.h"
#include "ServiceViews.h"

#include <QObject>
#include <QString>
#include <QThread>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

class TBRASKDataModule;
namespace Ohmrida { class TerminalManager; }

// One treatment held by the engine, as the windows see it.
struct TreatmentInfo {
    int Ticket = 0;
    int ServiceID = 0;   // 0 while its start is still on the way
    int BatteryID = 0;
    std::string Terminal;
    int Program = 0;
    int ChargeCurrent = 0;
    int DischargeCurrent = 0;
    int State = 0;         // Service::State
    int CurrentStep = 0;
    int LastStepTime = 0;   // s into the running step at the last answered poll
    bool Stopping = false;   // a stop was given and is not done yet
};

class TTreatmentEngine : public QObject {
    Q_OBJECT
public:
    // The manager is created here (it creates the log file) and lives on the
    // engine thread from now on; `windows` is fed on this object's thread.
    TTreatmentEngine(TBRASKDataModule &database, Ohmrida::TerminalManager &terminals, ServiceHost &windows,
                     const std::string &logPath, QObject *parent = nullptr);
    // Program end: waits for an exchange under way, then drops the treatments
    // without telling their chargers (they keep running), as the manager does.
    ~TTreatmentEngine() override;
    TTreatmentEngine(const TTreatmentEngine &) = delete;
    TTreatmentEngine &operator=(const TTreatmentEngine &) = delete;

    // Commands; each returns at once. A failure is reported by CommandFailed.
    int StartStandard(int batteryID, int program, int chargeCurrent, int dischargeCurrent,
                      const std::string &terminalName);
    int StartUser(int batteryID, const std::vector<UserStep> &steps, const std::string &terminalName);
    // Takes up a treatment whose recorder was gone (TServiceManager::ResumeService):
    // the ports are searched on the engine thread when the terminal is not known,
    // and a page is created as for a start when the charger still runs it.
    // The outcome comes back by ResumeFinished. Returns the ticket.
    int Resume(int serviceID, int batteryID, const std::string &terminalName);
    // Closes an interrupted treatment that is not to go on (its open steps
    // become "abgebrochen"); the outcome comes back by ResumeFinished.
    void Abandon(int serviceID);
    // Stops the treatment of the ticket (a page whose start failed is just
    // closed). False when the ticket is unknown or its stop is already under way,
    // so a second click never stops another treatment.
    bool Stop(int ticket);
    // One timer tick; skipped (false) while earlier work is still under way, so
    // an overdue timer never piles up ticks.
    bool Tick();

    // The ticket of a treatment page's window (0: none, e.g. a failed start).
    int TicketOf(const ServiceControlWindow *window) const;
    bool IsStopping(int ticket) const;
    bool HasBattery(int batteryID) const;
    bool HasService(int serviceID) const;
    bool HasTerminal(const std::string &terminalName) const;
    std::vector<TreatmentInfo> Treatments() const;
    // The treatment with that ID, or nullptr.
    const TreatmentInfo *FindService(int serviceID) const;
    // Whether commands or a tick are still under way on the engine thread.
    bool Busy() const { return inFlight_ > 0; }

    // Runs `work` on the engine thread with its manager and waits for it; for
    // tools and tests that must look inside. Never call it from the engine thread.
    void RunOnEngine(const std::function<void(TServiceManager &)> &work);

signals:
    // A start or stop failed; the text says why (German).
    void CommandFailed(const QString &reason);
    // The copy of the held treatments changed (a start, stop or step).
    void TreatmentsChanged();
    // A tick has been carried out (polled or not).
    void TickDone();
    // A Resume or Abandon is done: resumed tells whether the treatment goes on;
    // the text says what became of it (German).
    void ResumeFinished(int serviceID, bool resumed, const QString &text);

private:
    class Worker;
    class RemoteHost;
    class RemoteWindow;
    class RemoteDiagrams;

    // Runs `work` on the engine thread; the copy of the treatments follows it
    // back, together with the end of the start of `startTicket` (if any).
    void dispatch(std::function<void(Worker &)> work, int startTicket = 0);
    int addPendingStart(int batteryID, const std::string &terminalName, int program, int chargeCurrent,
                        int dischargeCurrent);
    // Called on this object's thread by what the worker posts.
    void setSnapshot(std::vector<TreatmentInfo> snapshot);
    ServiceControlWindow *windowOf(int ticket) const;
    void createPage(int ticket, int batteryID);
    void deletePage(int ticket);

    ServiceHost &windows_;
    QThread thread_;
    std::unique_ptr<Worker> worker_;
    std::unique_ptr<QObject> threadContext_;   // lives on thread_: the target of the posted work
    int nextTicket_ = 1;
    int inFlight_ = 0;
    std::map<int, ServiceControlWindow *> pages_;
    std::vector<TreatmentInfo> snapshot_;
    std::map<int, TreatmentInfo> pendingStarts_;
    std::set<int> stopping_;
};
