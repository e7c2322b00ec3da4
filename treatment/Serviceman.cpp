#include "Serviceman.h"

#include "charger/TerminalManager.h"

#include <algorithm>

namespace {

// Restores a flag on every path out of a scope.
class FlagGuard {
public:
    explicit FlagGuard(bool &flag) : flag_(flag) { flag_ = true; }
    ~FlagGuard() { flag_ = false; }
    FlagGuard(const FlagGuard &) = delete;
    FlagGuard &operator=(const FlagGuard &) = delete;

private:
    bool &flag_;
};

bool ParseWholeNumber(const QString &text, int &value)
{
    bool ok = false;
    value = text.toInt(&ok);
    return ok;
}

} // namespace

std::vector<UserStep> ParseUserSteps(const std::vector<UserGridRow> &rows)
{
    std::vector<UserStep> steps;
    for (size_t i = 0; i < rows.size(); ++i) {
        const QString function = rows[i].Function.trimmed();
        const QString current = rows[i].Current.trimmed();
        const QString limit = rows[i].Limit.trimmed();
        if (function.isEmpty() || current.isEmpty())
            continue;
        const QString row = QString::number(i + 1);
        UserStep step;
        if (function.compare(QLatin1String("E"), Qt::CaseInsensitive) == 0)
            step.Function = Entladen;
        else if (function.compare(QLatin1String("L"), Qt::CaseInsensitive) == 0)
            step.Function = Laden;
        else
            throw UserStepError(
                QStringLiteral("Zeile %1: Funktion \"%2\" ist weder E noch L.").arg(row, function).toStdString());
        if (!ParseWholeNumber(current, step.Current) || step.Current <= 0 || step.Current > 0xFFFF)
            throw UserStepError(
                QStringLiteral("Zeile %1: Strom \"%2\" ist keine gültige Stromstärke in mA.").arg(row, current)
                    .toStdString());
        if (!limit.isEmpty() && (!ParseWholeNumber(limit, step.TimeLimit) || step.TimeLimit < 0))
            throw UserStepError(
                QStringLiteral("Zeile %1: Zeitlimit \"%2\" ist keine gültige Zeit in s.").arg(row, limit)
                    .toStdString());
        steps.push_back(step);
    }
    return steps;
}

TServiceManager::TServiceManager(TBRASKDataModule &database, Ohmrida::TerminalManager &terminals,
                                 const std::string &logPath)
    : database_(database), terminals_(terminals), log_(logPath, std::ios::out | std::ios::trunc)
{
}

TServiceManager::~TServiceManager()
{
    // The treatments are let go as they are: their chargers keep running.
    services_.clear();
    log_.flush();
}

Service *TServiceManager::Add(std::unique_ptr<Service> service)
{
    if (services_.empty())
        cursor_ = 0;
    service->SetLog(log_.is_open() ? &log_ : nullptr);
    lastAnswer_[service.get()] = std::chrono::steady_clock::now();
    services_.push_back(std::move(service));
    return services_.back().get();
}

void TServiceManager::Remove(Service *service)
{
    auto found = std::find_if(services_.begin(), services_.end(),
                              [service](const std::unique_ptr<Service> &s) { return s.get() == service; });
    if (found == services_.end())
        return;
    const size_t index = static_cast<size_t>(found - services_.begin());
    // The cursor keeps pointing at the same treatment, or at the one that
    // followed the removed one.
    if (index < cursor_)
        --cursor_;
    lastAnswer_.erase(service);
    services_.erase(found);
}

bool TServiceManager::HasService(int serviceID) const
{
    return std::any_of(services_.begin(), services_.end(),
                       [serviceID](const std::unique_ptr<Service> &s) { return s->ID() == serviceID; });
}

bool TServiceManager::HasBattery(int batteryID) const
{
    return std::any_of(services_.begin(), services_.end(),
                       [batteryID](const std::unique_ptr<Service> &s) { return s->BatteryID() == batteryID; });
}

bool TServiceManager::HasTerminal(const std::string &terminalName) const
{
    return std::any_of(services_.begin(), services_.end(), [&terminalName](const std::unique_ptr<Service> &s) {
        return s->Terminal().Name() == terminalName;
    });
}

Service *TServiceManager::PollNext(Sample &sample)
{
    if (services_.empty())
        return nullptr;
    if (cursor_ >= services_.size())
        cursor_ = 0;
    Service *service = services_[cursor_].get();
    ++cursor_;
    if (service->ServiceState() == Service::Ended)
        return nullptr;
    service->Poll(sample);
    return service;
}

Service *TServiceManager::Tick(ServiceHost &host)
{
    if (ticking_)
        return nullptr;
    FlagGuard guard(ticking_);
    try {
        Sample sample;
        Service *service = PollNext(sample);
        if (!service)
            return nullptr;
        feedWindows(host, *service, sample);
        return service;
    } catch (...) {
        // A failing tick must not take the timer down; the next tick tries again.
        return nullptr;
    }
}

