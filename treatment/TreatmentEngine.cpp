#include "treatment/TreatmentEngine.h"

#include "treatment/EngineWorker.h"

#include "database/SqlStore.h"

#include <QMetaObject>

#include <algorithm>
#include <exception>

namespace {

// The values that cross from the engine thread to the front ends.
void RegisterValueTypes()
{
    qRegisterMetaType<TerminalInfo>();
    qRegisterMetaType<QVector<TerminalInfo>>();
    qRegisterMetaType<TreatmentSetup>();
    qRegisterMetaType<PollReport>();
    qRegisterMetaType<EngineState>();
    qRegisterMetaType<RecordChange>();
    qRegisterMetaType<AddedBattery>();
    qRegisterMetaType<BatteryRecord>();
    qRegisterMetaType<LoggerOutcome>();
}

} // namespace

TTreatmentEngine::TTreatmentEngine(std::shared_ptr<SqlStore> database, const std::string &logPath, QObject *parent)
    : QObject(parent), worker_(std::make_unique<TEngineWorker>(std::move(database), logPath))
{
    RegisterValueTypes();
    thread_.setObjectName(QStringLiteral("TreatmentEngine"));
    worker_->moveToThread(&thread_);
    connectWorker();
    thread_.start();
}

TTreatmentEngine::TTreatmentEngine(QObject *parent) : TTreatmentEngine(nullptr, std::string(), parent) {}

