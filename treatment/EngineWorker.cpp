#include "treatment/EngineWorker.h"

#include "treatment/PortPollers.h"
#include "treatment/PortSearch.h"
#include "treatment/Service.h"

#include "charger/TerminalManager.h"
#include "database/RecordStore.h"
#include "database/SqlStore.h"

#include <algorithm>
#include <exception>
#include <set>

namespace {

QString ReasonOf(const std::exception_ptr &failure)
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

TEngineWorker::TEngineWorker(std::shared_ptr<SqlStore> database, const std::string &logPath)
    : terminals_(std::make_unique<Ohmrida::TerminalManager>())
{
    if (!database)
        return;
    records_ = std::make_unique<RecordStore>(std::move(database));
    // The manager creates the log file now, at the program's start.
    manager_ = std::make_unique<TServiceManager>(*records_, *terminals_, logPath);
}

TEngineWorker::~TEngineWorker() = default;

void TEngineWorker::Shutdown()
{
    // The manager goes on the thread that used its database connection; it
    // gives waiting records a last try and lets the chargers run on.
    readout_.reset();
    // Rounds under way finish first; their treatments are the manager's.
    pollers_.reset();
    manager_.reset();
    search_.reset();
    records_.reset();
}

RecordStore &TEngineWorker::records()
{
    if (!records_)
        throw DatabaseError(QStringLiteral("Keine Datenbank ge\u00f6ffnet"));
    return *records_;
}

TServiceManager &TEngineWorker::manager()
{
    if (!manager_)
        throw DatabaseError(QStringLiteral("Keine Datenbank ge\u00f6ffnet"));
    return *manager_;
}

TPortSearch &TEngineWorker::search()
{
    if (!search_)
        search_ = std::make_unique<TPortSearch>(*terminals_);
    return *search_;
}

EngineState TEngineWorker::state() const
{
    EngineState state;
    if (!manager_)
        return state;
    for (int i = 0; i < manager_->Count(); ++i) {
        const Service &service = *manager_->At(i);
        if (manager_->IsLent(&service)) {
            // Its port's thread is polling it: as it was last seen.
            TreatmentInfo info = shown_[service.ID()];
            const auto ticket = tickets_.find(service.ID());
            info.Ticket = ticket == tickets_.end() ? 0 : ticket->second;
            state.Treatments.push_back(std::move(info));
            continue;
        }
        TreatmentInfo info;
        const auto ticket = tickets_.find(service.ID());
        info.Ticket = ticket == tickets_.end() ? 0 : ticket->second;
        info.ServiceID = service.ID();
        info.BatteryID = service.BatteryID();
        info.Terminal = service.Terminal().Name();
        info.Program = service.Program();
        info.ChargeCurrent = service.ChargeCurrent();
        info.DischargeCurrent = service.DischargeCurrent();
        info.State = service.ServiceState();
        info.CurrentStep = service.CurrentStep();
        info.LastStepTime = service.LastStepTime();
        shown_[service.ID()] = info;
        state.Treatments.push_back(std::move(info));
    }
    for (const auto &pace : paces_)
        state.Paces.push_back(pace.second);
    state.RoundsOut = pollers_ ? pollers_->BusyCount() : 0;
    state.WaitingWrites = manager_->WaitingWrites();
    state.Unwritten = manager_->HasUnwritten();
    return state;
}

void TEngineWorker::done(int ticket)
{
    emit Done(ticket, state());
}

void TEngineWorker::fail(int ticket, const std::exception_ptr &failure)
{
    emit Failed(ticket, ReasonOf(failure));
}

void TEngineWorker::run(int ticket, const std::function<void()> &work)
{
    try {
        work();
    } catch (...) {
        fail(ticket, std::current_exception());
    }
    done(ticket);
}

void TEngineWorker::withTerminal(const std::string &terminal, const std::function<void()> &work)
{
    if (terminals_->Get(terminal)) {
        work();
        return;
    }
    search().Identify([this](int port, int type) { terminals_->FilePort(port, static_cast<uint8_t>(type)); },
                      work);
}

void TEngineWorker::started(int ticket, Service *service, bool resumed)
{
    tickets_[service->ID()] = ticket;
    TreatmentSetup setup = manager().SetupOf(*service);
    setup.Ticket = ticket;
    setup.Resumed = resumed;
    emit Started(setup);
    emit RecordsWritten({resumed ? RecordChange::StepsChanged : RecordChange::ServiceAdded, service->BatteryID(),
                         service->ID()});
}

// ---- treatments -----------------------------------------------------------------------

void TEngineWorker::StartStandard(int ticket, int batteryID, int program, int chargeCurrent, int dischargeCurrent,
                                  const std::string &terminal)
{
    try {
        // Claimed before anything is searched or sent: a terminal another
        // program runs a treatment on gets nothing at all.
        std::shared_ptr<TerminalLock> claim = manager().ClaimTerminal(terminal);
        withTerminal(terminal, [=] {
            run(ticket, [&] {
                started(ticket,
                        manager().StartStandardService(batteryID, program, chargeCurrent, dischargeCurrent, terminal),
                        false);
            });
            (void)claim;
        });
    } catch (...) {
        fail(ticket, std::current_exception());
        done(ticket);
    }
}

void TEngineWorker::StartUser(int ticket, int batteryID, const std::vector<UserStep> &steps,
                              const std::string &terminal)
{
    try {
        std::shared_ptr<TerminalLock> claim = manager().ClaimTerminal(terminal);
        withTerminal(terminal, [=] {
            run(ticket, [&] { started(ticket, manager().StartUserService(batteryID, steps, terminal), false); });
            (void)claim;
        });
    } catch (...) {
        fail(ticket, std::current_exception());
        done(ticket);
    }
}

void TEngineWorker::Resume(int ticket, int serviceID, const std::string &terminal)
{
    const auto resume = [=] {
        bool resumed = false;
        QString text;
        try {
            Service *service = manager().ResumeService(serviceID, &text);
            resumed = service != nullptr;
            if (service)
                started(ticket, service, true);
            else
                emit RecordsWritten({RecordChange::StepsChanged, 0, serviceID});
        } catch (...) {
            text = ReasonOf(std::current_exception());
        }
        emit ResumeFinished(serviceID, resumed, text);
        done(ticket);
    };
    withTerminal(terminal, resume);
}

void TEngineWorker::Abandon(int ticket, int serviceID)
{
    QString text = QStringLiteral("Die offenen Schritte der Behandlung %1 sind als \u201eabgebrochen\u201c vermerkt.")
                       .arg(serviceID);
    try {
        manager().AbandonService(serviceID);
        emit RecordsWritten({RecordChange::StepsChanged, 0, serviceID});
    } catch (...) {
        text = ReasonOf(std::current_exception());
    }
    emit ResumeFinished(serviceID, false, text);
    done(ticket);
}

void TEngineWorker::StopInterrupted(int ticket, int serviceID, const std::string &terminal)
{
    withTerminal(terminal, [=] {
        QString text;
        try {
            text = manager().StopInterrupted(serviceID);
            emit RecordsWritten({RecordChange::StepsChanged, 0, serviceID});
        } catch (...) {
            text = ReasonOf(std::current_exception());
        }
        emit ResumeFinished(serviceID, false, text);
        done(ticket);
    });
}

void TEngineWorker::Stop(int ticket)
{
    for (const auto &[id, owner] : tickets_) {
        if (owner == ticket && manager_ && manager_->IsLent(manager_->ServiceOf(id))) {
            // Stopped once its round is back: the charger is asked in turn.
            waiting_.push_back([this, ticket] { Stop(ticket); });
            return;
        }
    }
    run(ticket, [&] {
        int serviceID = 0;
        for (const auto &[id, owner] : tickets_)
            serviceID = owner == ticket ? id : serviceID;
        Service *service = serviceID != 0 ? manager().ServiceOf(serviceID) : nullptr;
        if (!service)
            return;
        tickets_.erase(serviceID);
        const auto gone = [&] {
            emit Stopped(ticket, serviceID);
            emit RecordsWritten({RecordChange::StepsChanged, 0, serviceID});
        };
        try {
            manager().StopService(service);
        } catch (...) {
            // The treatment left the list all the same (its records are kept
            // and written later): its page goes.
            gone();
            throw;
        }
        gone();
    });
}

void TEngineWorker::Tick(int ticket)
{
    using Clock = std::chrono::steady_clock;
    if (!manager_) {
        emit TickDone();
        done(ticket);
        return;
    }
    const Clock::time_point now = Clock::now();
    if (tick_ > 0)
        tickIntervalMs_ = int(std::chrono::duration_cast<std::chrono::milliseconds>(now - lastTick_).count());
    lastTick_ = now;
    ++tick_;
    if (!pollers_)
        pollers_ = std::make_unique<TPortPollers>();
    std::set<int> busy;
    for (auto &pace : paces_) {
        if (pollers_->Busy(pace.first)) {
            busy.insert(pace.first);
            pace.second.Stretched = true;
        }
    }
    std::vector<TServiceManager::PortRound> rounds = manager_->TakeRounds(busy);
    tickOpen_ = int(rounds.size());
    for (TServiceManager::PortRound &round : rounds) {
        const int port = round.Port;
        PortPace &pace = paces_[port];
        pace.Port = port;
        const auto last = roundBegan_.find(port);
        if (last != roundBegan_.end())
            pace.PeriodMs = int(std::chrono::duration_cast<std::chrono::milliseconds>(now - last->second).count());
        roundBegan_[port] = now;
        auto shared = std::make_shared<TServiceManager::PortRound>(std::move(round));
        const int tick = tick_;
        pollers_->Run(
            port, [shared] { shared->Run(); },
            [this, shared, tick, now] { roundBack(tick, std::move(*shared), now); });
    }
    // Ports without treatments keep no pace.
    for (auto it = paces_.begin(); it != paces_.end();) {
        const bool used = busy.count(it->first)
                          || std::any_of(rounds.begin(), rounds.end(), [&](const TServiceManager::PortRound &round) {
                                 return round.Port == it->first;
                             });
        it = used ? std::next(it) : paces_.erase(it);
    }
    if (tickOpen_ == 0)
        finishRounds();   // nothing to poll: what waits is written all the same
    done(ticket);
}

void TEngineWorker::roundBack(int tick, TServiceManager::PortRound round,
                              std::chrono::steady_clock::time_point began)
{
    PortPace &pace = paces_[round.Port];
    pace.Port = round.Port;
    pace.Treatments = int(round.Polls.size());
    pace.RoundMs = int(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now()
                                                                              - began)
                           .count());
    // A round that fits in the clock keeps the port at the clock again.
    if (tickIntervalMs_ > 0 && pace.RoundMs < tickIntervalMs_)
        pace.Stretched = false;
    returned_.push_back(std::move(round));
    if (tick == tick_)
        --tickOpen_;
    if (tickOpen_ <= 0)
        finishRounds();
}