void TServiceManager::feedWindows(ServiceHost &host, Service &service, const Sample &sample)
{
    ServiceControlWindow *window = service.ControlWindow();
    const auto now = std::chrono::steady_clock::now();
    if (!service.LastPollAnswered()) {
        if (window) {
            const auto silent = now - lastAnswer_[&service];
            window->ShowNoAnswer(
                static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(silent).count()));
        }
        // No reading to show, but a step may have been started.
        if (service.Changed()) {
            if (window)
                window->RefreshSteps();
            database_.ReopenSteps();
        }
        return;
    }
    lastAnswer_[&service] = now;
    const double volts = sample.Voltage * 0.001;
    const double amps = sample.Current * 0.001;
    if (window) {
        window->ShowTime(service.LastStepTime());
        window->ShowVoltage(volts);
        window->ShowCurrent(amps);
        window->AddVoltagePoint(volts);
        window->SetStepFunction(service.CurrentFunction());
        window->ShowCapacity(sample.Capacity);
        if (service.Changed())
            window->RefreshSteps();
    }
    if (service.Changed())
        database_.ReopenSteps();
    const int function = service.CurrentFunction();
    for (LiveSampleSink *diagram : host.DiagramWindows()) {
        if (!diagram)
            continue;
        diagram->AddLiveSample(service.ID(), 0, sample.Time, volts, function);
        diagram->AddLiveSample(service.ID(), 1, sample.Time, sample.Current, function);
    }
}

Service *TServiceManager::startService(
    ServiceHost &host, int batteryID, const std::string &terminalName,
    const std::function<std::unique_ptr<Service>(const Ohmrida::Terminal &, ServiceControlWindow *)> &build)
{
    const QString caption = QString::fromStdString(terminalName) + QStringLiteral(": Akku ")
                            + QString::number(batteryID);
    const Ohmrida::Terminal *terminal = terminals_.Get(terminalName);
    if (!terminal)
        throw ServiceStartError(
            QStringLiteral("Ladeterminal \"%1\" ist nicht bekannt.").arg(QString::fromStdString(terminalName))
                .toStdString());
    TBRASKDataModule::Battery battery;
    battery.ID = batteryID;
    if (!database_.LoadBattery(battery))
        throw ServiceStartError(
            QStringLiteral("Akku %1 ist nicht in der Datenbank.").arg(batteryID).toStdString());

    ServiceControlWindow *window = host.CreateServicePage(batteryID);
    std::unique_ptr<Service> service;
    try {
        service = build(*terminal, window);
    } catch (...) {
        // No treatment, no page.
        if (window)
            host.DeleteServicePage(window);
        throw;
    }
    if (window) {
        window->SetService(service.get());
        // Same value as the selected battery's voltage with its fraction dropped.
        const int nominalVoltage = static_cast<int>(NominalVoltage(battery.Cells, battery.Type));
        window->SetupService(service->ID(), caption, nominalVoltage, terminal->MaxCurrent() * 0.001);
        window->SetNominalCapacity(battery.Capacity);
    }
    return Add(std::move(service));
}

Service *TServiceManager::StartStandardService(ServiceHost &host, int batteryID, int program, int chargeCurrent,
                                               int dischargeCurrent, const std::string &terminalName)
{
    return startService(host, batteryID, terminalName,
                        [&](const Ohmrida::Terminal &terminal, ServiceControlWindow *window) {
                            return std::make_unique<Service>(database_, batteryID, terminal, window, program,
                                                             chargeCurrent, dischargeCurrent);
                        });
}

Service *TServiceManager::StartUserService(ServiceHost &host, int batteryID, const std::vector<UserStep> &steps,
                                           const std::string &terminalName)
{
    if (steps.empty() || steps.size() > static_cast<size_t>(Service::MaxUserSteps))
        throw ServiceStartError(
            QStringLiteral("Ein Benutzerprogramm braucht 1 bis %1 Schritte.").arg(Service::MaxUserSteps)
                .toStdString());
    return startService(host, batteryID, terminalName,
                        [&](const Ohmrida::Terminal &terminal, ServiceControlWindow *window) {
                            // Treatment and step rows are written together.
                            std::vector<StepRecord> records(steps.size());
                            for (size_t i = 0; i < steps.size(); ++i) {
                                records[i].Function = steps[i].Function;
                                records[i].Parameter = steps[i].Current;
                                records[i].TimeLimit = steps[i].TimeLimit;
                            }
                            return std::make_unique<Service>(database_, batteryID, terminal, window, records);
                        });
}

void TServiceManager::StopService(ServiceHost &host, Service *service)
{
    if (!service)
        return;
    if (service->ServiceState() != Service::Ended)
        service->Abort();
    database_.ReopenSteps();
    ServiceControlWindow *window = service->ControlWindow();
    Remove(service);
    if (window)
        host.DeleteServicePage(window);
    host.ShowBatteryPage();
}

Service *TServiceManager::ServiceOf(const ServiceControlWindow *window) const
{
    for (const auto &service : services_)
        if (service->ControlWindow() == window)
            return service.get();
    return nullptr;
}

void TServiceManager::FlushLog()
{
    log_.flush();
}
