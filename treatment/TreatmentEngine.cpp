#include "TreatmentEngine.h"

#include "Service.h"

#include <QMetaObject>

#include <algorithm>
#include <exception>

// ---- what the engine thread holds ------------------------------------------------------

// Stands for a treatment page on the engine thread: every call is carried to
// the page's window on the windows' thread, in order.
class TTreatmentEngine::RemoteWindow : public ServiceControlWindow {
public:
    RemoteWindow(TTreatmentEngine &engine, int ticket) : engine_(engine), ticket_(ticket) {}
    int Ticket() const { return ticket_; }

    void SetupService(int serviceID, const QString &caption, double nominalVoltage, double maxCurrentA) override
    {
        post([=](ServiceControlWindow &w) { w.SetupService(serviceID, caption, nominalVoltage, maxCurrentA); });
    }
    void ShowTime(int seconds) override { post([=](ServiceControlWindow &w) { w.ShowTime(seconds); }); }
    void ShowVoltage(double volts) override { post([=](ServiceControlWindow &w) { w.ShowVoltage(volts); }); }
    void ShowCurrent(double amps) override { post([=](ServiceControlWindow &w) { w.ShowCurrent(amps); }); }
    void AddVoltagePoint(double volts) override
    {
        post([=](ServiceControlWindow &w) { w.AddVoltagePoint(volts); });
    }
    void SetStepFunction(int function) override
    {
        post([=](ServiceControlWindow &w) { w.SetStepFunction(function); });
    }
    void ShowCapacity(int mAh) override { post([=](ServiceControlWindow &w) { w.ShowCapacity(mAh); }); }
    void RefreshSteps() override { post([](ServiceControlWindow &w) { w.RefreshSteps(); }); }
    void ShowNoAnswer(int seconds) override { post([=](ServiceControlWindow &w) { w.ShowNoAnswer(seconds); }); }
    void ShowWriteStatus(const WriteStatus &status) override
    {
        post([=](ServiceControlWindow &w) { w.ShowWriteStatus(status); });
    }
    // The treatment object stays on the engine thread; the window knows its
    // treatment by the ID that SetupService gives it.
    void SetService(Service *) override {}
    void SetNominalCapacity(int mAh) override
    {
        post([=](ServiceControlWindow &w) { w.SetNominalCapacity(mAh); });
    }

private:
    void post(std::function<void(ServiceControlWindow &)> call)
    {
        TTreatmentEngine *engine = &engine_;
        const int ticket = ticket_;
        QMetaObject::invokeMethod(
            engine,
            [engine, ticket, call = std::move(call)] {
                if (ServiceControlWindow *window = engine->windowOf(ticket))
                    call(*window);
            },
            Qt::QueuedConnection);
    }

    TTreatmentEngine &engine_;
    const int ticket_;
};

// Hands live points to whatever diagram windows are open when they arrive.
class TTreatmentEngine::RemoteDiagrams : public LiveSampleSink {
public:
    explicit RemoteDiagrams(TTreatmentEngine &engine) : engine_(engine) {}
    void AddLiveSample(int serviceID, int kind, double time, double value, int phase) override
    {
        TTreatmentEngine *engine = &engine_;
        QMetaObject::invokeMethod(
            engine,
            [=] {
                for (LiveSampleSink *diagram : engine->windows_.DiagramWindows())
                    if (diagram)
                        diagram->AddLiveSample(serviceID, kind, time, value, phase);
            },
            Qt::QueuedConnection);
    }

private:
    TTreatmentEngine &engine_;
};

// The manager's host on the engine thread: pages become remote windows.
class TTreatmentEngine::RemoteHost : public ServiceHost {
public:
    explicit RemoteHost(TTreatmentEngine &engine) : engine_(engine), diagrams_(engine) {}

    // The ticket the next CreateServicePage belongs to.
    void SetPendingTicket(int ticket) { pendingTicket_ = ticket; }