void TEngineWorker::finishRounds()
{
    std::vector<TServiceManager::PortRound> rounds;
    rounds.swap(returned_);
    const TServiceManager::TickResult result = manager_->FinishRounds(std::move(rounds));
    for (const PollReport &report : result.Reports)
        emit Polled(report);
    if (result.StepRowsWritten)
        emit RecordsWritten({RecordChange::StepsChanged, 0, 0});
    // An ended treatment's ticket is kept until its page is stopped.
    std::vector<std::function<void()>> waiting;
    waiting.swap(waiting_);
    for (const auto &request : waiting)
        request();
    emit StateChanged(state());
    emit TickDone();
}

void TEngineWorker::Inspect(const std::function<void(TServiceManager &)> &work)
{
    work(manager());
}

// ---- settings --------------------------------------------------------------------------

void TEngineWorker::SetSamplingThresholds(int minDeltaU, int minDeltaI)
{
    if (!records_)
        return;
    records_->SetMinDeltaU(minDeltaU);
    records_->SetMinDeltaI(minDeltaI);
}

void TEngineWorker::SetWriteWaits(int firstMs, int retryMs)
{
    if (manager_)
        manager_->SetWriteWaits(firstMs, retryMs);
}

// ---- the port search -------------------------------------------------------------------

QVector<TerminalInfo> TEngineWorker::terminalsOn(int port) const
{
    QVector<TerminalInfo> found;
    for (const Ohmrida::Terminal *terminal : terminals_->Terminals()) {
        if (port != 0 && terminal->Port()->PortNumber() != port)
            continue;
        TerminalInfo info;
        info.Name = QString::fromStdString(terminal->Name());
        info.Kind = terminal->DeviceType();
        info.Port = terminal->Port()->PortNumber();
        info.Address = terminal->Address();
        info.MinCurrent = terminal->MinCurrent();
        info.MaxCurrent = terminal->MaxCurrent();
        found.append(info);
    }
    return found;
}