TTreatmentEngine::~TTreatmentEngine()
{
    // The treatments go on the thread that used their database connection;
    // an exchange under way is finished first, so every row it wrote stays.
    if (loggerStop_)
        loggerStop_->store(true);
    TEngineWorker *worker = worker_.get();
    QMetaObject::invokeMethod(worker, [worker] { worker->Shutdown(); }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
    worker_.reset();
}

void TTreatmentEngine::connectWorker()
{
    TEngineWorker *worker = worker_.get();
    connect(worker, &TEngineWorker::Done, this, &TTreatmentEngine::requestDone);
    connect(worker, &TEngineWorker::Failed, this, [this](int, const QString &reason) { emit CommandFailed(reason); });
    connect(worker, &TEngineWorker::Started, this, &TTreatmentEngine::TreatmentStarted);
    connect(worker, &TEngineWorker::Stopped, this, &TTreatmentEngine::TreatmentStopped);
    connect(worker, &TEngineWorker::Polled, this, &TTreatmentEngine::Polled);
    connect(worker, &TEngineWorker::StateChanged, this, [this](const EngineState &state) {
        state_ = state;
        emit TreatmentsChanged();
    });
    connect(worker, &TEngineWorker::TickDone, this, &TTreatmentEngine::TickDone);
    connect(worker, &TEngineWorker::ResumeFinished, this, &TTreatmentEngine::ResumeFinished);
    connect(worker, &TEngineWorker::TerminalsFound, this, &TTreatmentEngine::TerminalsFound);
    connect(worker, &TEngineWorker::SearchFinished, this, &TTreatmentEngine::SearchFinished);
    connect(worker, &TEngineWorker::RecordsWritten, this, &TTreatmentEngine::RecordsWritten);
    connect(worker, &TEngineWorker::BatteryAdded, this, &TTreatmentEngine::BatteryAdded);
    connect(worker, &TEngineWorker::LoggerInfo, this, &TTreatmentEngine::LoggerInfo);
    connect(worker, &TEngineWorker::LoggerProgress, this, &TTreatmentEngine::LoggerProgress);
    connect(worker, &TEngineWorker::LoggerFinished, this, [this](const LoggerOutcome &outcome) {
        loggerRunning_ = false;
        emit LoggerFinished(outcome);
    });
}

void TTreatmentEngine::post(const std::function<void(TEngineWorker &)> &work)
{
    TEngineWorker *worker = worker_.get();
    QMetaObject::invokeMethod(worker, [worker, work] { work(*worker); }, Qt::QueuedConnection);
}

int TTreatmentEngine::request(const std::function<void(TEngineWorker &, int ticket)> &work)
{
    const int ticket = nextTicket_++;
    ++inFlight_;
    post([work, ticket](TEngineWorker &worker) { work(worker, ticket); });
    return ticket;
}

void TTreatmentEngine::requestDone(int ticket, const EngineState &state)
{
    --inFlight_;
    // The copy and the end of the request arrive together, so the windows
    // never see a started treatment missing in between.
    pendingStarts_.erase(ticket);
    state_ = state;
    // A stop is done once its treatment has left the engine.
    for (auto it = stopping_.begin(); it != stopping_.end();) {
        const bool held = std::any_of(state_.Treatments.begin(), state_.Treatments.end(),
                                      [stop = *it](const TreatmentInfo &info) { return info.Ticket == stop; });
        it = held ? std::next(it) : stopping_.erase(it);
    }
    emit TreatmentsChanged();
}

int TTreatmentEngine::addPendingStart(int batteryID, const std::string &terminalName, int program, int chargeCurrent,
                                      int dischargeCurrent)
{
    TreatmentInfo pending;
    pending.Ticket = nextTicket_;   // the ticket request() hands out next
    pending.BatteryID = batteryID;
    pending.Terminal = terminalName;
    pending.Program = program;
    pending.ChargeCurrent = chargeCurrent;
    pending.DischargeCurrent = dischargeCurrent;
    pendingStarts_[pending.Ticket] = pending;
    return pending.Ticket;
}

int TTreatmentEngine::StartStandard(int batteryID, int program, int chargeCurrent, int dischargeCurrent,
                                    const std::string &terminalName)
{
    addPendingStart(batteryID, terminalName, program, chargeCurrent, dischargeCurrent);
    const int ticket = request([=](TEngineWorker &worker, int own) {
        worker.StartStandard(own, batteryID, program, chargeCurrent, dischargeCurrent, terminalName);
    });
    emit TreatmentsChanged();
    return ticket;
}

int TTreatmentEngine::StartUser(int batteryID, const std::vector<UserStep> &steps, const std::string &terminalName)
{
    addPendingStart(batteryID, terminalName, 0, 0, 0);
    const int ticket =
        request([=](TEngineWorker &worker, int own) { worker.StartUser(own, batteryID, steps, terminalName); });
    emit TreatmentsChanged();
    return ticket;
}

int TTreatmentEngine::Resume(int serviceID, int batteryID, const std::string &terminalName)
{
    addPendingStart(batteryID, terminalName, 0, 0, 0);
    const int ticket =
        request([=](TEngineWorker &worker, int own) { worker.Resume(own, serviceID, terminalName); });
    emit TreatmentsChanged();
    return ticket;
}

void TTreatmentEngine::Abandon(int serviceID)
{
    request([=](TEngineWorker &worker, int own) { worker.Abandon(own, serviceID); });
}

void TTreatmentEngine::StopInterrupted(int serviceID, const std::string &terminalName)
{
    request([=](TEngineWorker &worker, int own) { worker.StopInterrupted(own, serviceID, terminalName); });
}

bool TTreatmentEngine::Stop(int ticket)
{
    const bool held = std::any_of(state_.Treatments.begin(), state_.Treatments.end(),
                                  [ticket](const TreatmentInfo &info) { return info.Ticket == ticket; });
    if (ticket == 0 || !held || stopping_.count(ticket))
        return false;
    stopping_.insert(ticket);
    request([ticket](TEngineWorker &worker, int own) {
        (void)own;
        worker.Stop(ticket);
    });
    emit TreatmentsChanged();
    return true;
}

bool TTreatmentEngine::Tick()
{
    if (inFlight_ > 0)
        return false;
    request([](TEngineWorker &worker, int own) { worker.Tick(own); });
    return true;
}

void TTreatmentEngine::SetSamplingThresholds(int minDeltaU, int minDeltaI)
{
    post([=](TEngineWorker &worker) { worker.SetSamplingThresholds(minDeltaU, minDeltaI); });
}

void TTreatmentEngine::SetWriteWaits(int firstMs, int retryMs)
{
    post([=](TEngineWorker &worker) { worker.SetWriteWaits(firstMs, retryMs); });
}

int TTreatmentEngine::SearchTerminals()
{
    const int search = nextSearch_++;
    post([search](TEngineWorker &worker) { worker.Search(search); });
    return search;
}

int TTreatmentEngine::AddBattery(const BatteryRecord &battery, int proposal)
{
    return request([=](TEngineWorker &worker, int own) { worker.AddBattery(own, battery, proposal); });
}

void TTreatmentEngine::DeleteBattery(int batteryID)
{
    request([=](TEngineWorker &worker, int own) { worker.DeleteBattery(own, batteryID); });
}

void TTreatmentEngine::DeleteService(int serviceID)
{
    request([=](TEngineWorker &worker, int own) { worker.DeleteService(own, serviceID); });
}

void TTreatmentEngine::SetBatteryInfo(int batteryID, const QString &info)
{
    request([=](TEngineWorker &worker, int own) { worker.SetBatteryInfo(own, batteryID, info); });
}

void TTreatmentEngine::ReadLogger(const BatteryRecord &battery)
{
    loggerStop_ = std::make_shared<std::atomic<bool>>(false);
    loggerRunning_ = true;
    post([battery, stop = loggerStop_](TEngineWorker &worker) { worker.ReadLogger(battery, stop); });
}

void TTreatmentEngine::CancelLogger()
{
    if (!loggerStop_)
        return;
    // Seen at once by a readout between two values; one that shows its
    // message waits for the queued look.
    loggerStop_->store(true);
    post([](TEngineWorker &worker) { worker.CheckLoggerStop(); });
}

void TTreatmentEngine::RunOnEngine(const std::function<void(TServiceManager &)> &work)
{
    TEngineWorker *worker = worker_.get();
    std::exception_ptr failure;
    QMetaObject::invokeMethod(
        worker,
        [worker, &work, &failure] {
            try {
                worker->Inspect(work);
            } catch (...) {
                failure = std::current_exception();
            }
        },
        Qt::BlockingQueuedConnection);
    if (failure)
        std::rethrow_exception(failure);
}

// ---- the copy ------------------------------------------------------------------------------

bool TTreatmentEngine::IsStopping(int ticket) const
{
    return stopping_.count(ticket) > 0;
}

std::vector<TreatmentInfo> TTreatmentEngine::Treatments() const
{
    std::vector<TreatmentInfo> treatments = state_.Treatments;
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
    for (const TreatmentInfo &info : state_.Treatments)
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