    ServiceControlWindow *CreateServicePage(int batteryID) override
    {
        const int ticket = pendingTicket_;
        auto &window = windows_[ticket];
        window = std::make_unique<RemoteWindow>(engine_, ticket);
        TTreatmentEngine *engine = &engine_;
        QMetaObject::invokeMethod(
            engine, [engine, ticket, batteryID] { engine->createPage(ticket, batteryID); }, Qt::QueuedConnection);
        return window.get();
    }
    void DeleteServicePage(ServiceControlWindow *window) override
    {
        const int ticket = TicketOf(window);
        if (ticket == 0)
            return;
        windows_.erase(ticket);
        TTreatmentEngine *engine = &engine_;
        QMetaObject::invokeMethod(engine, [engine, ticket] { engine->deletePage(ticket); }, Qt::QueuedConnection);
    }
    std::vector<LiveSampleSink *> DiagramWindows() override { return {&diagrams_}; }
    void ShowBatteryPage() override
    {
        TTreatmentEngine *engine = &engine_;
        QMetaObject::invokeMethod(engine, [engine] { engine->windows_.ShowBatteryPage(); }, Qt::QueuedConnection);
    }

    int TicketOf(const ServiceControlWindow *window) const
    {
        for (const auto &entry : windows_)
            if (entry.second.get() == window)
                return entry.first;
        return 0;
    }
    ServiceControlWindow *WindowOf(int ticket) const
    {
        const auto found = windows_.find(ticket);
        return found == windows_.end() ? nullptr : found->second.get();
    }

private:
    TTreatmentEngine &engine_;
    RemoteDiagrams diagrams_;
    std::map<int, std::unique_ptr<RemoteWindow>> windows_;
    int pendingTicket_ = 0;
};

class TTreatmentEngine::Worker {
public:
    Worker(TTreatmentEngine &engine, TBRASKDataModule &database, Ohmrida::TerminalManager &terminals,
           const std::string &logPath)
        : host(engine), manager(std::make_unique<TServiceManager>(database, terminals, logPath))
    {
    }

    std::vector<TreatmentInfo> Snapshot() const
    {
        std::vector<TreatmentInfo> treatments;
        if (!manager)
            return treatments;
        for (int i = 0; i < manager->Count(); ++i) {
            const Service &service = *manager->At(i);
            TreatmentInfo info;
            info.Ticket = host.TicketOf(service.ControlWindow());
            info.ServiceID = service.ID();
            info.BatteryID = service.BatteryID();
            info.Terminal = service.Terminal().Name();
            info.Program = service.Program();
            info.ChargeCurrent = service.ChargeCurrent();
            info.DischargeCurrent = service.DischargeCurrent();
            info.State = service.ServiceState();
            info.CurrentStep = service.CurrentStep();
            info.LastStepTime = service.LastStepTime();
            treatments.push_back(std::move(info));
        }
        return treatments;
    }

    RemoteHost host;
    std::unique_ptr<TServiceManager> manager;   // dropped on the engine thread at the end
};

// ---- the windows' side -----------------------------------------------------------------

namespace {

QString ReasonOf(std::exception_ptr failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const DatabaseError &error) {
        return error.message();
    } catch (const std::exception &error) {
        return QString::fromUtf8(error.what());
    } catch (...) {
        return QStringLiteral("Unbekannter Fehler");
    }
}

} // namespace

TTreatmentEngine::TTreatmentEngine(TBRASKDataModule &database, Ohmrida::TerminalManager &terminals,
                                   ServiceHost &windows, const std::string &logPath, QObject *parent)
    : QObject(parent), windows_(windows),
      worker_(std::make_unique<Worker>(*this, database, terminals, logPath)),
      threadContext_(std::make_unique<QObject>())
{
    thread_.setObjectName(QStringLiteral("TreatmentEngine"));
    threadContext_->moveToThread(&thread_);
    thread_.start();
}

TTreatmentEngine::~TTreatmentEngine()
{
    // The manager goes on the thread that used its database connection; an
    // exchange under way is finished first, so every row it wrote stays.
    Worker *worker = worker_.get();
    QMetaObject::invokeMethod(
        threadContext_.get(),
        [worker] {
            worker->manager.reset();
            QThread::currentThread()->quit();
        },
        Qt::QueuedConnection);
    thread_.wait();
}