void TEngineWorker::Search(int searchID)
{
    search().Identify(
        [this, searchID](int port, int type) {
            terminals_->FilePort(port, static_cast<uint8_t>(type));
            const QVector<TerminalInfo> found = terminalsOn(port);
            if (!found.isEmpty())
                emit TerminalsFound(searchID, found);
        },
        [this, searchID] { emit SearchFinished(searchID, terminalsOn(0)); });
}

// ---- records of the windows and the command line ------------------------------------------

void TEngineWorker::AddBattery(int ticket, const BatteryRecord &battery, int proposal)
{
    run(ticket, [&] {
        BatteryRecord stored = battery;
        const AddedBattery added = records().AddBattery(stored, proposal);
        emit BatteryAdded(ticket, added);
        emit RecordsWritten({RecordChange::BatteryAdded, added.ID, 0});
    });
}

void TEngineWorker::DeleteBattery(int ticket, int batteryID)
{
    run(ticket, [&] {
        if (records().DeleteBattery(batteryID))
            emit RecordsWritten({RecordChange::BatteryDeleted, batteryID, 0});
    });
}

void TEngineWorker::DeleteService(int ticket, int serviceID)
{
    run(ticket, [&] {
        if (records().DeleteService(serviceID))
            emit RecordsWritten({RecordChange::ServiceDeleted, 0, serviceID});
    });
}

void TEngineWorker::SetBatteryInfo(int ticket, int batteryID, const QString &info)
{
    run(ticket, [&] {
        if (records().SetBatteryInfo(batteryID, info))
            emit RecordsWritten({RecordChange::BatteryChanged, batteryID, 0});
    });
}

// ---- the logger -----------------------------------------------------------------------------

void TEngineWorker::ReadLogger(const BatteryRecord &battery, TKestrixReadout::StopFlag stop)
{
    readout_ = std::make_unique<TKestrixReadout>(records(), search(), *terminals_, std::move(stop));
    connect(readout_.get(), &TKestrixReadout::ShowInfo, this, &TEngineWorker::LoggerInfo);
    connect(readout_.get(), &TKestrixReadout::ShowProgress, this, &TEngineWorker::LoggerProgress);
    connect(readout_.get(), &TKestrixReadout::Finished, this, [this](const LoggerOutcome &outcome) {
        if (outcome.ServiceID != 0)
            emit RecordsWritten({RecordChange::ServiceAdded, 0, outcome.ServiceID});
        emit LoggerFinished(outcome);
    });
    readout_->Start(battery);
}

void TEngineWorker::CheckLoggerStop()
{
    if (readout_)
        readout_->CheckStop();
}