void TTreatmentEngine::dispatch(std::function<void(Worker &)> work, int startTicket)
{
    ++inFlight_;
    Worker *worker = worker_.get();
    QMetaObject::invokeMethod(
        threadContext_.get(),
        [this, worker, startTicket, work = std::move(work)] {
            try {
                work(*worker);
            } catch (...) {
                const QString reason = ReasonOf(std::current_exception());
                QMetaObject::invokeMethod(this, [this, reason] { emit CommandFailed(reason); },
                                          Qt::QueuedConnection);
            }
            // The copy and the end of the work arrive together, so the windows
            // never see a started treatment missing in between.
            QMetaObject::invokeMethod(
                this,
                [this, startTicket, snapshot = worker->Snapshot()]() mutable {
                    pendingStarts_.erase(startTicket);
                    --inFlight_;
                    setSnapshot(std::move(snapshot));
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

int TTreatmentEngine::addPendingStart(int batteryID, const std::string &terminalName, int program,
                                      int chargeCurrent, int dischargeCurrent)
{
    const int ticket = nextTicket_++;
    TreatmentInfo &pending = pendingStarts_[ticket];
    pending.Ticket = ticket;
    pending.BatteryID = batteryID;
    pending.Terminal = terminalName;
    pending.Program = program;
    pending.ChargeCurrent = chargeCurrent;
    pending.DischargeCurrent = dischargeCurrent;
    return ticket;
}

int TTreatmentEngine::StartStandard(int batteryID, int program, int chargeCurrent, int dischargeCurrent,
                                    const std::string &terminalName)
{
    const int ticket = addPendingStart(batteryID, terminalName, program, chargeCurrent, dischargeCurrent);
    dispatch(
        [=](Worker &worker) {
            worker.host.SetPendingTicket(ticket);
            worker.manager->StartStandardService(worker.host, batteryID, program, chargeCurrent,
                                                 dischargeCurrent, terminalName);
        },
        ticket);
    emit TreatmentsChanged();
    return ticket;
}

int TTreatmentEngine::StartUser(int batteryID, const std::vector<UserStep> &steps, const std::string &terminalName)
{
    const int ticket = addPendingStart(batteryID, terminalName, 0, 0, 0);
    dispatch(
        [=](Worker &worker) {
            worker.host.SetPendingTicket(ticket);
            worker.manager->StartUserService(worker.host, batteryID, steps, terminalName);
        },
        ticket);
    emit TreatmentsChanged();
    return ticket;
}

int TTreatmentEngine::Resume(int serviceID, int batteryID, const std::string &terminalName)
{
    const int ticket = addPendingStart(batteryID, terminalName, 0, 0, 0);
    dispatch(
        [=](Worker &worker) {
            worker.host.SetPendingTicket(ticket);
            bool resumed = false;
            QString text;
            try {
                resumed = worker.manager->ResumeService(worker.host, serviceID) != nullptr;
                text = resumed ? QStringLiteral("Die Behandlung %1 wird fortgesetzt.").arg(serviceID)
                               : QStringLiteral("Das Ladeger\u00e4t f\u00fchrt die Behandlung %1 nicht mehr aus; "
                                                "ihre offenen Schritte sind als \u201eabgebrochen\u201c vermerkt.")
                                     .arg(serviceID);
            } catch (...) {
                text = ReasonOf(std::current_exception());
            }
            QMetaObject::invokeMethod(
                this, [this, serviceID, resumed, text] { emit ResumeFinished(serviceID, resumed, text); },
                Qt::QueuedConnection);
        },
        ticket);
    emit TreatmentsChanged();
    return ticket;
}

void TTreatmentEngine::Abandon(int serviceID)
{
    dispatch([=](Worker &worker) {
        QString text = QStringLiteral("Die offenen Schritte der Behandlung %1 sind als \u201eabgebrochen\u201c "
                                      "vermerkt.")
                           .arg(serviceID);
        try {
            worker.manager->AbandonService(serviceID);
        } catch (...) {
            text = ReasonOf(std::current_exception());
        }
        QMetaObject::invokeMethod(this, [this, serviceID, text] { emit ResumeFinished(serviceID, false, text); },
                                  Qt::QueuedConnection);
    });
}

bool TTreatmentEngine::Stop(int ticket)
{
    if (ticket == 0 || stopping_.count(ticket))
        return false;
    stopping_.insert(ticket);
    dispatch([ticket](Worker &worker) {
        ServiceControlWindow *window = worker.host.WindowOf(ticket);
        Service *service = window ? worker.manager->ServiceOf(window) : nullptr;
        if (service) {
            worker.manager->StopService(worker.host, service);
            return;
        }
        // A page whose treatment never came about: just close it.
        if (window)
            worker.host.DeleteServicePage(window);
        worker.host.ShowBatteryPage();
    });
    emit TreatmentsChanged();
    return true;
}

bool TTreatmentEngine::Tick()
{
    if (inFlight_ > 0)
        return false;
    dispatch([this](Worker &worker) {
        worker.manager->Tick(worker.host);
        QMetaObject::invokeMethod(this, [this] { emit TickDone(); }, Qt::QueuedConnection);
    });
    return true;
}

void TTreatmentEngine::RunOnEngine(const std::function<void(TServiceManager &)> &work)
{
    Worker *worker = worker_.get();
    std::exception_ptr failure;
    std::vector<TreatmentInfo> snapshot;
    QMetaObject::invokeMethod(
        threadContext_.get(),
        [worker, &work, &failure, &snapshot] {
            try {
                work(*worker->manager);
            } catch (...) {
                failure = std::current_exception();
            }
            snapshot = worker->Snapshot();
        },
        Qt::BlockingQueuedConnection);
    // Whatever it changed shows like a command's effect.
    setSnapshot(std::move(snapshot));
    if (failure)
        std::rethrow_exception(failure);
}

void TTreatmentEngine::setSnapshot(std::vector<TreatmentInfo> snapshot)
{
    snapshot_ = std::move(snapshot);
    // A stop is done once its treatment has left the manager.
    for (auto it = stopping_.begin(); it != stopping_.end();) {
        const bool held = std::any_of(snapshot_.begin(), snapshot_.end(),
                                      [ticket = *it](const TreatmentInfo &info) { return info.Ticket == ticket; });
        it = held ? std::next(it) : stopping_.erase(it);
    }
    emit TreatmentsChanged();
}

ServiceControlWindow *TTreatmentEngine::windowOf(int ticket) const
{
    const auto found = pages_.find(ticket);
    return found == pages_.end() ? nullptr : found->second;
}

void TTreatmentEngine::createPage(int ticket, int batteryID)
{
    pages_[ticket] = windows_.CreateServicePage(batteryID);
}

void TTreatmentEngine::deletePage(int ticket)
{
    const auto found = pages_.find(ticket);
    if (found == pages_.end())
        return;
    ServiceControlWindow *window = found->second;
    pages_.erase(found);
    stopping_.erase(ticket);
    windows_.DeleteServicePage(window);
}

int TTreatmentEngine::TicketOf(const ServiceControlWindow *window) const
{
    for (const auto &page : pages_)
        if (page.second == window)
            return page.first;
    return 0;
}

bool TTreatmentEngine::IsStopping(int ticket) const
{
    return stopping_.count(ticket) > 0;
}

std::vector<TreatmentInfo> TTreatmentEngine::Treatments() const
{
    std::vector<TreatmentInfo> treatments = snapshot_;
    for (const auto &pending : pendingStarts_) {
        const bool known = std::any_of(treatments.begin(), treatments.end(),
                                       [&](const TreatmentInfo &info) { return info.Ticket == pending.first; });
        if (!known)
            treatments.push_back(pending.second);
    }
    for (TreatmentInfo &info : treatments)
        info.Stopping = stopping_.count(info.Ticket) > 0;
    return treatments;
}

const TreatmentInfo *TTreatmentEngine::FindService(int serviceID) const
{
    for (const TreatmentInfo &info : snapshot_)
        if (info.ServiceID == serviceID)
            return &info;
    return nullptr;
}

bool TTreatmentEngine::HasBattery(int batteryID) const
{
    const auto treatments = Treatments();
    return std::any_of(treatments.begin(), treatments.end(),
                       [batteryID](const TreatmentInfo &info) { return info.BatteryID == batteryID; });
}

bool TTreatmentEngine::HasService(int serviceID) const
{
    return FindService(serviceID) != nullptr;
}

bool TTreatmentEngine::HasTerminal(const std::string &terminalName) const
{
    const auto treatments = Treatments();
    return std::any_of(treatments.begin(), treatments.end(),
                       [&terminalName](const TreatmentInfo &info) { return info.Terminal == terminalName; });
}
